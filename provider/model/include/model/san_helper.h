#pragma once
// The base of every model object the disk-management service can see, and of
// the object container: two generations of the model are compared object by
// object, and each object names the events of its arrival, departure and change.
#include <model/notification.h>
#include <platform/errors.h>

class SanHelper {
public:
    SanHelper() = default;
    SanHelper(const SanHelper&) = default;
    SanHelper& operator=(const SanHelper&) = default;

    // 0 equal, 1 different, E_FAIL (after "Invalid IsEqual object in <class>.")
    // when the other object is of another class.
    virtual HRESULT IsEqual(SanHelper* other) = 0;
    virtual NotificationType GetArriveType() = 0;
    virtual NotificationType GetDepartType() = 0;
    // NotificationSet::InvalidType when the class has no change event.
    virtual NotificationType GetModifyType() = 0;
    virtual ~SanHelper() = default;
};
