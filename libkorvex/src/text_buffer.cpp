#include "text_buffer.h"

#include <adt/pool.h>
#include <adt/str.h>

#include <cstring>

namespace {
// A request's head or its document: one block that nearly always holds it,
// where doubling from the smallest size would move the text seven times.
constexpr size_t kFirstCapacity = 1024;
}  // namespace

int text_buffer::append(const char* bytes, size_t n) {
    const size_t needed = !data && length + n < kFirstCapacity ? kFirstCapacity - 1 : length + n;
    if (!string_reserve(&data, &capacity, needed)) return 0;
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
