#pragma once
// The process-wide table of registered class objects and activation.
#include <functional>

#include <platform/unknown.h>

constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
constexpr DWORD CLSCTX_INPROC_HANDLER = 0x2;
constexpr DWORD CLSCTX_LOCAL_SERVER = 0x4;
constexpr DWORD CLSCTX_REMOTE_SERVER = 0x10;
constexpr DWORD CLSCTX_INPROC = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER;
constexpr DWORD CLSCTX_SERVER = CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER;
constexpr DWORD CLSCTX_ALL = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER;

// A single-use class object serves one activation and is then hidden until
// revoked. A multiple-use one registered for CLSCTX_LOCAL_SERVER also serves
// in-process requests; a multi-separate one only the contexts it names.
constexpr DWORD REGCLS_SINGLEUSE = 0;
constexpr DWORD REGCLS_MULTIPLEUSE = 1;
constexpr DWORD REGCLS_MULTI_SEPARATE = 2;

struct COSERVERINFO;

// The table keeps a reference on `pUnk` until CoRevokeClassObject(*lpdwRegister).
// CO_E_OBJISREG when the class is already served in one of the contexts.
HRESULT CoRegisterClassObject(REFCLSID rclsid, IUnknown* pUnk, DWORD dwClsContext, DWORD flags, LPDWORD lpdwRegister);
// CO_E_OBJNOTREG for a cookie the table does not hold.
HRESULT CoRevokeClassObject(DWORD dwRegister);
// The class object of a class this process serves in one of the contexts,
// queried for `riid`; else the out-of-process activator when the contexts
// allow a local server and one is set; else REGDB_E_CLASSNOTREG. Only the
// local machine is served: `pServerInfo` must be null.
HRESULT CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, COSERVERINFO* pServerInfo, REFIID riid, LPVOID* ppv);
// CoGetClassObject for IClassFactory, then CreateInstance. Aggregation is not
// supported: an outer unknown gives CLASS_E_NOAGGREGATION.
HRESULT CoCreateInstance(REFCLSID rclsid, LPUNKNOWN pUnkOuter, DWORD dwClsContext, REFIID riid, LPVOID* ppv);

namespace platform {
// Reaches a class served by another process: called with the class, the
// requested contexts and the interface wanted of its class object, it gives
// that class object (for example a proxy) or an HRESULT failure. Called
// without any lock held. An empty function removes the activator.
using OutOfProcessActivator = std::function<HRESULT(REFCLSID clsid, DWORD clsctx, REFIID riid, void** ppv)>;
void set_out_of_process_activator(OutOfProcessActivator activator);
}  // namespace platform
