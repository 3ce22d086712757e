#include <vds/zarvo_notifier.h>

#include <cstring>
#include <exception>

#include <hostlib/autolock.h>
#include <hostlib/conversions.h>
#include <hostlib/trace.h>

namespace {

struct CodeEntry {
    VDS_NOTIFICATION_TARGET_TYPE target;
    ULONG event;
};

// Indexed by the model's code (1 to 22).
constexpr CodeEntry kCodes[] = {
    {VDS_NTT_UNKNOWN, 0},
    {VDS_NTT_SUB_SYSTEM, VDS_NF_SUB_SYSTEM_ARRIVE},
    {VDS_NTT_SUB_SYSTEM, VDS_NF_SUB_SYSTEM_DEPART},
    {VDS_NTT_SUB_SYSTEM, VDS_NF_SUB_SYSTEM_MODIFY},
    {VDS_NTT_CONTROLLER, VDS_NF_CONTROLLER_ARRIVE},
    {VDS_NTT_CONTROLLER, VDS_NF_CONTROLLER_DEPART},
    {VDS_NTT_DRIVE, VDS_NF_DRIVE_ARRIVE},
    {VDS_NTT_DRIVE, VDS_NF_DRIVE_DEPART},
    {VDS_NTT_DRIVE, VDS_NF_DRIVE_MODIFY},
    {VDS_NTT_LUN, VDS_NF_LUN_ARRIVE},
    {VDS_NTT_LUN, VDS_NF_LUN_DEPART},
    {VDS_NTT_LUN, VDS_NF_LUN_MODIFY},
    {VDS_NTT_PORT, VDS_NF_PORT_ARRIVE},
    {VDS_NTT_PORT, VDS_NF_PORT_DEPART},
    {VDS_NTT_PORTAL, VDS_NF_PORTAL_ARRIVE},
    {VDS_NTT_PORTAL, VDS_NF_PORTAL_DEPART},
    {VDS_NTT_PORTAL, VDS_NF_PORTAL_MODIFY},
    {VDS_NTT_TARGET, VDS_NF_TARGET_ARRIVE},
    {VDS_NTT_TARGET, VDS_NF_TARGET_DEPART},
    {VDS_NTT_TARGET, VDS_NF_TARGET_MODIFY},
    {VDS_NTT_PORTAL_GROUP, VDS_NF_PORTAL_GROUP_ARRIVE},
    {VDS_NTT_PORTAL_GROUP, VDS_NF_PORTAL_GROUP_DEPART},
    {VDS_NTT_PORTAL_GROUP, VDS_NF_PORTAL_GROUP_MODIFY},
};
constexpr NotificationType kLastCode = static_cast<NotificationType>(std::size(kCodes) - 1);

template <typename Member>
void Fill(Member& member, ULONG event, const GUID& id) {
    static_assert(sizeof(Member) == sizeof(ULONG) + sizeof(GUID));
    member.ulEvent = event;
    std::memcpy(reinterpret_cast<BYTE*>(&member) + sizeof(ULONG), &id, sizeof(GUID));
}

}  // namespace

CZarvoNotifier::CZarvoNotifier(IVdsAdviseSink* sink) : m_pSink(sink) {
    if (m_pSink) m_pSink->AddRef();
}

CZarvoNotifier::~CZarvoNotifier() {
    if (m_pSink) m_pSink->Release();
}

NotificationSet* CZarvoNotifier::CreateNotificationSet() {
    return new (std::nothrow) CZarvoNotificationSet(this);
}

void CZarvoNotifier::AddRef() { ++m_refCount; }

void CZarvoNotifier::Release() {
    if (--m_refCount == 0) delete this;
}

CZarvoNotificationSet::CZarvoNotificationSet(CZarvoNotifier* notifier) : m_pNotifier(notifier) {
    TraceScope scope("CZarvoNotificationSet::CZarvoNotificationSet");
    InitializeCriticalSection(&m_lock);
    m_pNotifier->AddRef();
}

CZarvoNotificationSet::~CZarvoNotificationSet() {
    TraceScope scope("CZarvoNotificationSet::~CZarvoNotificationSet");
    m_pNotifier->Release();
    DeleteCriticalSection(&m_lock);
}

bool CZarvoNotificationSet::MakeNotification(NotificationType code, const GUID& id, VDS_NOTIFICATION& notification) {
    std::memset(&notification, 0, sizeof(notification));
    if (code < 1 || code > kLastCode) return false;
    const CodeEntry& entry = kCodes[code];
    notification.objectType = entry.target;
    switch (entry.target) {
        case VDS_NTT_SUB_SYSTEM: Fill(notification.SubSystem, entry.event, id); break;
        case VDS_NTT_CONTROLLER: Fill(notification.Controller, entry.event, id); break;
        case VDS_NTT_DRIVE: Fill(notification.Drive, entry.event, id); break;
        case VDS_NTT_LUN: Fill(notification.Lun, entry.event, id); break;
        case VDS_NTT_PORT: Fill(notification.Port, entry.event, id); break;
        case VDS_NTT_PORTAL: Fill(notification.Portal, entry.event, id); break;
        case VDS_NTT_TARGET: Fill(notification.Target, entry.event, id); break;
        case VDS_NTT_PORTAL_GROUP: Fill(notification.PortalGroup, entry.event, id); break;
        default: return false;
    }
    return true;
}

void CZarvoNotificationSet::Add(NotificationType code, const GUID& id) {
    TraceScope scope("CZarvoNotificationSet::Add");
    try {
        trace_printf("CZarvoNotificationSet::Add, Notification type %d, ID %s", static_cast<int>(code),
                     GuidToString(id).c_str());
        VDS_NOTIFICATION notification;
        if (!MakeNotification(code, id, notification)) {
            // The model never passes such a code; nothing is stored for it.
            trace_assert(false, "(type > 0) && (type <= 22)", "provider\\notifier", __LINE__);
            return;
        }
        AutoLock lock(&m_lock);
        m_entries.push_back(notification);
    } catch (const std::exception&) {
        trace_printf("CZarvoNotificationSet::Add(): %s", "caught exception");
    }
}

void CZarvoNotificationSet::Deliver() {
    TraceScope scope("CZarvoNotificationSet::Deliver");
    try {
        AutoLock lock(&m_lock);
        if (m_entries.empty()) return;
        trace_printf("Notificationset notified the VDS, Events count: %d", static_cast<int>(m_entries.size()));
        if (IVdsAdviseSink* sink = m_pNotifier->Sink())
            sink->OnNotify(static_cast<LONG>(m_entries.size()), m_entries.data());
        m_entries.clear();
    } catch (const std::exception&) {
        trace_printf("CZarvoNotificationSet::Deliver(): %s", "caught exception");
    }
}
