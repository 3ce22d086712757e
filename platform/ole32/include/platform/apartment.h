#pragma once
// COM initialisation per thread and process-wide COM security. Both are
// recorded so the Windows results come back; neither is enforced.
#include <optional>
#include <vector>

#include <platform/security.h>
#include <platform/unknown.h>

constexpr DWORD COINIT_MULTITHREADED = 0x0;
constexpr DWORD COINIT_APARTMENTTHREADED = 0x2;
constexpr DWORD COINIT_DISABLE_OLE1DDE = 0x4;
constexpr DWORD COINIT_SPEED_OVER_MEMORY = 0x8;

// S_OK on a thread's first call, S_FALSE for each further call in the same
// model (each needs its CoUninitialize), RPC_E_CHANGED_MODE for the other model.
HRESULT CoInitializeEx(LPVOID pvReserved, DWORD dwCoInit);
// The single-threaded model.
HRESULT CoInitialize(LPVOID pvReserved);
// Undoes one successful CoInitialize(Ex) of the calling thread.
void CoUninitialize();

constexpr DWORD COM_RIGHTS_EXECUTE = 1;

constexpr DWORD RPC_C_AUTHN_LEVEL_DEFAULT = 0;
constexpr DWORD RPC_C_AUTHN_LEVEL_NONE = 1;
constexpr DWORD RPC_C_AUTHN_LEVEL_CONNECT = 2;
constexpr DWORD RPC_C_AUTHN_LEVEL_CALL = 3;
constexpr DWORD RPC_C_AUTHN_LEVEL_PKT = 4;
constexpr DWORD RPC_C_AUTHN_LEVEL_PKT_INTEGRITY = 5;
constexpr DWORD RPC_C_AUTHN_LEVEL_PKT_PRIVACY = 6;

constexpr DWORD RPC_C_IMP_LEVEL_DEFAULT = 0;
constexpr DWORD RPC_C_IMP_LEVEL_ANONYMOUS = 1;
constexpr DWORD RPC_C_IMP_LEVEL_IDENTIFY = 2;
constexpr DWORD RPC_C_IMP_LEVEL_IMPERSONATE = 3;
constexpr DWORD RPC_C_IMP_LEVEL_DELEGATE = 4;

constexpr DWORD EOAC_NONE = 0x0;
constexpr DWORD EOAC_MUTUAL_AUTH = 0x1;
constexpr DWORD EOAC_SECURE_REFS = 0x2;
constexpr DWORD EOAC_ACCESS_CONTROL = 0x4;
constexpr DWORD EOAC_APPID = 0x8;
constexpr DWORD EOAC_NO_CUSTOM_MARSHAL = 0x2000;

struct SOLE_AUTHENTICATION_SERVICE;

// Process-wide, once: S_OK the first time, RPC_E_TOO_LATE afterwards. `cAuthSvc`
// -1 lets COM choose the authentication services. The access list of the
// descriptor is copied, so the caller may free it on return.
HRESULT CoInitializeSecurity(PSECURITY_DESCRIPTOR pSecDesc, LONG cAuthSvc, SOLE_AUTHENTICATION_SERVICE* asAuthSvc,
                             void* pReserved1, DWORD dwAuthnLevel, DWORD dwImpLevel, void* pAuthList,
                             DWORD dwCapabilities, void* pReserved3);

namespace platform {
// What CoInitializeSecurity recorded.
struct ComProcessSecurity {
    DWORD authnLevel;
    DWORD impLevel;
    DWORD capabilities;
    bool descriptorGiven;
    std::vector<BYTE> dacl;  // the DACL's bytes; empty when the descriptor had none
};
std::optional<ComProcessSecurity> com_process_security();
}  // namespace platform
