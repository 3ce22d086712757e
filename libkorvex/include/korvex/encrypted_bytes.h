#pragma once
// Encrypted children of a counted byte string: a secret may hold zero bytes,
// which the null-terminated form would end it at.
#include <cstddef>

struct kx_elem_rec;

// A new child whose text is RC4 of the `length` bytes under the key (NULL: the
// built-in key; an empty key is refused with EINVAL), written as lowercase
// hexadecimal, appended to the parent. NULL, with nothing appended, on failure
// (EINVAL for a NULL parent, name or value, ENOMEM).
kx_elem_rec* kx_child_add_encrypted_bytes(kx_elem_rec* parent, const char* name, const void* value, size_t length,
                                          const char* key);
