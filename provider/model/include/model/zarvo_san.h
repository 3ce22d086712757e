#pragma once
// ZarvoSan: the one San of a configured appliance. It serialises every
// operation on its subsystem with one re-entrant lock and forwards it to the
// current object container; it keeps what belongs to the subsystem as a whole:
// the usage count, the active flag, the map that gives every model object a
// stable id, the notifier, the logon data, the two containers, the work queue
// and the appliance thread.
#include <atomic>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include <filer/filer_version.h>
#include <hostlib/general_thread.h>
#include <model/filer_control.h>
#include <model/filer_record.h>
#include <model/notification.h>
#include <model/san.h>
#include <model/work_queue.h>

#include <platform/critical_section.h>

class FilerObjectContainer;

// The work queue runs each item through the San that owns it.
class ZarvoSan : public San, public WorkOwner {
public:
    ZarvoSan();
    ~ZarvoSan() override;
    ZarvoSan(const ZarvoSan&) = delete;
    ZarvoSan& operator=(const ZarvoSan&) = delete;

    // Life of the subsystem: construction, first read, deactivation.
    HRESULT Initialize(const CFilerRecord& record, LONG providerType, bool firstEnumerationDone);
    HRESULT SetSANInactive();
    static unsigned FilerThreadEntry(void* san);
    unsigned FilerThreadWork();

    // True when the San is inactive and no COM object holds it.
    bool IsUnused();
    void GetLogonData(CFilerRecord& record);
    // A new set from the notifier, owned by the caller; null without a notifier.
    NotificationSet* NewNotificationSet();
    // Sends every entry of the list in one set; entries of code 0 are skipped.
    HRESULT SendSyncNotification(const std::vector<NotificationEntry>& notifications);

    // The object-id map: a narrow text key per model object.
    // True when the key already had an id.
    bool CheckCreateGuid(const std::string& key, GUID& id);
    HRESULT ReplaceGuidKey(const std::string& oldKey, const std::string& newKey, GUID& id);
    void RemoveGuidByKey(const std::string& key);

    // The work queue.
    HRESULT QueueWork(LONG workType, LONG value, ZarvoWork* work, Async* async, const GUID& id);
    HRESULT QueueWork(LONG workType, LONG value, ZarvoWork* work, Async* async);
    HRESULT DoWork(WorkItem& item) override;

    // What the containers, the work queue and the model objects read of the subsystem.
    LONG GetDelay() const { return m_iDelay; }
    void SetDelay(LONG delay) { m_iDelay = delay; }
    LONG GetProviderType() const { return m_iProviderType; }
    // Set by Initialize from the appliance; tests that build a subsystem by hand set them here.
    void SetProviderType(LONG providerType) { m_iProviderType = providerType; }
    void SetVersion(const filer_version& version) { m_version = version; }
    const filer_version& GetVersion() const { return m_version; }
    CRITICAL_SECTION* GetLock() { return &m_lock; }
    ZarvoWorkerThread* GetWorkerThread() { return m_pWorkerThread; }
    FilerObjectContainer* GetContainer() { return m_pContainer; }
    LONG GetUsageCount() const { return m_iUsageCount; }

    // San
    void SetNotifier(Notifier* notifier) override;
    GUID GetId() override;
    bool IsValidObject(VDS_OBJECT_TYPE type, const GUID& id) override;
    HRESULT GetProperties(SubSystemProperties& properties) override;
    HRESULT SetStatus(VDS_SUB_SYSTEM_STATUS status) override;
    HRESULT QueryControllers(std::vector<GUID>& controllerIds) override;
    HRESULT QueryTargets(std::vector<GUID>& targetIds) override;
    HRESULT QueryPortals(std::vector<GUID>& portalIds) override;
    HRESULT AddPortal(const GUID& portalId, const GUID& portalGroupId, ZarvoAsync** async) override;
    HRESULT RemovePortal(const GUID& portalId, const GUID& portalGroupId, ZarvoAsync** async) override;
    HRESULT QueryLuns(std::vector<GUID>& lunIds) override;
    HRESULT QueryDrives(std::vector<GUID>& driveIds) override;
    HRESULT QueryExtents(LONG selector, const GUID& id, std::vector<ExtentRecord>& extents) override;
    HRESULT GetDrive(SHORT busNumber, SHORT slotNumber, GUID& driveId) override;
    HRESULT ReplaceDrive() override;
    HRESULT Reenumerate() override;
    HRESULT CreateLun(VDS_LUN_TYPE type, ULONGLONG sizeInBytes, const std::vector<GUID>& driveIds,
                      const std::u16string& unmaskingList, const VDS_HINTS* hints, ZarvoAsync** async) override;
    HRESULT QueryIfCreatedLun(const std::u16string& devicePath, const VDS_LUN_INFORMATION& information,
                              GUID& lunId) override;
    HRESULT SetName(const std::u16string& friendlyName) override;
    HRESULT GetLunProperties(const GUID& lunId, LunProperties& properties) override;
    HRESULT SetLunName(const GUID& lunId, const std::u16string& name) override;
    HRESULT QueryMaxLunExtendSize(const GUID& lunId, const GUID* driveIds, LONG driveCount,
                                  ULONGLONG& maxBytes) override;
    HRESULT SetLunStatus(const GUID& lunId, VDS_LUN_STATUS status) override;
    HRESULT GetLunIdentification(const GUID& lunId, VDS_LUN_INFORMATION& information) override;
    HRESULT GetLunLoadBalancePolicy(const GUID& lunId, VDS_LOADBALANCE_POLICY_ENUM& policy) override;
    HRESULT SetLunLoadBalancePolicy(const GUID& lunId, VDS_LOADBALANCE_POLICY_ENUM policy) override;
    HRESULT GetPlexProperties(const GUID& plexId, VDS_LUN_PLEX_PROP& properties) override;
    HRESULT GetDriveProperties(const GUID& driveId, DriveProperties& properties) override;
    HRESULT SetDriveStatus(const GUID& driveId, VDS_DRIVE_STATUS status) override;
    HRESULT DeleteLun(const GUID& lunId, ZarvoAsync** async) override;
    HRESULT SetLunUnmask(const GUID& lunId, const std::u16string& unmaskingList, ZarvoAsync** async) override;
    HRESULT AddPlex(const GUID& lunId, const GUID& sourceLunId, ZarvoAsync** async) override;
    HRESULT RemovePlex(const GUID& lunId, const GUID& plexId, ZarvoAsync** async) override;
    HRESULT QueryPlexes(const GUID& lunId, std::vector<GUID>& plexIds) override;
    HRESULT GetLunFromPlex(const GUID& plexId, GUID& lunId) override;
    HRESULT AssociateControllerPorts(const GUID& lunId, const std::vector<GUID>& activePortIds,
                                     const std::vector<GUID>& inactivePortIds) override;
    HRESULT QueryActiveControllerPorts(const GUID& lunId, std::vector<GUID>& portIds) override;
    HRESULT AssociateTargets(const GUID& lunId, LONG count, const GUID* targetIds) override;
    HRESULT QueryActiveLuns(const GUID& portId, std::vector<GUID>& lunIds) override;
    HRESULT SetControllerStatus(const std::vector<GUID>& onlineControllerIds,
                                const std::vector<GUID>& offlineControllerIds) override;
    HRESULT SetControllerStatus(const GUID& controllerId, VDS_CONTROLLER_STATUS status) override;
    HRESULT GetControllerProperties(const GUID& controllerId, VDS_CONTROLLER_PROP& properties) override;
    HRESULT ResetController(const GUID& controllerId) override;
    HRESULT GetPortProperties(const GUID& portId, VDS_PORT_PROP& properties) override;
    HRESULT SetPortStatus(const GUID& portId, VDS_PORT_STATUS status) override;
    HRESULT QueryAssociatedPorts(const GUID& controllerId, std::vector<GUID>& portIds) override;
    HRESULT QueryAssociatedController(const GUID& portId, GUID& controllerId) override;
    HRESULT GetDiskSignature(const GUID& lunId, GUID& signature) override;
    HRESULT SetSize(const GUID& lunId, ULONGLONG newSizeInBytes, ZarvoAsync** async) override;
    HRESULT GetDriveSpace(const GUID& driveId, ULONGLONG& freeBytes) override;
    HRESULT GetPathInfo(const GUID& portId, ULONG pathNumber, VDS_PATH_INFO& pathInfo) override;
    HRESULT GetPathPolicy(const GUID& portId, ULONG pathNumber, VDS_PATH_POLICY& pathPolicy) override;
    HRESULT SetPathPolicy(const GUID& portId, VDS_PATH_POLICY pathPolicy) override;
    ULONG GetSupportedLbPolicies() override;
    HRESULT SetAllPathStatusesFromHbaPort(VDS_HBAPORT_PROP hbaPort, VDS_PATH_STATUS status) override;
    HRESULT GetPortalProperties(const GUID& portalId, VDS_ISCSI_PORTAL_PROP& properties) override;
    HRESULT QueryAssociatedPortalGroups(const GUID& portalId, std::vector<GUID>& portalGroupIds) override;
    HRESULT GetPortalIpsecSecurity(const GUID& portalId, ULONGLONG securityFlags, ULONGLONG securityMask) override;
    HRESULT GetPortalGroupProperties(const GUID& portalGroupId, VDS_ISCSI_PORTALGROUP_PROP& properties) override;
    HRESULT QueryAssociatedPortals(const GUID& portalGroupId, std::vector<GUID>& portalIds) override;
    HRESULT GetTargetFromPortalGroup(const GUID& portalGroupId, GUID& targetId) override;
    HRESULT GetTargetProperties(const GUID& targetId, VDS_ISCSI_TARGET_PROP& properties) override;
    HRESULT GetTargetPropertiesRecord(const GUID& targetId, IscsiTargetProperties& properties) override;
    HRESULT QueryPortalGroups(const GUID& targetId, std::vector<GUID>& portalGroupIds) override;
    HRESULT QueryAssociatedLuns(const GUID& targetId, std::vector<GUID>& lunIds) override;
    HRESULT CreatePortalGroup(const GUID& targetId, ZarvoAsync** async) override;
    HRESULT SetTargetName(const GUID& targetId, const std::u16string& alias) override;
    HRESULT SetTargetSharedSecret(const GUID& targetId, const VDS_ISCSI_SHARED_SECRET* secret,
                                  const std::u16string& initiatorName) override;
    HRESULT SetInitiatorSharedSecret(const GUID& targetId, const VDS_ISCSI_SHARED_SECRET* secret,
                                     const std::u16string& initiatorName) override;
    HRESULT GetConnectedInitiators(const GUID& targetId, WCHAR*** names, LONG* count) override;
    HRESULT ExtendAggregate(const GUID& aggregateId, ULONGLONG bytes, const GUID* driveIds, LONG driveCount) override;
    HRESULT QueryAssociatedTargets(const GUID& lunId, std::vector<GUID>& targetIds) override;
    HRESULT SendSyncNotification(LONG notificationType, const GUID& id) override;
    HRESULT QueryMaxLunCreateSize(VDS_LUN_TYPE type, const GUID* driveIds, LONG driveCount, const VDS_HINTS* hints,
                                  ULONGLONG& maxBytes) override;
    HRESULT IsMPIOInstalled(BOOL& installed) override;
    HRESULT RefreshSubSystem() override;
    void AddRef() override;
    void Release() override;
    bool IsActive() override;
    HRESULT ExtendLun(const GUID& lunId, ULONGLONG bytesToAdd, ZarvoAsync** async) override;

private:
    // Clears the calling thread's error information at the start of an operation.
    static void BeginOperation();
    // The subsystem id, read under the San lock.
    GUID CurrentId();
    // Takes the San lock around one call of the current container; the
    // traced form writes "entering" before the lock and "leaving" after it.
    template <typename Operation>
    auto Forward(Operation&& operation);
    template <typename Operation>
    auto ForwardTraced(const char* qualifiedName, Operation&& operation);

    ZarvoWorkerThread* m_pWorkerThread = nullptr;
    CRITICAL_SECTION m_lock;
    LONG m_iDelay = 0;
    Notifier* m_pNotifier = nullptr;
    CFilerRecord m_logonData;
    std::atomic<LONG> m_iUsageCount{0};
    std::atomic<bool> m_bActive{true};
    LONG m_iProviderType = 0;
    CGeneralThread m_filerThread;
    std::u16string m_filerName;
    std::u16string m_userName;
    std::u16string m_password;
    CFilerControl m_filerControl;
    filer_version m_version;
    FilerSystemInfo m_systemInfo;
    std::unordered_map<std::string, GUID> m_guidMap;  // object-id keys: looked up per object of every reading
    FilerObjectContainer* m_pContainer = nullptr;
    FilerObjectContainer* m_pSpareContainer = nullptr;
};
