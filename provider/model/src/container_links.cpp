// Container members that reach into model objects whose classes are built
// elsewhere (LUN side, iSCSI objects). Until those classes are linked into the
// model no such object can exist, so these bodies only keep the maps right;
// each moves to its own file when its class arrives.
#include <model/filer_object_container.h>

#include <hostlib/trace.h>
#include <model/zarvo_san.h>

#include "container_links.h"
#include "container_maps.h"

namespace {

template <typename T>
HRESULT ReplacingAdd(ObjectMap<T>& map, const GUID& id, T* object) {
    map.insert_or_assign(id, object);
    return S_OK;
}

template <typename T>
HRESULT Forget(ObjectMap<T>& map) {
    map.clear();
    return S_OK;
}

}  // namespace

HRESULT FilerObjectContainer::AddPortalObject(const GUID& id, ZarvoIscsiPortal* portal) {
    trace_assert(portal != nullptr, "pPortal", __FILE__, __LINE__);
    const HRESULT hr = ReplacingAdd(m_portalMap, id, portal);
    trace_printf("FilerObjectContainer::AddPortalObject(): returning %08lX", static_cast<unsigned long>(hr));
    return hr;
}

HRESULT FilerObjectContainer::AddTargetObject(const GUID& id, ZarvoIscsiTarget* target) {
    trace_printf("Added new target. Total # of Targets %d", static_cast<int>(m_targetMap.size()));
    const HRESULT hr = ReplacingAdd(m_targetMap, id, target);
    trace_printf("Added new target. Total # of Targets %d", static_cast<int>(m_targetMap.size()));
    trace_printf("FilerObjectContainer::AddTargetObject(): returning %08lX", static_cast<unsigned long>(hr));
    return hr;
}

HRESULT FilerObjectContainer::AddPortalGroupObject(const GUID& id, ZarvoIscsiPortalGroup* portalGroup) {
    const HRESULT hr = ReplacingAdd(m_portalGroupMap, id, portalGroup);
    trace_printf("FilerObjectContainer::AddPortalGroupObject(): returning %08lX", static_cast<unsigned long>(hr));
    return hr;
}

HRESULT FilerObjectContainer::ClearTargetMap() { return Forget(m_targetMap); }
HRESULT FilerObjectContainer::ClearPortalGroupMap() { return Forget(m_portalGroupMap); }
HRESULT FilerObjectContainer::ClearPortalMap() { return Forget(m_portalMap); }

HRESULT FilerObjectContainer::DumpTargetMap() { return S_OK; }

HRESULT FilerObjectContainer::FindTarget(const GUID& targetId, VDS_ISCSI_TARGET_PROP& /*properties*/) {
    return m_targetMap.contains(targetId) ? E_NOTIMPL : VDS_E_OBJECT_NOT_FOUND;
}

HRESULT FilerObjectContainer::GetTargetPropertiesRecord(const GUID& targetId, IscsiTargetProperties& /*properties*/) {
    return m_targetMap.contains(targetId) ? E_NOTIMPL : VDS_E_OBJECT_NOT_FOUND;
}

