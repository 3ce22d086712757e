#pragma once
// Small services of the host library: appliance names and paths, appliance
// times, resource strings, CoTaskMem copies and multi-string search.
#include <string>
#include <string_view>

#include <platform/types.h>

// "viaVDS." followed by the initiator name: the initiator group LUN masking creates.
std::u16string MakeIgroupName(std::u16string_view initiatorName);

// "/vol/<volume>[/<qtree>][/<name>]". An empty volume is asserted and the path
// built all the same.
std::u16string make_volume_path(std::u16string_view volume, std::u16string_view qtree, std::u16string_view name);

// Seconds since 1970 (taken as a signed 32-bit count) as 100-ns units since 1601.
void time_t_to_filetime(int32_t seconds, FILETIME* fileTime);

// The text itself, or an empty text when it is absent.
inline const WCHAR* wtext_or_empty(const WCHAR* text) { return text ? text : u""; }
inline const char* text_or_empty(const char* text) { return text ? text : ""; }

// No appliance release is remembered: empties the text and answers false.
bool GetCachedFilerVersion(std::u16string_view filerName, std::u16string& version);

// The first text of a multi-string list (texts ended by NUL, the list by an
// empty text) that contains the pattern; null when none does.
const WCHAR* FindInMultiString(const WCHAR* list, std::u16string_view pattern);

// A CoTaskMem copy of the text with its NUL, for a COM caller; null when the
// text is absent or memory ran out.
WCHAR* CoTaskMemStrDup(const WCHAR* text);

// When `buffer` is given and `*buffer` is still empty: allocates 512 bytes into
// it and loads string resource `id` of the program (at most 256 characters).
void LoadResourceString(UINT id, WCHAR** buffer);
