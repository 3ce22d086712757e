#pragma once
// ZarvoDrive: one disk of the appliance as a drive of the subsystem, with the
// free space and RAID role the container's extent bookkeeping uses.
#include <filer/records.h>
#include <model/properties.h>
#include <model/san_helper.h>

#include <platform/guid.h>
#include <platform/types.h>

class FilerObjectContainer;

class ZarvoDrive : public SanHelper {
public:
    // The disk's RAID role, from its raid type.
    enum DiskRole : LONG { RoleNone = 0, RoleParity = 1, RoleDoubleParity = 2, RolePartner = 3, RoleData = 4 };

    // Takes its bus and slot from the container and registers itself (disk may be null).
    ZarvoDrive(FilerObjectContainer* container, const GUID& id, ULONGLONG sizeInBytes, const fapi_disk_info_t* disk);
    ~ZarvoDrive() override;
    ZarvoDrive(const ZarvoDrive&) = delete;
    ZarvoDrive& operator=(const ZarvoDrive&) = delete;

    HRESULT IsEqual(SanHelper* other) override;
    NotificationType GetArriveType() override;
    NotificationType GetDepartType() override;
    NotificationType GetModifyType() override;

    void SetDefaults(const fapi_disk_info_t* disk);
    HRESULT GetProperties(DriveProperties& properties);
    HRESULT GetBusAndSlotNumber(SHORT& busNumber, SHORT& slotNumber);
    // An online, healthy data disk that is not a hot spare: the only kind extents use.
    bool IsLiveDataDisk();

    // Read and written by the container's status setter and extent bookkeeping.
    DriveProperties m_properties;
    ULONGLONG m_ullFreeSpace = 0;
    LONG m_diskRole = RoleNone;

private:
    FilerObjectContainer* m_pContainer;
};
