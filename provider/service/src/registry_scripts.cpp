#include <service/registry_scripts.h>

#include <platform/errors.h>
#include <platform/provider_admin.h>
#include <platform/registry.h>
#include <vds/provider_ids.h>

#include <hostlib/conversions.h>

#include <vector>

namespace {

struct ClassScript {
    UINT id;
    const GUID* clsid;
    const WCHAR* progId;
    const WCHAR* versionIndependentProgId;
    const WCHAR* description;
};

const ClassScript kClassScripts[] = {
    {IDR_PROVIDER_FC, &CLSID_ZarvoVdsProviderFC, u"Zarvo.VdsProviderFC.1", u"Zarvo.VdsProviderFC",
     u"Zarvo VDS Hardware Provider (FCP)"},
    {IDR_PROVIDER_ISCSI, &CLSID_ZarvoVdsProviderIscsi, u"Zarvo.VdsProviderIscsi.1", u"Zarvo.VdsProviderIscsi",
     u"Zarvo VDS Hardware Provider (iSCSI)"},
    {IDR_PROVIDER_ADMIN, &CLSID_ZarvoVdsProviderAdmin, kZarvoVdsProviderAdminProgId,
     kZarvoVdsProviderAdminVersionIndependentProgId, kZarvoVdsProviderAdminDescription},
};

std::u16string braced(const GUID& id) { return u"{" + GuidToWString(id) + u"}"; }

// One key and its values; a null value name is the key's default value.
struct KeyWrite {
    std::u16string path;
    std::vector<std::pair<const WCHAR*, std::u16string>> values;
};

LSTATUS write(const KeyWrite& k) {
    HKEY key = nullptr;
    LSTATUS s = RegCreateKeyExW(HKEY_CLASSES_ROOT, k.path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    for (const auto& [name, text] : k.values) {
        if (s != ERROR_SUCCESS) break;
        s = RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                           static_cast<DWORD>((text.size() + 1) * sizeof(WCHAR)));
    }
    if (key) RegCloseKey(key);
    return s;
}

LSTATUS remove(const std::u16string& path) {
    const LSTATUS s = RegDeleteTreeW(HKEY_CLASSES_ROOT, path.c_str());
    return s == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : s;
}

HRESULT result(LSTATUS s) { return s == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(static_cast<DWORD>(s)); }

HRESULT app_id_script(bool bRegister) {
    const std::u16string appId = braced(APPID_SanProvD);
    if (!bRegister) {
        LSTATUS s = remove(u"AppID\\" + appId);
        if (s == ERROR_SUCCESS) s = remove(u"AppID\\SanProvD.EXE");
        return result(s);
    }
    LSTATUS s = write({u"AppID\\" + appId,
                       {{nullptr, u"Zarvo VDS Hardware Provider Service"},
                        {u"LocalService", u"SanProvD"},
                        {u"ServiceParameters", u"-Service"}}});
    if (s == ERROR_SUCCESS) s = write({u"AppID\\SanProvD.EXE", {{u"AppId", appId}}});
    return result(s);
}

HRESULT class_script(const ClassScript& c, bool bRegister, const std::u16string& modulePath) {
    const std::u16string clsid = braced(*c.clsid);
    const std::u16string clsidKey = u"CLSID\\" + clsid;
    LSTATUS s = remove(c.progId);
    if (s == ERROR_SUCCESS) s = remove(c.versionIndependentProgId);
    if (s == ERROR_SUCCESS) s = remove(clsidKey);  // deleted whole before it is written again
    if (!bRegister || s != ERROR_SUCCESS) return result(s);
    const KeyWrite keys[] = {
        {c.progId, {{nullptr, c.description}}},
        {std::u16string(c.progId) + u"\\CLSID", {{nullptr, clsid}}},
        {c.versionIndependentProgId, {{nullptr, c.description}}},
        {std::u16string(c.versionIndependentProgId) + u"\\CLSID", {{nullptr, clsid}}},
        {std::u16string(c.versionIndependentProgId) + u"\\CurVer", {{nullptr, c.progId}}},
        {clsidKey, {{nullptr, c.description}, {u"AppId", braced(APPID_SanProvD)}}},
        {clsidKey + u"\\ProgID", {{nullptr, c.progId}}},
        {clsidKey + u"\\VersionIndependentProgID", {{nullptr, c.versionIndependentProgId}}},
        {clsidKey + u"\\LocalServer32", {{nullptr, modulePath}}},
    };
    for (const auto& k : keys)
        if ((s = write(k)) != ERROR_SUCCESS) break;
    return result(s);
}

}  // namespace

HRESULT UpdateRegistryFromResource(UINT id, bool bRegister, const std::u16string& modulePath) {
    if (id == IDR_APPID) return app_id_script(bRegister);
    for (const auto& c : kClassScripts)
        if (c.id == id) return class_script(c, bRegister, modulePath);
    return HRESULT_FROM_WIN32(ERROR_RESOURCE_NAME_NOT_FOUND);
}
