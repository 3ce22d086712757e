#pragma once
// FilerObjectContainer: one reading of an appliance as a VDS subsystem. It
// holds every model object read from the appliance, the associations between
// them, the subsystem's property record, the LUN-number table and the
// appliance connection its objects use. Two per San (current and spare),
// swapped and compared at every refresh.
//
// The model objects add themselves to the maps when built and remove
// themselves when destroyed; the container owns and deletes them. It has no
// lock: every caller holds the owning San's lock.
#include <list>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include <filer/records.h>
#include <hostlib/guid_associator.h>
#include <hostlib/mpio_mgmt.h>
#include <model/extent_record.h>
#include <model/filer_control.h>
#include <model/notification.h>
#include <model/properties.h>
#include <model/san_helper.h>

#include <platform/guid.h>
#include <platform/hbaapi.h>
#include <platform/types.h>
#include <platform/vds.h>

class ZarvoSan;
class ZarvoLun;
class ZarvoPlex;
class ZarvoController;
class ZarvoControllerPort;
class ZarvoDrive;
class ZarvoAggregate;
class ZarvoVolume;
class ZarvoQtree;
class ZarvoIgroup;
class ZarvoIscsiPortal;
class ZarvoIscsiTarget;
class ZarvoIscsiPortalGroup;
class IscsiTargetProperties;
class ZarvoAsync;

// Maps of object id to object, ordered by the id's 16 bytes.
template <typename T>
using ObjectMap = std::map<GUID, T*, GuidLess>;
// The visible objects of a container by id, borrowed (comparison).
using SanHelperMap = std::map<GUID, SanHelper*, GuidLess>;
// Host HBA ports by their running index over the host.
using HbaPortPropertiesMap = std::map<ULONG, VDS_HBAPORT_PROP>;
using HbaPortAttributesMap = std::map<ULONG, HBA_PORTATTRIBUTES>;

// Decimal text of a number: the key of a drive.
std::string IntToString(LONG value);

class FilerObjectContainer : public SanHelper {
public:
    FilerObjectContainer();
    ~FilerObjectContainer() override;
    FilerObjectContainer(const FilerObjectContainer&) = delete;
    FilerObjectContainer& operator=(const FilerObjectContainer&) = delete;

    // SanHelper: the subsystem itself.
    HRESULT IsEqual(SanHelper* other) override;
    NotificationType GetArriveType() override;
    NotificationType GetDepartType() override;
    NotificationType GetModifyType() override;

    HRESULT InitializeContainer(ZarvoSan* san, const GUID& subSystemId, const std::u16string& filerName,
                                const std::u16string& userName, const std::u16string& password);
    GUID GetID();

    // Registry: plain adds keep the first object under an id.
    HRESULT AddLunObject(const GUID& id, ZarvoLun* lun);
    HRESULT RemoveLunObject(const GUID& id);
    HRESULT AddPlexObject(const GUID& id, ZarvoPlex* plex);
    HRESULT RemovePlexObject(const GUID& id);
    HRESULT AddControllerObject(const GUID& id, ZarvoController* controller);
    HRESULT RemoveControllerObject(const GUID& id);
    HRESULT AddPortObject(const GUID& id, ZarvoControllerPort* port);
    HRESULT RemovePortObject(const GUID& id);
    HRESULT AddDriveObject(const GUID& id, ZarvoDrive* drive);
    HRESULT RemoveDriveObject(const GUID& id);
    HRESULT AddAggrObject(const GUID& id, ZarvoAggregate* aggregate);
    HRESULT RemoveAggrObject(const GUID& id);
    HRESULT AddVolObject(const GUID& id, ZarvoVolume* volume);
    HRESULT RemoveVolObject(const GUID& id);
    HRESULT AddQtreeObject(const GUID& id, ZarvoQtree* qtree);
    HRESULT RemoveQtreeObject(const GUID& id);
    HRESULT AddIgroupObject(const GUID& id, ZarvoIgroup* igroup);
    HRESULT RemoveIgroupObject(const GUID& id);
    // Replacing adds: an object already under the id is deleted.
    HRESULT AddPortalObject(const GUID& id, ZarvoIscsiPortal* portal);
    HRESULT AddTargetObject(const GUID& id, ZarvoIscsiTarget* target);
    HRESULT AddPortalGroupObject(const GUID& id, ZarvoIscsiPortalGroup* portalGroup);

    // Emptying.
    HRESULT DeleteCache();
    HRESULT ClearControllerMap();
    HRESULT ClearPortsMap();
    HRESULT ClearLunMap();
    HRESULT ClearPlexMap();
    HRESULT ClearDriveMap();
    HRESULT ClearAggregateMap();
    HRESULT ClearVolumeMap();
    HRESULT ClearQtreeMap();
    HRESULT ClearIgroupMap();
    HRESULT ClearTargetMap();
    HRESULT ClearPortalGroupMap();
    HRESULT ClearPortalMap();
    void SetBusAdapterMap(const std::vector<fapi_disk_info_t>& disks);

    // Comparison of two readings.
    HRESULT GetAllObectectsMap(SanHelperMap& objects);
    HRESULT CompareContainers(FilerObjectContainer& oldContainer, std::vector<NotificationEntry>& notifications);

    // LUN numbers and LUN creation.
    HRESULT InitializeLunNumbers();
    HRESULT RefreshLunNumbers();
    HRESULT GetLunNumber(LONG& lunNumber);
    HRESULT SetLunNumber(LONG lunNumber, LONG inUse);
    HRESULT GetLunNumberFromPath(const std::u16string& path, ULONG& lunNumber);
    HRESULT QueryIfCreatedLun(const std::u16string& devicePath, const VDS_LUN_INFORMATION& information,
                              GUID& lunId);
    HRESULT CreateLun(VDS_LUN_TYPE type, ULONGLONG sizeInBytes, const std::vector<GUID>& driveIds,
                      const std::u16string& unmaskingList, const VDS_HINTS* hints, ZarvoAsync** async);
    HRESULT RefreshLunVolumeMap(ObjectMap<ZarvoVolume>& volumes);
    HRESULT RefreshLunQtreeMap(ObjectMap<ZarvoQtree>& qtrees);
    HRESULT RefreshLunIgroupMap(ObjectMap<ZarvoIgroup>& igroups);

    // Controllers, controller ports and host HBA adapters.
    HRESULT GetHBAPortAttributes(HbaPortPropertiesMap& ports);
    HRESULT GetHBAPortAttributes(HbaPortAttributesMap& ports);
    HRESULT GetFCPAdapter(const std::string& adapterName, std::u16string& friendlyName);
    HRESULT AssociateControllerPorts(const GUID& lunId, const std::vector<GUID>& activePortIds,
                                     const std::vector<GUID>& inactivePortIds);
    HRESULT SetControllerStatus(const std::vector<GUID>& onlineControllerIds,
                                const std::vector<GUID>& offlineControllerIds);
    HRESULT QueryAssociatedController(const GUID& portId, GUID& controllerId);
    HRESULT QueryAssociatedVolumes(const GUID& lunId, std::vector<GUID>& volumeIds);
    HRESULT QueryAssociatedQtrees(const GUID& lunId, std::vector<GUID>& qtreeIds);
    HRESULT QueryAssociatedLuns(const GUID& targetId, std::vector<GUID>& lunIds);
    HRESULT FindTarget(const GUID& targetId, VDS_ISCSI_TARGET_PROP& properties);
    HRESULT GetTargetPropertiesRecord(const GUID& targetId, IscsiTargetProperties& properties);
    HRESULT GetDriveProperties(const GUID& driveId, DriveProperties& properties);
    // Points the facade at another appliance: the next request makes a new CFiler.
    void SetFacadeFiler(const std::u16string& filerName);

    // Lookups: S_OK with the object, or VDS_E_OBJECT_NOT_FOUND with the output untouched.
    HRESULT GetLun(const GUID& id, ZarvoLun*& lun);
    HRESULT GetPlex(const GUID& id, ZarvoPlex*& plex);
    HRESULT GetDrive(const GUID& id, ZarvoDrive*& drive);
    HRESULT GetController(const GUID& id, ZarvoController*& controller);
    HRESULT GetControllerPort(const GUID& id, ZarvoControllerPort*& port);
    HRESULT GetVolume(const GUID& id, ZarvoVolume*& volume);
    HRESULT GetQtree(const GUID& id, ZarvoQtree*& qtree);
    HRESULT GetAggregate(const GUID& id, ZarvoAggregate*& aggregate);
    HRESULT GetIgroup(const GUID& id, ZarvoIgroup*& igroup);
    HRESULT GetPortal(const GUID& id, ZarvoIscsiPortal*& portal);
    HRESULT GetPortalGroup(const GUID& id, ZarvoIscsiPortalGroup*& portalGroup);
    bool IsValidObject(VDS_OBJECT_TYPE type, const GUID& id);

    // Listings and associations.
    HRESULT QueryLuns(std::vector<GUID>& lunIds);
    HRESULT QueryDrives(std::vector<GUID>& driveIds);
    HRESULT QueryControllers(std::vector<GUID>& controllerIds);
    HRESULT QueryControllerPorts(std::vector<GUID>& portIds);
    HRESULT QueryPortals(std::vector<GUID>& portalIds);
    HRESULT QueryTargets(std::vector<GUID>& targetIds);
    HRESULT QueryExtents(LONG selector, const GUID& id, std::vector<ExtentRecord>& extents);
    HRESULT QueryActiveControllerPorts(const GUID& lunId, std::vector<GUID>& portIds);
    HRESULT QueryAssociatedPorts(const GUID& controllerId, std::vector<GUID>& portIds);
    HRESULT QueryActiveLuns(const GUID& portId, std::vector<GUID>& lunIds);
    HRESULT QueryAssociatedTargets(const GUID& lunId, std::vector<GUID>& targetIds);
    HRESULT AssociateControllerToPort(const GUID& controllerId, const GUID& portId);
    HRESULT AssociateLunToPort(const GUID& lunId, const GUID& portId);
    HRESULT AssociateLunToVolume(const GUID& lunId, const GUID& volumeId);
    HRESULT AssociateLunToQtree(const GUID& lunId, const GUID& qtreeId);
    HRESULT AssociateLunToAggregate(const GUID& lunId, const GUID& aggregateId);
    HRESULT AssociatePortalToPortalGroup(const GUID& portalId, const GUID& portalGroupId);
    HRESULT AssociateLunToTarget(const GUID& lunId, const GUID& targetId);
    HRESULT AssociateTargets(const GUID& lunId, LONG count, const GUID* targetIds);
    HRESULT DissociateLunToTarget(const GUID& lunId, const GUID& targetId);

    // Properties and status.
    HRESULT GetProperties(SubSystemProperties& properties);
    HRESULT SetStatus(VDS_SUB_SYSTEM_STATUS status);
    // Takes the status and health a failed reading ended with (offline and
    // failed when the appliance did not answer); true when they changed.
    bool TakeStatusOf(const FilerObjectContainer& failedReading);
    HRESULT GetLunProperties(const GUID& lunId, LunProperties& properties);
    HRESULT GetLunIdentification(const GUID& lunId, VDS_LUN_INFORMATION& information);
    HRESULT GetLunLoadBalancePolicy(const GUID& lunId, VDS_LOADBALANCE_POLICY_ENUM& policy);
    HRESULT SetLunLoadBalancePolicy(const GUID& lunId, VDS_LOADBALANCE_POLICY_ENUM policy);
    HRESULT GetDiskSignature(const GUID& lunId, GUID& signature);
    HRESULT GetPlexProperties(const GUID& plexId, VDS_LUN_PLEX_PROP& properties);
    HRESULT GetControllerProperties(const GUID& controllerId, VDS_CONTROLLER_PROP& properties);
    HRESULT SetControllerStatus(const GUID& controllerId, VDS_CONTROLLER_STATUS status);
    HRESULT GetPortProperties(const GUID& portId, VDS_PORT_PROP& properties);
    HRESULT IsMPIOInstalled(BOOL& installed);
    HRESULT ExtendAggregate(const GUID& aggregateId, ULONGLONG bytes, const GUID* driveIds, LONG driveCount);

    // LUN, plex, drive and path operations.
    HRESULT DeleteLun(const GUID& lunId, ZarvoAsync** async);
    HRESULT SetLunUnmask(const GUID& lunId, const std::u16string& unmaskingList, ZarvoAsync** async);
    HRESULT GetUnmaskingList(std::u16string& unmaskingList);
    // Takes the LUN offline on the appliance ("lun-offline").
    HRESULT OfflineLun(const std::u16string& path);
    HRESULT AddPlex(const GUID& lunId, const GUID& sourceLunId, ZarvoAsync** async);
    HRESULT RemovePlex(const GUID& lunId, const GUID& plexId, ZarvoAsync** async);
    HRESULT QueryPlexes(const GUID& lunId, std::vector<GUID>& plexIds);
    HRESULT GetLunFromPlex(const GUID& plexId, GUID& lunId);
    HRESULT SetLunName(const GUID& lunId, const std::u16string& name);
    HRESULT SetLunStatus(const GUID& lunId, VDS_LUN_STATUS status);
    HRESULT SetDriveStatus(const GUID& driveId, VDS_DRIVE_STATUS status);
    HRESULT GetDriveSpace(const GUID& driveId, ULONGLONG& freeBytes);
    HRESULT GetDrive(SHORT busNumber, SHORT slotNumber, GUID& driveId);
    // The drives by appliance disk name, the first in id order for a name.
    using DriveIndex = std::unordered_map<std::u16string, std::pair<GUID, ZarvoDrive*>>;
    // The live data disks of the group among the drives.
    void GetDataDiskCount(const fapi_raid_group_info_t& raidGroup, const DriveIndex& drives, LONG& count);
    HRESULT ResetController(const GUID& controllerId);
    HRESULT SetPortStatus(const GUID& portId, VDS_PORT_STATUS status);
    HRESULT GetPathInfo(const GUID& portId, ULONG pathNumber, VDS_PATH_INFO& pathInfo);
    HRESULT GetPathPolicy(const GUID& portId, ULONG pathNumber, VDS_PATH_POLICY& pathPolicy);
    HRESULT SetPathPolicy(const GUID& portId, VDS_PATH_POLICY pathPolicy);
    HRESULT SetAllPathStatusesFromHbaPort(VDS_HBAPORT_PROP hbaPort, VDS_PATH_STATUS status);

    // iSCSI operations.
    HRESULT GetPortalProperties(const GUID& portalId, VDS_ISCSI_PORTAL_PROP& properties);
    HRESULT QueryAssociatedPortalGroups(const GUID& portalId, std::vector<GUID>& portalGroupIds);
    HRESULT GetPortalIpsecSecurity(const GUID& portalId, ULONGLONG securityFlags, ULONGLONG securityMask);
    HRESULT GetPortalGroupProperties(const GUID& portalGroupId, VDS_ISCSI_PORTALGROUP_PROP& properties);
    HRESULT QueryAssociatedPortals(const GUID& portalGroupId, std::vector<GUID>& portalIds);
    HRESULT GetAssociatedTargets(const GUID& portalGroupId, GUID& targetId);
    HRESULT QueryPortalGroups(const GUID& targetId, std::vector<GUID>& portalGroupIds);
    HRESULT AddPortal(const GUID& portalId, const GUID& portalGroupId, ZarvoAsync** async);
    HRESULT RemovePortal(const GUID& portalId, const GUID& portalGroupId, ZarvoAsync** async);
    HRESULT CreatePortalGroup(const GUID& targetId, ZarvoAsync** async);
    HRESULT SetTargetName(const GUID& targetId, const std::u16string& alias);
    HRESULT SetTargetSharedSecret(const GUID& targetId, const VDS_ISCSI_SHARED_SECRET* secret,
                                  const std::u16string& initiatorName);
    HRESULT SetInitiatorSharedSecret(const GUID& targetId, const VDS_ISCSI_SHARED_SECRET* secret,
                                     const std::u16string& initiatorName);
    HRESULT GetConnectedInitiators(const GUID& targetId, WCHAR*** names, LONG* count);

    // Discovery, drive validation and the friendly-name file.
    HRESULT RefreshContainer();
    HRESULT SetUnmaskingList(const std::u16string& adapterName);
    bool IsPathPresent(const BYTE (&portWwn)[8], const std::string& adapterName);
    bool AllocateSlot(SHORT& busNumber, SHORT& slotNumber, const fapi_disk_info_t& disk);
    HRESULT ValidateDrives(bool& changed);
    HRESULT CreateRootVolumeFilename(const std::u16string& fileName, std::u16string& path);
    HRESULT SetName(const std::u16string& friendlyName);
    // Look-ups in the appliance's volume and aggregate lists: the first volume
    // named `name`, and the first aggregate named so or holding a volume of
    // that name (null when there is none; the HRESULT is the listing's).
    // Within one reading each list is read at most once, indexed by name and
    // shared by every LUN the reading loads (the pointer is valid until the
    // reading ends); outside a reading the list is read into `storage` and
    // searched there.
    HRESULT FindVolume(const std::u16string& name, std::vector<fapi_volume_info_t>& storage,
                       const fapi_volume_info_t*& volume);
    HRESULT FindAggregate(const std::u16string& name, std::vector<fapi_aggr_info_t>& storage,
                          const fapi_aggr_info_t*& aggregate);
    // The listed aggregate as a LUN keeps it, without the names of all its
    // volumes (with a volume per LUN they would make a reading's memory grow
    // with the square of its LUN count). Within a reading every LUN of the
    // aggregate shares one record.
    std::shared_ptr<const fapi_aggr_info_t> AggregateForLun(const fapi_aggr_info_t& listed);

    // The steps of one reading (RefreshContainer).
    HRESULT ReadAppliance();
    HRESULT ReadIdentity();
    void ReadClusterPartner();
    void ReadFriendlyName();
    HRESULT ReadDrives();
    HRESULT ReadControllers();
    bool AcceptAdapter(const fapi_fcp_adapter_info_t& adapter, int index);
    HRESULT ReadIscsiTarget();
    HRESULT ReadLuns();
    HRESULT ReadLun(const fapi_lun_info_t& record, int index);
    // A LUN object of this container's protocol under `lunId`, tied to the
    // online controller ports or to the iSCSI target; null without memory.
    ZarvoLun* NewLunObject(const GUID& lunId);
    // A reading that could not read what the appliance still holds keeps the
    // previous reading's objects: each is reported once, with the failure.
    HRESULT KeepPreviousLun(const GUID& lunId, const std::u16string& path, HRESULT failure);
    HRESULT KeepPreviousLuns(HRESULT failure);
    // The reading this one follows (the San's current container), or null.
    FilerObjectContainer* PreviousReading();

    // Space allocation, extents and plexes.
    HRESULT GetMaxLunSizeFromAggregateSize(bool isExtent, ULONGLONG aggregateBytes, ULONGLONG& usableBytes);
    HRESULT GetMaxFreeSpaceInAggregate(ULONGLONG& bytes, std::u16string& aggregateName,
                                       std::vector<fapi_aggr_info_t>& aggregates, fapi_aggr_info_t& chosen);
    HRESULT AllocateSpaceinAggregate(ULONGLONG bytesNeeded, std::vector<fapi_aggr_info_t>& aggregates,
                                     fapi_aggr_info_t& chosen);
    HRESULT QueryMaxLunCreateSize(VDS_LUN_TYPE type, const GUID* driveIds, LONG driveCount, const VDS_HINTS* hints,
                                  ULONGLONG& maxBytes);
    HRESULT QueryMaxLunExtendSize(const GUID& lunId, const GUID* driveIds, LONG driveCount, ULONGLONG& maxBytes);
    // Grows the LUN by the bytes, from its size at the moment: refused while
    // the LUN is busy, and beyond what its aggregate can give.
    HRESULT ExtendLun(const GUID& lunId, ULONGLONG bytesToAdd, ZarvoAsync** async);
    HRESULT SetSize(const GUID& lunId, ULONGLONG newSizeInBytes, ZarvoAsync** async);
    bool AllocateExtents(const GUID& lunId, const GUID& plexId, ULONGLONG bytes, NotificationSet* notifications);
    HRESULT FreeExtents(const GUID& plexId, NotificationSet* notifications);
    HRESULT ChangeExtentOwner(const GUID& plexId, const GUID& newPlexId, const GUID& newLunId);

    // Trace dumps of the caches.
    HRESULT DumpAll();
    HRESULT DumpLunMap();
    HRESULT DumpQtreeMap();
    HRESULT DumpVolumeMap();
    HRESULT DumpAggregateMap();
    HRESULT DumpPlexMap();
    HRESULT DumpExtents();
    HRESULT DumpDriveMap();
    HRESULT DumpControllerMap();
    HRESULT DumpPortsMap();
    HRESULT DumpIgroupMap();
    HRESULT DumpPortalMap();
    HRESULT DumpTargetMap();
    HRESULT DumpPortalGroupMap();

    // Members, in their declared order. Model objects read and write several
    // of them directly while the San lock is held.
    ObjectMap<ZarvoLun> m_lunMap;
    ObjectMap<ZarvoPlex> m_plexMap;
    ObjectMap<ZarvoController> m_controllerMap;
    ObjectMap<ZarvoControllerPort> m_portsMap;
    ObjectMap<ZarvoDrive> m_driveMap;
    ObjectMap<ZarvoAggregate> m_aggregateMap;
    ObjectMap<ZarvoVolume> m_volumeMap;
    ObjectMap<ZarvoQtree> m_qtreeMap;
    ObjectMap<ZarvoIgroup> m_igroupMap;
    GuidAssociator m_controllerPortAssoc;
    GuidAssociator m_lunPortAssoc;
    GuidAssociator m_lunVolumeAssoc;
    GuidAssociator m_lunQtreeAssoc;
    GuidAssociator m_lunAggregateAssoc;
    ObjectMap<ZarvoIscsiPortal> m_portalMap;
    ObjectMap<ZarvoIscsiTarget> m_targetMap;
    ObjectMap<ZarvoIscsiPortalGroup> m_portalGroupMap;
    GuidAssociator m_lunTargetAssoc;
    GuidAssociator m_portalPortalGroupAssoc;
    std::list<ExtentRecord> m_extents;
    std::map<LONG, LONG> m_lunNumberMap;
    std::map<std::u16string, SHORT> m_busAdapterMap;
    ZarvoSan* m_pSan = nullptr;
    SubSystemProperties m_subSystemProperties;
    ULONGLONG m_freespace = 0;
    ULONGLONG m_diskSize = 0;
    ULONG m_supportedLbPolicies = 1;
    std::u16string m_filerName;
    std::u16string m_partnerName;
    CFilerControl m_filerControl;
    CMpioMgmt m_mpioMgmt;
    bool m_partnerUp = false;
    std::u16string m_strMaskingList;
    // The disks the reading that built this container listed (or kept).
    std::vector<fapi_disk_info_t> m_listedDisks;
    // The name by which discovery reached the cluster partner (m_partnerName
    // with the appliance's domain suffix where it applies): every request to
    // the partner uses it.
    std::u16string m_partnerAddress;
    // The iSCSI target of the current reading (its LUNs' target).
    GUID m_iscsiTargetId{};

    // A list one reading shares: read on first use, with the position of the
    // first record under each name it holds (an aggregate holds its own name
    // and the names of its volumes).
    template <typename Record>
    struct SharedList {
        bool read = false;
        HRESULT result = S_OK;
        std::vector<Record> records;
        std::unordered_map<std::u16string, size_t> firstByName;
    };
    // The lists one reading shares; set only while a reading runs.
    struct ReadingLists {
        SharedList<fapi_volume_info_t> volumes;
        SharedList<fapi_aggr_info_t> aggregates;
        // Built when the first LUN lays out its extents, once the drives stand.
        DriveIndex drives;
        // The aggregates as the LUNs keep them, made once per listed record.
        std::unordered_map<const fapi_aggr_info_t*, std::shared_ptr<const fapi_aggr_info_t>> lunAggregates;
        size_t indexedDrives = 0;
    };
    const DriveIndex& DrivesByName(DriveIndex& storage) const;
    class ReadingScope;
    ReadingLists* m_pReading = nullptr;
};

// The name by which an appliance reaches its cluster partner: an appliance
// configured by a qualified DNS name (not an IPv4 address) lends the partner
// its domain suffix, from its first "." on.
std::u16string PartnerAddress(const std::u16string& filerName, const std::u16string& partnerName);

// Points a container's facade at its cluster partner for one scope and back
// at the container's own appliance when the scope ends, exceptions included.
class PartnerFacadeSwitch {
public:
    // qualifiedName: the caller, named in the "Set to Partner" and "Revert" traces.
    PartnerFacadeSwitch(FilerObjectContainer& container, const char* qualifiedName);
    ~PartnerFacadeSwitch();
    PartnerFacadeSwitch(const PartnerFacadeSwitch&) = delete;
    PartnerFacadeSwitch& operator=(const PartnerFacadeSwitch&) = delete;

    void SwitchToPartner();
    bool Switched() const { return m_switched; }

private:
    FilerObjectContainer& m_container;
    const char* m_qualifiedName;
    bool m_switched = false;
};
