#pragma once
// Base64 (RFC 4648 alphabet, "=" padding) for raw LUN data.
#include <cstddef>
#include <cstdint>

// (n + 2) / 3 * 4 + 1 in 32-bit unsigned arithmetic, the NUL included. It wraps
// for lengths near 4 GiB; callers use it as a limit, and b64_encode checks the
// real size itself.
uint32_t b64_encoded_size(uint32_t n);

// Returns the bytes written including the NUL, or 0 (writing nothing) when the
// buffer is too small.
size_t b64_encode(const void* data, size_t length, char* out, size_t outSize);

// Skips every character outside the alphabet; stops at the end of the text or
// when the output is full. Returns the number of whole bytes decoded.
size_t b64_decode(const char* textBegin, const char* textEnd, unsigned char* outBegin, unsigned char* outEnd);
