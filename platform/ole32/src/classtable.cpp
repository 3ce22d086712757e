#include <platform/classtable.h>

#include <algorithm>
#include <mutex>
#include <vector>

#include <platform/provider_admin.h>

#include "admin_server.h"
#include "com_ref.h"

namespace {

using platform::ComRef;

struct Registration {
    CLSID clsid;
    IUnknown* object;  // the table's own reference
    DWORD contexts;    // after the multiple-use widening
    DWORD flags;
    DWORD cookie;
    bool consumed;  // a single-use object that already served
};

DWORD served_contexts(DWORD contexts, DWORD flags) {
    if (flags == REGCLS_MULTIPLEUSE && (contexts & CLSCTX_LOCAL_SERVER)) contexts |= CLSCTX_INPROC_SERVER;
    return contexts & CLSCTX_ALL;
}

// References are given back outside the lock: a class object's last release
// may revoke or register classes itself.
class ClassTable {
public:
    HRESULT add(REFCLSID clsid, IUnknown* object, DWORD contexts, DWORD flags, DWORD& cookie) {
        const DWORD served = served_contexts(contexts, flags);
        std::lock_guard lock(m_lock);
        const bool taken = std::any_of(m_entries.begin(), m_entries.end(), [&](const Registration& r) {
            return r.clsid == clsid && (r.contexts & served) != 0;
        });
        if (taken) return CO_E_OBJISREG;
        if (++m_lastCookie == 0) ++m_lastCookie;
        object->AddRef();
        m_entries.push_back({clsid, object, served, flags, m_lastCookie, false});
        cookie = m_lastCookie;
        return S_OK;
    }

    ComRef<IUnknown> remove(DWORD cookie) {
        std::lock_guard lock(m_lock);
        auto it = std::find_if(m_entries.begin(), m_entries.end(),
                               [&](const Registration& r) { return r.cookie == cookie; });
        if (it == m_entries.end()) return {};
        auto object = ComRef<IUnknown>::adopt(it->object);
        m_entries.erase(it);
        return object;
    }

    ComRef<IUnknown> find(REFCLSID clsid, DWORD contexts) {
        std::lock_guard lock(m_lock);
        for (Registration& r : m_entries) {
            if (r.clsid != clsid || !(r.contexts & contexts) || r.consumed) continue;
            r.consumed = r.flags == REGCLS_SINGLEUSE;
            return ComRef<IUnknown>::retain(r.object);
        }
        return {};
    }

    void set_activator(platform::OutOfProcessActivator activator) {
        std::lock_guard lock(m_lock);
        m_activator.swap(activator);
    }

    platform::OutOfProcessActivator activator() {
        std::lock_guard lock(m_lock);
        return m_activator;
    }

private:
    std::mutex m_lock;
    std::vector<Registration> m_entries;
    DWORD m_lastCookie = 0;
    platform::OutOfProcessActivator m_activator;
};

// Never destroyed: static objects of the program may revoke their classes
// while the process exits, after a table with static lifetime would be gone.
ClassTable& class_table() {
    static ClassTable* const table = new ClassTable;
    return *table;
}

}  // namespace

HRESULT CoRegisterClassObject(REFCLSID rclsid, IUnknown* pUnk, DWORD dwClsContext, DWORD flags, LPDWORD lpdwRegister) {
    if (!lpdwRegister) return E_INVALIDARG;
    *lpdwRegister = 0;
    if (!pUnk || !(dwClsContext & CLSCTX_ALL) || flags > REGCLS_MULTI_SEPARATE) return E_INVALIDARG;
    HRESULT hr = class_table().add(rclsid, pUnk, dwClsContext, flags, *lpdwRegister);
    // Only the administration class is served to other processes.
    if (SUCCEEDED(hr) && rclsid == CLSID_ZarvoVdsProviderAdmin && (dwClsContext & CLSCTX_LOCAL_SERVER) &&
        flags != REGCLS_SINGLEUSE) {
        hr = platform::detail::serve_admin_class(*lpdwRegister, pUnk);
        if (FAILED(hr)) class_table().remove(std::exchange(*lpdwRegister, 0));
    }
    return hr;
}

HRESULT CoRevokeClassObject(DWORD dwRegister) {
    platform::detail::stop_serving_admin_class(dwRegister);
    ComRef<IUnknown> object = class_table().remove(dwRegister);
    return object ? S_OK : CO_E_OBJNOTREG;
}

HRESULT CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, COSERVERINFO* pServerInfo, REFIID riid, LPVOID* ppv) {
    if (!ppv) return E_INVALIDARG;
    *ppv = nullptr;
    if (pServerInfo || !(dwClsContext & CLSCTX_ALL)) return E_INVALIDARG;
    if (ComRef<IUnknown> object = class_table().find(rclsid, dwClsContext)) return object->QueryInterface(riid, ppv);
    if (dwClsContext & CLSCTX_LOCAL_SERVER) {
        if (auto activate = class_table().activator()) return activate(rclsid, dwClsContext, riid, ppv);
        if (rclsid == CLSID_ZarvoVdsProviderAdmin) return platform::detail::activate_admin_class(riid, ppv);
    }
    return REGDB_E_CLASSNOTREG;
}

HRESULT CoCreateInstance(REFCLSID rclsid, LPUNKNOWN pUnkOuter, DWORD dwClsContext, REFIID riid, LPVOID* ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    // Refused before any activation, so no server starts for it.
    if (pUnkOuter) return CLASS_E_NOAGGREGATION;
    void* factory = nullptr;
    const HRESULT hr = CoGetClassObject(rclsid, dwClsContext, nullptr, IID_IClassFactory, &factory);
    if (FAILED(hr)) return hr;
    auto classFactory = ComRef<IClassFactory>::adopt(static_cast<IClassFactory*>(factory));
    return classFactory->CreateInstance(nullptr, riid, ppv);
}

namespace platform {
void set_out_of_process_activator(OutOfProcessActivator activator) {
    class_table().set_activator(std::move(activator));
}
}  // namespace platform
