#include "registry_tree.h"

#include <clocale>
#include <cwctype>
#include <locale.h>

namespace platform::reg {
namespace {

// Folding must not follow the process locale: every process has to order
// the same hive the same way.
locale_t upcase_locale() {
    static const locale_t loc = [] {
        locale_t l = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
        return l ? l : newlocale(LC_CTYPE_MASK, "C", static_cast<locale_t>(nullptr));
    }();
    return loc;
}

char16_t upcase(char16_t c) {
    if (c < 0x80) return (c >= 'a' && c <= 'z') ? static_cast<char16_t>(c - 32) : c;
    if (c >= 0xD800 && c <= 0xDFFF) return c;
    const auto u = towupper_l(static_cast<wint_t>(c), upcase_locale());
    return u <= 0xFFFF ? static_cast<char16_t>(u) : c;
}

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
