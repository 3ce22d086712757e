// The WMI stand-in's COM side: the locator class, the namespace connection
// and the instance enumerator.
#include <platform/wbem.h>

#include <platform/text.h>

#include <atomic>
#include <memory>
#include <new>

#include "wmi_namespace.h"

const CLSID CLSID_WbemLocator = {0x4590f811, 0x1d3a, 0x11d0, {0x89, 0x1f, 0x00, 0xaa, 0x00, 0x4b, 0x2e, 0x24}};

namespace {

using platform::ComRef;
using namespace platform::wmi;

std::u16string_view text_of(const BSTR b) { return b ? std::u16string_view(b, SysStringLen(b)) : u""; }

// Reference counting shared by the stand-in's objects.
template <typename Derived>
class Counted {
public:
    ULONG add_ref() { return ++m_refs; }
    ULONG release() {
        const ULONG left = --m_refs;
        if (left == 0) delete static_cast<Derived*>(this);
        return left;
    }

private:
    std::atomic<ULONG> m_refs{1};
};

class WmiEnumerator final : public IEnumWbemClassObject, Counted<WmiEnumerator> {
public:
    WmiEnumerator(std::vector<ComRef<WmiObject>> objects, HRESULT nextFailure)
        : m_objects(std::move(objects)), m_nextFailure(nextFailure) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (riid != IID_IUnknown && riid != IID_IEnumWbemClassObject) return E_NOINTERFACE;
        *ppv = static_cast<IEnumWbemClassObject*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return add_ref(); }
    ULONG STDMETHODCALLTYPE Release() override { return release(); }

    HRESULT STDMETHODCALLTYPE Reset() override {
        m_next = 0;
        return WBEM_S_NO_ERROR;
    }

    HRESULT STDMETHODCALLTYPE Next(LONG /*timeout*/, ULONG count, IWbemClassObject** objects,
                                   ULONG* returned) override {
        if (!objects || !returned) return WBEM_E_INVALID_PARAMETER;
        *returned = 0;
        if (m_nextFailure) return m_nextFailure;
        while (*returned < count && m_next < m_objects.size()) {
            IWbemClassObject* object = m_objects[m_next++].get();
            object->AddRef();
            objects[(*returned)++] = object;
        }
        return *returned == count ? WBEM_S_NO_ERROR : WBEM_S_FALSE;
    }

private:
    friend class Counted<WmiEnumerator>;
    ~WmiEnumerator() = default;

    std::vector<ComRef<WmiObject>> m_objects;
    HRESULT m_nextFailure;
    size_t m_next = 0;
};

class WmiServices final : public IWbemServices, public IClientSecurity, Counted<WmiServices> {
public:
    explicit WmiServices(std::shared_ptr<WmiNamespace> served) : m_served(std::move(served)) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (riid == IID_IUnknown || riid == IID_IWbemServices) {
            *ppv = static_cast<IWbemServices*>(this);
        } else if (riid == IID_IClientSecurity) {
            *ppv = static_cast<IClientSecurity*>(this);
        } else {
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return add_ref(); }
    ULONG STDMETHODCALLTYPE Release() override { return release(); }

    HRESULT STDMETHODCALLTYPE GetObject(const BSTR path, LONG /*flags*/, IWbemContext* /*ctx*/,
                                        IWbemClassObject** object, IWbemCallResult** callResult) override {
        if (callResult) *callResult = nullptr;
        if (object) *object = nullptr;
        HRESULT hr = WBEM_E_INVALID_PARAMETER;
        ComRef<WmiObject> found;
        if (path && object) hr = m_served->get_object(text_of(path), found);
        if (SUCCEEDED(hr)) *object = found.detach();
        log_call("GetObject", text_of(path), nullptr, hr);
        return hr;
    }

    HRESULT STDMETHODCALLTYPE PutInstance(IWbemClassObject* instance, LONG flags, IWbemContext* /*ctx*/,
                                          IWbemCallResult** callResult) override {
        if (callResult) *callResult = nullptr;
        WmiObject* object = as_wmi_object(instance);
        HRESULT hr = object ? m_served->put_instance(*object) : WBEM_E_INVALID_PARAMETER;
        const json written = object ? object->to_json() : json();
        log_call("PutInstance", object ? std::u16string_view(object->class_name()) : u"",
                 json{{"flags", flags}, {"instance", written}}, hr);
        return hr;
    }

    HRESULT STDMETHODCALLTYPE CreateInstanceEnum(const BSTR className, LONG flags, IWbemContext* /*ctx*/,
                                                 IEnumWbemClassObject** enumerator) override {
        if (enumerator) *enumerator = nullptr;
        HRESULT hr = WBEM_E_INVALID_PARAMETER;
        if (className && enumerator) {
            std::vector<ComRef<WmiObject>> copies;
            HRESULT nextFailure = S_OK;
            hr = m_served->enumerate(text_of(className), copies, nextFailure);
            if (SUCCEEDED(hr)) *enumerator = new (std::nothrow) WmiEnumerator(std::move(copies), nextFailure);
            if (SUCCEEDED(hr) && !*enumerator) hr = E_OUTOFMEMORY;
        }
        log_call("CreateInstanceEnum", text_of(className), json{{"flags", flags}}, hr);
        return hr;
    }

    HRESULT STDMETHODCALLTYPE ExecMethod(const BSTR path, const BSTR method, LONG /*flags*/, IWbemContext* /*ctx*/,
                                         IWbemClassObject* in, IWbemClassObject** out,
                                         IWbemCallResult** callResult) override {
        if (callResult) *callResult = nullptr;
        if (out) *out = nullptr;
        WmiObject* inputs = as_wmi_object(in);
        HRESULT hr = WBEM_E_INVALID_PARAMETER;
        ComRef<WmiObject> outputs;
        if (path && method && (inputs || !in)) hr = m_served->exec_method(text_of(path), text_of(method), inputs, outputs);
        if (SUCCEEDED(hr) && out) *out = outputs.detach();
        json detail = {{"method", platform::wide_to_utf8_lossy(text_of(method))},
                       {"in", inputs ? inputs->to_json() : json()}};
        log_call("ExecMethod", text_of(path), detail, hr);
        return hr;
    }

    HRESULT STDMETHODCALLTYPE SetBlanket(IUnknown* proxy, DWORD authnSvc, DWORD authzSvc, OLECHAR* principal,
                                         DWORD authnLevel, DWORD impLevel, void* /*authInfo*/,
                                         DWORD capabilities) override {
        const bool ours = proxy == static_cast<IWbemServices*>(this) || proxy == static_cast<IClientSecurity*>(this);
        const HRESULT hr = ours ? S_OK : E_INVALIDARG;
        const json detail = {{"authnSvc", authnSvc},   {"authzSvc", authzSvc},       {"principal", principal != nullptr},
                             {"authnLevel", authnLevel}, {"impLevel", impLevel}, {"capabilities", capabilities}};
        log_call("SetBlanket", m_served->name(), detail, hr);
        return hr;
    }

private:
    friend class Counted<WmiServices>;
    ~WmiServices() = default;

    std::shared_ptr<WmiNamespace> m_served;
};

class WmiLocator final : public IWbemLocator, Counted<WmiLocator> {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (riid != IID_IUnknown && riid != IID_IWbemLocator) return E_NOINTERFACE;
        *ppv = static_cast<IWbemLocator*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return add_ref(); }
    ULONG STDMETHODCALLTYPE Release() override { return release(); }

    HRESULT STDMETHODCALLTYPE ConnectServer(const BSTR resource, const BSTR user, const BSTR /*password*/,
                                            const BSTR /*locale*/, LONG securityFlags, const BSTR /*authority*/,
                                            IWbemContext* /*ctx*/, IWbemServices** services) override {
        HRESULT hr = WBEM_E_INVALID_PARAMETER;
        if (services) *services = nullptr;
        if (resource && services) {
            std::shared_ptr<WmiNamespace> served;
            hr = connect(text_of(resource), served);
            if (SUCCEEDED(hr)) *services = new (std::nothrow) WmiServices(std::move(served));
            if (SUCCEEDED(hr) && !*services) hr = E_OUTOFMEMORY;
        }
        log_call("ConnectServer", text_of(resource),
                 json{{"user", user != nullptr}, {"securityFlags", securityFlags}}, hr);
        return hr;
    }

private:
    friend class Counted<WmiLocator>;
    ~WmiLocator() = default;
};

// Lives as long as the process: the class table keeps it registered.
class WmiLocatorFactory final : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (riid != IID_IUnknown && riid != IID_IClassFactory) return E_NOINTERFACE;
        *ppv = static_cast<IClassFactory*>(this);
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        WmiLocator* locator = new (std::nothrow) WmiLocator;
        if (!locator) return E_OUTOFMEMORY;
        const HRESULT hr = locator->QueryInterface(riid, ppv);
        locator->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL /*lock*/) override { return S_OK; }
};

WmiLocatorFactory g_locatorFactory;

// WMI is always there to be asked for, as the system's own locator class is.
struct LocatorRegistration {
    LocatorRegistration() {
        DWORD cookie = 0;
        CoRegisterClassObject(CLSID_WbemLocator, &g_locatorFactory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE,
                              &cookie);
    }
} g_locatorRegistration;

}  // namespace
