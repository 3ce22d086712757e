#pragma once
// Text helpers. Every result is a new heap text that the caller frees (free),
// NULL when memory runs out.
#include <cstdarg>
#include <cstddef>

#include <adt/log.h>

struct array_rec;

char* string_ndup(const char* text, size_t n);
char* string_concat(const char* first, ...) __attribute__((sentinel));
char* string_printf(const char* format, ...) ADT_PRINTF(1, 2);
char* string_vprintf(const char* format, va_list args) ADT_PRINTF(1, 0);
// Makes *buffer hold at least n characters and a NUL; a new buffer starts as
// the empty text. Returns the buffer, or NULL (the old buffer stays) when out of memory.
char* string_reserve(char** buffer, size_t* capacity, size_t n);
// Formats at the end of the buffer's text; returns the buffer, or NULL (the
// buffer freed and *buffer NULL) when out of memory.
char* string_appendf(char** buffer, size_t* capacity, const char* format, ...) ADT_PRINTF(3, 4);
char* string_vappendf(char** buffer, size_t* capacity, const char* format, va_list args) ADT_PRINTF(3, 0);
// The fields between matches of the extended regular expression (letter case
// ignored; default "([ \t]+)"), at most maxCount (0: no limit), as an array of
// texts that the array frees. NULL when the pattern does not compile or memory runs out.
array_rec* string_split(const char* text, const char* pattern, int maxCount);
