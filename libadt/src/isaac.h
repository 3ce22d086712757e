#pragma once
// Bob Jenkins' ISAAC generator (256-word state): the extra entropy given to
// OpenSSL when its own generator reports that it is not yet seeded.
#include <cstddef>
#include <cstdint>

struct isaac_rec {
    uint32_t results[256];
    uint32_t memory[256];
    uint32_t a, b, c;
    unsigned used;
};

void isaac_seed(isaac_rec* state, uint64_t seed);
void isaac_bytes(isaac_rec* state, unsigned char* out, size_t n);
