// The object container: construction, initialisation, the registry of model
// objects and its teardown.
#include <model/filer_object_container.h>

#include <hostlib/conversions.h>
#include <hostlib/trace.h>
#include <model/controller.h>
#include <model/controller_port.h>
#include <model/drive.h>
#include <model/zarvo_san.h>

#include <platform/text.h>

#include "container_maps.h"

namespace {

constexpr ULONG kSubSystemFlags = 0x820F;     // masking, plexing, remapping, extents, fault tolerant, parity
constexpr ULONG kIscsiSubSystemFlags = 0x50000;  // CHAP, simple target configuration
constexpr ULONG kStripeSizeFlags = 0x1000;
constexpr LONG kWorkDelayMs = 3000;
constexpr LONG kIscsiProvider = 3;

// A raid state whose disk never becomes a drive: unknown, or owned by the partner.
bool IsForeignDisk(const fapi_disk_info_t& disk) { return disk.raid_state == 0 || disk.raid_state == 1; }

}  // namespace

FilerObjectContainer::FilerObjectContainer() {
    VDS_SUB_SYSTEM_PROP& p = m_subSystemProperties.m_prop;
    p.ulFlags = kSubSystemFlags;
    p.ulStripeSizeFlags = kStripeSizeFlags;
    p.status = VDS_SSS_NOT_READY;
    p.health = VDS_H_HEALTHY;
    p.sNumberOfInternalBuses = 1;
    p.sMaxNumberOfSlotsEachBus = 14;
    p.sMaxNumberOfControllers = 8;
    p.sRebuildPriority = 8;
}

FilerObjectContainer::~FilerObjectContainer() {
    if (FAILED(DeleteCache())) {
        trace_printf("ZarvoSan::RefreshSubsystem, ERROR: failed to delete cache");
    } else {
        trace_printf("ZarvoSan::RefreshSubsystem, Cache deleted");
    }
    m_lunNumberMap.clear();
    trace_printf("SubSystem %s", platform::wide_to_utf8_lossy(m_subSystemProperties.m_strIdentification).c_str());
}

HRESULT FilerObjectContainer::InitializeContainer(ZarvoSan* san, const GUID& subSystemId,
                                                  const std::u16string& filerName, const std::u16string& userName,
                                                  const std::u16string& password) {
    TraceScope scope("FilerObjectContainer::InitializeContainer");
    m_pSan = san;
    m_subSystemProperties.m_prop.id = subSystemId;
    m_filerName = filerName;
    m_pSan->SetDelay(kWorkDelayMs);
    m_subSystemProperties.m_strFriendlyName = filerName;
    m_subSystemProperties.m_strIdentification = GuidToWString(subSystemId);
    m_filerControl.m_strFilerName = filerName;
    m_filerControl.m_strUserName = userName;
    m_filerControl.m_strPassword = password;
    trace_printf("Filer name is %s  ", platform::wide_to_utf8_lossy(filerName).c_str());
    if (m_pSan->GetProviderType() == kIscsiProvider) m_subSystemProperties.m_prop.ulFlags |= kIscsiSubSystemFlags;
    m_busAdapterMap.clear();
    const HRESULT hr = InitializeLunNumbers();
    if (FAILED(hr)) trace_printf("ZarvoSan::Initialize, ERROR: failed to refresh lun numbers");
    return hr;
}

GUID FilerObjectContainer::GetID() {
    const GUID id = m_subSystemProperties.m_prop.id;
    trace_printf("GetID() returns  %s  ", GuidToString(id).c_str());
    return id;
}

NotificationType FilerObjectContainer::GetArriveType() { return notification_code::SubSystemArrive; }
NotificationType FilerObjectContainer::GetDepartType() { return notification_code::SubSystemDepart; }
NotificationType FilerObjectContainer::GetModifyType() { return notification_code::SubSystemModify; }

// ---- Registry ---------------------------------------------------------------

HRESULT FilerObjectContainer::AddLunObject(const GUID& id, ZarvoLun* lun) {
    return container_maps::Add(m_lunMap, id, lun, "FilerObjectContainer::AddLunObject");
}

HRESULT FilerObjectContainer::RemoveLunObject(const GUID& id) {
    const HRESULT hr = container_maps::Remove(m_lunMap, id, "FilerObjectContainer::RemoveLunObject");
    if (FAILED(hr)) return hr;
    // Its target associations stay: the target outlives a reading of its LUNs.
    m_lunPortAssoc.Remove(id);
    m_lunVolumeAssoc.Remove(id);
    m_lunQtreeAssoc.Remove(id);
    m_lunAggregateAssoc.Remove(id);
    return S_OK;
}

HRESULT FilerObjectContainer::AddPlexObject(const GUID& id, ZarvoPlex* plex) {
    return container_maps::Add(m_plexMap, id, plex, "FilerObjectContainer::AddPlexObject");
}

HRESULT FilerObjectContainer::RemovePlexObject(const GUID& id) {
    return container_maps::Remove(m_plexMap, id, "FilerObjectContainer::RemovePlexObject");
}

HRESULT FilerObjectContainer::AddControllerObject(const GUID& id, ZarvoController* controller) {
    return container_maps::Add(m_controllerMap, id, controller, "FilerObjectContainer::AddControllerObject");
}

HRESULT FilerObjectContainer::RemoveControllerObject(const GUID& id) {
    const HRESULT hr = container_maps::Remove(m_controllerMap, id, "FilerObjectContainer::RemoveControllerObject");
    if (SUCCEEDED(hr)) m_controllerPortAssoc.Remove(id);
    return hr;
}

HRESULT FilerObjectContainer::AddPortObject(const GUID& id, ZarvoControllerPort* port) {
    return container_maps::Add(m_portsMap, id, port, "FilerObjectContainer::AddPortObject");
}

HRESULT FilerObjectContainer::RemovePortObject(const GUID& id) {
    const HRESULT hr = container_maps::Remove(m_portsMap, id, "FilerObjectContainer::RemovePortObject");
    if (SUCCEEDED(hr)) m_lunPortAssoc.Remove(id);
    return hr;
}

HRESULT FilerObjectContainer::AddDriveObject(const GUID& id, ZarvoDrive* drive) {
    return container_maps::Add(m_driveMap, id, drive, "FilerObjectContainer::AddDriveObject");
}

HRESULT FilerObjectContainer::RemoveDriveObject(const GUID& id) {
    return container_maps::Remove(m_driveMap, id, "FilerObjectContainer::RemoveDriveObject");
}

HRESULT FilerObjectContainer::AddAggrObject(const GUID& id, ZarvoAggregate* aggregate) {
    return container_maps::Add(m_aggregateMap, id, aggregate, "FilerObjectContainer::AddAggrObject");
}

HRESULT FilerObjectContainer::RemoveAggrObject(const GUID& id) {
    return container_maps::Remove(m_aggregateMap, id, "FilerObjectContainer::RemoveAggrObject");
}

HRESULT FilerObjectContainer::AddVolObject(const GUID& id, ZarvoVolume* volume) {
    return container_maps::Add(m_volumeMap, id, volume, "FilerObjectContainer::AddVolObject");
}

HRESULT FilerObjectContainer::RemoveVolObject(const GUID& id) {
    return container_maps::Remove(m_volumeMap, id, "FilerObjectContainer::RemoveVolObject");
}

HRESULT FilerObjectContainer::AddQtreeObject(const GUID& id, ZarvoQtree* qtree) {
    return container_maps::Add(m_qtreeMap, id, qtree, "FilerObjectContainer::AddQtreeObject");
}

HRESULT FilerObjectContainer::RemoveQtreeObject(const GUID& id) {
    return container_maps::Remove(m_qtreeMap, id, "FilerObjectContainer::RemoveQtreeObject");
}

HRESULT FilerObjectContainer::AddIgroupObject(const GUID& id, ZarvoIgroup* igroup) {
    return container_maps::Add(m_igroupMap, id, igroup, "FilerObjectContainer::AddIgroupObject");
}

HRESULT FilerObjectContainer::RemoveIgroupObject(const GUID& id) {
    return container_maps::Remove(m_igroupMap, id, "FilerObjectContainer::RemoveIgroupObject");
}

// ---- Emptying ---------------------------------------------------------------

HRESULT FilerObjectContainer::DeleteCache() {
    try {
        ClearControllerMap();
        ClearPortsMap();
        ClearLunMap();
        ClearPlexMap();
        ClearDriveMap();
        m_extents.clear();
        ClearAggregateMap();
        ClearVolumeMap();
        ClearQtreeMap();
        ClearIgroupMap();
        ClearTargetMap();
        ClearPortalGroupMap();
        ClearPortalMap();
        m_partnerUp = false;
        m_strMaskingList.clear();
        trace_printf("FilerObjectContainer::DeleteCache(): returning %08lX", trace_code(S_OK));
        return S_OK;
    } catch (...) {
        trace_printf("ZarvoSan::DeleteCache, caught exception");
        return E_FAIL;
    }
}

// Controllers, ports and drives are deleted through their SanHelper face.
HRESULT FilerObjectContainer::ClearControllerMap() {
    return container_maps::Clear(m_controllerMap, "FilerObjectContainer::ClearControllerMap");
}

HRESULT FilerObjectContainer::ClearPortsMap() {
    return container_maps::Clear(m_portsMap, "FilerObjectContainer::ClearPortsMap");
}

HRESULT FilerObjectContainer::ClearDriveMap() {
    return container_maps::Clear(m_driveMap, "FilerObjectContainer::ClearDriveMap");
}

void FilerObjectContainer::SetBusAdapterMap(const std::vector<fapi_disk_info_t>& disks) {
    m_busAdapterMap.clear();
    SHORT nextBus = 1;
    for (const fapi_disk_info_t& disk : disks) {
        if (IsForeignDisk(disk)) continue;
        if (m_busAdapterMap.emplace(disk.host_adapter, nextBus).second) ++nextBus;
    }
    trace_printf("FilerObjectContainer::SetBusAdapterMap, No of buses %d ", static_cast<int>(m_busAdapterMap.size()));
    for (const auto& [name, bus] : m_busAdapterMap)
        trace_printf("FilerObjectContainer::SetBusAdapterMap, Bus Name %s, Bus # %d",
                     platform::wide_to_utf8_lossy(name).c_str(), static_cast<int>(bus));
}

void FilerObjectContainer::SetFacadeFiler(const std::u16string& filerName) {
    m_filerControl.m_strFilerName = filerName;
    m_filerControl.m_pFiler.reset();
}

// ---- Cluster partner switch -------------------------------------------------

PartnerFacadeSwitch::PartnerFacadeSwitch(FilerObjectContainer& container, const char* qualifiedName)
    : m_container(container), m_qualifiedName(qualifiedName) {}

PartnerFacadeSwitch::~PartnerFacadeSwitch() {
    if (!m_switched) return;
    m_container.SetFacadeFiler(m_container.m_filerName);
    trace_printf("%s, Revert to Local Filer %s", m_qualifiedName,
                 platform::wide_to_utf8_lossy(m_container.m_filerName).c_str());
}

void PartnerFacadeSwitch::SwitchToPartner() {
    // The name discovery validated the partner by, not the bare partner name.
    m_container.SetFacadeFiler(m_container.m_partnerAddress);
    m_switched = true;
    trace_printf("%s, Set to Partner %s Filer", m_qualifiedName,
                 platform::wide_to_utf8_lossy(m_container.m_partnerAddress).c_str());
}
