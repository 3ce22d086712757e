// CryptoAPI stand-in: recorded key containers, MD5 through OpenSSL, RC4 in tree.
#include <platform/errors.h>
#include <platform/state_root.h>
#include <platform/text.h>
#include <platform/wincrypt.h>

#include <openssl/evp.h>

#include <array>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <variant>
#include <vector>

#include "rc4.h"

namespace {

struct Context {
    std::optional<std::filesystem::path> container;  // none for a verify context
};

struct Hash {
    std::vector<uint8_t> data;  // hashed at the first read, so HashData may be called often
    bool finished = false;
    std::array<uint8_t, 16> digest{};
};

struct Rc4Key {
    std::vector<uint8_t> key;
    std::optional<platform::Rc4> stream;  // the running stream between non-final calls
};

struct KeyPair {
    DWORD spec;
};

using Object = std::variant<Context, Hash, Rc4Key, KeyPair>;

// Handles are numbers into one table, so a stale or foreign handle is refused
// rather than followed.
class HandleTable {
public:
    ULONG_PTR add(Object o) {
        std::lock_guard lock(m_mutex);
        const ULONG_PTR h = m_next++;
        m_objects.emplace(h, std::move(o));
        return h;
    }
    template <typename T, typename F>
    BOOL with(ULONG_PTR h, DWORD badHandleError, F&& f) {
        std::lock_guard lock(m_mutex);
        auto it = m_objects.find(h);
        if (it == m_objects.end() || !std::holds_alternative<T>(it->second)) return fail(badHandleError);
        return f(std::get<T>(it->second));
    }
    template <typename T>
    BOOL remove(ULONG_PTR h, DWORD badHandleError) {
        std::lock_guard lock(m_mutex);
        auto it = m_objects.find(h);
        if (it == m_objects.end() || !std::holds_alternative<T>(it->second)) return fail(badHandleError);
        m_objects.erase(it);
        return TRUE;
    }
    static BOOL fail(DWORD error) {
        SetLastError(error);
        return FALSE;
    }

private:
    std::mutex m_mutex;
    std::map<ULONG_PTR, Object> m_objects;
    ULONG_PTR m_next = 0x1000;
};

HandleTable& handles() {
    static HandleTable table;
    return table;
}

BOOL fail(DWORD error) { return HandleTable::fail(error); }

const char* spec_name(DWORD spec) { return spec == AT_SIGNATURE ? "signature" : "keyexchange"; }

std::set<std::string> read_pairs(const std::filesystem::path& file) {
    std::set<std::string> pairs;
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) pairs.insert(line);
    return pairs;
}

bool write_pairs(const std::filesystem::path& file, const std::set<std::string>& pairs) {
    const auto tmp = file.string() + ".tmp";
    {
        std::ofstream out(tmp, std::ios::trunc);
        if (!out) return false;
        for (const auto& p : pairs) out << p << '\n';
        if (!out.flush()) return false;
    }
    std::error_code ec;
    std::filesystem::rename(tmp, file, ec);
    return !ec;
}

// The container's record file, or nothing for a name that cannot be a file name.
std::optional<std::filesystem::path> container_file(LPCWSTR container) {
    std::string name = "default";
    if (container && *container) {
        auto utf8 = platform::wide_to_utf8(container);
        if (!utf8 || utf8->find('/') != std::string::npos || (*utf8)[0] == '.') return std::nullopt;
        name = *utf8;
    }
    return platform::state_dir("crypto") / (name + ".keys");
}

bool is_base_provider(LPCWSTR provider) {
    return !provider || std::u16string_view(provider) == MS_DEF_PROV_W;
}

}  // namespace

BOOL CryptAcquireContextW(HCRYPTPROV* phProv, LPCWSTR container, LPCWSTR provider, DWORD provType, DWORD flags) {
    if (!phProv) return fail(ERROR_INVALID_PARAMETER);
    *phProv = 0;
    if (provType != PROV_RSA_FULL) return fail(NTE_PROV_TYPE_NOT_DEF);
    if (!is_base_provider(provider)) return fail(NTE_KEYSET_NOT_DEF);
    if (flags & ~(CRYPT_VERIFYCONTEXT | CRYPT_NEWKEYSET)) return fail(NTE_BAD_FLAGS);
    if (flags & CRYPT_VERIFYCONTEXT) {
        *phProv = handles().add(Context{});
        return TRUE;
    }
    const auto file = container_file(container);
    if (!file) return fail(NTE_BAD_KEYSET);
    std::error_code ec;
    const bool exists = std::filesystem::is_regular_file(*file, ec);
    if (flags & CRYPT_NEWKEYSET) {
        if (exists) return fail(NTE_EXISTS);
        if (!write_pairs(*file, {})) return fail(NTE_FAIL);
    } else if (!exists) {
        return fail(NTE_BAD_KEYSET);
    }
    *phProv = handles().add(Context{*file});
    return TRUE;
}

BOOL CryptReleaseContext(HCRYPTPROV hProv, DWORD flags) {
    if (flags) return fail(NTE_BAD_FLAGS);
    return handles().remove<Context>(hProv, NTE_BAD_UID);
}

BOOL CryptGetUserKey(HCRYPTPROV hProv, DWORD keySpec, HCRYPTKEY* phUserKey) {
    if (!phUserKey) return fail(ERROR_INVALID_PARAMETER);
    std::optional<std::filesystem::path> file;
    if (!handles().with<Context>(hProv, NTE_BAD_UID, [&](Context& c) {
            file = c.container;
            return TRUE;
        }))
        return FALSE;
    if (!file || (keySpec != AT_SIGNATURE && keySpec != AT_KEYEXCHANGE) || !read_pairs(*file).count(spec_name(keySpec)))
        return fail(NTE_NO_KEY);
    *phUserKey = handles().add(KeyPair{keySpec});
    return TRUE;
}

BOOL CryptGenKey(HCRYPTPROV hProv, ALG_ID algid, DWORD, HCRYPTKEY* phKey) {
    if (!phKey) return fail(ERROR_INVALID_PARAMETER);
    if (algid != AT_SIGNATURE && algid != AT_KEYEXCHANGE) return fail(NTE_BAD_ALGID);
    std::optional<std::filesystem::path> file;
    if (!handles().with<Context>(hProv, NTE_BAD_UID, [&](Context& c) {
            file = c.container;
            return TRUE;
        }))
        return FALSE;
    if (!file) return fail(NTE_BAD_KEYSET);
    auto pairs = read_pairs(*file);
    pairs.insert(spec_name(algid));
    if (!write_pairs(*file, pairs)) return fail(NTE_FAIL);
    *phKey = handles().add(KeyPair{algid});
    return TRUE;
}

BOOL CryptCreateHash(HCRYPTPROV hProv, ALG_ID algid, HCRYPTKEY hKey, DWORD flags, HCRYPTHASH* phHash) {
    if (!phHash) return fail(ERROR_INVALID_PARAMETER);
    if (hKey || flags) return fail(NTE_BAD_FLAGS);
    if (algid != CALG_MD5) return fail(NTE_BAD_ALGID);
    if (!handles().with<Context>(hProv, NTE_BAD_UID, [](Context&) { return TRUE; })) return FALSE;
    *phHash = handles().add(Hash{});
    return TRUE;
}

namespace {
bool finish(Hash& h) {
    if (h.finished) return true;
    unsigned int n = 0;
    if (!EVP_Digest(h.data.data(), h.data.size(), h.digest.data(), &n, EVP_md5(), nullptr) || n != h.digest.size())
        return false;
    h.finished = true;
    h.data.clear();
    return true;
}
}  // namespace

BOOL CryptHashData(HCRYPTHASH hHash, const BYTE* data, DWORD length, DWORD flags) {
    if (flags) return fail(NTE_BAD_FLAGS);
    if (!data && length) return fail(ERROR_INVALID_PARAMETER);
    return handles().with<Hash>(hHash, NTE_BAD_HASH, [&](Hash& h) {
        if (h.finished) return fail(NTE_BAD_HASH_STATE);
        h.data.insert(h.data.end(), data, data + length);
        return TRUE;
    });
}

BOOL CryptGetHashParam(HCRYPTHASH hHash, DWORD param, BYTE* data, DWORD* length, DWORD flags) {
    if (flags || !length) return fail(NTE_BAD_FLAGS);
    return handles().with<Hash>(hHash, NTE_BAD_HASH, [&](Hash& h) {
        if (param == HP_HASHSIZE) {
            if (data && *length >= 4) {
                const DWORD size = 16;
                std::memcpy(data, &size, 4);
            }
            *length = 4;
            return TRUE;
        }
        if (param != HP_HASHVAL) return fail(NTE_BAD_TYPE);
        if (!finish(h)) return fail(NTE_FAIL);
        if (!data) {
            *length = 16;
            return TRUE;
        }
        if (*length < 16) {
            *length = 16;
            return fail(ERROR_MORE_DATA);
        }
        std::memcpy(data, h.digest.data(), 16);
        *length = 16;
        return TRUE;
    });
}

BOOL CryptDestroyHash(HCRYPTHASH hHash) { return handles().remove<Hash>(hHash, NTE_BAD_HASH); }

BOOL CryptDeriveKey(HCRYPTPROV hProv, ALG_ID algid, HCRYPTHASH hBaseData, DWORD flags, HCRYPTKEY* phKey) {
    if (!phKey) return fail(ERROR_INVALID_PARAMETER);
    if (algid != CALG_RC4) return fail(NTE_BAD_ALGID);
    if (!handles().with<Context>(hProv, NTE_BAD_UID, [](Context&) { return TRUE; })) return FALSE;
    const DWORD bits = flags >> 16;
    if (bits % 8 || bits > 128 || (bits && bits < 40)) return fail(NTE_BAD_FLAGS);
    Rc4Key key;
    if (!handles().with<Hash>(hBaseData, NTE_BAD_HASH, [&](Hash& h) {
            if (!finish(h)) return fail(NTE_FAIL);
            key.key.assign(h.digest.begin(), h.digest.begin() + (bits ? bits / 8 : 16));
            return TRUE;
        }))
        return FALSE;
    *phKey = handles().add(std::move(key));
    return TRUE;
}

BOOL CryptDestroyKey(HCRYPTKEY hKey) {
    if (handles().remove<Rc4Key>(hKey, NTE_BAD_KEY)) return TRUE;
    return handles().remove<KeyPair>(hKey, NTE_BAD_KEY);
}

namespace {
BOOL rc4_in_place(HCRYPTKEY hKey, HCRYPTHASH hHash, BOOL final, DWORD flags, BYTE* data, DWORD* dataLen) {
    if (hHash || flags) return fail(NTE_BAD_FLAGS);
    if (!dataLen || (!data && *dataLen)) return fail(ERROR_INVALID_PARAMETER);
    return handles().with<Rc4Key>(hKey, NTE_BAD_KEY, [&](Rc4Key& k) {
        if (!k.stream) k.stream.emplace(k.key);
        k.stream->apply({data, *dataLen});
        if (final) k.stream.reset();
        return TRUE;
    });
}
}  // namespace

BOOL CryptEncrypt(HCRYPTKEY hKey, HCRYPTHASH hHash, BOOL final, DWORD flags, BYTE* data, DWORD* dataLen,
                  DWORD bufLen) {
    if (data && dataLen && bufLen < *dataLen) return fail(ERROR_MORE_DATA);
    return rc4_in_place(hKey, hHash, final, flags, data, dataLen);
}

BOOL CryptDecrypt(HCRYPTKEY hKey, HCRYPTHASH hHash, BOOL final, DWORD flags, BYTE* data, DWORD* dataLen) {
    return rc4_in_place(hKey, hHash, final, flags, data, dataLen);
}
