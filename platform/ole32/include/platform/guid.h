#pragma once
// GUID in the Windows layout; text form printed field by field.
#include <compare>
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

// Ids are ordered and compared by their 16 bytes in memory.
inline bool operator==(const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }
inline std::strong_ordering operator<=>(const GUID& a, const GUID& b) {
    const int c = std::memcmp(&a, &b, sizeof(GUID));
    return c < 0 ? std::strong_ordering::less : c > 0 ? std::strong_ordering::greater : std::strong_ordering::equal;
}
inline bool IsEqualGUID(const GUID& a, const GUID& b) { return a == b; }
inline bool IsEqualIID(const GUID& a, const GUID& b) { return a == b; }
inline bool IsEqualCLSID(const GUID& a, const GUID& b) { return a == b; }

inline constexpr GUID GUID_NULL{};

struct GuidLess {
    bool operator()(const GUID& a, const GUID& b) const { return std::memcmp(&a, &b, sizeof(GUID)) < 0; }
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
