#pragma once
// WMI as the MPIO manager uses it: the locator, a namespace connection with
// its proxy security, instance enumerators and class objects. Only the calls
// the system makes are declared.
//
// This platform serves one namespace, "root\wmi", from the JSON fixture named
// by SANPROV_WMI_FIXTURE; with no fixture, ConnectServer fails as it does
// when WMI cannot be reached. The fixture:
//   { "namespace": "root\\wmi",                       (optional)
//     "classes": {
//       "<class>": {
//         "instances": [ { "<property>": <value>, ... }, ... ],
//         "methods": { "<method>": { "in": { "<parameter>": "uint32", ... },  (or a list of names)
//                                    "out": { "ReturnCode": 0 },     (null: no output object)
//                                    "fail": <HRESULT> } },          (ExecMethod's result)
//         "fail": { "<call>": <HRESULT> } } } }     (CreateInstanceEnum, Next,
//                                                    GetObject, ExecMethod, PutInstance)
// Values come in WMI's forms: a text is VT_BSTR, a number VT_I4 (as WMI
// gives every 32-bit and 16-bit integer), true/false VT_BOOL, null VT_NULL, a
// JSON object an embedded object (VT_UNKNOWN), a JSON array a VT_ARRAY of its
// elements' type. Typed forms: {"$uint8": n} is VT_UI1, {"$uint8[]": [...]}
// a byte array, {"$uint64": n or "n"} and {"$sint64": ...} decimal text, as
// WMI delivers 64-bit integers. An instance is keyed by its "InstanceName".
// A class the fixture lacks fails CreateInstanceEnum and GetObject with
// WBEM_E_INVALID_CLASS.
//
// Objects handed out are copies: a change reaches the namespace only through
// PutInstance. Every connection, enumeration, object fetch, method call and
// write is logged (platform::wmi_log, and one JSON line each to the file named
// by SANPROV_WMI_LOG when set). Writes change the served data until the
// fixture's text changes or platform::wmi_reset.
#include <string>
#include <vector>

#include <platform/classtable.h>
#include <platform/variant.h>

using CIMTYPE = LONG;

enum : CIMTYPE {
    CIM_EMPTY = 0,
    CIM_SINT16 = 2,
    CIM_SINT32 = 3,
    CIM_REAL64 = 5,
    CIM_STRING = 8,
    CIM_BOOLEAN = 11,
    CIM_OBJECT = 13,
    CIM_SINT8 = 16,
    CIM_UINT8 = 17,
    CIM_UINT16 = 18,
    CIM_UINT32 = 19,
    CIM_SINT64 = 20,
    CIM_UINT64 = 21,
    CIM_FLAG_ARRAY = 0x2000,
};

constexpr LONG WBEM_FLAG_RETURN_WBEM_COMPLETE = 0x0;
constexpr LONG WBEM_FLAG_SHALLOW = 0x1;
constexpr LONG WBEM_FLAG_RETURN_IMMEDIATELY = 0x10;
constexpr LONG WBEM_FLAG_FORWARD_ONLY = 0x20;
constexpr LONG WBEM_FLAG_CREATE_OR_UPDATE = 0x0;
constexpr LONG WBEM_FLAG_UPDATE_ONLY = 0x1;
constexpr LONG WBEM_INFINITE = -1;

constexpr HRESULT WBEM_S_NO_ERROR = 0;
constexpr HRESULT WBEM_S_FALSE = 1;
constexpr HRESULT WBEM_E_TYPE_MISMATCH = hr_of(0x80041005);
constexpr HRESULT WBEM_E_INVALID_PARAMETER = hr_of(0x80041008);
constexpr HRESULT WBEM_E_NOT_SUPPORTED = hr_of(0x8004100C);
constexpr HRESULT WBEM_E_INVALID_NAMESPACE = hr_of(0x8004100E);
constexpr HRESULT WBEM_E_INVALID_METHOD = hr_of(0x8004102E);
constexpr HRESULT WBEM_E_INVALID_METHOD_PARAMETERS = hr_of(0x8004102F);
constexpr HRESULT WBEM_E_INVALID_OBJECT_PATH = hr_of(0x8004103A);
// What a connection to an unreachable WMI reports (RPC server unavailable).
constexpr HRESULT WBEM_E_UNREACHABLE = hr_of(0x800706BA);

constexpr DWORD RPC_C_AUTHN_NONE = 0;
constexpr DWORD RPC_C_AUTHN_WINNT = 10;
constexpr DWORD RPC_C_AUTHN_DEFAULT = 0xFFFFFFFF;
constexpr DWORD RPC_C_AUTHZ_NONE = 0;

// Passed as null by the system; never defined.
struct IWbemContext;
struct IWbemCallResult;

// Defined beside the stand-in's class object: naming the class links the
// stand-in in and registers it for in-process activation.
extern const CLSID CLSID_WbemLocator;

DEFINE_GUID(IID_IWbemLocator, 0xdc12a687, 0x737f, 0x11cf, 0x88, 0x4d, 0x00, 0xaa, 0x00, 0x4b, 0x2e, 0x24);
DEFINE_GUID(IID_IWbemServices, 0x9556dc99, 0x828c, 0x11cf, 0xa3, 0x7e, 0x00, 0xaa, 0x00, 0x32, 0x40, 0xc7);
DEFINE_GUID(IID_IWbemClassObject, 0xdc12a681, 0x737f, 0x11cf, 0x88, 0x4d, 0x00, 0xaa, 0x00, 0x4b, 0x2e, 0x24);
DEFINE_GUID(IID_IEnumWbemClassObject, 0x027947e1, 0xd731, 0x11ce, 0xa3, 0x57, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01);
DEFINE_GUID(IID_IClientSecurity, 0x0000013D, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);

struct IWbemClassObject : IUnknown {
    // VT_NULL for a property without a value; WBEM_E_NOT_FOUND for a name the
    // object lacks. `pType` and `plFlavor` may be null.
    virtual HRESULT STDMETHODCALLTYPE Get(LPCWSTR wszName, LONG lFlags, VARIANT* pVal, CIMTYPE* pType,
                                          LONG* plFlavor) = 0;
    // An instance takes values for the properties of its class only.
    virtual HRESULT STDMETHODCALLTYPE Put(LPCWSTR wszName, LONG lFlags, VARIANT* pVal, CIMTYPE Type) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetObjectText(LONG lFlags, BSTR* pstrObjectText) = 0;
    virtual HRESULT STDMETHODCALLTYPE SpawnInstance(LONG lFlags, IWbemClassObject** ppNewInstance) = 0;
    // A method without inputs (outputs) gives a null in (out) signature.
    virtual HRESULT STDMETHODCALLTYPE GetMethod(LPCWSTR wszName, LONG lFlags, IWbemClassObject** ppInSignature,
                                                IWbemClassObject** ppOutSignature) = 0;

protected:
    ~IWbemClassObject() = default;
};

struct IEnumWbemClassObject : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Reset() = 0;
    // WBEM_S_FALSE when fewer than uCount objects were left.
    virtual HRESULT STDMETHODCALLTYPE Next(LONG lTimeout, ULONG uCount, IWbemClassObject** apObjects,
                                           ULONG* puReturned) = 0;

protected:
    ~IEnumWbemClassObject() = default;
};

struct IWbemServices : IUnknown {
    // A class name gives the class object (with its methods); "Class.Key=\"value\"" an instance.
    virtual HRESULT STDMETHODCALLTYPE GetObject(const BSTR strObjectPath, LONG lFlags, IWbemContext* pCtx,
                                                IWbemClassObject** ppObject, IWbemCallResult** ppCallResult) = 0;
    virtual HRESULT STDMETHODCALLTYPE PutInstance(IWbemClassObject* pInst, LONG lFlags, IWbemContext* pCtx,
                                                  IWbemCallResult** ppCallResult) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateInstanceEnum(const BSTR strFilter, LONG lFlags, IWbemContext* pCtx,
                                                         IEnumWbemClassObject** ppEnum) = 0;
    virtual HRESULT STDMETHODCALLTYPE ExecMethod(const BSTR strObjectPath, const BSTR strMethodName, LONG lFlags,
                                                 IWbemContext* pCtx, IWbemClassObject* pInParams,
                                                 IWbemClassObject** ppOutParams,
                                                 IWbemCallResult** ppCallResult) = 0;

protected:
    ~IWbemServices() = default;
};

struct IWbemLocator : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE ConnectServer(const BSTR strNetworkResource, const BSTR strUser,
                                                    const BSTR strPassword, const BSTR strLocale,
                                                    LONG lSecurityFlags, const BSTR strAuthority,
                                                    IWbemContext* pCtx, IWbemServices** ppNamespace) = 0;

protected:
    ~IWbemLocator() = default;
};

// The proxy security of a connection; recorded, not enforced.
struct IClientSecurity : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE SetBlanket(IUnknown* pProxy, DWORD dwAuthnSvc, DWORD dwAuthzSvc,
                                                 OLECHAR* pServerPrincName, DWORD dwAuthnLevel, DWORD dwImpLevel,
                                                 void* pAuthInfo, DWORD dwCapabilities) = 0;

protected:
    ~IClientSecurity() = default;
};

PLATFORM_INTERFACE_ID(IWbemClassObject, IID_IWbemClassObject);
PLATFORM_INTERFACE_ID(IEnumWbemClassObject, IID_IEnumWbemClassObject);
PLATFORM_INTERFACE_ID(IWbemServices, IID_IWbemServices);
PLATFORM_INTERFACE_ID(IWbemLocator, IID_IWbemLocator);
PLATFORM_INTERFACE_ID(IClientSecurity, IID_IClientSecurity);

namespace platform {
// One logged request of the WMI stand-in. `call` is the method name
// ("ConnectServer", "SetBlanket", "CreateInstanceEnum", "GetObject",
// "ExecMethod", "PutInstance"); `target` the namespace, class or object path;
// `detail` JSON text: the method and its input parameters, the instance
// written, or the proxy security set.
struct WmiLogEntry {
    std::string call;
    std::string target;
    std::string detail;
    HRESULT result;
};
std::vector<WmiLogEntry> wmi_log();
// Forgets the log and every write: the next connection reads the fixture afresh.
void wmi_reset();
}  // namespace platform
