#include <platform/errors.h>
#include <platform/text.h>

#include <cstddef>
#include <cstring>
#include <clocale>
#include <cwctype>
#include <locale.h>
#include <wctype.h>

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Decodes one UTF-8 sequence; returns false on any malformed or overlong form.
bool decode_utf8(std::string_view s, size_t& i, char32_t& cp) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    int extra = 0;
    char32_t min = 0;
    if (b0 < 0x80) { cp = b0; ++i; return true; }
    if ((b0 & 0xE0) == 0xC0) { extra = 1; cp = b0 & 0x1F; min = 0x80; }
    else if ((b0 & 0xF0) == 0xE0) { extra = 2; cp = b0 & 0x0F; min = 0x800; }
    else if ((b0 & 0xF8) == 0xF0) { extra = 3; cp = b0 & 0x07; min = 0x10000; }
    else return false;
    if (i + extra >= s.size()) return false;
    for (int k = 1; k <= extra; ++k) {
        const auto b = static_cast<unsigned char>(s[i + k]);
        if ((b & 0xC0) != 0x80) return false;
        cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += extra + 1;
    return true;
}

void append_utf16(std::u16string& out, char32_t cp) {
    if (cp < 0x10000) { out.push_back(static_cast<char16_t>(cp)); return; }
    cp -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
}

bool decode_utf16(std::u16string_view s, size_t& i, char32_t& cp) {
    const char16_t u = s[i];
    if (u < 0xD800 || u > 0xDFFF) { cp = u; ++i; return true; }
    if (u >= 0xDC00 || i + 1 >= s.size()) return false;
    const char16_t l = s[i + 1];
    if (l < 0xDC00 || l > 0xDFFF) return false;
    cp = 0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) + (l - 0xDC00);
    i += 2;
    return true;
}

void append_utf8(std::string& out, char32_t cp) {
    if (cp < 0x80) { out.push_back(static_cast<char>(cp)); return; }
    if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    }
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
}

// Names, numbers and ids are mostly plain ASCII, converted on every request:
// the leading ASCII run is copied in one go, the rest decoded.
bool is_ascii(char c) { return static_cast<unsigned char>(c) < 0x80; }
bool is_ascii(char16_t c) { return c < 0x80; }

template <typename Out, typename Text>
size_t append_ascii_run(Out& out, Text text) {
    size_t n = 0;
    while (n < text.size() && is_ascii(text[n])) ++n;
    out.append(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(n));
    return n;
}

std::optional<std::u16string> to_wide(std::string_view text, bool lossy) {
    std::u16string out;
    out.reserve(text.size());
    for (size_t i = append_ascii_run(out, text); i < text.size();) {
        char32_t cp;
        if (!decode_utf8(text, i, cp)) {
            if (!lossy) return std::nullopt;
            cp = kReplacement;
            ++i;
        }
        append_utf16(out, cp);
    }
    return out;
}

std::optional<std::string> to_utf8(std::u16string_view text, bool lossy) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = append_ascii_run(out, text); i < text.size();) {
        char32_t cp;
        if (!decode_utf16(text, i, cp)) {
            if (!lossy) return std::nullopt;
            cp = kReplacement;
            ++i;
        }
        append_utf8(out, cp);
    }
    return out;
}

bool supported_code_page(UINT cp) { return cp == CP_ACP || cp == CP_UTF8; }

// Copies a converted result out with the Windows size rules.
template <typename Char, typename Str>
int copy_out(const Str& result, Char* dst, int cap) {
    const int needed = static_cast<int>(result.size());
    if (cap == 0) return needed;
    if (needed > cap) { SetLastError(ERROR_INSUFFICIENT_BUFFER); return 0; }
    std::memcpy(dst, result.data(), result.size() * sizeof(Char));
    return needed;
}

// Case folding must not depend on the process locale (services start in "C").
locale_t folding_locale() {
    static const locale_t loc = [] {
        locale_t l = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
        return l ? l : newlocale(LC_CTYPE_MASK, "C", static_cast<locale_t>(nullptr));
    }();
    return loc;
}

char32_t fold(char32_t c) { return platform::to_lower_wide(static_cast<char16_t>(c)); }

}  // namespace

int MultiByteToWideChar(UINT codePage, DWORD, const char* src, int cbSrc, WCHAR* dst, int cchDst) {
    if (!supported_code_page(codePage)) { SetLastError(ERROR_INVALID_PARAMETER); return 0; }
    if (!src || cbSrc == 0 || cbSrc < -1 || cchDst < 0 || (cchDst > 0 && !dst)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const std::string_view in = cbSrc == -1 ? std::string_view(src, std::strlen(src) + 1) : std::string_view(src, cbSrc);
    auto out = to_wide(in, false);
    if (!out) { SetLastError(ERROR_NO_UNICODE_TRANSLATION); return 0; }
    return copy_out(*out, dst, cchDst);
}

int WideCharToMultiByte(UINT codePage, DWORD, const WCHAR* src, int cchSrc, char* dst, int cbDst, const char*,
                        BOOL* usedDefaultChar) {
    if (!supported_code_page(codePage)) { SetLastError(ERROR_INVALID_PARAMETER); return 0; }
    if (!src || cchSrc == 0 || cchSrc < -1 || cbDst < 0 || (cbDst > 0 && !dst)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (usedDefaultChar) *usedDefaultChar = FALSE;
    const std::u16string_view in = cchSrc == -1 ? std::u16string_view(src, platform::wide_length(src) + 1)
                                                : std::u16string_view(src, cchSrc);
    auto out = to_utf8(in, false);
    if (!out) { SetLastError(ERROR_NO_UNICODE_TRANSLATION); return 0; }
    return copy_out(*out, dst, cbDst);
}

namespace platform {

char16_t to_upper_wide(char16_t c) {
    if (c < 0x80) return (c >= 'a' && c <= 'z') ? static_cast<char16_t>(c - 32) : c;
    if (c >= 0xD800 && c <= 0xDFFF) return c;
    const auto u = towupper_l(static_cast<wint_t>(c), folding_locale());
    return u <= 0xFFFF ? static_cast<char16_t>(u) : c;
}

char16_t to_lower_wide(char16_t c) {
    if (c < 0x80) return (c >= 'A' && c <= 'Z') ? static_cast<char16_t>(c + 32) : c;
    if (c >= 0xD800 && c <= 0xDFFF) return c;
    const auto l = towlower_l(static_cast<wint_t>(c), folding_locale());
    return l <= 0xFFFF ? static_cast<char16_t>(l) : c;
}

std::optional<std::u16string> utf8_to_wide(std::string_view text) { return to_wide(text, false); }
std::optional<std::string> wide_to_utf8(std::u16string_view text) { return to_utf8(text, false); }
std::u16string utf8_to_wide_lossy(std::string_view text) { return *to_wide(text, true); }
std::string wide_to_utf8_lossy(std::u16string_view text) { return *to_utf8(text, true); }

size_t wide_length(const WCHAR* text) {
    size_t n = 0;
    if (text)
        while (text[n]) ++n;
    return n;
}

int compare_wide_nocase(std::u16string_view a, std::u16string_view b) {
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        const char32_t x = fold(a[i]), y = fold(b[i]);
        if (x != y) return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

bool equal_wide_nocase(std::u16string_view a, std::u16string_view b) {
    return a.size() == b.size() && compare_wide_nocase(a, b) == 0;
}

int compare_narrow_nocase(std::string_view a, std::string_view b) {
    auto wa = utf8_to_wide_lossy(a), wb = utf8_to_wide_lossy(b);
    return compare_wide_nocase(wa, wb);
}

}  // namespace platform

int lstrlenW(const WCHAR* text) { return static_cast<int>(platform::wide_length(text)); }

int lstrcmpiW(const WCHAR* a, const WCHAR* b) {
    return platform::compare_wide_nocase(a ? std::u16string_view(a) : u"", b ? std::u16string_view(b) : u"");
}

int _wcsicmp(const WCHAR* a, const WCHAR* b) { return lstrcmpiW(a, b); }
