#pragma once
// The registry calls the system makes, over a file store: one text file per
// hive under $SANPROV_ROOT/registry/ (HKCR.reg, HKCU.reg, HKLM.reg, HKU.reg).
// Every change is a locked, atomic rewrite of its hive, so the service, the
// tools and the applet see each other's changes and a crash never leaves half
// a hive. Handles name a key by its path, as the real handles name a key
// object, so a key deleted by anyone answers ERROR_KEY_DELETED.
#include <platform/errors.h>
#include <platform/types.h>

#include <memory>

using HKEY = struct HKEY__*;
using PHKEY = HKEY*;
using REGSAM = DWORD;
using LSTATUS = LONG;
struct SECURITY_ATTRIBUTES;
using LPSECURITY_ATTRIBUTES = SECURITY_ATTRIBUTES*;

// Macros, as the predefined keys must be usable during static construction.
#define HKEY_CLASSES_ROOT (reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x80000000u)))
#define HKEY_CURRENT_USER (reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x80000001u)))
#define HKEY_LOCAL_MACHINE (reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x80000002u)))
#define HKEY_USERS (reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x80000003u)))

constexpr DWORD REG_NONE = 0;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_EXPAND_SZ = 2;
constexpr DWORD REG_BINARY = 3;
constexpr DWORD REG_DWORD = 4;
constexpr DWORD REG_MULTI_SZ = 7;
constexpr DWORD REG_QWORD = 11;

constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
constexpr REGSAM KEY_SET_VALUE = 0x0002;
constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
constexpr REGSAM KEY_NOTIFY = 0x0010;
constexpr REGSAM KEY_READ = 0x00020019;
constexpr REGSAM KEY_WRITE = 0x00020006;
constexpr REGSAM KEY_ALL_ACCESS = 0x000F003F;

constexpr DWORD REG_OPTION_NON_VOLATILE = 0x00000000;
constexpr DWORD REG_CREATED_NEW_KEY = 1;
constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

// Results follow the real calls: ERROR_FILE_NOT_FOUND for a missing key or
// value, ERROR_MORE_DATA (with the size needed, for values) when a buffer is
// short, ERROR_NO_MORE_ITEMS past the last subkey, ERROR_ACCESS_DENIED for a
// key that still has subkeys or a handle without the right access,
// ERROR_KEY_DELETED through a handle whose key is gone, ERROR_BAD_PATHNAME for
// a path with a leading or doubled backslash. A hive file that cannot be read
// gives ERROR_BADDB and is never overwritten.
LSTATUS RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD Reserved, LPWSTR lpClass, DWORD dwOptions,
                        REGSAM samDesired, const SECURITY_ATTRIBUTES* lpSecurityAttributes, PHKEY phkResult,
                        LPDWORD lpdwDisposition);
LSTATUS RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult);
LSTATUS RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData,
                         LPDWORD lpcbData);
LSTATUS RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD Reserved, DWORD dwType, const BYTE* lpData,
                       DWORD cbData);
// Subkeys come in the registry's order: by name, case-insensitively.
LSTATUS RegEnumKeyExW(HKEY hKey, DWORD dwIndex, LPWSTR lpName, LPDWORD lpcchName, LPDWORD lpReserved,
                      LPWSTR lpClass, LPDWORD lpcchClass, FILETIME* lpftLastWriteTime);
// Values in the order of their names, as the store keeps them; a short name
// buffer is ERROR_MORE_DATA.
LSTATUS RegEnumValueW(HKEY hKey, DWORD dwIndex, LPWSTR lpValueName, LPDWORD lpcchValueName, LPDWORD lpReserved,
                      LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData);
LSTATUS RegDeleteKeyW(HKEY hKey, LPCWSTR lpSubKey);
LSTATUS RegDeleteValueW(HKEY hKey, LPCWSTR lpValueName);
// With no subkey name, empties hKey's key and leaves the key itself.
LSTATUS RegDeleteTreeW(HKEY hKey, LPCWSTR lpSubKey);
LSTATUS RegCloseKey(HKEY hKey);

namespace platform {

// An open key, closed when the holder goes.
class RegKeyHolder {
public:
    RegKeyHolder() = default;
    ~RegKeyHolder() {
        if (m_key) RegCloseKey(m_key);
    }
    RegKeyHolder(const RegKeyHolder&) = delete;
    RegKeyHolder& operator=(const RegKeyHolder&) = delete;
    HKEY* out() { return &m_key; }
    HKEY get() const { return m_key; }

private:
    HKEY m_key = nullptr;
};

// Groups the calling thread's registry changes so that each hive they touch
// is replaced once, at Commit(): a crash leaves every hive as it was before
// or as it is after, never in between. From its first change of a hive until
// it ends, the transaction holds that hive against other writers (threads and
// processes); this thread reads its own changes, others read the hive as it
// was. Ended without Commit(), the changes are dropped. A transaction opened
// while one is open on the thread joins it: only the outer one writes.
class RegistryTransaction {
public:
    RegistryTransaction();
    ~RegistryTransaction();
    RegistryTransaction(const RegistryTransaction&) = delete;
    RegistryTransaction& operator=(const RegistryTransaction&) = delete;
    // Writes each changed hive; the first failure is the result.
    LSTATUS Commit();

    struct State;

private:
    std::unique_ptr<State> m_state;  // null when joined to an outer transaction
};

// Test seam: called after a hive's new text is written and synced to its
// temporary file and before it replaces the hive. nullptr removes it.
void set_hive_commit_hook(void (*hook)());
}  // namespace platform
