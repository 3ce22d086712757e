#pragma once
// San: one configured appliance as a VDS subsystem, as the COM layer sees it.
// Every operation the COM objects need of the model goes through this
// interface; ZarvoSan is its one implementation. The operations keep their
// virtual order: the COM layer and the model are built against this table.
//
// Object ids are 16-byte GUIDs. An out vector is filled (replaced) by the
// callee. An out async receives a ZarvoAsync with one reference, which the
// caller releases; it stays null when nothing was queued.
//
// GetControllerProperties and GetPortProperties hand out CoTaskMem copies of
// the two strings, made while the San is locked (a refresh may delete the
// object as soon as the lock goes): the caller owns and frees them. Likewise
// the HBA port record of GetPathInfo is a CoTaskMem copy the caller frees.
#include <string>
#include <vector>

#include <model/extent_record.h>
#include <model/notification.h>
#include <model/properties.h>

#include <platform/guid.h>
#include <platform/types.h>
#include <platform/vds.h>

class IscsiTargetProperties;
class ZarvoAsync;

class San {
public:
    virtual ~San() = default;

    virtual void SetNotifier(Notifier* notifier) = 0;
    virtual GUID GetId() = 0;
    virtual bool IsValidObject(VDS_OBJECT_TYPE type, const GUID& id) = 0;
    virtual HRESULT GetProperties(SubSystemProperties& properties) = 0;
    virtual HRESULT SetStatus(VDS_SUB_SYSTEM_STATUS status) = 0;
    virtual HRESULT QueryControllers(std::vector<GUID>& controllerIds) = 0;
    virtual HRESULT QueryTargets(std::vector<GUID>& targetIds) = 0;
    virtual HRESULT QueryPortals(std::vector<GUID>& portalIds) = 0;
    virtual HRESULT AddPortal(const GUID& portalId, const GUID& portalGroupId, ZarvoAsync** async) = 0;
    virtual HRESULT RemovePortal(const GUID& portalId, const GUID& portalGroupId, ZarvoAsync** async) = 0;
    virtual HRESULT QueryLuns(std::vector<GUID>& lunIds) = 0;
    virtual HRESULT QueryDrives(std::vector<GUID>& driveIds) = 0;
    virtual HRESULT QueryExtents(LONG selector, const GUID& id, std::vector<ExtentRecord>& extents) = 0;
    virtual HRESULT GetDrive(SHORT busNumber, SHORT slotNumber, GUID& driveId) = 0;
    virtual HRESULT ReplaceDrive() = 0;
    virtual HRESULT Reenumerate() = 0;
    virtual HRESULT CreateLun(VDS_LUN_TYPE type, ULONGLONG sizeInBytes, const std::vector<GUID>& driveIds,
                              const std::u16string& unmaskingList, const VDS_HINTS* hints, ZarvoAsync** async) = 0;
    virtual HRESULT QueryIfCreatedLun(const std::u16string& devicePath, const VDS_LUN_INFORMATION& information,
                                      GUID& lunId) = 0;
    virtual HRESULT SetName(const std::u16string& friendlyName) = 0;
    virtual HRESULT GetLunProperties(const GUID& lunId, LunProperties& properties) = 0;
    virtual HRESULT SetLunName(const GUID& lunId, const std::u16string& name) = 0;
    virtual HRESULT QueryMaxLunExtendSize(const GUID& lunId, const GUID* driveIds, LONG driveCount,
                                          ULONGLONG& maxBytes) = 0;
    virtual HRESULT SetLunStatus(const GUID& lunId, VDS_LUN_STATUS status) = 0;
    virtual HRESULT GetLunIdentification(const GUID& lunId, VDS_LUN_INFORMATION& information) = 0;
    virtual HRESULT GetLunLoadBalancePolicy(const GUID& lunId, VDS_LOADBALANCE_POLICY_ENUM& policy) = 0;
    virtual HRESULT SetLunLoadBalancePolicy(const GUID& lunId, VDS_LOADBALANCE_POLICY_ENUM policy) = 0;
    virtual HRESULT GetPlexProperties(const GUID& plexId, VDS_LUN_PLEX_PROP& properties) = 0;
    virtual HRESULT GetDriveProperties(const GUID& driveId, DriveProperties& properties) = 0;
    virtual HRESULT SetDriveStatus(const GUID& driveId, VDS_DRIVE_STATUS status) = 0;
    virtual HRESULT DeleteLun(const GUID& lunId, ZarvoAsync** async) = 0;
    virtual HRESULT SetLunUnmask(const GUID& lunId, const std::u16string& unmaskingList, ZarvoAsync** async) = 0;
    virtual HRESULT AddPlex(const GUID& lunId, const GUID& sourceLunId, ZarvoAsync** async) = 0;
    virtual HRESULT RemovePlex(const GUID& lunId, const GUID& plexId, ZarvoAsync** async) = 0;
    virtual HRESULT QueryPlexes(const GUID& lunId, std::vector<GUID>& plexIds) = 0;
    virtual HRESULT GetLunFromPlex(const GUID& plexId, GUID& lunId) = 0;
    virtual HRESULT AssociateControllerPorts(const GUID& lunId, const std::vector<GUID>& activePortIds,
                                             const std::vector<GUID>& inactivePortIds) = 0;
    virtual HRESULT QueryActiveControllerPorts(const GUID& lunId, std::vector<GUID>& portIds) = 0;
    virtual HRESULT AssociateTargets(const GUID& lunId, LONG count, const GUID* targetIds) = 0;
    virtual HRESULT QueryActiveLuns(const GUID& portId, std::vector<GUID>& lunIds) = 0;
    virtual HRESULT SetControllerStatus(const std::vector<GUID>& onlineControllerIds,
                                        const std::vector<GUID>& offlineControllerIds) = 0;
    virtual HRESULT SetControllerStatus(const GUID& controllerId, VDS_CONTROLLER_STATUS status) = 0;
    virtual HRESULT GetControllerProperties(const GUID& controllerId, VDS_CONTROLLER_PROP& properties) = 0;
    virtual HRESULT ResetController(const GUID& controllerId) = 0;
    virtual HRESULT GetPortProperties(const GUID& portId, VDS_PORT_PROP& properties) = 0;
    virtual HRESULT SetPortStatus(const GUID& portId, VDS_PORT_STATUS status) = 0;
    virtual HRESULT QueryAssociatedPorts(const GUID& controllerId, std::vector<GUID>& portIds) = 0;
    virtual HRESULT QueryAssociatedController(const GUID& portId, GUID& controllerId) = 0;
    virtual HRESULT GetDiskSignature(const GUID& lunId, GUID& signature) = 0;
    virtual HRESULT SetSize(const GUID& lunId, ULONGLONG newSizeInBytes, ZarvoAsync** async) = 0;
    virtual HRESULT GetDriveSpace(const GUID& driveId, ULONGLONG& freeBytes) = 0;
    virtual HRESULT GetPathInfo(const GUID& portId, ULONG pathNumber, VDS_PATH_INFO& pathInfo) = 0;
    virtual HRESULT GetPathPolicy(const GUID& portId, ULONG pathNumber, VDS_PATH_POLICY& pathPolicy) = 0;
    virtual HRESULT SetPathPolicy(const GUID& portId, VDS_PATH_POLICY pathPolicy) = 0;
    virtual ULONG GetSupportedLbPolicies() = 0;
    virtual HRESULT SetAllPathStatusesFromHbaPort(VDS_HBAPORT_PROP hbaPort, VDS_PATH_STATUS status) = 0;
    virtual HRESULT GetPortalProperties(const GUID& portalId, VDS_ISCSI_PORTAL_PROP& properties) = 0;
    virtual HRESULT QueryAssociatedPortalGroups(const GUID& portalId, std::vector<GUID>& portalGroupIds) = 0;
    virtual HRESULT GetPortalIpsecSecurity(const GUID& portalId, ULONGLONG securityFlags,
                                           ULONGLONG securityMask) = 0;
    virtual HRESULT GetPortalGroupProperties(const GUID& portalGroupId, VDS_ISCSI_PORTALGROUP_PROP& properties) = 0;
    virtual HRESULT QueryAssociatedPortals(const GUID& portalGroupId, std::vector<GUID>& portalIds) = 0;
    virtual HRESULT GetTargetFromPortalGroup(const GUID& portalGroupId, GUID& targetId) = 0;
    virtual HRESULT GetTargetProperties(const GUID& targetId, VDS_ISCSI_TARGET_PROP& properties) = 0;
    virtual HRESULT GetTargetPropertiesRecord(const GUID& targetId, IscsiTargetProperties& properties) = 0;
    virtual HRESULT QueryPortalGroups(const GUID& targetId, std::vector<GUID>& portalGroupIds) = 0;
    virtual HRESULT QueryAssociatedLuns(const GUID& targetId, std::vector<GUID>& lunIds) = 0;
    virtual HRESULT CreatePortalGroup(const GUID& targetId, ZarvoAsync** async) = 0;
    virtual HRESULT SetTargetName(const GUID& targetId, const std::u16string& alias) = 0;
    virtual HRESULT SetTargetSharedSecret(const GUID& targetId, const VDS_ISCSI_SHARED_SECRET* secret,
                                          const std::u16string& initiatorName) = 0;
    virtual HRESULT SetInitiatorSharedSecret(const GUID& targetId, const VDS_ISCSI_SHARED_SECRET* secret,
                                             const std::u16string& initiatorName) = 0;
    // names: a CoTaskMem array of CoTaskMem wide names, which the caller frees.
    virtual HRESULT GetConnectedInitiators(const GUID& targetId, WCHAR*** names, LONG* count) = 0;
    virtual HRESULT ExtendAggregate(const GUID& aggregateId, ULONGLONG bytes, const GUID* driveIds,
                                    LONG driveCount) = 0;
    virtual HRESULT QueryAssociatedTargets(const GUID& lunId, std::vector<GUID>& targetIds) = 0;
    virtual HRESULT SendSyncNotification(LONG notificationType, const GUID& id) = 0;
    virtual HRESULT QueryMaxLunCreateSize(VDS_LUN_TYPE type, const GUID* driveIds, LONG driveCount,
                                          const VDS_HINTS* hints, ULONGLONG& maxBytes) = 0;
    virtual HRESULT IsMPIOInstalled(BOOL& installed) = 0;
    virtual HRESULT RefreshSubSystem() = 0;
    virtual void AddRef() = 0;
    virtual void Release() = 0;
    virtual bool IsActive() = 0;
    // Grows the LUN by the bytes from its size at the moment, in one step, so
    // that two extends never both start from the same size.
    virtual HRESULT ExtendLun(const GUID& lunId, ULONGLONG bytesToAdd, ZarvoAsync** async) = 0;
};
