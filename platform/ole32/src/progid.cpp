#include <platform/progid.h>

#include <platform/comalloc.h>
#include <platform/errors.h>
#include <platform/registry.h>

#include <cstring>
#include <string>
#include <vector>

HRESULT ProgIDFromCLSID(REFCLSID clsid, WCHAR** progId) {
    if (!progId) return E_INVALIDARG;
    *progId = nullptr;
    WCHAR braced[39];
    if (!StringFromGUID2(clsid, braced, 39)) return E_INVALIDARG;
    const std::u16string keyName = u"CLSID\\" + std::u16string(braced) + u"\\ProgID";

    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, keyName.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return REGDB_E_CLASSNOTREG;
    DWORD type = REG_NONE, size = 0;
    LSTATUS status = RegQueryValueExW(key, nullptr, nullptr, &type, nullptr, &size);
    std::vector<WCHAR> value(size / sizeof(WCHAR) + 1, 0);
    if (status == ERROR_SUCCESS && type == REG_SZ)
        status = RegQueryValueExW(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(value.data()), &size);
    RegCloseKey(key);
    const std::u16string text(value.data());
    if (status != ERROR_SUCCESS || type != REG_SZ || text.empty()) return REGDB_E_CLASSNOTREG;

    auto* copy = static_cast<WCHAR*>(CoTaskMemAlloc((text.size() + 1) * sizeof(WCHAR)));
    if (!copy) return E_OUTOFMEMORY;
    std::memcpy(copy, text.c_str(), (text.size() + 1) * sizeof(WCHAR));
    *progId = copy;
    return S_OK;
}
