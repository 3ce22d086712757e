#include <vdscmd/vds_host.h>

#include <algorithm>

#include <platform/apartment.h>
#include <vdscmd/output.h>
#include <platform/classtable.h>
#include <vds/provider_ids.h>
#include <vds/zarvo_provider.h>
#include <vdscmd/picture.h>

namespace vdscmd {

void NotificationQueue::Push(const VDS_NOTIFICATION* notifications, LONG count) {
    {
        std::lock_guard lock(m_mutex);
        m_queue.insert(m_queue.end(), notifications, notifications + count);
    }
    m_arrived.notify_all();
}

std::vector<VDS_NOTIFICATION> NotificationQueue::Take(std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_mutex);
    m_arrived.wait_for(lock, timeout, [this] { return !m_queue.empty(); });
    std::vector<VDS_NOTIFICATION> taken;
    taken.swap(m_queue);
    return taken;
}

STDMETHODIMP NotificationHub::OnNotify(LONG count, VDS_NOTIFICATION* notifications) {
    Deliver(GUID_NULL, count, notifications);
    return S_OK;
}

void NotificationHub::Deliver(const GUID& provider, LONG count, const VDS_NOTIFICATION* notifications) {
    if (count <= 0 || !notifications) return;
    std::lock_guard lock(m_mutex);
    if (m_picture) m_picture->Notify(provider, notifications, count);
    for (auto& listener : m_listeners) listener->Push(notifications, count);
}

namespace {

// The advise sink one provider is given: tells the hub whose notifications they are.
class ProviderSink final : public ComObject<IVdsAdviseSink> {
public:
    void Init(NotificationHub* hub, const GUID& provider) {
        m_hub = hub;
        m_hub->AddRef();
        m_provider = provider;
    }
    ~ProviderSink() override {
        if (m_hub) m_hub->Release();
    }
    STDMETHODIMP OnNotify(LONG count, VDS_NOTIFICATION* notifications) override {
        m_hub->Deliver(m_provider, count, notifications);
        return S_OK;
    }

private:
    NotificationHub* m_hub = nullptr;
    GUID m_provider{};
};

}  // namespace

void NotificationHub::Attach(ObjectPicture* picture) {
    std::lock_guard lock(m_mutex);
    m_picture = picture;
}

NotificationHub::Subscription::Subscription(NotificationHub& hub)
    : m_hub(hub), m_queue(std::make_shared<NotificationQueue>()) {
    std::lock_guard lock(m_hub.m_mutex);
    m_at = m_hub.m_listeners.insert(m_hub.m_listeners.end(), m_queue);
}

NotificationHub::Subscription::~Subscription() {
    std::lock_guard lock(m_hub.m_mutex);
    m_hub.m_listeners.erase(m_at);
}

void LoadedProvider::SetLoaded(HRESULT hr, std::string failure) {
    std::lock_guard lock(m_mutex);
    loaded = hr;
    m_failure = std::move(failure);
}

std::string LoadedProvider::LoadFailure() {
    std::lock_guard lock(m_mutex);
    return m_failure;
}

LoadedProvider::~LoadedProvider() {
    if (priv) {
        priv->OnUnload(TRUE);
        priv->Release();
    }
    if (hw) hw->Release();
    if (provider) provider->Release();
    if (sink) sink->Release();
}

VdsHost::VdsHost()
    : m_hub(NewComObject<NotificationHub>()), m_picture(std::make_unique<ObjectPicture>([this] { return Providers(); })) {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    m_hub->Attach(m_picture.get());
    // The provider classes are served in this process. A class that another
    // module of the process already serves (sanprovd's class table) stays with it.
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
    m_hub->Attach(nullptr);
    m_picture.reset();  // its thread lets go of the providers it holds
    m_providers.clear();
    for (DWORD cookie : m_cookies) CoRevokeClassObject(cookie);
    m_hub->Release();
    CoUninitialize();
}

namespace {

std::shared_ptr<LoadedProvider> Load(const VdsProviderRegistration& registration, NotificationHub* hub) {
    auto loaded = std::make_shared<LoadedProvider>();
    loaded->registration = registration;
    auto* sink = NewComObject<ProviderSink>();
    if (sink) sink->Init(hub, registration.providerId);
    loaded->sink = sink;
    loaded->loaded = CoCreateInstance(registration.clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IVdsProvider,
                                      reinterpret_cast<void**>(&loaded->provider));
    if (SUCCEEDED(loaded->loaded)) {
        loaded->provider->QueryInterface(IID_PPV_ARGS(&loaded->hw));
        loaded->provider->QueryInterface(IID_PPV_ARGS(&loaded->priv));
        IVdsHwProviderType* typed = nullptr;
        if (SUCCEEDED(loaded->provider->QueryInterface(IID_PPV_ARGS(&typed)))) {
            typed->GetProviderType(&loaded->type);
            typed->Release();
        }
    }
    if (loaded->priv) {
        WCHAR machine[] = u"localhost";
        loaded->loaded = loaded->priv->OnLoad(machine, sink);
    }
    // The first list pass runs on the provider's own thread: wait for it and
    // take its outcome, without a pass of our own that would try every
    // appliance that failed it a second time.
    if (SUCCEEDED(loaded->loaded)) {
        if (auto* zarvo = dynamic_cast<CZarvoProvider*>(loaded->provider)) loaded->loaded = zarvo->ListPassResult();
        else if (loaded->hw) loaded->loaded = loaded->hw->Reenumerate();
    }
    loaded->SetLoaded(loaded->loaded, FAILED(loaded->loaded) ? ErrorText(loaded->loaded) : "");
    return loaded;
}

}  // namespace

void VdsHost::LoadProviders() {
    std::vector<VdsProviderRegistration> registrations;
    const HRESULT read = platform::vds_registered_providers(registrations);
    std::lock_guard lock(m_mutex);
    m_registrations = read;
    if (FAILED(read)) return;  // what is held stays held
    m_loaded = true;
    std::erase_if(m_providers, [&](const std::shared_ptr<LoadedProvider>& held) {
        return std::none_of(registrations.begin(), registrations.end(), [&](const VdsProviderRegistration& r) {
            return r.providerId == held->registration.providerId;
        });
    });
    ProviderList providers;
    for (const VdsProviderRegistration& registration : registrations) {
        auto held = std::find_if(m_providers.begin(), m_providers.end(), [&](const auto& p) {
            return p->registration.providerId == registration.providerId;
        });
        providers.push_back(held != m_providers.end() ? *held : Load(registration, m_hub));
    }
    m_providers.swap(providers);
    std::vector<GUID> ids;
    std::vector<LoadedProvider*> held;
    for (const auto& provider : m_providers) {
        ids.push_back(provider->registration.providerId);
        held.push_back(provider.get());
    }
    m_picture->Keep(ids);
    m_picture->Read(held);
}

void VdsHost::EnsureLoaded() {
    {
        std::lock_guard lock(m_mutex);
        if (m_loaded) return;
    }
    LoadProviders();
}

ProviderList VdsHost::Providers() {
    std::lock_guard lock(m_mutex);
    return m_providers;
}

HRESULT VdsHost::RegistrationsRead() {
    std::lock_guard lock(m_mutex);
    return m_registrations;
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

}  // namespace vdscmd
