// ZarvoDrive: status, health and role of an appliance disk.
#include <model/drive.h>

#include <hostlib/conversions.h>
#include <hostlib/trace.h>
#include <model/filer_object_container.h>

#include <platform/text.h>

namespace {

constexpr ULONG kHotSpare = 0x1;  // VDS_DF_HOTSPARE

struct RaidStateRow {
    LONG raidState;
    VDS_DRIVE_STATUS status;
    VDS_HEALTH health;
    ULONG flags;
};
// Raid state (disk_raid_state_table) → status, health, flags. Any other state: all unknown.
constexpr RaidStateRow kRaidStates[] = {
    {1, VDS_DRS_OFFLINE, VDS_H_HEALTHY, 0},     // partner
    {2, VDS_DRS_FAILED, VDS_H_FAILED, 0},       // broken
    {3, VDS_DRS_NOT_READY, VDS_H_HEALTHY, 0},   // zeroing
    {4, VDS_DRS_ONLINE, VDS_H_HEALTHY, kHotSpare},  // spare
    {5, VDS_DRS_NOT_READY, VDS_H_HEALTHY, 0},   // pending
    {6, VDS_DRS_ONLINE, VDS_H_HEALTHY, 0},      // reconstructing
    {7, VDS_DRS_ONLINE, VDS_H_HEALTHY, 0},      // present
};

// Raid type (disk_raid_type_table) → role.
struct RaidTypeRow {
    LONG raidType;
    LONG role;
};
constexpr RaidTypeRow kRaidTypes[] = {
    {1, ZarvoDrive::RoleParity},
    {3, ZarvoDrive::RoleDoubleParity},
    {2, ZarvoDrive::RolePartner},
    {4, ZarvoDrive::RoleData},
};

const RaidStateRow* FindRaidState(LONG raidState) {
    for (const RaidStateRow& row : kRaidStates)
        if (row.raidState == raidState) return &row;
    return nullptr;
}

LONG RoleOf(LONG raidType) {
    for (const RaidTypeRow& row : kRaidTypes)
        if (row.raidType == raidType) return row.role;
    return ZarvoDrive::RoleNone;
}

}  // namespace

ZarvoDrive::ZarvoDrive(FilerObjectContainer* container, const GUID& id, ULONGLONG sizeInBytes,
                       const fapi_disk_info_t* disk)
    : m_pContainer(container) {
    m_properties.m_id = id;
    trace_printf("ZarvoDrive::ZarvoDrive, GUID=%s", GuidToString(id).c_str());
    // A disk on an adapter the container does not know keeps bus 0 and slot 0.
    if (disk) m_pContainer->AllocateSlot(m_properties.m_sInternalBusNumber, m_properties.m_sSlotNumber, *disk);
    m_pContainer->AddDriveObject(id, this);
    m_properties.m_ullSize = sizeInBytes;
    m_ullFreeSpace = sizeInBytes;
    SetDefaults(disk);
}

ZarvoDrive::~ZarvoDrive() { m_pContainer->RemoveDriveObject(m_properties.m_id); }

void ZarvoDrive::SetDefaults(const fapi_disk_info_t* disk) {
    m_properties.m_strIdentification = GuidToWString(m_properties.m_id);
    m_properties.m_ulFlags = 0;
    if (!disk) {
        m_properties.m_strFriendlyName = u"ZarvoDrive";
        m_properties.m_status = VDS_DRS_ONLINE;
        m_properties.m_health = VDS_H_HEALTHY;
        trace_printf("VDS_DRIVE_PROP: WARNING: USING FAKE DEFAULTS!!!");
        return;
    }
    m_properties.m_strFriendlyName = disk->name;
    if (const RaidStateRow* row = FindRaidState(disk->raid_state)) {
        m_properties.m_status = row->status;
        m_properties.m_health = row->health;
        m_properties.m_ulFlags = row->flags;
    } else {
        // An unknown disk never counts as space.
        m_properties.m_status = VDS_DRS_UNKNOWN;
        m_properties.m_health = VDS_H_UNKNOWN;
        m_properties.m_ullSize = 0;
        m_ullFreeSpace = 0;
    }
    m_diskRole = RoleOf(disk->raid_type);
    trace_printf("VDS_DRIVE_PROP pwszFriendlyName = %s ,state =%d, type =%d, freespace %llu ",
                 platform::wide_to_utf8_lossy(disk->name).c_str(), static_cast<int>(disk->raid_state),
                 static_cast<int>(disk->raid_type), static_cast<unsigned long long>(m_ullFreeSpace));
}

HRESULT ZarvoDrive::GetProperties(DriveProperties& properties) {
    properties = m_properties;
    return S_OK;
}

HRESULT ZarvoDrive::GetBusAndSlotNumber(SHORT& busNumber, SHORT& slotNumber) {
    busNumber = m_properties.m_sInternalBusNumber;
    slotNumber = m_properties.m_sSlotNumber;
    return S_OK;
}

bool ZarvoDrive::IsLiveDataDisk() {
    return m_diskRole == RoleData && m_properties.m_status == VDS_DRS_ONLINE && m_properties.m_health == VDS_H_HEALTHY &&
           m_properties.m_ulFlags != kHotSpare;
}

HRESULT ZarvoDrive::IsEqual(SanHelper* other) {
    auto* that = dynamic_cast<ZarvoDrive*>(other);
    if (!that) {
        trace_printf("Invalid IsEqual object in ZarvoDrive.");
        return E_FAIL;
    }
    // Free space and role are left out: space taken by new LUNs announces no change.
    const DriveProperties& a = m_properties;
    const DriveProperties& b = that->m_properties;
    const bool equal = a.m_id == b.m_id && a.m_ullSize == b.m_ullSize && a.m_strFriendlyName == b.m_strFriendlyName &&
                       a.m_strIdentification == b.m_strIdentification && a.m_ulFlags == b.m_ulFlags &&
                       a.m_status == b.m_status && a.m_health == b.m_health &&
                       a.m_sInternalBusNumber == b.m_sInternalBusNumber && a.m_sSlotNumber == b.m_sSlotNumber;
    return equal ? 0 : 1;
}

NotificationType ZarvoDrive::GetArriveType() { return notification_code::DriveArrive; }
NotificationType ZarvoDrive::GetDepartType() { return notification_code::DriveDepart; }
NotificationType ZarvoDrive::GetModifyType() { return notification_code::DriveModify; }
