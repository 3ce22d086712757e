#pragma once
// The model's notifier and notification sets over the advise sink that the
// disk-management service hands to each provider.
#include <atomic>
#include <vector>

#include <model/notification.h>
#include <platform/critical_section.h>
#include <platform/vds.h>

class CZarvoNotifier final : public Notifier {
public:
    // Keeps the sink with a reference of its own; the count starts at 0.
    explicit CZarvoNotifier(IVdsAdviseSink* sink);
    CZarvoNotifier(const CZarvoNotifier&) = delete;
    CZarvoNotifier& operator=(const CZarvoNotifier&) = delete;

    // A new, empty set bound to this notifier (it holds one count); nullptr
    // when memory ran out. The caller owns the set.
    NotificationSet* CreateNotificationSet() override;

    void AddRef();
    // At 0 the sink is released and the notifier deleted.
    void Release();

    IVdsAdviseSink* Sink() const { return m_pSink; }

private:
    ~CZarvoNotifier();

    IVdsAdviseSink* m_pSink;
    std::atomic<LONG> m_refCount{0};
};

class CZarvoNotificationSet : public NotificationSet {
public:
    explicit CZarvoNotificationSet(CZarvoNotifier* notifier);
    ~CZarvoNotificationSet() override;
    CZarvoNotificationSet(const CZarvoNotificationSet&) = delete;
    CZarvoNotificationSet& operator=(const CZarvoNotificationSet&) = delete;

    void Add(NotificationType code, const GUID& id) override;
    // Hands every entry added since the last delivery to the sink in one call.
    void Deliver() override;

    // The published record of a model code: false for a code outside 1 to 22.
    static bool MakeNotification(NotificationType code, const GUID& id, VDS_NOTIFICATION& notification);

private:
    CZarvoNotifier* m_pNotifier;
    std::vector<VDS_NOTIFICATION> m_entries;
    CRITICAL_SECTION m_lock;
};
