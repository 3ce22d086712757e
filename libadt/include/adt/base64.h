#pragma once
// Base64 with the standard alphabet, "=" fill at the end and no line breaks.
#include <cstddef>

// A new text with the encoding of the text's bytes (up to its NUL); NULL when
// the buffer cannot be allocated. The caller frees it.
char* base64_encode(const char* text);
// Bytes needed for the encoding of n bytes, NUL included.
size_t base64_encoded_size(size_t n);
// Encodes n bytes into out; returns the bytes written including the NUL, or 0
// when out is too small.
size_t base64_encode_into(char* out, size_t outSize, const unsigned char* data, size_t n);
