// The container's side of the objects a LUN is made of: emptying their maps
// deletes them (each destructor takes its own entry out), and a LUN compares
// through its SanHelper face.
#include <model/filer_object_container.h>

#include <model/aggregate.h>
#include <model/igroup.h>
#include <model/lun.h>
#include <model/plex.h>
#include <model/qtree.h>
#include <model/volume.h>

#include "container_links.h"
#include "container_maps.h"

SanHelper* AsSanHelper(ZarvoLun* object) { return object; }

HRESULT FilerObjectContainer::ClearLunMap() { return container_maps::Clear(m_lunMap, "FilerObjectContainer::ClearLunMap"); }
HRESULT FilerObjectContainer::ClearPlexMap() {
    return container_maps::Clear(m_plexMap, "FilerObjectContainer::ClearPlexMap");
}
HRESULT FilerObjectContainer::ClearAggregateMap() {
    return container_maps::Clear(m_aggregateMap, "FilerObjectContainer::ClearAggregateMap");
}
HRESULT FilerObjectContainer::ClearVolumeMap() {
    return container_maps::Clear(m_volumeMap, "FilerObjectContainer::ClearVolumeMap");
}
HRESULT FilerObjectContainer::ClearQtreeMap() {
    return container_maps::Clear(m_qtreeMap, "FilerObjectContainer::ClearQtreeMap");
}
HRESULT FilerObjectContainer::ClearIgroupMap() {
    return container_maps::Clear(m_igroupMap, "FilerObjectContainer::ClearIgroupMap");
}

// The queries of one LUN, plex or aggregate: looked up, then asked.
namespace {
template <typename T, typename Call>
HRESULT WithObject(const ObjectMap<T>& map, const GUID& id, const char* lookupName, Call&& call) {
    T* object = nullptr;
    const HRESULT hr = container_maps::Lookup(map, id, object, lookupName);
    return FAILED(hr) ? hr : call(*object);
}
}  // namespace

HRESULT FilerObjectContainer::GetLunProperties(const GUID& lunId, LunProperties& properties) {
    return WithObject(m_lunMap, lunId, "FilerObjectContainer::GetLun",
                      [&](ZarvoLun& lun) { return lun.GetProperties(properties); });
}

HRESULT FilerObjectContainer::GetLunIdentification(const GUID& lunId, VDS_LUN_INFORMATION& information) {
    return WithObject(m_lunMap, lunId, "FilerObjectContainer::GetLun",
                      [&](ZarvoLun& lun) { return lun.GetIdentification(information); });
}

HRESULT FilerObjectContainer::GetLunLoadBalancePolicy(const GUID& lunId, VDS_LOADBALANCE_POLICY_ENUM& policy) {
    return WithObject(m_lunMap, lunId, "FilerObjectContainer::GetLun",
                      [&](ZarvoLun& lun) { return lun.GetLoadBalancePolicy(policy); });
}

HRESULT FilerObjectContainer::SetLunLoadBalancePolicy(const GUID& lunId, VDS_LOADBALANCE_POLICY_ENUM policy) {
    return WithObject(m_lunMap, lunId, "FilerObjectContainer::GetLun",
                      [&](ZarvoLun& lun) { return lun.SetLoadBalancePolicy(policy); });
}

HRESULT FilerObjectContainer::GetDiskSignature(const GUID& lunId, GUID& signature) {
    return WithObject(m_lunMap, lunId, "FilerObjectContainer::GetLun",
                      [&](ZarvoLun& lun) { return lun.GetDiskSignature(signature); });
}

HRESULT FilerObjectContainer::GetPlexProperties(const GUID& plexId, VDS_LUN_PLEX_PROP& properties) {
    return WithObject(m_plexMap, plexId, "FilerObjectContainer::GetPlex", [&](ZarvoPlex& plex) {
        plex.GetProperties(properties);
        return S_OK;
    });
}

HRESULT FilerObjectContainer::ExtendAggregate(const GUID& aggregateId, ULONGLONG bytes, const GUID* driveIds,
                                              LONG driveCount) {
    const auto found = m_aggregateMap.find(aggregateId);  // a miss is not traced
    if (found == m_aggregateMap.end() || !found->second) return VDS_E_OBJECT_NOT_FOUND;
    return found->second->Extend(bytes, driveIds, driveCount);
}
