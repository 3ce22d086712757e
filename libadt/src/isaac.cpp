#include <cstring>

#include "isaac.h"

namespace {

void generate(isaac_rec* s) {
    s->b += ++s->c;
    for (unsigned i = 0; i < 256; ++i) {
        const uint32_t x = s->memory[i];
        switch (i & 3) {
            case 0: s->a ^= s->a << 13; break;
            case 1: s->a ^= s->a >> 6; break;
            case 2: s->a ^= s->a << 2; break;
            default: s->a ^= s->a >> 16; break;
        }
        s->a += s->memory[(i + 128) & 255];
        const uint32_t y = s->memory[(x >> 2) & 255] + s->a + s->b;
        s->memory[i] = y;
        s->b = s->memory[(y >> 10) & 255] + x;
        s->results[i] = s->b;
    }
    s->used = 0;
}

void mix(uint32_t v[8]) {
    v[0] ^= v[1] << 11; v[3] += v[0]; v[1] += v[2];
    v[1] ^= v[2] >> 2;  v[4] += v[1]; v[2] += v[3];
    v[2] ^= v[3] << 8;  v[5] += v[2]; v[3] += v[4];
    v[3] ^= v[4] >> 16; v[6] += v[3]; v[4] += v[5];
    v[4] ^= v[5] << 10; v[7] += v[4]; v[5] += v[6];
    v[5] ^= v[6] >> 4;  v[0] += v[5]; v[6] += v[7];
    v[6] ^= v[7] << 8;  v[1] += v[6]; v[7] += v[0];
    v[7] ^= v[0] >> 9;  v[2] += v[7]; v[0] += v[1];
}

void fold(isaac_rec* s, const uint32_t* source, uint32_t v[8]) {
    for (unsigned i = 0; i < 256; i += 8) {
        for (unsigned k = 0; k < 8; ++k) v[k] += source[i + k];
        mix(v);
        std::memcpy(&s->memory[i], v, 8 * sizeof(uint32_t));
    }
}

}  // namespace

void isaac_seed(isaac_rec* s, uint64_t seed) {
    std::memset(s, 0, sizeof *s);
    s->results[0] = static_cast<uint32_t>(seed);
    s->results[1] = static_cast<uint32_t>(seed >> 32);
    uint32_t v[8];
    for (auto& x : v) x = 0x9e3779b9u;
    for (int i = 0; i < 4; ++i) mix(v);
    fold(s, s->results, v);
    fold(s, s->memory, v);
    generate(s);
}

void isaac_bytes(isaac_rec* s, unsigned char* out, size_t n) {
    while (n > 0) {
        if (s->used >= 256) generate(s);
        const uint32_t word = s->results[s->used++];
        for (unsigned k = 0; k < 4 && n > 0; ++k, --n) *out++ = static_cast<unsigned char>(word >> (8 * k));
    }
}
