#include <platform/registry.h>

#include "hive_store.h"
#include "registry_tree.h"

#include <cstring>
#include <iterator>
#include <mutex>
#include <optional>
#include <unordered_map>

using platform::reg::find_key;
using platform::reg::hive_store;
using platform::reg::KeyPath;
using platform::reg::RegKey;
using platform::reg::RegValue;

namespace {

constexpr uintptr_t kFirstPredefined = 0x80000000u;
constexpr const char* kHiveNames[] = {"HKCR", "HKCU", "HKLM", "HKU"};
constexpr size_t kMaxKeyNameLength = 255;

// What a handle stands for: a key by its path, not by a node of a tree, so a
// change made by another process is seen through it.
struct KeyRef {
    size_t hive = 0;
    KeyPath path;
    REGSAM access = 0;

    bool allows(REGSAM rights) const { return (access & rights) == rights; }
    platform::reg::HiveStore& store() const { return hive_store(kHiveNames[hive]); }
};

class HandleTable {
public:
    HKEY add(KeyRef ref) {
        std::lock_guard guard(m_lock);
        const uintptr_t id = m_next;
        m_next += 4;
        m_refs.emplace(id, std::move(ref));
        return reinterpret_cast<HKEY>(id);
    }
    std::optional<KeyRef> find(HKEY key) const {
        const auto id = reinterpret_cast<uintptr_t>(key);
        if (id >= kFirstPredefined && id < kFirstPredefined + std::size(kHiveNames))
            return KeyRef{id - kFirstPredefined, {}, KEY_ALL_ACCESS};
        std::lock_guard guard(m_lock);
        auto it = m_refs.find(id);
        if (it == m_refs.end()) return std::nullopt;
        return it->second;
    }
    LONG close(HKEY key) {
        const auto id = reinterpret_cast<uintptr_t>(key);
        if (id >= kFirstPredefined && id < kFirstPredefined + std::size(kHiveNames)) return ERROR_SUCCESS;
        std::lock_guard guard(m_lock);
        return m_refs.erase(id) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
    }

private:
    mutable std::mutex m_lock;
    std::unordered_map<uintptr_t, KeyRef> m_refs;
    uintptr_t m_next = 0x1000;
};

HandleTable& handles() {
    static HandleTable table;
    return table;
}

KeyPath joined(const KeyPath& base, const KeyPath& sub) {
    KeyPath path = base;
    path.insert(path.end(), sub.begin(), sub.end());
    return path;
}

std::u16string_view value_name(LPCWSTR name) { return name ? std::u16string_view(name) : std::u16string_view(); }

}  // namespace

LSTATUS RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, LPWSTR, DWORD, REGSAM samDesired,
                        const SECURITY_ATTRIBUTES*, PHKEY phkResult, LPDWORD lpdwDisposition) {
    if (!phkResult || !lpSubKey) return ERROR_INVALID_PARAMETER;
    *phkResult = nullptr;
    const auto base = handles().find(hKey);
    if (!base) return ERROR_INVALID_HANDLE;
    const auto sub = platform::reg::split_path(lpSubKey);
    if (!sub) return ERROR_BAD_PATHNAME;
    for (const auto& name : *sub)
        if (name.size() > kMaxKeyNameLength) return ERROR_INVALID_PARAMETER;

    KeyRef ref{base->hive, joined(base->path, *sub), samDesired};
    bool created = false;
    const LONG status = base->store().modify([&](RegKey& root, bool& changed) -> LONG {
        RegKey* key = find_key(root, base->path);
        if (!key) return ERROR_KEY_DELETED;
        size_t depth = 0;
        for (; depth < sub->size(); ++depth) {
            RegKey* next = key->child((*sub)[depth]);
            if (!next) break;
            key = next;
        }
        if (depth == sub->size()) return ERROR_SUCCESS;
        if (!base->allows(KEY_CREATE_SUB_KEY)) return ERROR_ACCESS_DENIED;
        for (; depth < sub->size(); ++depth) key = &key->make_child((*sub)[depth]);
        created = changed = true;
        return ERROR_SUCCESS;
    });
    if (status != ERROR_SUCCESS) return status;
    if (lpdwDisposition) *lpdwDisposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    *phkResult = handles().add(std::move(ref));
    return ERROR_SUCCESS;
}

LSTATUS RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, REGSAM samDesired, PHKEY phkResult) {
    if (!phkResult) return ERROR_INVALID_PARAMETER;
    *phkResult = nullptr;
    const auto base = handles().find(hKey);
    if (!base) return ERROR_INVALID_HANDLE;
    const auto sub = platform::reg::split_path(lpSubKey);
    if (!sub) return ERROR_BAD_PATHNAME;

    const LONG status = base->store().read([&](const RegKey& root) -> LONG {
        const RegKey* key = find_key(root, base->path);
        if (!key) return ERROR_KEY_DELETED;
        return find_key(*key, *sub) ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
    });
    if (status != ERROR_SUCCESS) return status;
    *phkResult = handles().add(KeyRef{base->hive, joined(base->path, *sub), samDesired});
    return ERROR_SUCCESS;
}

namespace {

// Runs `read` on the key an open handle names, as its hive stands, once the
// handle is known to allow `access`.
template <typename Read>
LONG read_open_key(HKEY hKey, REGSAM access, Read&& read) {
    const auto ref = handles().find(hKey);
    if (!ref) return ERROR_INVALID_HANDLE;
    if (!ref->allows(access)) return ERROR_ACCESS_DENIED;
    return ref->store().read([&](const RegKey& root) -> LONG {
        const RegKey* key = find_key(root, ref->path);
        return key ? read(*key) : ERROR_KEY_DELETED;
    });
}

// A value's type and data as the query calls give them: the size always, the
// data when the buffer holds it.
LONG copy_value(const RegValue& value, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
    if (lpType) *lpType = value.type;
    if (!lpcbData) return ERROR_SUCCESS;
    const auto size = static_cast<DWORD>(value.data.size());
    const bool fits = *lpcbData >= size;
    *lpcbData = size;
    if (!lpData) return ERROR_SUCCESS;
    if (!fits) return ERROR_MORE_DATA;
    if (size) std::memcpy(lpData, value.data.data(), size);
    return ERROR_SUCCESS;
}

}  // namespace

LSTATUS RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData,
                         LPDWORD lpcbData) {
    if (lpReserved || (lpData && !lpcbData)) return ERROR_INVALID_PARAMETER;
    return read_open_key(hKey, KEY_QUERY_VALUE, [&](const RegKey& key) -> LONG {
        const RegValue* value = key.values.find(value_name(lpValueName));
        return value ? copy_value(*value, lpType, lpData, lpcbData) : ERROR_FILE_NOT_FOUND;
    });
}

LSTATUS RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD, DWORD dwType, const BYTE* lpData, DWORD cbData) {
    if (!lpData && cbData) return ERROR_NOACCESS;
    const auto ref = handles().find(hKey);
    if (!ref) return ERROR_INVALID_HANDLE;
    if (!ref->allows(KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;

    RegValue value{dwType, std::vector<BYTE>(lpData, lpData + cbData)};
    return ref->store().modify([&](RegKey& root, bool& changed) -> LONG {
        RegKey* key = find_key(root, ref->path);
        if (!key) return ERROR_KEY_DELETED;
        // A new value is a change even when it equals a default one (REG_NONE, no data).
        const auto [slot, created] = key->values.emplace(value_name(lpValueName));
        if (!created && *slot == value) return ERROR_SUCCESS;
        *slot = std::move(value);
        changed = true;
        return ERROR_SUCCESS;
    });
}

LSTATUS RegEnumKeyExW(HKEY hKey, DWORD dwIndex, LPWSTR lpName, LPDWORD lpcchName, LPDWORD lpReserved,
                      LPWSTR lpClass, LPDWORD lpcchClass, FILETIME* lpftLastWriteTime) {
    if (!lpName || !lpcchName || lpReserved) return ERROR_INVALID_PARAMETER;
    return read_open_key(hKey, KEY_ENUMERATE_SUB_KEYS, [&](const RegKey& key) -> LONG {
        if (dwIndex >= key.subkeys.size()) return ERROR_NO_MORE_ITEMS;
        const std::u16string& name = key.subkeys[dwIndex].first;
        // As the real call, a short buffer leaves the count as it was.
        if (*lpcchName <= name.size()) return ERROR_MORE_DATA;
        std::memcpy(lpName, name.c_str(), (name.size() + 1) * sizeof(WCHAR));
        *lpcchName = static_cast<DWORD>(name.size());
        if (lpcchClass) {
            if (lpClass && *lpcchClass == 0) return ERROR_MORE_DATA;
            if (lpClass) lpClass[0] = u'\0';
            *lpcchClass = 0;
        }
        if (lpftLastWriteTime) *lpftLastWriteTime = FILETIME{0, 0};
        return ERROR_SUCCESS;
    });
}

LSTATUS RegEnumValueW(HKEY hKey, DWORD dwIndex, LPWSTR lpValueName, LPDWORD lpcchValueName, LPDWORD lpReserved,
                      LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
    if (!lpValueName || !lpcchValueName || lpReserved || (lpData && !lpcbData)) return ERROR_INVALID_PARAMETER;
    return read_open_key(hKey, KEY_QUERY_VALUE, [&](const RegKey& key) -> LONG {
        if (dwIndex >= key.values.size()) return ERROR_NO_MORE_ITEMS;
        const auto& [name, value] = key.values[dwIndex];
        if (*lpcchValueName <= name.size()) return ERROR_MORE_DATA;
        std::memcpy(lpValueName, name.c_str(), (name.size() + 1) * sizeof(WCHAR));
        *lpcchValueName = static_cast<DWORD>(name.size());
        return copy_value(value, lpType, lpData, lpcbData);
    });
}

LSTATUS RegDeleteKeyW(HKEY hKey, LPCWSTR lpSubKey) {
    if (!lpSubKey) return ERROR_INVALID_PARAMETER;
    const auto ref = handles().find(hKey);
    if (!ref) return ERROR_INVALID_HANDLE;
    const auto sub = platform::reg::split_path(lpSubKey);
    if (!sub) return ERROR_BAD_PATHNAME;
    const KeyPath target = joined(ref->path, *sub);
    if (target.empty()) return ERROR_ACCESS_DENIED;  // a hive's root

    return ref->store().modify([&](RegKey& root, bool& changed) -> LONG {
        if (!find_key(root, ref->path)) return ERROR_KEY_DELETED;
        RegKey* parent = find_key(root, KeyPath(target.begin(), target.end() - 1));
        const RegKey* key = parent ? parent->child(target.back()) : nullptr;
        if (!key) return ERROR_FILE_NOT_FOUND;
        if (!key->subkeys.empty()) return ERROR_ACCESS_DENIED;
        parent->subkeys.erase(target.back());
        changed = true;
        return ERROR_SUCCESS;
    });
}

LSTATUS RegDeleteValueW(HKEY hKey, LPCWSTR lpValueName) {
    const auto ref = handles().find(hKey);
    if (!ref) return ERROR_INVALID_HANDLE;
    if (!ref->allows(KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;

    return ref->store().modify([&](RegKey& root, bool& changed) -> LONG {
        RegKey* key = find_key(root, ref->path);
        if (!key) return ERROR_KEY_DELETED;
        if (!key->values.erase(value_name(lpValueName))) return ERROR_FILE_NOT_FOUND;
        changed = true;
        return ERROR_SUCCESS;
    });
}

LSTATUS RegDeleteTreeW(HKEY hKey, LPCWSTR lpSubKey) {
    const auto ref = handles().find(hKey);
    if (!ref) return ERROR_INVALID_HANDLE;
    const auto sub = platform::reg::split_path(lpSubKey);
    if (!sub) return ERROR_BAD_PATHNAME;

    return ref->store().modify([&](RegKey& root, bool& changed) -> LONG {
        RegKey* base = find_key(root, ref->path);
        if (!base) return ERROR_KEY_DELETED;
        if (sub->empty()) {
            changed = !base->subkeys.empty() || !base->values.empty();
            base->subkeys.clear();
            base->values.clear();
            return ERROR_SUCCESS;
        }
        RegKey* parent = find_key(*base, KeyPath(sub->begin(), sub->end() - 1));
        if (!parent || !parent->subkeys.erase(sub->back())) return ERROR_FILE_NOT_FOUND;
        changed = true;
        return ERROR_SUCCESS;
    });
}

LSTATUS RegCloseKey(HKEY hKey) { return handles().close(hKey); }

namespace platform {
void set_hive_commit_hook(void (*hook)()) { reg::set_commit_hook(hook); }
}  // namespace platform
