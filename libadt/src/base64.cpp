#include <adt/base64.h>
#include <adt/pool.h>

#include <cstring>

namespace {
constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
}

size_t base64_encoded_size(size_t n) { return (n + 2) / 3 * 4 + 1; }

size_t base64_encode_into(char* out, size_t outSize, const unsigned char* data, size_t n) {
    const size_t needed = base64_encoded_size(n);
    if (!out || outSize < needed) return 0;
    char* p = out;
    size_t i = 0;
    for (; i + 3 <= n; i += 3) {
        const unsigned v = (data[i] << 16) | (data[i + 1] << 8) | data[i + 2];
        *p++ = kAlphabet[(v >> 18) & 63];
        *p++ = kAlphabet[(v >> 12) & 63];
        *p++ = kAlphabet[(v >> 6) & 63];
        *p++ = kAlphabet[v & 63];
    }
    if (i < n) {
        const bool two = i + 1 < n;
        const unsigned v = (data[i] << 16) | (two ? data[i + 1] << 8 : 0);
        *p++ = kAlphabet[(v >> 18) & 63];
        *p++ = kAlphabet[(v >> 12) & 63];
        *p++ = two ? kAlphabet[(v >> 6) & 63] : '=';
        *p++ = '=';
    }
    *p = '\0';
    return needed;
}

char* base64_encode(const char* text) {
    if (!text) return nullptr;
    const size_t n = std::strlen(text);
    const size_t size = base64_encoded_size(n);
    auto* out = static_cast<char*>(pool_malloc(nullptr, size, ADT_HERE));
    if (!out) return nullptr;
    base64_encode_into(out, size, reinterpret_cast<const unsigned char*>(text), n);
    return out;
}
