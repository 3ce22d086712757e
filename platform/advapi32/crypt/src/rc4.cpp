#include "rc4.h"

#include <utility>

namespace platform {

Rc4::Rc4(std::span<const uint8_t> key) {
    for (int i = 0; i < 256; ++i) m_s[i] = static_cast<uint8_t>(i);
    if (key.empty()) return;
    uint8_t j = 0;
    for (int i = 0; i < 256; ++i) {
        j = static_cast<uint8_t>(j + m_s[i] + key[i % key.size()]);
        std::swap(m_s[i], m_s[j]);
    }
}

void Rc4::apply(std::span<uint8_t> data) {
    for (auto& byte : data) {
        m_i = static_cast<uint8_t>(m_i + 1);
        m_j = static_cast<uint8_t>(m_j + m_s[m_i]);
        std::swap(m_s[m_i], m_s[m_j]);
        byte ^= m_s[static_cast<uint8_t>(m_s[m_i] + m_s[m_j])];
    }
}

}  // namespace platform
