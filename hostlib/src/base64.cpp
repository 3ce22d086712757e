#include <hostlib/base64.h>

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int alphabet_value(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

}  // namespace

uint32_t b64_encoded_size(uint32_t n) { return (n + 2u) / 3u * 4u + 1u; }

size_t b64_encode(const void* data, size_t length, char* out, size_t outSize) {
    const size_t needed = (length / 3 + (length % 3 ? 1 : 0)) * 4 + 1;
    if (!out || outSize < needed || (length && !data)) return 0;
    const auto* in = static_cast<const unsigned char*>(data);
    char* p = out;
    size_t i = 0;
    for (; i + 3 <= length; i += 3) {
        const uint32_t v = (uint32_t{in[i]} << 16) | (uint32_t{in[i + 1]} << 8) | in[i + 2];
        *p++ = kAlphabet[(v >> 18) & 63];
        *p++ = kAlphabet[(v >> 12) & 63];
        *p++ = kAlphabet[(v >> 6) & 63];
        *p++ = kAlphabet[v & 63];
    }
    if (const size_t rest = length - i) {
        const uint32_t v = (uint32_t{in[i]} << 16) | (rest == 2 ? uint32_t{in[i + 1]} << 8 : 0u);
        *p++ = kAlphabet[(v >> 18) & 63];
        *p++ = kAlphabet[(v >> 12) & 63];
        *p++ = rest == 2 ? kAlphabet[(v >> 6) & 63] : '=';
        *p++ = '=';
    }
    *p++ = '\0';
    return static_cast<size_t>(p - out);
}

size_t b64_decode(const char* textBegin, const char* textEnd, unsigned char* outBegin, unsigned char* outEnd) {
    if (!textBegin || !outBegin) return 0;
    uint32_t bits = 0;
    int bitCount = 0;
    unsigned char* out = outBegin;
    for (const char* p = textBegin; p < textEnd && out < outEnd; ++p) {
        const int v = alphabet_value(*p);
        if (v < 0) continue;
        bits = ((bits << 6) | static_cast<uint32_t>(v)) & 0xFFFFFFu;
        bitCount += 6;
        if (bitCount >= 8) {
            bitCount -= 8;
            *out++ = static_cast<unsigned char>(bits >> bitCount);
        }
    }
    return static_cast<size_t>(out - outBegin);
}
