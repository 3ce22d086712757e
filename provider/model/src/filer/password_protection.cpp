#include <model/password_protection.h>

#include <platform/errors.h>
#include <platform/wincrypt.h>

#include <algorithm>
#include <cstring>

namespace {

constexpr size_t kMinPlainBytes = 32;
constexpr size_t kMaxStoredUnits = 16384;

// Context, hash and key of one operation; each released on every path.
class PasswordKey {
public:
    explicit PasswordKey(const std::u16string& keyText) {
        if (!CryptAcquireContextW(&m_prov, nullptr, nullptr, PROV_RSA_FULL, 0)) return;
        if (!CryptCreateHash(m_prov, CALG_MD5, 0, 0, &m_hash)) return;
        std::vector<BYTE> bytes;
        bytes.reserve(keyText.size() * 2);
        for (char16_t c : keyText) bytes.insert(bytes.end(), {BYTE(c & 0xFF), BYTE(c >> 8)});
        if (!CryptHashData(m_hash, bytes.data(), static_cast<DWORD>(bytes.size()), 0)) return;
        m_ok = CryptDeriveKey(m_prov, CALG_RC4, m_hash, CRYPT_EXPORTABLE, &m_key);
    }
    ~PasswordKey() {
        const DWORD error = GetLastError();  // the failure that matters is the one before the clean-up
        if (m_key) CryptDestroyKey(m_key);
        if (m_hash) CryptDestroyHash(m_hash);
        if (m_prov) CryptReleaseContext(m_prov, 0);
        SetLastError(error);
    }
    PasswordKey(const PasswordKey&) = delete;
    PasswordKey& operator=(const PasswordKey&) = delete;

    bool ok() const { return m_ok; }
    HCRYPTKEY key() const { return m_key; }

private:
    HCRYPTPROV m_prov = 0;
    HCRYPTHASH m_hash = 0;
    HCRYPTKEY m_key = 0;
    bool m_ok = false;
};

void to_bytes(const WCHAR* units, size_t count, std::vector<BYTE>& bytes) {
    bytes.resize(count * 2);
    for (size_t i = 0; i < count; ++i) {
        bytes[2 * i] = static_cast<BYTE>(units[i] & 0xFF);
        bytes[2 * i + 1] = static_cast<BYTE>(units[i] >> 8);
    }
}

}  // namespace

BOOL EncryptString(const std::u16string& key, const std::u16string& password, std::vector<WCHAR>& cipher) {
    cipher.clear();
    std::vector<BYTE> bytes;
    to_bytes(password.data(), password.size(), bytes);
    bytes.resize(std::max(bytes.size(), kMinPlainBytes), 0);
    PasswordKey k(key);
    if (!k.ok()) return FALSE;
    DWORD length = static_cast<DWORD>(bytes.size());
    if (!CryptEncrypt(k.key(), 0, TRUE, 0, bytes.data(), &length, length)) return FALSE;
    cipher.resize(length / 2);
    for (size_t i = 0; i < cipher.size(); ++i) cipher[i] = static_cast<WCHAR>(bytes[2 * i] | bytes[2 * i + 1] << 8);
    return TRUE;
}

BOOL DecryptString(const std::u16string& key, const std::vector<WCHAR>& stored, std::u16string& password) {
    password.clear();
    std::vector<BYTE> bytes;
    to_bytes(stored.data(), std::min(stored.size(), kMaxStoredUnits), bytes);
    PasswordKey k(key);
    if (!k.ok()) return FALSE;
    DWORD length = static_cast<DWORD>(bytes.size());
    if (!CryptDecrypt(k.key(), 0, TRUE, 0, bytes.data(), &length)) return FALSE;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const auto unit = static_cast<WCHAR>(bytes[i] | bytes[i + 1] << 8);
        if (unit == 0) break;
        password += unit;
    }
    return TRUE;
}

BOOL ensure_crypto_keys() {
    HCRYPTPROV prov = 0;
    if (!CryptAcquireContextW(&prov, nullptr, MS_DEF_PROV_W, PROV_RSA_FULL, 0) &&
        !CryptAcquireContextW(&prov, nullptr, MS_DEF_PROV_W, PROV_RSA_FULL, CRYPT_NEWKEYSET))
        return FALSE;
    BOOL ok = TRUE;
    for (DWORD spec : {AT_SIGNATURE, AT_KEYEXCHANGE}) {
        HCRYPTKEY key = 0;
        if (CryptGetUserKey(prov, spec, &key)) {
            CryptDestroyKey(key);
            continue;
        }
        if (GetLastError() != NTE_NO_KEY || !CryptGenKey(prov, spec, 0, &key)) {
            ok = FALSE;
            break;
        }
        CryptDestroyKey(key);
    }
    const DWORD error = GetLastError();
    CryptReleaseContext(prov, 0);
    SetLastError(error);
    return ok;
}

HRESULT crypto_failure() {
    const DWORD error = GetLastError();
    return error ? HRESULT_FROM_WIN32(error) : E_FAIL;
}
