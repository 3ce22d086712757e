#pragma once
// How the model tells the disk-management service about its objects: a
// notifier hands out notification sets, the model adds coded events to a set
// and delivers it. The model never sees the service's advise sink.
#include <platform/guid.h>
#include <platform/types.h>

// The event codes that model objects give (0: the object has no such event).
using NotificationType = int32_t;

namespace notification_code {
inline constexpr NotificationType SubSystemArrive = 1;
inline constexpr NotificationType SubSystemDepart = 2;
inline constexpr NotificationType SubSystemModify = 3;
inline constexpr NotificationType ControllerArrive = 4;
inline constexpr NotificationType ControllerDepart = 5;
inline constexpr NotificationType DriveArrive = 6;
inline constexpr NotificationType DriveDepart = 7;
inline constexpr NotificationType DriveModify = 8;
inline constexpr NotificationType LunArrive = 9;
inline constexpr NotificationType LunDepart = 10;
inline constexpr NotificationType LunModify = 11;
inline constexpr NotificationType PortArrive = 12;
inline constexpr NotificationType PortDepart = 13;
inline constexpr NotificationType PortalArrive = 14;
inline constexpr NotificationType PortalDepart = 15;
inline constexpr NotificationType PortalModify = 16;
inline constexpr NotificationType TargetArrive = 17;
inline constexpr NotificationType TargetDepart = 18;
inline constexpr NotificationType TargetModify = 19;
inline constexpr NotificationType PortalGroupArrive = 20;
inline constexpr NotificationType PortalGroupDepart = 21;
inline constexpr NotificationType PortalGroupModify = 22;
inline constexpr NotificationType Last = 22;
}  // namespace notification_code

// A batch of events, delivered in one call in the order added.
class NotificationSet {
public:
    static constexpr NotificationType InvalidType = 0;

    virtual ~NotificationSet() = default;
    // Appends one event; the set keeps its own copy of the id.
    virtual void Add(NotificationType type, const GUID& id) = 0;
    // Sends every event added so far and leaves the set empty; an empty set sends nothing.
    virtual void Deliver() = 0;
};

class Notifier {
public:
    virtual ~Notifier() = default;
    // A new, empty set that the caller owns.
    virtual NotificationSet* CreateNotificationSet() = 0;
};

// One event of a list (what a container comparison produces).
struct NotificationEntry {
    GUID id;
    NotificationType type;
};
