#include <korvex/elem.h>
#include <korvex/encrypted_bytes.h>

#include <cerrno>
#include <cstring>

namespace {

// The appliance decrypts encrypted children with these same 16 bytes.
constexpr unsigned char kBuiltinKey[KX_BUILTIN_KEY_LENGTH] = {'Z', 'v', '7', 'q', 'K', '2', 'r', 'X',
                                                               'p', '9', 'L', 'm', '4', 'T', 'w', 0x1B};

}  // namespace

const unsigned char* kx_builtin_key() { return kBuiltinKey; }

kx_elem_rec* kx_child_add_encrypted(kx_elem_rec* parent, const char* name, const char* value, const char* key) {
    if (!value) {
        errno = EINVAL;
        return nullptr;
    }
    return kx_child_add_encrypted_bytes(parent, name, value, std::strlen(value), key);
}
