#include <platform/vds_admin.h>

#include <new>

#include <platform/classtable.h>
#include <platform/registry.h>

namespace {

using Key = platform::RegKeyHolder;

std::u16string KeyName(const GUID& id) { return std::u16string(kVdsProvidersKey) + u"\\" + platform::guid_to_wtext(id); }

LSTATUS SetText(HKEY key, const WCHAR* name, const std::u16string& text) {
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                          static_cast<DWORD>((text.size() + 1) * sizeof(WCHAR)));
}

std::u16string GetText(HKEY key, const WCHAR* name) {
    DWORD type = 0;
    DWORD bytes = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &bytes) != ERROR_SUCCESS || type != REG_SZ) return {};
    std::u16string text(bytes / sizeof(WCHAR), u'\0');
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &bytes) != ERROR_SUCCESS)
        return {};
    while (!text.empty() && text.back() == u'\0') text.pop_back();
    return text;
}

DWORD GetNumber(HKEY key, const WCHAR* name) {
    DWORD type = 0;
    DWORD value = 0;
    DWORD bytes = sizeof(value);
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &bytes) != ERROR_SUCCESS ||
        type != REG_DWORD)
        return 0;
    return value;
}

GUID GetGuid(HKEY key, const WCHAR* name) { return platform::guid_from_wtext(GetText(key, name)).value_or(GUID{}); }

class VdsAdmin final : public platform::single_interface_object<IVdsAdmin> {
public:
    STDMETHODIMP RegisterProvider(VDS_OBJECT_ID providerId, CLSID providerClsid, LPWSTR pwszName,
                                  VDS_PROVIDER_TYPE type, LPWSTR pwszMachineName, LPWSTR pwszVersion,
                                  GUID guidVersionId) override {
        Key key;
        DWORD disposition = 0;
        LSTATUS status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, KeyName(providerId).c_str(), 0, nullptr,
                                         REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, key.out(), &disposition);
        if (status != ERROR_SUCCESS) return HRESULT_FROM_WIN32(status);
        if (disposition == REG_OPENED_EXISTING_KEY) return VDS_E_PROVIDER_ALREADY_REGISTERED;
        const DWORD typeValue = static_cast<DWORD>(type);
        for (LSTATUS written :
             {SetText(key.get(), u"CLSID", platform::guid_to_wtext(providerClsid)),
              SetText(key.get(), u"Name", pwszName ? pwszName : u""),
              RegSetValueExW(key.get(), u"Type", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&typeValue),
                             sizeof(typeValue)),
              SetText(key.get(), u"MachineName", pwszMachineName ? pwszMachineName : u""),
              SetText(key.get(), u"Version", pwszVersion ? pwszVersion : u""),
              SetText(key.get(), u"VersionId", platform::guid_to_wtext(guidVersionId))})
            if (written != ERROR_SUCCESS) return HRESULT_FROM_WIN32(written);
        return S_OK;
    }

    STDMETHODIMP UnregisterProvider(VDS_OBJECT_ID providerId) override {
        const std::u16string name = KeyName(providerId);
        Key key;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, name.c_str(), 0, KEY_ALL_ACCESS, key.out()) != ERROR_SUCCESS)
            return VDS_E_OBJECT_NOT_FOUND;
        const LSTATUS status = RegDeleteTreeW(HKEY_LOCAL_MACHINE, name.c_str());
        return status == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(status);
    }
};

class VdsServiceClassFactory final : public platform::single_interface_object<IClassFactory> {
public:
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        IVdsAdmin* admin = nullptr;
        HRESULT hr = platform::vds_admin_create(&admin);
        if (FAILED(hr)) return hr;
        hr = admin->QueryInterface(riid, ppv);
        admin->Release();
        return hr;
    }
    STDMETHODIMP LockServer(BOOL) override { return S_OK; }
};

}  // namespace

namespace platform {

HRESULT vds_admin_create(IVdsAdmin** admin) {
    if (!admin) return E_POINTER;
    *admin = new (std::nothrow) VdsAdmin();
    if (!*admin) return E_OUTOFMEMORY;
    (*admin)->AddRef();
    return S_OK;
}

std::vector<VdsProviderRegistration> vds_registered_providers() {
    std::vector<VdsProviderRegistration> providers;
    vds_registered_providers(providers);
    return providers;
}

HRESULT vds_registered_providers(std::vector<VdsProviderRegistration>& providers) {
    providers.clear();
    Key root;
    const LSTATUS opened = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kVdsProvidersKey, 0, KEY_READ, root.out());
    if (opened == ERROR_FILE_NOT_FOUND) return S_OK;
    if (opened != ERROR_SUCCESS) return HRESULT_FROM_WIN32(static_cast<DWORD>(opened));
    for (DWORD index = 0;; ++index) {
        WCHAR name[256];
        DWORD length = 256;
        if (RegEnumKeyExW(root.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        Key key;
        if (RegOpenKeyExW(root.get(), name, 0, KEY_READ, key.out()) != ERROR_SUCCESS) continue;
        VdsProviderRegistration registration;
        registration.providerId = guid_from_wtext(name).value_or(GUID{});
        registration.clsid = GetGuid(key.get(), u"CLSID");
        registration.name = GetText(key.get(), u"Name");
        registration.type = static_cast<VDS_PROVIDER_TYPE>(GetNumber(key.get(), u"Type"));
        registration.machineName = GetText(key.get(), u"MachineName");
        registration.version = GetText(key.get(), u"Version");
        registration.versionId = GetGuid(key.get(), u"VersionId");
        providers.push_back(std::move(registration));
    }
    return S_OK;
}

HRESULT register_vds_service_class(DWORD* cookie) {
    auto* factory = new (std::nothrow) VdsServiceClassFactory();
    if (!factory) return E_OUTOFMEMORY;
    factory->AddRef();
    const HRESULT hr = CoRegisterClassObject(CLSID_VdsService, factory, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                                             REGCLS_MULTIPLEUSE, cookie);
    factory->Release();
    return hr;
}

}  // namespace platform
