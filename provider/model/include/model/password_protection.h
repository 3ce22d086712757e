#pragma once
// Protection of the stored passwords: RC4 under a key derived from the MD5 of
// the record's key text, in the service account's default key container.
#include <platform/types.h>

#include <string>
#include <vector>

// The units of the password encrypted under `key`: the password's UTF-16LE
// bytes, padded with zero bytes to at least 32 bytes, so at least 16 units.
// FALSE with the CryptoAPI error as the last error.
BOOL EncryptString(const std::u16string& key, const std::u16string& password, std::vector<WCHAR>& cipher);

// Decrypts the stored units (at most 16,384 are used) and gives the text up to
// its first zero unit. On any CryptoAPI failure the output is empty and the
// result FALSE with the last error set.
BOOL DecryptString(const std::u16string& key, const std::vector<WCHAR>& stored, std::u16string& password);

// Makes sure the base provider's default container exists and holds its
// signature and exchange key pairs. FALSE with the last error on failure.
BOOL ensure_crypto_keys();

// The HRESULT of a failed CryptoAPI step: the last error's form, never S_OK.
HRESULT crypto_failure();
