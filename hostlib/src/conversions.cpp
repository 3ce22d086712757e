#include <hostlib/conversions.h>

#include <hostlib/com_error.h>
#include <hostlib/trace.h>

#include <array>
#include <cstring>

namespace {

constexpr HRESULT kInvalidWwnFormat = static_cast<HRESULT>(0xC0040298);
constexpr char kUpperHex[] = "0123456789ABCDEF";

int narrow_hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

}  // namespace

std::string GuidToString(const GUID& id) {
    char* text = nullptr;
    if (UuidToStringA(&id, &text) != RPC_S_OK || !text) return {};
    std::string result(text);
    RpcStringFreeA(&text);
    return result;
}

std::u16string GuidToWString(const GUID& id) {
    WCHAR* text = nullptr;
    if (UuidToStringW(&id, &text) != RPC_S_OK || !text) return {};
    std::u16string result(text);
    RpcStringFreeW(&text);
    return result;
}

GUID GuidFromBytes(const char* text, size_t length) {
    GUID id{};
    if (text) std::memcpy(&id, text, length < sizeof id ? length : sizeof id);
    return id;
}

std::u16string StringToWString(std::string_view text) {
    text = text.substr(0, kMaxConvertedChars);
    std::u16string result;
    result.reserve(text.size());
    for (char c : text) result.push_back(static_cast<char16_t>(static_cast<unsigned char>(c)));
    return result;
}

std::string WStringToString(std::u16string_view text) {
    text = text.substr(0, kMaxConvertedChars);
    std::string result;
    result.reserve(text.size());
    for (char16_t u : text) {
        if (u >= 256) break;
        result.push_back(static_cast<char>(u));
    }
    return result;
}

std::string EncodeUnicodeBinary(std::u16string_view text) {
    std::string result;
    result.reserve(text.size() * 4);
    for (char16_t u : text)
        for (int shift = 12; shift >= 0; shift -= 4) result.push_back(kUpperHex[(u >> shift) & 0xF]);
    return result;
}

std::u16string DecodeUnicodeBinary(std::string_view text) {
    bool valid = text.size() % 4 == 0;
    for (size_t i = 0; valid && i < text.size(); ++i) valid = narrow_hex_value(text[i]) >= 0;
    if (!valid) {
        const std::string shown(text);
        trace_printf("The string is not a valid UnicodeBinarystring %s", shown.c_str());
        return {};
    }
    std::u16string result;
    result.reserve(text.size() / 4);
    for (size_t i = 0; i < text.size(); i += 4) {
        unsigned unit = 0;
        for (size_t k = 0; k < 4; ++k) unit = (unit << 4) | static_cast<unsigned>(narrow_hex_value(text[i + k]));
        result.push_back(static_cast<char16_t>(unit));
    }
    return result;
}

std::u16string FormatWwn(std::u16string_view wwn) {
    if (wwn.size() != 16) return {};
    std::u16string result;
    result.reserve(23);
    for (size_t i = 0; i < 16; ++i) {
        if (i && i % 2 == 0) result.push_back(u':');
        char16_t c = wwn[i];
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
        result.push_back(c);
    }
    return result;
}

bool IsEqualWwn(const BYTE (&a)[8], const BYTE (&b)[8]) { return std::memcmp(a, b, 8) == 0; }

void wwn_from_string(std::u16string_view text, BYTE (&wwn)[8]) {
    // As "%02x" fields: each at most two hex digits, fields separated by ':'.
    std::array<BYTE, 8> bytes{};
    size_t pos = 0;
    for (size_t field = 0; field < bytes.size(); ++field) {
        if (field) {
            if (pos >= text.size() || text[pos] != u':') RAISE_COM_ERROR(kInvalidWwnFormat);
            ++pos;
        }
        unsigned value = 0;
        size_t digits = 0;
        while (digits < 2 && pos < text.size() && text[pos] < 128 && narrow_hex_value(static_cast<char>(text[pos])) >= 0) {
            value = (value << 4) | static_cast<unsigned>(narrow_hex_value(static_cast<char>(text[pos])));
            ++pos;
            ++digits;
        }
        if (!digits) RAISE_COM_ERROR(kInvalidWwnFormat);
        bytes[field] = static_cast<BYTE>(value);
    }
    std::memcpy(wwn, bytes.data(), bytes.size());
}

int HexDigitValue(WCHAR c) {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    return 0;
}
