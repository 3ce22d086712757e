#include <korvex/elem.h>
#include <korvex/encrypted_bytes.h>

#include <cerrno>
#include <gtest/gtest.h>
#include <memory>
#include <string>

#include "korvex_support.h"

namespace {

using testsupport::ElemPtr;

}  // namespace

TEST(EncryptedBytes, EveryCountedByteIsEncryptedZeroBytesIncluded) {
    ElemPtr req(kx_elem_create("r"));
    // Known RC4 vector "Key"/"Plaintext", then the same with a zero byte inside:
    // RC4 is a stream, so the zero byte gives the key stream byte itself.
    const char plain[] = "Plaintext";
    EXPECT_STREQ(kx_child_add_encrypted_bytes(req.get(), "password", plain, 9, "Key")->text, "bbf316e8d940af0ad3");
    const char with_zero[] = {'P', 'l', 'a', '\0', 'n', 't', 'e', 'x', 't'};
    const std::string hex = kx_child_add_encrypted_bytes(req.get(), "password", with_zero, 9, "Key")->text;
    ASSERT_EQ(hex.size(), 18u);
    EXPECT_EQ(hex.substr(0, 6), "bbf316");
    EXPECT_EQ(hex.substr(8), "d940af0ad3");
    EXPECT_EQ(std::stoi(hex.substr(6, 2), nullptr, 16), 0xe8 ^ 'i');
}

TEST(EncryptedBytes, MatchesTheTextFormUnderTheBuiltInKey) {
    ElemPtr req(kx_elem_create("r"));
    const std::string secret = "chap-secret-of-16";
    EXPECT_STREQ(kx_child_add_encrypted_bytes(req.get(), "p", secret.data(), secret.size(), nullptr)->text,
                 kx_child_add_encrypted(req.get(), "p", secret.c_str(), nullptr)->text);
    EXPECT_STREQ(kx_child_add_encrypted_bytes(req.get(), "p", nullptr, 0, nullptr)->text, "");
}

TEST(EncryptedBytes, AMissingArgumentOrEmptyKeyIsRefusedAndNothingIsAppended) {
    ElemPtr req(kx_elem_create("r"));
    const struct {
        kx_elem_rec* parent;
        const char* name;
        const void* value;
        const char* key;
    } refused[] = {{req.get(), "password", "secret", ""},
                   {req.get(), nullptr, "secret", nullptr},
                   {req.get(), "password", nullptr, nullptr},
                   {nullptr, "password", "secret", nullptr}};
    for (const auto& c : refused) {
        errno = 0;
        EXPECT_EQ(kx_child_add_encrypted_bytes(c.parent, c.name, c.value, 6, c.key), nullptr);
        EXPECT_EQ(errno, EINVAL);
    }
    EXPECT_EQ(req->firstChild, nullptr);
}
