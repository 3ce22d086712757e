// A CHAP secret's request child: the first 500 bytes of the secret, zero bytes
// included, encrypted under the built-in key.
#include <gtest/gtest.h>

#include <filer/request_frame.h>
#include <korvex/elem.h>

#include <string>
#include <utility>
#include <vector>

namespace {

// RC4 under the built-in key is its own inverse.
std::vector<BYTE> decrypt(const std::string& hex) {
    const unsigned char* key = kx_builtin_key();
    unsigned char s[256];
    for (int i = 0; i < 256; ++i) s[i] = static_cast<unsigned char>(i);
    for (unsigned i = 0, j = 0; i < 256; ++i) {
        j = (j + s[i] + key[i % KX_BUILTIN_KEY_LENGTH]) & 255;
        std::swap(s[i], s[j]);
    }
    std::vector<BYTE> plain;
    for (unsigned k = 0, i = 0, j = 0; k + 1 < hex.size(); k += 2) {
        i = (i + 1) & 255;
        j = (j + s[i]) & 255;
        std::swap(s[i], s[j]);
        plain.push_back(static_cast<BYTE>(std::stoi(hex.substr(k, 2), nullptr, 16) ^ s[(s[i] + s[j]) & 255]));
    }
    return plain;
}

TEST(SecretChild, TheFirst500BytesAreSentZeroBytesIncluded) {
    std::vector<BYTE> secret(600);
    for (size_t i = 0; i < secret.size(); ++i) secret[i] = static_cast<BYTE>(i % 5 == 0 ? 0 : i);
    const struct {
        size_t count;
        size_t sent;
    } cases[] = {{600, 500}, {500, 500}, {12, 12}, {1, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.count);
        fapi_request request(nullptr, "iscsi-initiator-add-auth");
        add_secret_child(request, "password", std::span<const BYTE>(secret.data(), c.count));
        const char* text = kx_child_text(request.element(), "password");
        ASSERT_NE(text, nullptr);
        EXPECT_EQ(decrypt(text), std::vector<BYTE>(secret.begin(), secret.begin() + c.sent));
    }
}

TEST(SecretChild, ASecretWithoutBytesAddsNoChild) {
    fapi_request request(nullptr, "iscsi-initiator-add-auth");
    add_secret_child(request, "password", {});
    EXPECT_EQ(kx_children_begin(request.element()), nullptr);
}

}  // namespace
