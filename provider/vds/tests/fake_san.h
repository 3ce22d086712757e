#pragma once
// A San whose answers the tests set: every operation records its name, fails
// with the result set for it, and otherwise answers from the fake's fields.
#include <atomic>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include <hostlib/utilities.h>
#include <model/async.h>
#include <model/extent_record.h>
#include <model/properties.h>
#include <model/san.h>
#include <platform/comalloc.h>

class FakeSan : public San {
public:
    GUID id{};
    std::atomic<bool> active{true};
    std::atomic<int> usage{0};
    std::map<GUID, VDS_OBJECT_TYPE> objects;       // what IsValidObject accepts
    std::map<std::string, std::vector<GUID>> ids;  // answers of the query operations, by name
    std::map<std::string, HRESULT> failures;       // operation name -> result
    std::vector<ExtentRecord> extents;
    ULONGLONG maxCreateSize = 1ull << 40;
    ULONGLONG maxExtendSize = 1ull << 40;
    ULONGLONG driveSpace = 0;
    ULONGLONG lunSize = 1ull << 30;
    BOOL mpioInstalled = TRUE;
    ULONG lbPolicies = 1;
    VDS_LOADBALANCE_POLICY_ENUM lbPolicy = VDS_LBP_FAILOVER;
    GUID relatedId{};                             // the id GetDrive, GetLunFromPlex ... give
    HRESULT workResult = S_OK;                    // the result queued work completes with
    GUID workObjectId{};                          // the object id queued work reports
    std::u16string lastText;                      // the last name or list passed in
    ULONGLONG lastSize = 0;
    std::vector<VDS_PATH_POLICY> pathPoliciesSet;

    std::function<void()> onDelete;  // runs when the provider deletes the San
    ~FakeSan() override {
        if (onDelete) onDelete();
    }

    std::vector<std::string> Calls() {
        std::lock_guard lock(m_mutex);
        return m_calls;
    }
    bool Called(const std::string& name) {
        for (const auto& call : Calls())
            if (call == name) return true;
        return false;
    }

    void SetNotifier(Notifier*) override { Record("SetNotifier"); }
    GUID GetId() override { return id; }
    bool IsValidObject(VDS_OBJECT_TYPE type, const GUID& objectId) override {
        auto it = objects.find(objectId);
        return it != objects.end() && it->second == type;
    }
    HRESULT GetProperties(SubSystemProperties& properties) override {
        properties.m_prop.id = id;
        return Result("GetProperties");
    }
    HRESULT SetStatus(VDS_SUB_SYSTEM_STATUS) override { return Result("SetStatus"); }
    HRESULT QueryControllers(std::vector<GUID>& out) override { return Query("QueryControllers", out); }
    HRESULT QueryTargets(std::vector<GUID>& out) override { return Query("QueryTargets", out); }
    HRESULT QueryPortals(std::vector<GUID>& out) override { return Query("QueryPortals", out); }
    HRESULT AddPortal(const GUID&, const GUID&, ZarvoAsync** async) override { return Queue("AddPortal", async); }
    HRESULT RemovePortal(const GUID&, const GUID&, ZarvoAsync** async) override {
        return Queue("RemovePortal", async);
    }
    HRESULT QueryLuns(std::vector<GUID>& out) override { return Query("QueryLuns", out); }
    HRESULT QueryDrives(std::vector<GUID>& out) override { return Query("QueryDrives", out); }
    HRESULT QueryExtents(LONG, const GUID&, std::vector<ExtentRecord>& out) override {
        out = extents;
        return Result("QueryExtents");
    }
    HRESULT GetDrive(SHORT, SHORT, GUID& driveId) override {
        driveId = relatedId;
        return Result("GetDrive");
    }
    HRESULT ReplaceDrive() override { return Result("ReplaceDrive"); }
    HRESULT Reenumerate() override { return Result("Reenumerate"); }
    HRESULT CreateLun(VDS_LUN_TYPE, ULONGLONG size, const std::vector<GUID>& drives, const std::u16string& list,
                      const VDS_HINTS*, ZarvoAsync** async) override {
        lastSize = size;
        lastText = list;
        createDrives = drives;
        return Queue("CreateLun", async);
    }
    std::vector<GUID> createDrives;
    HRESULT QueryIfCreatedLun(const std::u16string&, const VDS_LUN_INFORMATION&, GUID& lunId) override {
        lunId = relatedId;
        return ResultOr("QueryIfCreatedLun", S_FALSE);
    }
    HRESULT SetName(const std::u16string& name) override {
        lastText = name;
        return Result("SetName");
    }
    HRESULT GetLunProperties(const GUID& lunId, LunProperties& properties) override {
        properties.m_prop.id = lunId;
        properties.m_prop.ullSize = lunSize;
        return Result("GetLunProperties");
    }
    HRESULT SetLunName(const GUID&, const std::u16string& name) override {
        lastText = name;
        return Result("SetLunName");
    }
    HRESULT QueryMaxLunExtendSize(const GUID&, const GUID*, LONG, ULONGLONG& maxBytes) override {
        maxBytes = maxExtendSize;
        return Result("QueryMaxLunExtendSize");
    }
    HRESULT SetLunStatus(const GUID&, VDS_LUN_STATUS) override { return Result("SetLunStatus"); }
    HRESULT GetLunIdentification(const GUID&, VDS_LUN_INFORMATION&) override { return Result("GetLunIdentification"); }
    HRESULT GetLunLoadBalancePolicy(const GUID&, VDS_LOADBALANCE_POLICY_ENUM& policy) override {
        policy = lbPolicy;
        return Result("GetLunLoadBalancePolicy");
    }
    HRESULT SetLunLoadBalancePolicy(const GUID&, VDS_LOADBALANCE_POLICY_ENUM policy) override {
        lbPolicy = policy;
        return Result("SetLunLoadBalancePolicy");
    }
    HRESULT GetPlexProperties(const GUID& plexId, VDS_LUN_PLEX_PROP& properties) override {
        properties.id = plexId;
        return Result("GetPlexProperties");
    }
    HRESULT GetDriveProperties(const GUID& driveId, DriveProperties& properties) override {
        properties.m_id = driveId;
        return Result("GetDriveProperties");
    }
    HRESULT SetDriveStatus(const GUID&, VDS_DRIVE_STATUS) override { return Result("SetDriveStatus"); }
    HRESULT DeleteLun(const GUID&, ZarvoAsync** async) override { return Queue("DeleteLun", async); }
    HRESULT SetLunUnmask(const GUID&, const std::u16string& list, ZarvoAsync** async) override {
        lastText = list;
        return Queue("SetLunUnmask", async);
    }
    HRESULT AddPlex(const GUID&, const GUID&, ZarvoAsync** async) override { return Queue("AddPlex", async); }
    HRESULT RemovePlex(const GUID&, const GUID&, ZarvoAsync** async) override { return Queue("RemovePlex", async); }
    HRESULT QueryPlexes(const GUID&, std::vector<GUID>& out) override { return Query("QueryPlexes", out); }
    HRESULT GetLunFromPlex(const GUID&, GUID& lunId) override {
        lunId = relatedId;
        return Result("GetLunFromPlex");
    }
    HRESULT AssociateControllerPorts(const GUID&, const std::vector<GUID>&, const std::vector<GUID>&) override {
        return Result("AssociateControllerPorts");
    }
    HRESULT QueryActiveControllerPorts(const GUID&, std::vector<GUID>& out) override {
        return Query("QueryActiveControllerPorts", out);
    }
    HRESULT AssociateTargets(const GUID&, LONG, const GUID*) override { return Result("AssociateTargets"); }
    HRESULT QueryActiveLuns(const GUID&, std::vector<GUID>& out) override { return Query("QueryActiveLuns", out); }
    HRESULT SetControllerStatus(const std::vector<GUID>&, const std::vector<GUID>&) override {
        return Result("SetControllerStatus");
    }
    HRESULT SetControllerStatus(const GUID&, VDS_CONTROLLER_STATUS) override { return Result("SetControllerStatus"); }
    HRESULT GetControllerProperties(const GUID& controllerId, VDS_CONTROLLER_PROP& properties) override {
        properties.id = controllerId;
        properties.pwszFriendlyName = CoTaskMemStrDup(u"adapter 0a");
        properties.pwszIdentification = CoTaskMemStrDup(u"adapter 0a");
        return Result("GetControllerProperties");
    }
    HRESULT ResetController(const GUID&) override { return Result("ResetController"); }
    HRESULT GetPortProperties(const GUID& portId, VDS_PORT_PROP& properties) override {
        properties.id = portId;
        properties.pwszFriendlyName = CoTaskMemStrDup(u"adapter 0a");
        properties.pwszIdentification = CoTaskMemStrDup(u"adapter 0a");
        return Result("GetPortProperties");
    }
    HRESULT SetPortStatus(const GUID&, VDS_PORT_STATUS) override { return Result("SetPortStatus"); }
    HRESULT QueryAssociatedPorts(const GUID&, std::vector<GUID>& out) override {
        return Query("QueryAssociatedPorts", out);
    }
    HRESULT QueryAssociatedController(const GUID&, GUID& controllerId) override {
        controllerId = relatedId;
        return Result("QueryAssociatedController");
    }
    HRESULT GetDiskSignature(const GUID&, GUID&) override { return Result("GetDiskSignature"); }
    HRESULT SetSize(const GUID&, ULONGLONG size, ZarvoAsync** async) override {
        lastSize = size;
        return Queue("SetSize", async);
    }
    HRESULT GetDriveSpace(const GUID&, ULONGLONG& freeBytes) override {
        freeBytes = driveSpace;
        return Result("GetDriveSpace");
    }
    HRESULT GetPathInfo(const GUID& portId, ULONG pathNumber, VDS_PATH_INFO& info) override {
        info.controllerPortId = portId;
        info.pathId.ullPathId = pathNumber;
        return Result("GetPathInfo");
    }
    HRESULT GetPathPolicy(const GUID&, ULONG pathNumber, VDS_PATH_POLICY& policy) override {
        policy.pathId.ullPathId = pathNumber;
        return Result("GetPathPolicy");
    }
    HRESULT SetPathPolicy(const GUID&, VDS_PATH_POLICY policy) override {
        pathPoliciesSet.push_back(policy);
        return Result("SetPathPolicy");
    }
    ULONG GetSupportedLbPolicies() override { return lbPolicies; }
    HRESULT SetAllPathStatusesFromHbaPort(VDS_HBAPORT_PROP, VDS_PATH_STATUS) override {
        return Result("SetAllPathStatusesFromHbaPort");
    }
    HRESULT GetPortalProperties(const GUID& portalId, VDS_ISCSI_PORTAL_PROP& properties) override {
        properties.id = portalId;
        return Result("GetPortalProperties");
    }
    HRESULT QueryAssociatedPortalGroups(const GUID&, std::vector<GUID>& out) override {
        return Query("QueryAssociatedPortalGroups", out);
    }
    HRESULT GetPortalIpsecSecurity(const GUID&, ULONGLONG, ULONGLONG) override {
        return Result("GetPortalIpsecSecurity");
    }
    HRESULT GetPortalGroupProperties(const GUID& groupId, VDS_ISCSI_PORTALGROUP_PROP& properties) override {
        properties.id = groupId;
        return Result("GetPortalGroupProperties");
    }
    HRESULT QueryAssociatedPortals(const GUID&, std::vector<GUID>& out) override {
        return Query("QueryAssociatedPortals", out);
    }
    HRESULT GetTargetFromPortalGroup(const GUID&, GUID& targetId) override {
        targetId = relatedId;
        return Result("GetTargetFromPortalGroup");
    }
    HRESULT GetTargetProperties(const GUID& targetId, VDS_ISCSI_TARGET_PROP& properties) override {
        properties.id = targetId;
        return Result("GetTargetProperties");
    }
    HRESULT GetTargetPropertiesRecord(const GUID&, IscsiTargetProperties&) override {
        return Result("GetTargetPropertiesRecord");
    }
    HRESULT QueryPortalGroups(const GUID&, std::vector<GUID>& out) override { return Query("QueryPortalGroups", out); }
    HRESULT QueryAssociatedLuns(const GUID&, std::vector<GUID>& out) override {
        return Query("QueryAssociatedLuns", out);
    }
    HRESULT CreatePortalGroup(const GUID&, ZarvoAsync** async) override { return Queue("CreatePortalGroup", async); }
    HRESULT SetTargetName(const GUID&, const std::u16string& alias) override {
        lastText = alias;
        return Result("SetTargetName");
    }
    HRESULT SetTargetSharedSecret(const GUID&, const VDS_ISCSI_SHARED_SECRET* secret,
                                  const std::u16string& initiatorName) override {
        lastSecret = secret;
        lastText = initiatorName;
        return Result("SetTargetSharedSecret");
    }
    const VDS_ISCSI_SHARED_SECRET* lastSecret = nullptr;
    HRESULT SetInitiatorSharedSecret(const GUID&, const VDS_ISCSI_SHARED_SECRET*, const std::u16string&) override {
        return Result("SetInitiatorSharedSecret");
    }
    HRESULT GetConnectedInitiators(const GUID&, WCHAR*** names, LONG* count) override {
        const auto& list = initiators;
        *count = static_cast<LONG>(list.size());
        if (!list.empty()) {
            *names = static_cast<WCHAR**>(CoTaskMemAlloc(list.size() * sizeof(WCHAR*)));
            for (size_t i = 0; i < list.size(); ++i) (*names)[i] = CoTaskMemStrDup(list[i].c_str());
        }
        return Result("GetConnectedInitiators");
    }
    std::vector<std::u16string> initiators;
    HRESULT ExtendAggregate(const GUID&, ULONGLONG, const GUID*, LONG) override { return Result("ExtendAggregate"); }
    HRESULT QueryAssociatedTargets(const GUID&, std::vector<GUID>& out) override {
        return Query("QueryAssociatedTargets", out);
    }
    HRESULT SendSyncNotification(LONG, const GUID&) override { return Result("SendSyncNotification"); }
    HRESULT QueryMaxLunCreateSize(VDS_LUN_TYPE, const GUID*, LONG, const VDS_HINTS*, ULONGLONG& maxBytes) override {
        maxBytes = maxCreateSize;
        return Result("QueryMaxLunCreateSize");
    }
    HRESULT IsMPIOInstalled(BOOL& installed) override {
        installed = mpioInstalled;
        return Result("IsMPIOInstalled");
    }
    HRESULT RefreshSubSystem() override { return Result("RefreshSubSystem"); }
    void AddRef() override { ++usage; }
    void Release() override { --usage; }
    bool IsActive() override { return active; }
    HRESULT ExtendLun(const GUID&, ULONGLONG bytes, ZarvoAsync** async) override {
        lastSize = bytes;
        return Queue("ExtendLun", async);
    }

private:
    void Record(const char* name) {
        std::lock_guard lock(m_mutex);
        m_calls.push_back(name);
    }
    HRESULT ResultOr(const char* name, HRESULT fallback) {
        Record(name);
        auto it = failures.find(name);
        return it == failures.end() ? fallback : it->second;
    }
    HRESULT Result(const char* name) { return ResultOr(name, S_OK); }
    HRESULT Query(const char* name, std::vector<GUID>& out) {
        out = ids[name];
        return Result(name);
    }
    // Queued work that is already done when the call returns: the async holds
    // the work's result and object id.
    HRESULT Queue(const char* name, ZarvoAsync** async) {
        const HRESULT hr = Result(name);
        if (FAILED(hr)) return hr;
        auto* completion = new ZarvoAsync();
        completion->SetResult(workResult);
        completion->SetId(workObjectId);
        completion->WakeUp();
        *async = completion;
        return hr;
    }

    std::mutex m_mutex;
    std::vector<std::string> m_calls;
};
