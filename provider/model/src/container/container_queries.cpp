// Container queries: lookups, listings, associations, properties and status.
// Nothing here talks to the appliance.
#include <model/filer_object_container.h>

#include <set>

#include <hostlib/conversions.h>
#include <hostlib/trace.h>
#include <model/controller.h>
#include <model/controller_port.h>
#include <model/drive.h>

#include "container_maps.h"

namespace {

// The status values the disk-management service may set on the cached model.
template <typename Status>
bool IsSettableStatus(Status status) {
    return status == 1 || status == 4;  // online, offline
}

// Looks `id` up, then replaces `out` with the ids associated with it.
template <typename T>
HRESULT QueryAssociation(const ObjectMap<T>& map, const GUID& id, const char* lookupName,
                         const GuidAssociator& association, std::vector<GUID>& out) {
    T* object = nullptr;
    const HRESULT hr = container_maps::Lookup(map, id, object, lookupName);
    if (FAILED(hr)) return hr;
    try {
        out = association.Query(id);
        return S_OK;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

HRESULT Associate(GuidAssociator& association, const GUID& a, const GUID& b, const char* qualifiedName) {
    try {
        association.Add(a, b);
        return S_OK;
    } catch (...) {
        trace_printf("%s(): %s", qualifiedName, "caught exception");
        return E_UNEXPECTED;
    }
}

}  // namespace

std::string IntToString(LONG value) { return std::to_string(value); }

// ---- Lookups ----------------------------------------------------------------

HRESULT FilerObjectContainer::GetLun(const GUID& id, ZarvoLun*& lun) {
    return container_maps::Lookup(m_lunMap, id, lun, "FilerObjectContainer::GetLun");
}

HRESULT FilerObjectContainer::GetPlex(const GUID& id, ZarvoPlex*& plex) {
    return container_maps::Lookup(m_plexMap, id, plex, "FilerObjectContainer::GetPlex");
}

HRESULT FilerObjectContainer::GetDrive(const GUID& id, ZarvoDrive*& drive) {
    return container_maps::Lookup(m_driveMap, id, drive, "FilerObjectContainer::GetDrive");
}

HRESULT FilerObjectContainer::GetController(const GUID& id, ZarvoController*& controller) {
    return container_maps::Lookup(m_controllerMap, id, controller, "FilerObjectContainer::GetController");
}

HRESULT FilerObjectContainer::GetControllerPort(const GUID& id, ZarvoControllerPort*& port) {
    return container_maps::Lookup(m_portsMap, id, port, "FilerObjectContainer::GetControllerPort");
}

HRESULT FilerObjectContainer::GetVolume(const GUID& id, ZarvoVolume*& volume) {
    return container_maps::Lookup(m_volumeMap, id, volume, "FilerObjectContainer::GetVolume");
}

HRESULT FilerObjectContainer::GetQtree(const GUID& id, ZarvoQtree*& qtree) {
    return container_maps::Lookup(m_qtreeMap, id, qtree, "FilerObjectContainer::GetQtree");
}

HRESULT FilerObjectContainer::GetAggregate(const GUID& id, ZarvoAggregate*& aggregate) {
    return container_maps::Lookup(m_aggregateMap, id, aggregate, "FilerObjectContainer::GetAggregate");
}

HRESULT FilerObjectContainer::GetIgroup(const GUID& id, ZarvoIgroup*& igroup) {
    return container_maps::Lookup(m_igroupMap, id, igroup, "FilerObjectContainer::GetIgroup");
}

HRESULT FilerObjectContainer::GetPortal(const GUID& id, ZarvoIscsiPortal*& portal) {
    return container_maps::Lookup(m_portalMap, id, portal, "FilerObjectContainer::GetPortal");
}

HRESULT FilerObjectContainer::GetPortalGroup(const GUID& id, ZarvoIscsiPortalGroup*& portalGroup) {
    return container_maps::Lookup(m_portalGroupMap, id, portalGroup, "FilerObjectContainer::GetPortalGroup");
}

bool FilerObjectContainer::IsValidObject(VDS_OBJECT_TYPE type, const GUID& id) {
    try {
        trace_printf("Validating Object giD=%s type=%d ", GuidToString(id).c_str(), static_cast<int>(type));
        switch (type) {
            case VDS_OT_CONTROLLER: return m_controllerMap.contains(id);
            case VDS_OT_DRIVE: return m_driveMap.contains(id);
            case VDS_OT_LUN: return m_lunMap.contains(id);
            case VDS_OT_LUN_PLEX: return m_plexMap.contains(id);
            case VDS_OT_PORT: return m_portsMap.contains(id);
            case VDS_OT_PORTAL: return m_portalMap.contains(id);
            case VDS_OT_TARGET: return m_targetMap.contains(id);
            case VDS_OT_PORTAL_GROUP: return m_portalGroupMap.contains(id);
            default: return false;  // the subsystem's own id included
        }
    } catch (...) {
        return false;
    }
}

// ---- Listings ---------------------------------------------------------------

HRESULT FilerObjectContainer::QueryLuns(std::vector<GUID>& lunIds) {
    TraceScope scope("FilerObjectContainer::QueryLuns");
    return container_maps::ListIds(m_lunMap, lunIds);
}

HRESULT FilerObjectContainer::QueryDrives(std::vector<GUID>& driveIds) {
    TraceScope scope("FilerObjectContainer::QueryDrives");
    return container_maps::ListIds(m_driveMap, driveIds);
}

HRESULT FilerObjectContainer::QueryControllers(std::vector<GUID>& controllerIds) {
    TraceScope scope("FilerObjectContainer::QueryControllers");
    const HRESULT hr = container_maps::ListIds(m_controllerMap, controllerIds);
    DumpControllerMap();
    return hr;
}

HRESULT FilerObjectContainer::QueryControllerPorts(std::vector<GUID>& portIds) {
    TraceScope scope("FilerObjectContainer::QueryControllerPorts");
    const HRESULT hr = container_maps::ListIds(m_portsMap, portIds, E_FAIL);
    trace_printf("FilerObjectContainer::QueryControllerPorts, FOUND %d Ports", static_cast<int>(portIds.size()));
    DumpPortsMap();
    return hr;
}

HRESULT FilerObjectContainer::QueryPortals(std::vector<GUID>& portalIds) {
    return container_maps::ListIds(m_portalMap, portalIds);
}

HRESULT FilerObjectContainer::QueryTargets(std::vector<GUID>& targetIds) {
    return container_maps::ListIds(m_targetMap, targetIds);
}

HRESULT FilerObjectContainer::QueryExtents(LONG selector, const GUID& id, std::vector<ExtentRecord>& extents) {
    TraceScope scope("FilerObjectContainer::QueryExtents");
    try {
        extents.clear();
        for (const ExtentRecord& extent : m_extents) {
            const GUID* field = selector == EXTENT_BY_DRIVE  ? &extent.driveId
                                : selector == EXTENT_BY_PLEX ? &extent.plexId
                                : selector == EXTENT_BY_LUN  ? &extent.lunId
                                                             : nullptr;
            if (!field || !(*field == id)) continue;
            extents.push_back(extent);
            trace_printf("FilerObjectContainer::QueryExtents, return extent guid %s", GuidToString(id).c_str());
        }
        return S_OK;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

// ---- Associations -----------------------------------------------------------

HRESULT FilerObjectContainer::QueryActiveControllerPorts(const GUID& lunId, std::vector<GUID>& portIds) {
    TraceScope scope("FilerObjectContainer::QueryActiveControllerPorts");
    return QueryAssociation(m_lunMap, lunId, "FilerObjectContainer::GetLun", m_lunPortAssoc, portIds);
}

HRESULT FilerObjectContainer::QueryAssociatedPorts(const GUID& controllerId, std::vector<GUID>& portIds) {
    TraceScope scope("FilerObjectContainer::QueryAssociatedPorts");
    return QueryAssociation(m_controllerMap, controllerId, "FilerObjectContainer::GetController",
                            m_controllerPortAssoc, portIds);
}

HRESULT FilerObjectContainer::QueryActiveLuns(const GUID& portId, std::vector<GUID>& lunIds) {
    TraceScope scope("FilerObjectContainer::QueryActiveLuns");
    return QueryAssociation(m_portsMap, portId, "FilerObjectContainer::GetControllerPort", m_lunPortAssoc, lunIds);
}

HRESULT FilerObjectContainer::QueryAssociatedTargets(const GUID& lunId, std::vector<GUID>& targetIds) {
    TraceScope scope("FilerObjectContainer::QueryAssociatedTargets");
    return QueryAssociation(m_lunMap, lunId, "FilerObjectContainer::GetLun", m_lunTargetAssoc, targetIds);
}

HRESULT FilerObjectContainer::AssociateControllerToPort(const GUID& controllerId, const GUID& portId) {
    return Associate(m_controllerPortAssoc, controllerId, portId, "FilerObjectContainer::AssociateControllerToPort");
}

HRESULT FilerObjectContainer::AssociateLunToPort(const GUID& lunId, const GUID& portId) {
    return Associate(m_lunPortAssoc, lunId, portId, "FilerObjectContainer::AssociateLunToPort");
}

HRESULT FilerObjectContainer::AssociateLunToVolume(const GUID& lunId, const GUID& volumeId) {
    return Associate(m_lunVolumeAssoc, lunId, volumeId, "FilerObjectContainer::AssociateLunToVolume");
}

HRESULT FilerObjectContainer::AssociateLunToQtree(const GUID& lunId, const GUID& qtreeId) {
    return Associate(m_lunQtreeAssoc, lunId, qtreeId, "FilerObjectContainer::AssociateLunToQtree");
}

HRESULT FilerObjectContainer::AssociateLunToAggregate(const GUID& lunId, const GUID& aggregateId) {
    return Associate(m_lunAggregateAssoc, lunId, aggregateId, "FilerObjectContainer::AssociateLunToAggregate");
}

HRESULT FilerObjectContainer::AssociatePortalToPortalGroup(const GUID& portalId, const GUID& portalGroupId) {
    return Associate(m_portalPortalGroupAssoc, portalId, portalGroupId,
                     "FilerObjectContainer::AssociatePortalToPortalGroup");
}

HRESULT FilerObjectContainer::AssociateLunToTarget(const GUID& lunId, const GUID& targetId) {
    return Associate(m_lunTargetAssoc, lunId, targetId, "FilerObjectContainer::AssociateLunToTarget");
}

HRESULT FilerObjectContainer::AssociateTargets(const GUID& lunId, LONG count, const GUID* targetIds) {
    for (LONG i = 0; i < count; ++i) {
        const HRESULT hr = AssociateLunToTarget(lunId, targetIds[i]);
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}

HRESULT FilerObjectContainer::DissociateLunToTarget(const GUID& lunId, const GUID& /*targetId*/) {
    try {
        // The LUN leaves every target it was associated with.
        m_lunTargetAssoc.Remove(lunId);
        return S_OK;
    } catch (...) {
        trace_printf("FilerObjectContainer::DissociateLunToTarget(): %s", "caught exception");
        return E_UNEXPECTED;
    }
}

// ---- Properties and status --------------------------------------------------

HRESULT FilerObjectContainer::GetProperties(SubSystemProperties& properties) {
    properties = m_subSystemProperties;
    return S_OK;
}

HRESULT FilerObjectContainer::SetStatus(VDS_SUB_SYSTEM_STATUS status) {
    TraceScope scope("FilerObjectContainer::SetStatus");
    if (!IsSettableStatus(status)) return E_INVALIDARG;
    m_subSystemProperties.m_prop.status = status;
    return S_OK;
}

bool FilerObjectContainer::TakeStatusOf(const FilerObjectContainer& failedReading) {
    VDS_SUB_SYSTEM_PROP& mine = m_subSystemProperties.m_prop;
    const VDS_SUB_SYSTEM_PROP& read = failedReading.m_subSystemProperties.m_prop;
    if (mine.status == read.status && mine.health == read.health) return false;
    mine.status = read.status;
    mine.health = read.health;
    return true;
}

HRESULT FilerObjectContainer::GetControllerProperties(const GUID& controllerId, VDS_CONTROLLER_PROP& properties) {
    ZarvoController* controller = nullptr;
    const HRESULT hr = GetController(controllerId, controller);
    return FAILED(hr) ? hr : controller->GetProperties(properties);
}

HRESULT FilerObjectContainer::SetControllerStatus(const GUID& controllerId, VDS_CONTROLLER_STATUS status) {
    ZarvoController* controller = nullptr;
    const HRESULT hr = GetController(controllerId, controller);
    if (FAILED(hr)) return hr;
    if (!IsSettableStatus(status)) return E_INVALIDARG;
    controller->SetStatus(status);
    return S_OK;
}

HRESULT FilerObjectContainer::GetPortProperties(const GUID& portId, VDS_PORT_PROP& properties) {
    ZarvoControllerPort* port = nullptr;
    const HRESULT hr = GetControllerPort(portId, port);
    return FAILED(hr) ? hr : port->GetProperties(properties);
}

HRESULT FilerObjectContainer::IsMPIOInstalled(BOOL& installed) { return m_mpioMgmt.MpioIsInstalled(&installed); }
