#include "registry_tree.h"


#include <platform/text.h>

namespace platform::reg {
namespace {

char16_t upcase(char16_t c) { return platform::to_upper_wide(c); }

}  // namespace

int compare_names(std::u16string_view a, std::u16string_view b) {
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        const char16_t x = upcase(a[i]), y = upcase(b[i]);
        if (x != y) return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

std::optional<KeyPath> split_path(const WCHAR* text) {
    KeyPath path;
    if (!text) return path;
    std::u16string_view rest(text);
    while (!rest.empty()) {
        const size_t cut = rest.find(u'\\');
        if (cut == 0) return std::nullopt;
        path.emplace_back(rest.substr(0, cut));
        if (cut == std::u16string_view::npos) break;
        rest.remove_prefix(cut + 1);
    }
    return path;
}

RegKey* find_key(RegKey& from, const KeyPath& path) {
    RegKey* key = &from;
    for (const auto& name : path)
        if (!(key = key->child(name))) return nullptr;
    return key;
}

const RegKey* find_key(const RegKey& from, const KeyPath& path) {
    return find_key(const_cast<RegKey&>(from), path);
}

}  // namespace platform::reg
