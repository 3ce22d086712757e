#include <adt/pool.h>
#include <korvex/elem.h>
#include <korvex/encrypted_bytes.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace {

// RC4 over the bytes, started fresh for every value, written as lowercase hex.
void rc4_hex(const unsigned char* key, size_t key_length, const unsigned char* data, size_t n, char* out) {
    unsigned char s[256];
    for (int i = 0; i < 256; ++i) s[i] = static_cast<unsigned char>(i);
    for (unsigned i = 0, j = 0; i < 256; ++i) {
        j = (j + s[i] + key[i % key_length]) & 255;
        std::swap(s[i], s[j]);
    }
    constexpr char kHex[] = "0123456789abcdef";
    unsigned i = 0, j = 0;
    for (size_t k = 0; k < n; ++k) {
        i = (i + 1) & 255;
        j = (j + s[i]) & 255;
        std::swap(s[i], s[j]);
        const unsigned char byte = data[k] ^ s[(s[i] + s[j]) & 255];
        *out++ = kHex[byte >> 4];
        *out++ = kHex[byte & 15];
    }
    *out = '\0';
}

}  // namespace

kx_elem_rec* kx_child_add_encrypted_bytes(kx_elem_rec* parent, const char* name, const void* value, size_t length,
                                          const char* key) {
    if (!parent || !name || (!value && length) || (key && !*key)) {
        errno = EINVAL;
        return nullptr;
    }
    const auto* key_bytes = key ? reinterpret_cast<const unsigned char*>(key) : kx_builtin_key();
    const size_t key_length = key ? std::strlen(key) : KX_BUILTIN_KEY_LENGTH;
    auto* hex = static_cast<char*>(pool_malloc(nullptr, 2 * length + 1, ADT_HERE));
    if (!hex) {
        errno = ENOMEM;
        return nullptr;
    }
    rc4_hex(key_bytes, key_length, static_cast<const unsigned char*>(value), length, hex);
    kx_elem_rec* child = kx_child_add_text(parent, name, hex);
    pool_free(nullptr, hex, ADT_HERE);
    return child;
}
