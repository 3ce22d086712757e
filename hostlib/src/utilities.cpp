#include <hostlib/utilities.h>

#include <hostlib/com_error.h>

#include <platform/comalloc.h>
#include <platform/library.h>
#include <platform/string_table.h>

#include <cstdlib>
#include <cstring>

std::u16string MakeIgroupName(std::u16string_view initiatorName) {
    return u"viaVDS." + std::u16string(initiatorName);
}

std::u16string make_volume_path(std::u16string_view volume, std::u16string_view qtree, std::u16string_view name) {
    ReportAssertion("hostlib\\utilities", 648, !volume.empty());
    std::u16string path = u"/vol/" + std::u16string(volume);
    if (!qtree.empty()) path += u"/" + std::u16string(qtree);
    if (!name.empty()) path += u"/" + std::u16string(name);
    return path;
}

void time_t_to_filetime(int32_t seconds, FILETIME* fileTime) {
    const int64_t units = int64_t{seconds} * 10000000 + 116444736000000000LL;
    fileTime->dwLowDateTime = static_cast<DWORD>(static_cast<uint64_t>(units));
    fileTime->dwHighDateTime = static_cast<DWORD>(static_cast<uint64_t>(units) >> 32);
}

bool GetCachedFilerVersion(std::u16string_view /*filerName*/, std::u16string& version) {
    version.clear();
    return false;
}

const WCHAR* FindInMultiString(const WCHAR* list, std::u16string_view pattern) {
    if (!list) return nullptr;
    for (const WCHAR* text = list; *text;) {
        const std::u16string_view entry(text);
        if (entry.find(pattern) != std::u16string_view::npos) return text;
        text += entry.size() + 1;
    }
    return nullptr;
}

WCHAR* CoTaskMemStrDup(const WCHAR* text) {
    if (!text) return nullptr;
    const size_t bytes = (std::char_traits<char16_t>::length(text) + 1) * sizeof(WCHAR);
    auto* copy = static_cast<WCHAR*>(CoTaskMemAlloc(bytes));
    if (copy) std::memcpy(copy, text, bytes);
    return copy;
}

void LoadResourceString(UINT id, WCHAR** buffer) {
    constexpr size_t kBufferBytes = 512;
    if (!buffer || *buffer) return;
    *buffer = static_cast<WCHAR*>(std::calloc(1, kBufferBytes));
    if (*buffer) LoadStringW(GetModuleHandleW(nullptr), id, *buffer, kBufferBytes / sizeof(WCHAR));
}
