#pragma once
// The disk-management service's side of the providers: the registrations it
// keeps, the providers it loads in this process from the class table, and the
// advise sink that queues what they report.
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include <platform/vds.h>
#include <platform/vds_admin.h>
#include <vds/com_object.h>

// Queues every notification; never calls back into a provider.
class NotificationQueue final : public ComObject<IVdsAdviseSink> {
public:
    STDMETHODIMP OnNotify(LONG count, VDS_NOTIFICATION* notifications) override;
    // What arrived since the last call, waiting up to `timeout` for the first.
    std::vector<VDS_NOTIFICATION> Take(std::chrono::milliseconds timeout);

private:
    std::mutex m_mutex;
    std::condition_variable m_arrived;
    std::vector<VDS_NOTIFICATION> m_queue;
};

struct LoadedProvider {
    VdsProviderRegistration registration;
    IVdsProvider* provider = nullptr;
    IVdsHwProvider* hw = nullptr;
    IVdsProviderPrivate* priv = nullptr;
    HRESULT loaded = S_OK;  // the result of its load and first enumeration
};

class VdsHost {
public:
    VdsHost();
    ~VdsHost();
    VdsHost(const VdsHost&) = delete;
    VdsHost& operator=(const VdsHost&) = delete;

    // Loads every registered provider and waits for its first enumeration.
    void LoadProviders();
    std::vector<LoadedProvider>& Providers() { return m_providers; }
    NotificationQueue& Notifications() { return *m_queue; }

private:
    std::vector<DWORD> m_cookies;
    std::vector<LoadedProvider> m_providers;
    NotificationQueue* m_queue;
};

// Reads the stored appliance list again, so that a change another process
// saved (the applet through the service) reaches the providers at their next
// re-enumeration.
void ReloadStoredList();

// Registers (or unregisters) the two providers of this system through IVdsAdmin.
HRESULT RegisterZarvoProviders(bool unregister);
