// CryptoAPI stand-in: the key containers are recorded state, the derived RC4
// key is the whole MD5 digest of the data hashed.
#include <platform/errors.h>
#include <platform/wincrypt.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

class Crypt : public ::testing::Test {
protected:
    void SetUp() override {
        m_root = fs::temp_directory_path() / ("wincrypt-" + std::to_string(::getpid()) + "-" +
                                              ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(m_root);
        fs::create_directories(m_root);
        ::setenv("SANPROV_ROOT", m_root.c_str(), 1);
    }
    void TearDown() override {
        ::unsetenv("SANPROV_ROOT");
        fs::remove_all(m_root);
    }
    fs::path m_root;
};

std::string hex(const std::vector<BYTE>& bytes) {
    static const char* digits = "0123456789abcdef";
    std::string s;
    for (BYTE b : bytes) s += {digits[b >> 4], digits[b & 15]};
    return s;
}

std::vector<BYTE> utf16le(std::u16string_view text) {
    std::vector<BYTE> bytes;
    for (char16_t c : text) bytes.insert(bytes.end(), {BYTE(c & 0xFF), BYTE(c >> 8)});
    return bytes;
}

}  // namespace

TEST_F(Crypt, ContainerMustBeCreatedAndHoldsTheKeyPairsGeneratedInIt) {
    HCRYPTPROV prov = 0;
    ASSERT_FALSE(CryptAcquireContextW(&prov, nullptr, MS_DEF_PROV_W, PROV_RSA_FULL, 0));
    EXPECT_EQ(GetLastError(), NTE_BAD_KEYSET);
    ASSERT_TRUE(CryptAcquireContextW(&prov, nullptr, MS_DEF_PROV_W, PROV_RSA_FULL, CRYPT_NEWKEYSET));
    HCRYPTKEY key = 0;
    EXPECT_FALSE(CryptGetUserKey(prov, AT_SIGNATURE, &key));
    EXPECT_EQ(GetLastError(), NTE_NO_KEY);
    ASSERT_TRUE(CryptGenKey(prov, AT_SIGNATURE, 0, &key));
    EXPECT_TRUE(CryptDestroyKey(key));
    EXPECT_TRUE(CryptReleaseContext(prov, 0));

    // Another context (as another process would open it) sees the recorded pair.
    ASSERT_TRUE(CryptAcquireContextW(&prov, nullptr, nullptr, PROV_RSA_FULL, 0));
    EXPECT_TRUE(CryptGetUserKey(prov, AT_SIGNATURE, &key));
    EXPECT_TRUE(CryptDestroyKey(key));
    EXPECT_FALSE(CryptGetUserKey(prov, AT_KEYEXCHANGE, &key));
    EXPECT_EQ(GetLastError(), NTE_NO_KEY);
    EXPECT_FALSE(CryptAcquireContextW(&prov, nullptr, nullptr, PROV_RSA_FULL, CRYPT_NEWKEYSET));
    EXPECT_EQ(GetLastError(), NTE_EXISTS);

    EXPECT_FALSE(CryptAcquireContextW(&prov, nullptr, nullptr, 24, 0));
    EXPECT_EQ(GetLastError(), NTE_PROV_TYPE_NOT_DEF);
    EXPECT_FALSE(CryptReleaseContext(0xdead, 0));
    EXPECT_EQ(GetLastError(), NTE_BAD_UID);
}

TEST_F(Crypt, Rc4KeyIsTheWholeMd5DigestAndTheStreamRunsUntilFinal) {
    HCRYPTPROV prov = 0;
    ASSERT_TRUE(CryptAcquireContextW(&prov, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT));
    HCRYPTHASH hash = 0;
    ASSERT_TRUE(CryptCreateHash(prov, CALG_MD5, 0, 0, &hash));
    const auto keyText = utf16le(u"6ba7b810-9dad-11d1-80b4-00c04fd430c8");
    // Hashing in two pieces gives the digest of the whole.
    ASSERT_TRUE(CryptHashData(hash, keyText.data(), 10, 0));
    ASSERT_TRUE(CryptHashData(hash, keyText.data() + 10, DWORD(keyText.size() - 10), 0));
    HCRYPTKEY key = 0;
    ASSERT_TRUE(CryptDeriveKey(prov, CALG_RC4, hash, CRYPT_EXPORTABLE, &key));

    auto data = utf16le(u"secret");
    data.resize(32, 0);
    DWORD n = 16;
    ASSERT_TRUE(CryptEncrypt(key, 0, FALSE, 0, data.data(), &n, 32));
    n = 16;
    ASSERT_TRUE(CryptEncrypt(key, 0, TRUE, 0, data.data() + 16, &n, 16));
    EXPECT_EQ(hex(data), "813a01361524bf688d2a930d0fdbd4cb66390de0b60ca3c7eab854dc69f79f54");

    n = 32;  // after the final call the stream starts again
    ASSERT_TRUE(CryptDecrypt(key, 0, TRUE, 0, data.data(), &n));
    auto expected = utf16le(u"secret");
    expected.resize(32, 0);
    EXPECT_EQ(data, expected);

    EXPECT_FALSE(CryptHashData(hash, keyText.data(), 1, 0)) << "a hash that gave its key is finished";
    EXPECT_EQ(GetLastError(), NTE_BAD_HASH_STATE);
    EXPECT_TRUE(CryptDestroyKey(key));
    EXPECT_TRUE(CryptDestroyHash(hash));
    EXPECT_FALSE(CryptDestroyHash(hash));
    EXPECT_EQ(GetLastError(), NTE_BAD_HASH);
    EXPECT_TRUE(CryptReleaseContext(prov, 0));
}
