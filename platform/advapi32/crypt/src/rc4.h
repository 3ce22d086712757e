#pragma once
// RC4 stream cipher (OpenSSL 3 keeps it only in its legacy provider).
#include <cstddef>
#include <cstdint>
#include <span>

namespace platform {
class Rc4 {
public:
    explicit Rc4(std::span<const uint8_t> key);
    // XORs the next bytes of the key stream into `data`.
    void apply(std::span<uint8_t> data);

private:
    uint8_t m_s[256];
    uint8_t m_i = 0;
    uint8_t m_j = 0;
};
}  // namespace platform
