// Comparison of two readings of an appliance: the subsystem's own change, and
// the arrival, change and departure of every object the service can see.
#include <model/filer_object_container.h>

#include <hostlib/trace.h>
#include <model/controller.h>
#include <model/controller_port.h>
#include <model/drive.h>

#include "container_links.h"

namespace {

template <typename T>
void Gather(const ObjectMap<T>& map, SanHelperMap& objects) {
    for (const auto& [id, object] : map) objects.emplace(id, AsSanHelper(object));
}

bool SameProperties(const SubSystemProperties& a, const SubSystemProperties& b) {
    const VDS_SUB_SYSTEM_PROP& x = a.m_prop;
    const VDS_SUB_SYSTEM_PROP& y = b.m_prop;
    return x.id == y.id && a.m_strFriendlyName == b.m_strFriendlyName &&
           a.m_strIdentification == b.m_strIdentification && x.ulFlags == y.ulFlags &&
           x.ulStripeSizeFlags == y.ulStripeSizeFlags && x.status == y.status && x.health == y.health &&
           x.sNumberOfInternalBuses == y.sNumberOfInternalBuses &&
           x.sMaxNumberOfSlotsEachBus == y.sMaxNumberOfSlotsEachBus &&
           x.sMaxNumberOfControllers == y.sMaxNumberOfControllers && x.sRebuildPriority == y.sRebuildPriority;
}

}  // namespace

HRESULT FilerObjectContainer::GetAllObectectsMap(SanHelperMap& objects) {
    try {
        // The first kind to claim an id keeps it.
        Gather(m_controllerMap, objects);
        Gather(m_driveMap, objects);
        Gather(m_lunMap, objects);
        Gather(m_portsMap, objects);
        Gather(m_portalMap, objects);
        Gather(m_targetMap, objects);
        Gather(m_portalGroupMap, objects);
        return S_OK;
    } catch (...) {
        trace_printf("FilerObjectContainer::GetAllObectectsMap(): caught exception");
        return E_FAIL;
    }
}

HRESULT FilerObjectContainer::IsEqual(SanHelper* other) {
    auto* that = dynamic_cast<FilerObjectContainer*>(other);
    if (!that) {
        trace_printf("Invalid IsEqual object in FilerObjectContainer.");
        return E_FAIL;
    }
    SubSystemProperties theirs;
    that->GetProperties(theirs);
    return SameProperties(m_subSystemProperties, theirs) ? 0 : 1;
}

HRESULT FilerObjectContainer::CompareContainers(FilerObjectContainer& oldContainer,
                                                std::vector<NotificationEntry>& notifications) {
    SanHelperMap current;
    HRESULT hr = GetAllObectectsMap(current);
    if (FAILED(hr)) return hr;
    SanHelperMap previous;
    hr = oldContainer.GetAllObectectsMap(previous);
    if (FAILED(hr)) return hr;
    // A first reading, or one after a pass that found nothing: nothing to announce.
    if (previous.empty()) return S_OK;

    if (IsEqual(&oldContainer) == 1) notifications.push_back({m_subSystemProperties.m_prop.id, GetModifyType()});
    for (const auto& [id, object] : current) {
        if (!object) continue;
        const auto old = previous.find(id);
        if (old == previous.end()) {
            notifications.push_back({id, object->GetArriveType()});
            continue;
        }
        if (old->second && object->IsEqual(old->second) == 1) notifications.push_back({id, object->GetModifyType()});
        previous.erase(old);
    }
    for (const auto& [id, object] : previous)
        if (object) notifications.push_back({id, object->GetDepartType()});
    return S_OK;
}
