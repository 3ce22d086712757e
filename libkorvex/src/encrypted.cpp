#include <adt/pool.h>
#include <korvex/elem.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace {

// The appliance decrypts encrypted children with these same 16 bytes.
constexpr unsigned char kBuiltinKey[KX_BUILTIN_KEY_LENGTH] = {'Z', 'v', '7', 'q', 'K', '2', 'r', 'X',
                                                               'p', '9', 'L', 'm', '4', 'T', 'w', 0x1B};

// RC4 over the value, started fresh for every value, written as lowercase hex.
void rc4_hex(const unsigned char* key, size_t keyLength, const unsigned char* data, size_t n, char* out) {
    unsigned char s[256];
    for (int i = 0; i < 256; ++i) s[i] = static_cast<unsigned char>(i);
    for (unsigned i = 0, j = 0; i < 256; ++i) {
        j = (j + s[i] + key[i % keyLength]) & 255;
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

const unsigned char* kx_builtin_key() { return kBuiltinKey; }

kx_elem_rec* kx_child_add_encrypted(kx_elem_rec* parent, const char* name, const char* value, const char* key) {
    // An empty key has no bytes to schedule from: refuse it rather than divide by its length.
    if (!parent || !name || !value || (key && !*key)) {
        errno = EINVAL;
        return nullptr;
    }
    const auto* keyBytes = key ? reinterpret_cast<const unsigned char*>(key) : kBuiltinKey;
    const size_t keyLength = key ? std::strlen(key) : KX_BUILTIN_KEY_LENGTH;
    const size_t n = std::strlen(value);
    auto* hex = static_cast<char*>(pool_malloc(nullptr, 2 * n + 1, ADT_HERE));
    if (!hex) {
        errno = ENOMEM;
        return nullptr;
    }
    rc4_hex(keyBytes, keyLength, reinterpret_cast<const unsigned char*>(value), n, hex);
    kx_elem_rec* child = kx_child_add_text(parent, name, hex);
    pool_free(nullptr, hex, ADT_HERE);
    return child;
}
