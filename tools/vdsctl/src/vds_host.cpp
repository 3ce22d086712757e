#include "vds_host.h"

#include <model/filer_record_list.h>
#include <platform/apartment.h>
#include <platform/classtable.h>
#include <platform/com_scoped.h>
#include <vds/provider_ids.h>
#include <vds/zarvo_provider.h>

STDMETHODIMP NotificationQueue::OnNotify(LONG count, VDS_NOTIFICATION* notifications) {
    if (count <= 0 || !notifications) return S_OK;
    {
        std::lock_guard lock(m_mutex);
        m_queue.insert(m_queue.end(), notifications, notifications + count);
    }
    m_arrived.notify_all();
    return S_OK;
}

std::vector<VDS_NOTIFICATION> NotificationQueue::Take(std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_mutex);
    m_arrived.wait_for(lock, timeout, [this] { return !m_queue.empty(); });
    std::vector<VDS_NOTIFICATION> taken;
    taken.swap(m_queue);
    return taken;
}

VdsHost::VdsHost() : m_queue(NewComObject<NotificationQueue>()) {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    // The provider classes are served in this process, as the service module
    // serves them when it runs as a plain COM server. A class that another
    // module of the process already serves stays with it.
    for (const CLSID& clsid : {CLSID_ZarvoVdsProviderFC, CLSID_ZarvoVdsProviderIscsi}) {
        IUnknown* factory = nullptr;
        if (FAILED(GetProviderClassObject(clsid, IID_IUnknown, reinterpret_cast<void**>(&factory)))) continue;
        DWORD cookie = 0;
        if (SUCCEEDED(CoRegisterClassObject(clsid, factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie)))
            m_cookies.push_back(cookie);
        factory->Release();
    }
}

VdsHost::~VdsHost() {
    for (LoadedProvider& loaded : m_providers) {
        if (loaded.priv) loaded.priv->OnUnload(TRUE);
        if (loaded.priv) loaded.priv->Release();
        if (loaded.hw) loaded.hw->Release();
        if (loaded.provider) loaded.provider->Release();
    }
    m_providers.clear();
    for (DWORD cookie : m_cookies) CoRevokeClassObject(cookie);
    m_queue->Release();
    CoUninitialize();
}

void VdsHost::LoadProviders() {
    for (const VdsProviderRegistration& registration : platform::vds_registered_providers()) {
        LoadedProvider loaded;
        loaded.registration = registration;
        loaded.loaded = CoCreateInstance(registration.clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IVdsProvider,
                                         reinterpret_cast<void**>(&loaded.provider));
        if (SUCCEEDED(loaded.loaded)) {
            loaded.provider->QueryInterface(IID_PPV_ARGS(&loaded.hw));
            loaded.provider->QueryInterface(IID_PPV_ARGS(&loaded.priv));
        }
        if (loaded.priv) {
            WCHAR machine[] = u"localhost";
            loaded.loaded = loaded.priv->OnLoad(machine, m_queue);
        }
        // The first list pass runs on the provider's own thread; a pass of our
        // own waits for it and finds what it found.
        if (SUCCEEDED(loaded.loaded) && loaded.hw) loaded.loaded = loaded.hw->Reenumerate();
        m_providers.push_back(loaded);
    }
}

HRESULT RegisterZarvoProviders(bool unregister) {
    DWORD cookie = 0;
    const HRESULT served = platform::register_vds_service_class(&cookie);
    IVdsAdmin* admin = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_VdsService, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, IID_IVdsAdmin,
                                  reinterpret_cast<void**>(&admin));
    if (SUCCEEDED(hr)) {
        struct Provider {
            GUID id;
            CLSID clsid;
            const WCHAR* name;
            GUID versionId;
        };
        const Provider providers[] = {
            {ZARVO_FC_PROVIDER_ID, CLSID_ZarvoVdsProviderFC, u"Zarvo VDS Hardware Provider (FCP)",
             ZARVO_FC_PROVIDER_VERSION_ID},
            {ZARVO_ISCSI_PROVIDER_ID, CLSID_ZarvoVdsProviderIscsi, u"Zarvo VDS Hardware Provider (iSCSI)",
             ZARVO_ISCSI_PROVIDER_VERSION_ID},
        };
        for (const Provider& p : providers) {
            HRESULT one = S_OK;
            if (unregister) {
                one = admin->UnregisterProvider(p.id);
            } else {
                std::u16string name = p.name;
                std::u16string version = kZarvoProviderVersion;
                one = admin->RegisterProvider(p.id, p.clsid, name.data(), VDS_PT_HARDWARE, nullptr, version.data(),
                                              p.versionId);
            }
            if (FAILED(one) && SUCCEEDED(hr)) hr = one;
        }
        admin->Release();
    }
    if (SUCCEEDED(served)) CoRevokeClassObject(cookie);
    return hr;
}

void ReloadStoredList() {
    filer_record_list& list = process_filer_record_list();
    list.Clear();
    list.Load();
}
