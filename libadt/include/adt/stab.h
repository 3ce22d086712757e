#pragma once
// The string table: names to values, names compared without regard to case.
// It is the attribute table of every element and the header table of every
// HTTP reply; its iteration order (hash.h) is the order attributes go on the wire.

struct hash_rec;
struct hash_cursor;

struct stab_rec {
    hash_rec* hash;
};

constexpr unsigned STAB_BUCKETS = 101;
// Names and values shorter than this live inside the entry.
constexpr unsigned STAB_INLINE = 32;

// stab_new(NULL) gives an empty table; stab_new(name, value, ..., NULL) a
// filled one. NULL when it cannot be allocated.
stab_rec* stab_new(const char* name, ...);
// 0; 3 when memory runs out (the entry's value is then the empty text);
// EINVAL, with errno set and nothing stored, when an argument is NULL.
int stab_set(stab_rec* table, const char* name, const char* value);
// The value, valid until the name is set again or the table freed; the empty
// text when the name or the table is absent.
const char* stab_get(stab_rec* table, const char* name);
// strtol base 10 of the value; the default when the name or table is absent.
long stab_get_int(stab_rec* table, const char* name, long defaultValue);
// The names in iteration order; NULL at the end.
const char* stab_first(stab_rec* table, hash_cursor* cursor);
const char* stab_next(stab_rec* table, hash_cursor* cursor);
void stab_free(stab_rec* table);
