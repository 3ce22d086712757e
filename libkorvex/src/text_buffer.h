#pragma once
// A growing text buffer of the runtime's heap; the text stays NUL-terminated.
#include <cstddef>

struct text_buffer {
    char* data = nullptr;
    size_t length = 0;
    size_t capacity = 0;

    // 1, or 0 when memory runs out (the text so far stays).
    int append(const char* bytes, size_t n);
    // Hands the text over to the caller; the buffer is empty afterwards.
    char* release();
    void clear();
};
