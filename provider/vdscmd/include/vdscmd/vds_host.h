#pragma once
// The disk-management service's side of the providers: the registrations it
// keeps, the providers it loads from the class table and holds, and the
// advise sink that hands what they report to whoever listens. sanprovd holds
// one host from its first vdsctl client until it stops; unit tests make their
// own in process.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <platform/com_scoped.h>
#include <platform/vds.h>
#include <platform/vds_admin.h>
#include <vds/com_object.h>
#include <vdscmd/operations.h>

namespace vdscmd {

class ObjectPicture;

// What one listener has not taken yet.
class NotificationQueue {
public:
    void Push(const VDS_NOTIFICATION* notifications, LONG count);
    // What arrived since the last call, waiting up to `timeout` for the first.
    std::vector<VDS_NOTIFICATION> Take(std::chrono::milliseconds timeout);

private:
    std::mutex m_mutex;
    std::condition_variable m_arrived;
    std::vector<VDS_NOTIFICATION> m_queue;
};

// Where the providers' notifications go: the picture first, then a copy to
// each listener's queue. It never calls back into a provider (it is called
// with the providers' locks held).
class NotificationHub final : public ComObject<IVdsAdviseSink> {
public:
    STDMETHODIMP OnNotify(LONG count, VDS_NOTIFICATION* notifications) override;
    // What one provider (by its registration id) sent.
    void Deliver(const GUID& provider, LONG count, const VDS_NOTIFICATION* notifications);
    // The picture that every notification updates first (null: none).
    void Attach(ObjectPicture* picture);

    // Listens from now until the subscription goes.
    class Subscription {
    public:
        Subscription(NotificationHub& hub);
        ~Subscription();
        Subscription(const Subscription&) = delete;
        Subscription& operator=(const Subscription&) = delete;
        std::vector<VDS_NOTIFICATION> Take(std::chrono::milliseconds timeout) { return m_queue->Take(timeout); }

    private:
        NotificationHub& m_hub;
        std::shared_ptr<NotificationQueue> m_queue;
        std::list<std::shared_ptr<NotificationQueue>>::iterator m_at;
    };

private:
    std::mutex m_mutex;
    std::list<std::shared_ptr<NotificationQueue>> m_listeners;
    ObjectPicture* m_picture = nullptr;
};

// One loaded provider; unloaded and released when the last holder lets go.
struct LoadedProvider {
    LoadedProvider() = default;
    ~LoadedProvider();
    LoadedProvider(const LoadedProvider&) = delete;
    LoadedProvider& operator=(const LoadedProvider&) = delete;

    VdsProviderRegistration registration;
    IVdsProvider* provider = nullptr;
    IVdsHwProvider* hw = nullptr;
    IVdsProviderPrivate* priv = nullptr;
    IVdsAdviseSink* sink = nullptr;  // the provider's own, which names it to the hub
    VDS_HWPROVIDER_TYPE type = VDS_HWT_UNKNOWN;
    std::atomic<HRESULT> loaded{S_OK};  // its load, then its latest list pass

    // Records the load or a list pass with what it said of its failure (its
    // error information's text), which later commands report again.
    void SetLoaded(HRESULT hr, std::string failure);
    std::string LoadFailure();

private:
    std::mutex m_mutex;
    std::string m_failure;
};
using ProviderList = std::vector<std::shared_ptr<LoadedProvider>>;

class VdsHost {
public:
    VdsHost();
    ~VdsHost();
    VdsHost(const VdsHost&) = delete;
    VdsHost& operator=(const VdsHost&) = delete;

    // Loads every registered provider not loaded yet (waiting for its first
    // list pass) and lets go of those no longer registered. The first call
    // loads them all; later ones change nothing while the registrations stay.
    void LoadProviders();
    // Loads them on the first call (and after a failed read of the
    // registrations); later calls hold what is loaded.
    void EnsureLoaded();
    // The providers held now; the caller's copy keeps them loaded while it runs.
    ProviderList Providers();
    // The registrations could not be read at the last load.
    HRESULT RegistrationsRead();
    NotificationHub& Notifications() { return *m_hub; }
    // What the providers last told of their objects; the listings read it.
    ObjectPicture& Picture() { return *m_picture; }
    // The operations that commands wait for now.
    RunningOperations& Operations() { return m_operations; }

private:
    std::vector<DWORD> m_cookies;
    NotificationHub* m_hub;
    std::unique_ptr<ObjectPicture> m_picture;
    RunningOperations m_operations;
    std::mutex m_mutex;  // guards the list; loads run under it, one at a time
    ProviderList m_providers;
    HRESULT m_registrations = S_OK;
    bool m_loaded = false;
};

// Registers (or unregisters) the two providers of this system through IVdsAdmin.
HRESULT RegisterZarvoProviders(bool unregister);

}  // namespace vdscmd
