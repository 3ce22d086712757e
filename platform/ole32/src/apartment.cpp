#include <platform/apartment.h>

#include <cstring>
#include <mutex>

namespace {

constexpr DWORD kValidCoInitFlags =
    COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE | COINIT_SPEED_OVER_MEMORY;

struct ThreadApartment {
    ULONG initCount = 0;
    bool singleThreaded = false;
};
thread_local ThreadApartment t_apartment;

std::mutex g_securityLock;
std::optional<platform::ComProcessSecurity> g_security;

std::vector<BYTE> copy_dacl(const SECURITY_DESCRIPTOR* sd) {
    if (!sd || !(sd->Control & SE_DACL_PRESENT) || !sd->Dacl) return {};
    const auto* bytes = reinterpret_cast<const BYTE*>(sd->Dacl);
    return std::vector<BYTE>(bytes, bytes + sd->Dacl->AclSize);
}

}  // namespace

HRESULT CoInitializeEx(LPVOID pvReserved, DWORD dwCoInit) {
    if (pvReserved || (dwCoInit & ~kValidCoInitFlags)) return E_INVALIDARG;
    const bool singleThreaded = (dwCoInit & COINIT_APARTMENTTHREADED) != 0;
    ThreadApartment& apartment = t_apartment;
    if (apartment.initCount > 0 && apartment.singleThreaded != singleThreaded) return RPC_E_CHANGED_MODE;
    apartment.singleThreaded = singleThreaded;
    return apartment.initCount++ == 0 ? S_OK : S_FALSE;
}

HRESULT CoInitialize(LPVOID pvReserved) { return CoInitializeEx(pvReserved, COINIT_APARTMENTTHREADED); }

void CoUninitialize() {
    if (t_apartment.initCount > 0) --t_apartment.initCount;
}

HRESULT CoInitializeSecurity(PSECURITY_DESCRIPTOR pSecDesc, LONG cAuthSvc, SOLE_AUTHENTICATION_SERVICE* asAuthSvc,
                             void* pReserved1, DWORD dwAuthnLevel, DWORD dwImpLevel, void*, DWORD dwCapabilities,
                             void* pReserved3) {
    if (pReserved1 || pReserved3 || cAuthSvc < -1 || (cAuthSvc > 0 && !asAuthSvc)) return E_INVALIDARG;
    if (dwAuthnLevel > RPC_C_AUTHN_LEVEL_PKT_PRIVACY || dwImpLevel > RPC_C_IMP_LEVEL_DELEGATE) return E_INVALIDARG;
    // With EOAC_APPID or EOAC_ACCESS_CONTROL the first argument is not a descriptor.
    const bool isDescriptor = !(dwCapabilities & (EOAC_APPID | EOAC_ACCESS_CONTROL));
    if (pSecDesc && isDescriptor && !IsValidSecurityDescriptor(pSecDesc)) return E_INVALIDARG;

    platform::ComProcessSecurity record{dwAuthnLevel, dwImpLevel, dwCapabilities, pSecDesc != nullptr,
                                        isDescriptor ? copy_dacl(static_cast<SECURITY_DESCRIPTOR*>(pSecDesc))
                                                     : std::vector<BYTE>{}};
    std::lock_guard lock(g_securityLock);
    if (g_security) return RPC_E_TOO_LATE;
    g_security = std::move(record);
    return S_OK;
}

namespace platform {
std::optional<ComProcessSecurity> com_process_security() {
    std::lock_guard lock(g_securityLock);
    return g_security;
}
}  // namespace platform
