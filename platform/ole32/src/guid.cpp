#include <platform/errors.h>
#include <platform/guid.h>
#include <platform/text.h>

#include <uuid/uuid.h>

#include <cctype>
#include <cstdlib>

namespace {

// Field by field, as "%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x"
// prints it; written out digit by digit since every traced id passes here.
std::string format_guid(const GUID& g, bool upper) {
    const char* const digits = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    std::string text(36, '-');
    size_t pos = 0;
    const auto put = [&](uint64_t value, int width) {
        for (int shift = (width - 1) * 4; shift >= 0; shift -= 4) text[pos++] = digits[(value >> shift) & 0xF];
    };
    put(g.Data1, 8);
    ++pos;
    put(g.Data2, 4);
    ++pos;
    put(g.Data3, 4);
    ++pos;
    for (int i = 0; i < 8; ++i) {
        if (i == 2) ++pos;
        put(g.Data4[i], 2);
    }
    return text;
}

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Reads `digits` hex digits at text[pos].
bool read_hex(std::string_view text, size_t pos, int digits, uint64_t& out) {
    out = 0;
    for (int i = 0; i < digits; ++i) {
        const int v = hex_value(text[pos + i]);
        if (v < 0) return false;
        out = (out << 4) | static_cast<uint64_t>(v);
    }
    return true;
}

}  // namespace

namespace platform {

std::string guid_to_text(const GUID& g) { return format_guid(g, false); }

std::u16string guid_to_wtext(const GUID& g) { return utf8_to_wide_lossy(format_guid(g, false)); }

std::optional<GUID> guid_from_text(std::string_view text) {
    if (text.size() == 38 && text.front() == '{' && text.back() == '}') text = text.substr(1, 36);
    if (text.size() != 36 || text[8] != '-' || text[13] != '-' || text[18] != '-' || text[23] != '-')
        return std::nullopt;
    GUID g{};
    uint64_t v;
    if (!read_hex(text, 0, 8, v)) return std::nullopt;
    g.Data1 = static_cast<uint32_t>(v);
    if (!read_hex(text, 9, 4, v)) return std::nullopt;
    g.Data2 = static_cast<uint16_t>(v);
    if (!read_hex(text, 14, 4, v)) return std::nullopt;
    g.Data3 = static_cast<uint16_t>(v);
    static constexpr size_t kBytePos[8] = {19, 21, 24, 26, 28, 30, 32, 34};
    for (int i = 0; i < 8; ++i) {
        if (!read_hex(text, kBytePos[i], 2, v)) return std::nullopt;
        g.Data4[i] = static_cast<uint8_t>(v);
    }
    return g;
}

std::optional<GUID> guid_from_wtext(std::u16string_view text) {
    auto narrow = wide_to_utf8(text);
    if (!narrow) return std::nullopt;
    return guid_from_text(*narrow);
}

// libuuid writes its fields in network order; read them as such so that the
// version and variant land where the text form shows them (4xxx-[89ab]xxx).
GUID new_guid() {
    uuid_t raw;
    uuid_generate_random(raw);
    static_assert(sizeof(raw) == sizeof(GUID));
    GUID g;
    g.Data1 = static_cast<uint32_t>(raw[0]) << 24 | static_cast<uint32_t>(raw[1]) << 16 |
              static_cast<uint32_t>(raw[2]) << 8 | raw[3];
    g.Data2 = static_cast<uint16_t>(raw[4] << 8 | raw[5]);
    g.Data3 = static_cast<uint16_t>(raw[6] << 8 | raw[7]);
    std::memcpy(g.Data4, raw + 8, sizeof g.Data4);
    return g;
}

bool is_nil(const GUID& g) { return g == GUID_NULL; }

}  // namespace platform

RPC_STATUS UuidCreate(UUID* uuid) {
    if (!uuid) return ERROR_INVALID_PARAMETER;
    *uuid = platform::new_guid();
    return RPC_S_OK;
}

RPC_STATUS UuidToStringA(const UUID* uuid, char** text) {
    if (!uuid || !text) return ERROR_INVALID_PARAMETER;
    const std::string s = platform::guid_to_text(*uuid);
    auto* p = static_cast<char*>(std::malloc(s.size() + 1));
    if (!p) return ERROR_OUTOFMEMORY;
    std::memcpy(p, s.c_str(), s.size() + 1);
    *text = p;
    return RPC_S_OK;
}

RPC_STATUS UuidToStringW(const UUID* uuid, WCHAR** text) {
    if (!uuid || !text) return ERROR_INVALID_PARAMETER;
    const std::u16string s = platform::guid_to_wtext(*uuid);
    auto* p = static_cast<WCHAR*>(std::malloc((s.size() + 1) * sizeof(WCHAR)));
    if (!p) return ERROR_OUTOFMEMORY;
    std::memcpy(p, s.c_str(), (s.size() + 1) * sizeof(WCHAR));
    *text = p;
    return RPC_S_OK;
}

RPC_STATUS UuidFromStringA(const char* text, UUID* uuid) {
    if (!uuid) return ERROR_INVALID_PARAMETER;
    if (!text) { *uuid = GUID_NULL; return RPC_S_OK; }
    auto g = platform::guid_from_text(text);
    if (!g || text[0] == '{') return RPC_S_INVALID_STRING_UUID;
    *uuid = *g;
    return RPC_S_OK;
}

RPC_STATUS RpcStringFreeA(char** text) {
    if (text) { std::free(*text); *text = nullptr; }
    return RPC_S_OK;
}

RPC_STATUS RpcStringFreeW(WCHAR** text) {
    if (text) { std::free(*text); *text = nullptr; }
    return RPC_S_OK;
}

int StringFromGUID2(const GUID& g, WCHAR* buf, int cchMax) {
    const std::u16string s = platform::utf8_to_wide_lossy("{" + format_guid(g, true) + "}");
    if (!buf || cchMax < static_cast<int>(s.size()) + 1) return 0;
    std::memcpy(buf, s.c_str(), (s.size() + 1) * sizeof(WCHAR));
    return static_cast<int>(s.size()) + 1;
}

HRESULT CLSIDFromString(const WCHAR* text, CLSID* clsid) {
    if (!text || !clsid) return E_INVALIDARG;
    auto g = platform::guid_from_wtext(text);
    if (!g || text[0] != u'{') return hr_of(0x800401F3);  // CO_E_CLASSSTRING
    *clsid = *g;
    return S_OK;
}

HRESULT CoCreateGuid(GUID* g) {
    if (!g) return E_INVALIDARG;
    *g = platform::new_guid();
    return S_OK;
}

RPC_STATUS UuidCreateNil(UUID* uuid) {
    if (!uuid) return 87;  // ERROR_INVALID_PARAMETER
    *uuid = GUID{};
    return RPC_S_OK;
}
