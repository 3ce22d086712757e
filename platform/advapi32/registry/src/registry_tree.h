#pragma once
// The in-memory form of one hive: keys and values by case-insensitive name,
// each name kept with the case it was first given.
#include <platform/registry.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace platform::reg {

// Orders names as the registry does: case-insensitively, by upper-case units.
int compare_names(std::u16string_view a, std::u16string_view b);

// Entries sorted in registry order, so enumeration by index is direct and
// lookups are a binary search.
template <typename T>
class NameTable {
public:
    using Entry = std::pair<std::u16string, T>;

    T* find(std::u16string_view name) {
        auto it = lower(name);
        return (it != m_entries.end() && compare_names(it->first, name) == 0) ? &it->second : nullptr;
    }
    const T* find(std::u16string_view name) const { return const_cast<NameTable*>(this)->find(name); }

    // An existing entry keeps its name's case; returns the entry and whether it is new.
    std::pair<T*, bool> emplace(std::u16string_view name) {
        auto it = lower(name);
        if (it != m_entries.end() && compare_names(it->first, name) == 0) return {&it->second, false};
        it = m_entries.emplace(it, std::u16string(name), T{});
        return {&it->second, true};
    }
    bool erase(std::u16string_view name) {
        auto it = lower(name);
        if (it == m_entries.end() || compare_names(it->first, name) != 0) return false;
        m_entries.erase(it);
        return true;
    }
    void clear() { m_entries.clear(); }
    size_t size() const { return m_entries.size(); }
    bool empty() const { return m_entries.empty(); }
    const Entry& operator[](size_t i) const { return m_entries[i]; }
    auto begin() const { return m_entries.begin(); }
    auto end() const { return m_entries.end(); }

private:
    typename std::vector<Entry>::iterator lower(std::u16string_view name) {
        return std::lower_bound(m_entries.begin(), m_entries.end(), name,
                                [](const Entry& e, std::u16string_view n) { return compare_names(e.first, n) < 0; });
    }
    std::vector<Entry> m_entries;
};

struct RegValue {
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
    bool operator==(const RegValue&) const = default;
};

struct RegKey {
    NameTable<std::unique_ptr<RegKey>> subkeys;
    NameTable<RegValue> values;

    RegKey* child(std::u16string_view name) {
        auto* slot = subkeys.find(name);
        return slot ? slot->get() : nullptr;
    }
    // The child of that name, created when missing.
    RegKey& make_child(std::u16string_view name) {
        auto [slot, created] = subkeys.emplace(name);
        if (created) *slot = std::make_unique<RegKey>();
        return **slot;
    }
};

using KeyPath = std::vector<std::u16string>;

// "A\B\C" into its names; NULL or "" is the key itself. A trailing backslash
// is allowed; a leading or doubled one is not (nullopt).
std::optional<KeyPath> split_path(const WCHAR* text);

RegKey* find_key(RegKey& from, const KeyPath& path);
const RegKey* find_key(const RegKey& from, const KeyPath& path);

}  // namespace platform::reg
