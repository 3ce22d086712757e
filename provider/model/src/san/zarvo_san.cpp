// ZarvoSan: lock and forward to the current container; the object-id map,
// usage count, renames and synchronous notifications.
#include <model/zarvo_san.h>

#include <hostlib/autolock.h>
#include <hostlib/conversions.h>
#include <hostlib/trace.h>
#include <model/filer_object_container.h>
#include <model/iscsi_target.h>

#include <platform/com.h>
#include <platform/debug.h>
#include <platform/errorinfo.h>
#include <platform/errors.h>

#include <memory>

namespace {

constexpr LONG kLunModifyType = 11;
constexpr LONG kTargetModifyType = 19;

// The object's strings become the caller's own copies.
WCHAR* Copy(const WCHAR* text) { return text ? CoTaskMemWString(text) : nullptr; }

template <typename Properties>
void CopyStrings(Properties& properties) {
    properties.pwszFriendlyName = Copy(properties.pwszFriendlyName);
    properties.pwszIdentification = Copy(properties.pwszIdentification);
}

}  // namespace

// A failure names its own request: what an earlier operation of this thread
// left in its error information must not stand for it.
void ZarvoSan::BeginOperation() { SetErrorInfo(0, nullptr); }

template <typename Operation>
auto ZarvoSan::Forward(Operation&& operation) {
    AutoLock lock(&m_lock);
    BeginOperation();
    return operation(*m_pContainer);
}

template <typename Operation>
auto ZarvoSan::ForwardTraced(const char* qualifiedName, Operation&& operation) {
    TraceScope scope(qualifiedName);
    return Forward(std::forward<Operation>(operation));
}

// Ids are copied into the lambdas before the lock is taken: the container
// must not see a caller's id change under it.

void ZarvoSan::SetNotifier(Notifier* notifier) {
    AutoLock lock(&m_lock);
    m_pNotifier = notifier;
}

GUID ZarvoSan::GetId() { return m_pContainer->GetID(); }

bool ZarvoSan::IsValidObject(VDS_OBJECT_TYPE type, const GUID& id) {
    AutoLock lock(&m_lock);
    TraceScope scope("ZarvoSan::IsValidObject");
    return m_pContainer->IsValidObject(type, GUID(id));
}

HRESULT ZarvoSan::GetProperties(SubSystemProperties& properties) {
    return ForwardTraced("ZarvoSan::GetProperties",
                         [&](FilerObjectContainer& c) { return c.GetProperties(properties); });
}

HRESULT ZarvoSan::SetStatus(VDS_SUB_SYSTEM_STATUS status) {
    return ForwardTraced("ZarvoSan::SetStatus", [&](FilerObjectContainer& c) { return c.SetStatus(status); });
}

HRESULT ZarvoSan::QueryControllers(std::vector<GUID>& controllerIds) {
    return ForwardTraced("ZarvoSan::QueryControllers",
                         [&](FilerObjectContainer& c) { return c.QueryControllers(controllerIds); });
}

HRESULT ZarvoSan::QueryTargets(std::vector<GUID>& targetIds) {
    return Forward([&](FilerObjectContainer& c) { return c.QueryTargets(targetIds); });
}

HRESULT ZarvoSan::QueryPortals(std::vector<GUID>& portalIds) {
    TraceScope scope("ZarvoSan::QueryPortals");
    try {
        return Forward([&](FilerObjectContainer& c) { return c.QueryPortals(portalIds); });
    } catch (...) {
        trace_printf("ZarvoSan::QueryPortals(): %s", "caught exception");
        return E_FAIL;
    }
}

HRESULT ZarvoSan::AddPortal(const GUID& portalId, const GUID& portalGroupId, ZarvoAsync** async) {
    TraceScope scope("ZarvoSan::AddPortal");
    const HRESULT hr = Forward([portal = portalId, group = portalGroupId, async](FilerObjectContainer& c) {
        return c.AddPortal(portal, group, async);
    });
    trace_printf("ZarvoSan::AddPortal(): returning %08lX", trace_code(hr));
    return hr;
}

HRESULT ZarvoSan::RemovePortal(const GUID& portalId, const GUID& portalGroupId, ZarvoAsync** async) {
    TraceScope scope("ZarvoSan::RemovePortal");
    const HRESULT hr = Forward([portal = portalId, group = portalGroupId, async](FilerObjectContainer& c) {
        return c.RemovePortal(portal, group, async);
    });
    trace_printf("ZarvoSan::RemovePortal(): returning %08lX", trace_code(hr));
    return hr;
}

HRESULT ZarvoSan::QueryLuns(std::vector<GUID>& lunIds) {
    return ForwardTraced("ZarvoSan::QueryLuns", [&](FilerObjectContainer& c) { return c.QueryLuns(lunIds); });
}

HRESULT ZarvoSan::QueryDrives(std::vector<GUID>& driveIds) {
    return ForwardTraced("ZarvoSan::QueryDrives", [&](FilerObjectContainer& c) { return c.QueryDrives(driveIds); });
}

HRESULT ZarvoSan::QueryExtents(LONG selector, const GUID& id, std::vector<ExtentRecord>& extents) {
    return ForwardTraced("ZarvoSan::QueryExtents", [&, object = id](FilerObjectContainer& c) {
        return c.QueryExtents(selector, object, extents);
    });
}

HRESULT ZarvoSan::GetDrive(SHORT busNumber, SHORT slotNumber, GUID& driveId) {
    return ForwardTraced("ZarvoSan::GetDrive",
                         [&](FilerObjectContainer& c) { return c.GetDrive(busNumber, slotNumber, driveId); });
}

HRESULT ZarvoSan::ReplaceDrive() {
    TraceScope scope("ZarvoSan::ReplaceDrive");
    AutoLock lock(&m_lock);
    BeginOperation();
    return S_OK;
}

HRESULT ZarvoSan::Reenumerate() {
    TraceScope scope("ZarvoSan::Reenumerate");
    AutoLock lock(&m_lock);
    BeginOperation();
    bool changed = false;
    const HRESULT hr = m_pContainer->ValidateDrives(changed);
    if (!changed && SUCCEEDED(hr)) return hr;
    trace_printf(
        "Number of drives have been changed or failed to get drives details. Invoking a full refresh");
    // The refresh lets the lock go while it waits for queued work; it must
    // not find this call still holding it.
    lock.Unlock();
    return RefreshSubSystem();
}

HRESULT ZarvoSan::CreateLun(VDS_LUN_TYPE type, ULONGLONG sizeInBytes, const std::vector<GUID>& driveIds,
                            const std::u16string& unmaskingList, const VDS_HINTS* hints, ZarvoAsync** async) {
    return ForwardTraced("ZarvoSan::CreateLun", [&](FilerObjectContainer& c) {
        return c.CreateLun(type, sizeInBytes, driveIds, unmaskingList, hints, async);
    });
}

HRESULT ZarvoSan::QueryIfCreatedLun(const std::u16string& devicePath, const VDS_LUN_INFORMATION& information,
                                    GUID& lunId) {
    return ForwardTraced("ZarvoSan::QueryIfCreatedLun", [&](FilerObjectContainer& c) {
        return c.QueryIfCreatedLun(devicePath, information, lunId);
    });
}

HRESULT ZarvoSan::SetName(const std::u16string& friendlyName) {
    TraceScope scope("ZarvoSan::SetName");
    AutoLock lock(&m_lock);
    BeginOperation();
    SubSystemProperties before;
    m_pContainer->GetProperties(before);
    const HRESULT hr = m_pContainer->SetName(friendlyName);
    if (FAILED(hr)) return hr;
    if (before.m_strFriendlyName != friendlyName)
        SendSyncNotification(m_pContainer->GetModifyType(), m_pContainer->GetID());
    return hr;
}

HRESULT ZarvoSan::GetLunProperties(const GUID& lunId, LunProperties& properties) {
    return ForwardTraced("ZarvoSan::GetLunProperties", [&, lun = lunId](FilerObjectContainer& c) {
        return c.GetLunProperties(lun, properties);
    });
}

HRESULT ZarvoSan::SetLunName(const GUID& lunId, const std::u16string& name) {
    TraceScope scope("ZarvoSan::SetLunName");
    AutoLock lock(&m_lock);
    BeginOperation();
    const GUID lun = lunId;
    LunProperties before;
    HRESULT hr = m_pContainer->GetLunProperties(lun, before);
    if (FAILED(hr)) return hr;
    hr = m_pContainer->SetLunName(lun, name);
    if (FAILED(hr)) return hr;
    // Only a name that changed is announced; the LUN keeps its id across a rename.
    LunProperties after;
    if (SUCCEEDED(m_pContainer->GetLunProperties(lun, after)) && after.m_strFriendlyName != before.m_strFriendlyName)
        SendSyncNotification(kLunModifyType, lun);
    return hr;
}

HRESULT ZarvoSan::QueryMaxLunExtendSize(const GUID& lunId, const GUID* driveIds, LONG driveCount,
                                        ULONGLONG& maxBytes) {
    return ForwardTraced("ZarvoSan::QueryMaxLunExtendSize", [&, lun = lunId](FilerObjectContainer& c) {
        return c.QueryMaxLunExtendSize(lun, driveIds, driveCount, maxBytes);
    });
}

HRESULT ZarvoSan::SetLunStatus(const GUID& lunId, VDS_LUN_STATUS status) {
    return ForwardTraced("ZarvoSan::SetLunStatus",
                         [&, lun = lunId](FilerObjectContainer& c) { return c.SetLunStatus(lun, status); });
}

HRESULT ZarvoSan::GetLunIdentification(const GUID& lunId, VDS_LUN_INFORMATION& information) {
    return ForwardTraced("ZarvoSan::GetLunIdentification", [&, lun = lunId](FilerObjectContainer& c) {
        return c.GetLunIdentification(lun, information);
    });
}

HRESULT ZarvoSan::GetLunLoadBalancePolicy(const GUID& lunId, VDS_LOADBALANCE_POLICY_ENUM& policy) {
    return ForwardTraced("ZarvoSan::GetLunLoadBalancePolicy", [&, lun = lunId](FilerObjectContainer& c) {
        return c.GetLunLoadBalancePolicy(lun, policy);
    });
}

HRESULT ZarvoSan::SetLunLoadBalancePolicy(const GUID& lunId, VDS_LOADBALANCE_POLICY_ENUM policy) {
    return ForwardTraced("ZarvoSan::SetLunLoadBalancePolicy", [&, lun = lunId](FilerObjectContainer& c) {
        return c.SetLunLoadBalancePolicy(lun, policy);
    });
}

HRESULT ZarvoSan::GetPlexProperties(const GUID& plexId, VDS_LUN_PLEX_PROP& properties) {
    return ForwardTraced("ZarvoSan::GetPlexProperties", [&, plex = plexId](FilerObjectContainer& c) {
        return c.GetPlexProperties(plex, properties);
    });
}

HRESULT ZarvoSan::GetDriveProperties(const GUID& driveId, DriveProperties& properties) {
    return ForwardTraced("ZarvoSan::GetDriveProperties", [&, drive = driveId](FilerObjectContainer& c) {
        return c.GetDriveProperties(drive, properties);
    });
}

HRESULT ZarvoSan::SetDriveStatus(const GUID& driveId, VDS_DRIVE_STATUS status) {
    return ForwardTraced("ZarvoSan::SetDriveStatus",
                         [&, drive = driveId](FilerObjectContainer& c) { return c.SetDriveStatus(drive, status); });
}

HRESULT ZarvoSan::DeleteLun(const GUID& lunId, ZarvoAsync** async) {
    return ForwardTraced("ZarvoSan::DeleteLun",
                         [&, lun = lunId](FilerObjectContainer& c) { return c.DeleteLun(lun, async); });
}

HRESULT ZarvoSan::SetLunUnmask(const GUID& lunId, const std::u16string& unmaskingList, ZarvoAsync** async) {
    return ForwardTraced("ZarvoSan::SetLunUnmask", [&, lun = lunId](FilerObjectContainer& c) {
        return c.SetLunUnmask(lun, unmaskingList, async);
    });
}

HRESULT ZarvoSan::AddPlex(const GUID& lunId, const GUID& sourceLunId, ZarvoAsync** async) {
    return ForwardTraced("ZarvoSan::AddPlex", [&, lun = lunId, source = sourceLunId](FilerObjectContainer& c) {
        return c.AddPlex(lun, source, async);
    });
}

HRESULT ZarvoSan::RemovePlex(const GUID& lunId, const GUID& plexId, ZarvoAsync** async) {
    return ForwardTraced("ZarvoSan::RemovePlex", [&, lun = lunId, plex = plexId](FilerObjectContainer& c) {
        return c.RemovePlex(lun, plex, async);
    });
}

HRESULT ZarvoSan::QueryPlexes(const GUID& lunId, std::vector<GUID>& plexIds) {
    return ForwardTraced("ZarvoSan::QueryPlexes",
                         [&, lun = lunId](FilerObjectContainer& c) { return c.QueryPlexes(lun, plexIds); });
}

HRESULT ZarvoSan::GetLunFromPlex(const GUID& plexId, GUID& lunId) {
    return ForwardTraced("ZarvoSan::GetLunFromPlex",
                         [&, plex = plexId](FilerObjectContainer& c) { return c.GetLunFromPlex(plex, lunId); });
}

HRESULT ZarvoSan::AssociateControllerPorts(const GUID& lunId, const std::vector<GUID>& activePortIds,
                                           const std::vector<GUID>& inactivePortIds) {
    return ForwardTraced("ZarvoSan::AssociateControllerPorts", [&, lun = lunId](FilerObjectContainer& c) {
        return c.AssociateControllerPorts(lun, activePortIds, inactivePortIds);
    });
}

HRESULT ZarvoSan::QueryActiveControllerPorts(const GUID& lunId, std::vector<GUID>& portIds) {
    return ForwardTraced("ZarvoSan::QueryActiveControllerPorts", [&, lun = lunId](FilerObjectContainer& c) {
        return c.QueryActiveControllerPorts(lun, portIds);
    });
}

HRESULT ZarvoSan::AssociateTargets(const GUID& lunId, LONG count, const GUID* targetIds) {
    TraceScope scope("ZarvoSan::AssociateTargets");
    const HRESULT hr = Forward(
        [&, lun = lunId](FilerObjectContainer& c) { return c.AssociateTargets(lun, count, targetIds); });
    trace_printf("ZarvoSan::AssociateTargets(): returning %08lX", trace_code(hr));
    return hr;
}

HRESULT ZarvoSan::QueryActiveLuns(const GUID& portId, std::vector<GUID>& lunIds) {
    return ForwardTraced("ZarvoSan::QueryActiveLuns",
                         [&, port = portId](FilerObjectContainer& c) { return c.QueryActiveLuns(port, lunIds); });
}

HRESULT ZarvoSan::SetControllerStatus(const std::vector<GUID>& onlineControllerIds,
                                      const std::vector<GUID>& offlineControllerIds) {
    return ForwardTraced("ZarvoSan::SetControllerStatus", [&](FilerObjectContainer& c) {
        return c.SetControllerStatus(onlineControllerIds, offlineControllerIds);
    });
}

HRESULT ZarvoSan::SetControllerStatus(const GUID& controllerId, VDS_CONTROLLER_STATUS status) {
    return ForwardTraced("ZarvoSan::SetControllerStatus", [&, controller = controllerId](FilerObjectContainer& c) {
        return c.SetControllerStatus(controller, status);
    });
}

HRESULT ZarvoSan::GetControllerProperties(const GUID& controllerId, VDS_CONTROLLER_PROP& properties) {
    return ForwardTraced("ZarvoSan::GetControllerProperties", [&, controller = controllerId](FilerObjectContainer& c) {
        const HRESULT hr = c.GetControllerProperties(controller, properties);
        if (SUCCEEDED(hr)) CopyStrings(properties);
        return hr;
    });
}

HRESULT ZarvoSan::ResetController(const GUID& controllerId) {
    return ForwardTraced("ZarvoSan::ResetController",
                         [controller = controllerId](FilerObjectContainer& c) { return c.ResetController(controller); });
}

HRESULT ZarvoSan::GetPortProperties(const GUID& portId, VDS_PORT_PROP& properties) {
    return ForwardTraced("ZarvoSan::GetPortProperties", [&, port = portId](FilerObjectContainer& c) {
        const HRESULT hr = c.GetPortProperties(port, properties);
        if (SUCCEEDED(hr)) CopyStrings(properties);
        return hr;
    });
}

HRESULT ZarvoSan::SetPortStatus(const GUID& portId, VDS_PORT_STATUS status) {
    return ForwardTraced("ZarvoSan::SetPortStatus",
                         [&, port = portId](FilerObjectContainer& c) { return c.SetPortStatus(port, status); });
}

HRESULT ZarvoSan::QueryAssociatedPorts(const GUID& controllerId, std::vector<GUID>& portIds) {
    return ForwardTraced("ZarvoSan::QueryAssociatedPorts", [&, controller = controllerId](FilerObjectContainer& c) {
        return c.QueryAssociatedPorts(controller, portIds);
    });
}

HRESULT ZarvoSan::QueryAssociatedController(const GUID& portId, GUID& controllerId) {
    return ForwardTraced("ZarvoSan::QueryAssociatedController", [&, port = portId](FilerObjectContainer& c) {
        return c.QueryAssociatedController(port, controllerId);
    });
}

HRESULT ZarvoSan::GetDiskSignature(const GUID& lunId, GUID& signature) {
    return ForwardTraced("ZarvoSan::GetDiskSignature",
                         [&, lun = lunId](FilerObjectContainer& c) { return c.GetDiskSignature(lun, signature); });
}

HRESULT ZarvoSan::SetSize(const GUID& lunId, ULONGLONG newSizeInBytes, ZarvoAsync** async) {
    TraceScope scope("ZarvoSan::SetSize");
    trace_printf("ZarvoSan::SetSize, IN GUID=%s", GuidToString(lunId).c_str());
    return Forward([&, lun = lunId](FilerObjectContainer& c) { return c.SetSize(lun, newSizeInBytes, async); });
}

HRESULT ZarvoSan::ExtendLun(const GUID& lunId, ULONGLONG bytesToAdd, ZarvoAsync** async) {
    return ForwardTraced("ZarvoSan::ExtendLun", [&, lun = lunId](FilerObjectContainer& c) {
        return c.ExtendLun(lun, bytesToAdd, async);
    });
}

HRESULT ZarvoSan::GetDriveSpace(const GUID& driveId, ULONGLONG& freeBytes) {
    return ForwardTraced("ZarvoSan::GetDriveSpace",
                         [&, drive = driveId](FilerObjectContainer& c) { return c.GetDriveSpace(drive, freeBytes); });
}

HRESULT ZarvoSan::GetPathInfo(const GUID& portId, ULONG pathNumber, VDS_PATH_INFO& pathInfo) {
    return ForwardTraced("ZarvoSan::GetPathInfo", [&, port = portId](FilerObjectContainer& c) {
        return c.GetPathInfo(port, pathNumber, pathInfo);
    });
}

HRESULT ZarvoSan::GetPathPolicy(const GUID& portId, ULONG pathNumber, VDS_PATH_POLICY& pathPolicy) {
    return ForwardTraced("ZarvoSan::GetPathPolicy", [&, port = portId](FilerObjectContainer& c) {
        return c.GetPathPolicy(port, pathNumber, pathPolicy);
    });
}

HRESULT ZarvoSan::SetPathPolicy(const GUID& portId, VDS_PATH_POLICY pathPolicy) {
    return ForwardTraced("ZarvoSan::SetPathPolicy",
                         [&, port = portId](FilerObjectContainer& c) { return c.SetPathPolicy(port, pathPolicy); });
}

ULONG ZarvoSan::GetSupportedLbPolicies() {
    return Forward([](FilerObjectContainer& c) { return c.m_supportedLbPolicies; });
}

HRESULT ZarvoSan::SetAllPathStatusesFromHbaPort(VDS_HBAPORT_PROP hbaPort, VDS_PATH_STATUS status) {
    return ForwardTraced("ZarvoSan::SetAllPathStatusesFromHbaPort",
                         [&](FilerObjectContainer& c) { return c.SetAllPathStatusesFromHbaPort(hbaPort, status); });
}

HRESULT ZarvoSan::GetPortalProperties(const GUID& portalId, VDS_ISCSI_PORTAL_PROP& properties) {
    TraceScope scope("ZarvoSan::GetPortalProperties");
    const HRESULT hr = Forward(
        [&, portal = portalId](FilerObjectContainer& c) { return c.GetPortalProperties(portal, properties); });
    trace_printf("ZarvoSan::GetPortalProperties(): returning %08lX", trace_code(hr));
    return hr;
}

HRESULT ZarvoSan::QueryAssociatedPortalGroups(const GUID& portalId, std::vector<GUID>& portalGroupIds) {
    TraceScope scope("ZarvoSan::QueryAssociatedPortalGroups");
    const HRESULT hr = Forward([&, portal = portalId](FilerObjectContainer& c) {
        return c.QueryAssociatedPortalGroups(portal, portalGroupIds);
    });
    trace_printf("ZarvoSan::QueryAssociatedPortalGroups(): returning %08lX", trace_code(hr));
    return hr;
}

HRESULT ZarvoSan::GetPortalIpsecSecurity(const GUID& portalId, ULONGLONG securityFlags, ULONGLONG securityMask) {
    return Forward([&, portal = portalId](FilerObjectContainer& c) {
        return c.GetPortalIpsecSecurity(portal, securityFlags, securityMask);
    });
}

HRESULT ZarvoSan::GetPortalGroupProperties(const GUID& portalGroupId, VDS_ISCSI_PORTALGROUP_PROP& properties) {
    return Forward([&, group = portalGroupId](FilerObjectContainer& c) {
        return c.GetPortalGroupProperties(group, properties);
    });
}

HRESULT ZarvoSan::QueryAssociatedPortals(const GUID& portalGroupId, std::vector<GUID>& portalIds) {
    portalIds.clear();
    return Forward(
        [&, group = portalGroupId](FilerObjectContainer& c) { return c.QueryAssociatedPortals(group, portalIds); });
}

HRESULT ZarvoSan::GetTargetFromPortalGroup(const GUID& portalGroupId, GUID& targetId) {
    return Forward(
        [&, group = portalGroupId](FilerObjectContainer& c) { return c.GetAssociatedTargets(group, targetId); });
}

HRESULT ZarvoSan::GetTargetProperties(const GUID& targetId, VDS_ISCSI_TARGET_PROP& properties) {
    return Forward([&, target = targetId](FilerObjectContainer& c) { return c.FindTarget(target, properties); });
}

HRESULT ZarvoSan::GetTargetPropertiesRecord(const GUID& targetId, IscsiTargetProperties& properties) {
    return Forward([&, target = targetId](FilerObjectContainer& c) {
        return c.GetTargetPropertiesRecord(target, properties);
    });
}

HRESULT ZarvoSan::QueryPortalGroups(const GUID& targetId, std::vector<GUID>& portalGroupIds) {
    return Forward(
        [&, target = targetId](FilerObjectContainer& c) { return c.QueryPortalGroups(target, portalGroupIds); });
}

HRESULT ZarvoSan::QueryAssociatedLuns(const GUID& targetId, std::vector<GUID>& lunIds) {
    return Forward([&, target = targetId](FilerObjectContainer& c) { return c.QueryAssociatedLuns(target, lunIds); });
}

HRESULT ZarvoSan::CreatePortalGroup(const GUID& targetId, ZarvoAsync** async) {
    return Forward([&, target = targetId](FilerObjectContainer& c) { return c.CreatePortalGroup(target, async); });
}

HRESULT ZarvoSan::SetTargetName(const GUID& targetId, const std::u16string& alias) {
    AutoLock lock(&m_lock);
    BeginOperation();
    const GUID target = targetId;
    IscsiTargetProperties before;
    HRESULT hr = m_pContainer->GetTargetPropertiesRecord(target, before);
    if (FAILED(hr)) return hr;
    hr = m_pContainer->SetTargetName(target, alias);
    if (FAILED(hr)) return hr;
    if (before.m_strFriendlyName != alias) SendSyncNotification(kTargetModifyType, target);
    return hr;
}

HRESULT ZarvoSan::SetTargetSharedSecret(const GUID& targetId, const VDS_ISCSI_SHARED_SECRET* secret,
                                        const std::u16string& initiatorName) {
    return Forward([&, target = targetId](FilerObjectContainer& c) {
        return c.SetTargetSharedSecret(target, secret, initiatorName);
    });
}

HRESULT ZarvoSan::SetInitiatorSharedSecret(const GUID& targetId, const VDS_ISCSI_SHARED_SECRET* secret,
                                           const std::u16string& initiatorName) {
    return Forward([&, target = targetId](FilerObjectContainer& c) {
        return c.SetInitiatorSharedSecret(target, secret, initiatorName);
    });
}

HRESULT ZarvoSan::GetConnectedInitiators(const GUID& targetId, WCHAR*** names, LONG* count) {
    return Forward(
        [&, target = targetId](FilerObjectContainer& c) { return c.GetConnectedInitiators(target, names, count); });
}

HRESULT ZarvoSan::ExtendAggregate(const GUID& aggregateId, ULONGLONG bytes, const GUID* driveIds, LONG driveCount) {
    return Forward([&, aggregate = aggregateId](FilerObjectContainer& c) {
        return c.ExtendAggregate(aggregate, bytes, driveIds, driveCount);
    });
}

HRESULT ZarvoSan::QueryAssociatedTargets(const GUID& lunId, std::vector<GUID>& targetIds) {
    return ForwardTraced("ZarvoSan::QueryAssociatedTargets", [&, lun = lunId](FilerObjectContainer& c) {
        return c.QueryAssociatedTargets(lun, targetIds);
    });
}

HRESULT ZarvoSan::QueryMaxLunCreateSize(VDS_LUN_TYPE type, const GUID* driveIds, LONG driveCount,
                                        const VDS_HINTS* hints, ULONGLONG& maxBytes) {
    return Forward([&](FilerObjectContainer& c) {
        return c.QueryMaxLunCreateSize(type, driveIds, driveCount, hints, maxBytes);
    });
}

HRESULT ZarvoSan::IsMPIOInstalled(BOOL& installed) {
    return ForwardTraced("ZarvoSan::IsMPIOInstalled",
                         [&](FilerObjectContainer& c) { return c.IsMPIOInstalled(installed); });
}

void ZarvoSan::AddRef() {
    AutoLock lock(&m_lock);
    const LONG count = ++m_iUsageCount;
    trace_printf("ZarvoSan::AddRef SubSystem %s, Usage count  %d ", GuidToString(m_pContainer->GetID()).c_str(),
                 static_cast<int>(count));
}

void ZarvoSan::Release() {
    AutoLock lock(&m_lock);
    const LONG count = --m_iUsageCount;
    trace_printf("ZarvoSan::Release, SubSystem %s, Usage count  %d ", GuidToString(m_pContainer->GetID()).c_str(),
                 static_cast<int>(count));
}

bool ZarvoSan::IsActive() { return m_bActive; }

bool ZarvoSan::IsUnused() {
    const bool active = IsActive();
    const LONG count = m_iUsageCount;
    trace_printf("In IsUnused, Active %d  m_iUsageCount  %d", active ? 1 : 0, static_cast<int>(count));
    return !active && count == 0;
}

void ZarvoSan::GetLogonData(CFilerRecord& record) {
    AutoLock lock(&m_lock);
    record = m_logonData;
}

NotificationSet* ZarvoSan::NewNotificationSet() {
    trace_printf("ZarvoSan::NewNotificationSet");
    return m_pNotifier ? m_pNotifier->CreateNotificationSet() : nullptr;
}

HRESULT ZarvoSan::SendSyncNotification(LONG notificationType, const GUID& id) {
    try {
        std::unique_ptr<NotificationSet> set(NewNotificationSet());
        if (!set) {
            trace_printf("Error in SendSyncNotification");
            return S_OK;
        }
        set->Add(notificationType, id);
        trace_printf("SendSyncNotification. Type %d  from id %s", static_cast<int>(notificationType),
                     GuidToString(id).c_str());
        set->Deliver();
        return S_OK;
    } catch (...) {
        trace_printf("ZarvoSan::SendSyncNotification(): %s", "caught exception");
        return E_FAIL;
    }
}

HRESULT ZarvoSan::SendSyncNotification(const std::vector<NotificationEntry>& notifications) {
    try {
        std::unique_ptr<NotificationSet> set(NewNotificationSet());
        if (!set) {
            trace_printf("Error in SendSyncNotification for NotificationList");
            return S_OK;
        }
        for (const NotificationEntry& entry : notifications) {
            if (entry.type == NotificationSet::InvalidType) {
                trace_printf("NotificationSet::InvalidType from id %s", GuidToString(entry.id).c_str());
                continue;
            }
            set->Add(entry.type, entry.id);
            trace_printf("SendSyncNotification, Type %d  from id %s", static_cast<int>(entry.type),
                         GuidToString(entry.id).c_str());
        }
        set->Deliver();
        return S_OK;
    } catch (...) {
        trace_printf("ZarvoSan::SendSyncNotification(): %s", "caught exception.");
        return E_FAIL;
    }
}

bool ZarvoSan::CheckCreateGuid(const std::string& key, GUID& id) {
    if (key.empty()) OutputDebugStringA("WARNING: Trying to create GUID for NULL key");
    if (const auto found = m_guidMap.find(key); found != m_guidMap.end()) {
        id = found->second;
        return true;
    }
    GUID created{};
    CoCreateGuid(&created);
    m_guidMap.emplace(key, created);
    id = created;
    return false;
}

HRESULT ZarvoSan::ReplaceGuidKey(const std::string& oldKey, const std::string& newKey, GUID& id) {
    try {
        if (oldKey.empty() || newKey.empty()) return E_FAIL;
        const auto old = m_guidMap.find(oldKey);
        if (old == m_guidMap.end()) {
            trace_printf("ZarvoSan::ReplaceGuidKey, cannot find key...create new one");
            CheckCreateGuid(newKey, id);
            return S_OK;
        }
        const GUID kept = old->second;
        m_guidMap.emplace(newKey, kept);
        id = kept;
        m_guidMap.erase(oldKey);
        return S_OK;
    } catch (...) {
        trace_printf("ZarvoSan::ReplaceGuidKey(): %s", "caught exception");
        return E_FAIL;
    }
}

void ZarvoSan::RemoveGuidByKey(const std::string& key) {
    try {
        m_guidMap.erase(key);
    } catch (...) {
        trace_printf("ZarvoSan::RemoveGuidByKey(): %s", "caught exception");
    }
}
