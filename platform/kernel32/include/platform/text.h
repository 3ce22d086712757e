#pragma once
// UTF-16 <-> UTF-8 conversion (the ANSI code page is UTF-8) and wide text helpers.
#include <optional>
#include <string>
#include <string_view>

#include <platform/types.h>

constexpr UINT CP_ACP = 0;
constexpr UINT CP_UTF8 = 65001;
constexpr DWORD MB_ERR_INVALID_CHARS = 0x00000008;
constexpr DWORD WC_ERR_INVALID_CHARS = 0x00000080;

// Windows semantics: a source length of -1 means NUL-terminated (the NUL is
// converted and counted); a destination size of 0 asks for the size needed.
// Malformed input (bad UTF-8, lone surrogates) is always refused with
// ERROR_NO_UNICODE_TRANSLATION: silently replacing characters would change
// names that reach appliances and stored records.
int MultiByteToWideChar(UINT codePage, DWORD flags, const char* src, int cbSrc, WCHAR* dst, int cchDst);
int WideCharToMultiByte(UINT codePage, DWORD flags, const WCHAR* src, int cchSrc, char* dst, int cbDst,
                        const char* defaultChar, BOOL* usedDefaultChar);

namespace platform {
std::optional<std::u16string> utf8_to_wide(std::string_view text);
std::optional<std::string> wide_to_utf8(std::u16string_view text);
// Lossy forms for diagnostics: malformed units become U+FFFD.
std::u16string utf8_to_wide_lossy(std::string_view text);
std::string wide_to_utf8_lossy(std::u16string_view text);

size_t wide_length(const WCHAR* text);
// Locale-independent case mapping of one UTF-16 unit (surrogates unchanged).
char16_t to_upper_wide(char16_t c);
char16_t to_lower_wide(char16_t c);
int compare_wide_nocase(std::u16string_view a, std::u16string_view b);
bool equal_wide_nocase(std::u16string_view a, std::u16string_view b);
int compare_narrow_nocase(std::string_view a, std::string_view b);
}  // namespace platform

int lstrlenW(const WCHAR* text);
int lstrcmpiW(const WCHAR* a, const WCHAR* b);
int _wcsicmp(const WCHAR* a, const WCHAR* b);
