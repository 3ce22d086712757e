#pragma once
// The disk-management service's provider registrations (IVdsAdmin), kept in
// the registry store under the service's Providers key, one subkey per
// provider id. The program that plays the service reads them to know which
// providers to load; programs that register providers activate
// CLSID_VdsService.
#include <string>
#include <vector>

#include <platform/vds.h>

struct VdsProviderRegistration {
    VDS_OBJECT_ID providerId{};
    CLSID clsid{};
    std::u16string name;
    VDS_PROVIDER_TYPE type = VDS_PT_UNKNOWN;
    std::u16string machineName;
    std::u16string version;
    GUID versionId{};
};

inline constexpr const WCHAR* kVdsProvidersKey = u"SYSTEM\\CurrentControlSet\\Services\\vds\\Providers";

namespace platform {
// A new IVdsAdmin over the store. RegisterProvider answers
// VDS_E_PROVIDER_ALREADY_REGISTERED for an id that is registered, and
// UnregisterProvider VDS_E_OBJECT_NOT_FOUND for one that is not.
HRESULT vds_admin_create(IVdsAdmin** admin);
// The registered providers in the store's key order.
std::vector<VdsProviderRegistration> vds_registered_providers();
// Registers the class object of CLSID_VdsService in this process's class
// table; revoke it with CoRevokeClassObject.
HRESULT register_vds_service_class(DWORD* cookie);
}  // namespace platform
