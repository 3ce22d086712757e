#pragma once
// The CryptoAPI subset that protects stored passwords: contexts over recorded
// key containers, MD5 hashes, RC4 keys derived from a hash, and the key pairs a
// container is expected to hold. Every call returns TRUE or FALSE with the
// NTE_ or Win32 code in the thread's last error, as the real calls do.
#include <platform/types.h>

using HCRYPTPROV = ULONG_PTR;
using HCRYPTHASH = ULONG_PTR;
using HCRYPTKEY = ULONG_PTR;
using ALG_ID = UINT;

constexpr DWORD PROV_RSA_FULL = 1;
inline constexpr const WCHAR* MS_DEF_PROV_W = u"Microsoft Base Cryptographic Provider v1.0";

constexpr DWORD CRYPT_VERIFYCONTEXT = 0xF0000000u;
constexpr DWORD CRYPT_NEWKEYSET = 0x00000008u;
constexpr DWORD CRYPT_DELETEKEYSET = 0x00000010u;
constexpr DWORD CRYPT_EXPORTABLE = 0x00000001u;

constexpr ALG_ID CALG_MD5 = 0x00008003u;
constexpr ALG_ID CALG_RC4 = 0x00006801u;
constexpr DWORD AT_KEYEXCHANGE = 1;
constexpr DWORD AT_SIGNATURE = 2;
constexpr DWORD HP_HASHVAL = 0x0002;
constexpr DWORD HP_HASHSIZE = 0x0004;

constexpr DWORD NTE_BAD_UID = 0x80090001u;
constexpr DWORD NTE_BAD_HASH = 0x80090002u;
constexpr DWORD NTE_BAD_KEY = 0x80090003u;
constexpr DWORD NTE_BAD_LEN = 0x80090004u;
constexpr DWORD NTE_BAD_ALGID = 0x80090008u;
constexpr DWORD NTE_BAD_FLAGS = 0x80090009u;
constexpr DWORD NTE_BAD_HASH_STATE = 0x8009000Cu;
constexpr DWORD NTE_BAD_TYPE = 0x8009000Au;
constexpr DWORD NTE_NO_KEY = 0x8009000Du;
constexpr DWORD NTE_EXISTS = 0x8009000Fu;
constexpr DWORD NTE_BAD_PROV_TYPE = 0x80090014u;
constexpr DWORD NTE_BAD_KEYSET = 0x80090016u;
constexpr DWORD NTE_PROV_TYPE_NOT_DEF = 0x80090017u;
constexpr DWORD NTE_KEYSET_NOT_DEF = 0x80090019u;
constexpr DWORD NTE_FAIL = 0x80090020u;

// Containers are recorded under $SANPROV_ROOT/crypto/ (one file each, naming
// the key pairs generated in it); a NULL container is the caller's default one.
// Only the base provider of type PROV_RSA_FULL exists (NULL names it).
BOOL CryptAcquireContextW(HCRYPTPROV* phProv, LPCWSTR container, LPCWSTR provider, DWORD provType, DWORD flags);
BOOL CryptReleaseContext(HCRYPTPROV hProv, DWORD flags);
// NTE_NO_KEY until CryptGenKey made the pair in the container.
BOOL CryptGetUserKey(HCRYPTPROV hProv, DWORD keySpec, HCRYPTKEY* phUserKey);
// AT_SIGNATURE or AT_KEYEXCHANGE: records the pair in the container.
BOOL CryptGenKey(HCRYPTPROV hProv, ALG_ID algid, DWORD flags, HCRYPTKEY* phKey);
BOOL CryptCreateHash(HCRYPTPROV hProv, ALG_ID algid, HCRYPTKEY hKey, DWORD flags, HCRYPTHASH* phHash);
BOOL CryptHashData(HCRYPTHASH hHash, const BYTE* data, DWORD length, DWORD flags);
BOOL CryptGetHashParam(HCRYPTHASH hHash, DWORD param, BYTE* data, DWORD* length, DWORD flags);
BOOL CryptDestroyHash(HCRYPTHASH hHash);
// CALG_RC4 from a finished MD5 hash. The key is the whole 128-bit digest unless
// the upper 16 bits of `flags` ask for a shorter one.
BOOL CryptDeriveKey(HCRYPTPROV hProv, ALG_ID algid, HCRYPTHASH hBaseData, DWORD flags, HCRYPTKEY* phKey);
BOOL CryptDestroyKey(HCRYPTKEY hKey);
// RC4 in place; the stream runs on across calls and starts again after `final`.
// The length never changes, so `bufLen` only has to hold the data.
BOOL CryptEncrypt(HCRYPTKEY hKey, HCRYPTHASH hHash, BOOL final, DWORD flags, BYTE* data, DWORD* dataLen, DWORD bufLen);
BOOL CryptDecrypt(HCRYPTKEY hKey, HCRYPTHASH hHash, BOOL final, DWORD flags, BYTE* data, DWORD* dataLen);
