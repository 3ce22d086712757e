#include "text_buffer.h"

#include <adt/pool.h>
#include <adt/str.h>

#include <cstring>

int text_buffer::append(const char* bytes, size_t n) {
    if (!string_reserve(&data, &capacity, length + n)) return 0;
    std::memcpy(data + length, bytes, n);
    length += n;
    data[length] = '\0';
    return 1;
}

char* text_buffer::release() {
    char* text = data;
    data = nullptr;
    length = capacity = 0;
    return text;
}

void text_buffer::clear() { pool_free(nullptr, release(), ADT_HERE); }
