#pragma once
// Conversions between the text forms the system meets: GUIDs, world-wide
// names, narrow and wide text, and the "UnicodeBinary" hexadecimal form.
#include <string>
#include <string_view>

#include <platform/guid.h>
#include <platform/types.h>

// 36-character lower-case GUID text without braces; empty when it cannot be made.
std::string GuidToString(const GUID& id);
std::u16string GuidToWString(const GUID& id);

// 16 zero bytes overlaid with the first min(length, 16) bytes of the text.
GUID GuidFromBytes(const char* text, size_t length);
inline void GuidFromBytes(const char* text, size_t length, GUID& id) { id = GuidFromBytes(text, length); }

// Longest text the two conversions below produce; longer input is cut.
inline constexpr size_t kMaxConvertedChars = 4095;

// Each byte becomes the UTF-16 unit of the same value.
std::u16string StringToWString(std::string_view text);
// Each unit below 256 becomes the byte of the same value; the text ends before
// the first unit that has no single-byte form.
std::string WStringToString(std::u16string_view text);

// Four upper-case hex digits per UTF-16 unit, most significant first.
std::string EncodeUnicodeBinary(std::u16string_view text);
// The reverse; a text of the wrong length or with a non-hex character is traced
// and gives an empty text.
std::u16string DecodeUnicodeBinary(std::string_view text);

// 16 hex characters as "xx:xx:xx:xx:xx:xx:xx:xx", lower-cased. Text that is
// not 16 characters long gives an empty result rather than reading past it.
std::u16string FormatWwn(std::u16string_view wwn);

using WWN = BYTE[8];
bool IsEqualWwn(const BYTE (&a)[8], const BYTE (&b)[8]);
// Parses "%02x:%02x:...:%02x"; raises 0xC0040298 when any of the 8 fields is missing.
void wwn_from_string(std::u16string_view text, BYTE (&wwn)[8]);

// 0-15 for a hex digit of either case, 0 for anything else.
int HexDigitValue(WCHAR c);
