#pragma once
// GUID in the Windows layout; text form printed field by field.
#include <bit>
#include <compare>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include <platform/types.h>

struct GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
};
static_assert(sizeof(GUID) == 16);

using IID = GUID;
using CLSID = GUID;
using UUID = GUID;
using REFGUID = const GUID&;
using REFIID = const GUID&;
using REFCLSID = const GUID&;

namespace platform::detail {
// The id's bytes in memory order as two numbers, so that numbers compare as
// memcmp would: ids are map keys on every reading, and a library call per
// comparison showed in profiles.
struct GuidWords {
    uint64_t high, low;
};
inline uint64_t big_endian_word(const unsigned char* bytes) {
    uint64_t word;
    std::memcpy(&word, bytes, sizeof word);
    if constexpr (std::endian::native == std::endian::little) word = __builtin_bswap64(word);
    return word;
}
inline GuidWords guid_words(const GUID& g) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(&g);
    return {big_endian_word(bytes), big_endian_word(bytes + 8)};
}
}  // namespace platform::detail

// Ids are ordered and compared by their 16 bytes in memory.
inline bool operator==(const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }
inline std::strong_ordering operator<=>(const GUID& a, const GUID& b) {
    const auto x = platform::detail::guid_words(a), y = platform::detail::guid_words(b);
    return x.high != y.high ? x.high <=> y.high : x.low <=> y.low;
}
inline bool IsEqualGUID(const GUID& a, const GUID& b) { return a == b; }
inline bool IsEqualIID(const GUID& a, const GUID& b) { return a == b; }
inline bool IsEqualCLSID(const GUID& a, const GUID& b) { return a == b; }

inline constexpr GUID GUID_NULL{};

struct GuidLess {
    bool operator()(const GUID& a, const GUID& b) const { return a < b; }
};

// For hash tables keyed by id; new ids are random, so folding the two
// halves spreads them well enough.
struct GuidHash {
    size_t operator()(const GUID& g) const {
        const auto words = platform::detail::guid_words(g);
        return static_cast<size_t>(words.high ^ (words.low * 0x9e3779b97f4a7c15ull));
    }
};

namespace platform {
// "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx", lower case, no braces.
std::string guid_to_text(const GUID& g);
std::u16string guid_to_wtext(const GUID& g);
// Accepts the 36-character form, with or without braces, either case.
std::optional<GUID> guid_from_text(std::string_view text);
std::optional<GUID> guid_from_wtext(std::u16string_view text);
GUID new_guid();
bool is_nil(const GUID& g);
}  // namespace platform

// RPC_STATUS-style calls over the same text form.
using RPC_STATUS = LONG;
constexpr RPC_STATUS RPC_S_OK = 0;
constexpr RPC_STATUS RPC_S_INVALID_STRING_UUID = 1705;
RPC_STATUS UuidCreate(UUID* uuid);
// The nil UUID (all zero).
RPC_STATUS UuidCreateNil(UUID* uuid);
RPC_STATUS UuidToStringA(const UUID* uuid, char** text);
RPC_STATUS UuidToStringW(const UUID* uuid, WCHAR** text);
RPC_STATUS UuidFromStringA(const char* text, UUID* uuid);
RPC_STATUS RpcStringFreeA(char** text);
RPC_STATUS RpcStringFreeW(WCHAR** text);
// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}": returns characters written with the NUL, 0 when short.
int StringFromGUID2(const GUID& g, WCHAR* buf, int cchMax);
HRESULT CLSIDFromString(const WCHAR* text, CLSID* clsid);
HRESULT CoCreateGuid(GUID* g);
