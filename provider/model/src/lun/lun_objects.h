#pragma once
// The objects a LUN is made of, found again by their key or built anew: an
// object the container already holds under the key's id is shared with this
// LUN; otherwise a new one registers itself with the LUN and the container.
#include <model/aggregate.h>
#include <model/filer_object_container.h>
#include <model/igroup.h>
#include <model/lun.h>
#include <model/qtree.h>
#include <model/volume.h>
#include <model/zarvo_san.h>

#include <new>
#include <string>

namespace lun_objects {

inline HRESULT Find(FilerObjectContainer& c, const GUID& id, ZarvoVolume*& o) { return c.GetVolume(id, o); }
inline HRESULT Find(FilerObjectContainer& c, const GUID& id, ZarvoQtree*& o) { return c.GetQtree(id, o); }
inline HRESULT Find(FilerObjectContainer& c, const GUID& id, ZarvoAggregate*& o) { return c.GetAggregate(id, o); }
inline HRESULT Find(FilerObjectContainer& c, const GUID& id, ZarvoIgroup*& o) { return c.GetIgroup(id, o); }

inline HRESULT Share(FilerObjectContainer& c, ZarvoLun& lun, const GUID& id, ZarvoVolume* o) {
    lun.AddVolObject(id, o);
    return c.AddVolObject(id, o);
}
inline HRESULT Share(FilerObjectContainer& c, ZarvoLun& lun, const GUID& id, ZarvoQtree* o) {
    lun.AddQtreeObject(id, o);
    return c.AddQtreeObject(id, o);
}
inline HRESULT Share(FilerObjectContainer& c, ZarvoLun& lun, const GUID& id, ZarvoAggregate* o) {
    lun.AddAggrObject(id, o);
    return c.AddAggrObject(id, o);
}
inline HRESULT Share(FilerObjectContainer& c, ZarvoLun& lun, const GUID& id, ZarvoIgroup* o) {
    lun.AddIgroupObject(id, o);
    return c.AddIgroupObject(id, o);
}

inline ZarvoVolume* Build(FilerObjectContainer* c, ZarvoLun* lun, const GUID& id, const fapi_volume_info_t& r) {
    return new (std::nothrow) ZarvoVolume(c, lun, id, r.name.c_str());
}
inline ZarvoQtree* Build(FilerObjectContainer* c, ZarvoLun* lun, const GUID& id, const fapi_qtree_info_t& r) {
    return new (std::nothrow) ZarvoQtree(c, lun, id, &r);
}
inline ZarvoAggregate* Build(FilerObjectContainer* c, ZarvoLun* lun, const GUID& id, const fapi_aggr_info_t& r) {
    return new (std::nothrow) ZarvoAggregate(c, lun, id, r);
}
inline ZarvoIgroup* Build(FilerObjectContainer* c, ZarvoLun* lun, const GUID& id, const fapi_igroup_info_t& r) {
    return new (std::nothrow) ZarvoIgroup(c, lun, id, &r);
}

// S_OK, the container's registration result for a shared object, or
// E_OUTOFMEMORY. `known` tells whether the key had an id already.
template <typename T, typename Record>
HRESULT ReuseOrBuild(FilerObjectContainer* container, ZarvoLun* lun, const std::u16string& key, const Record& record,
                     T*& object, bool* built = nullptr) {
    GUID id{};
    const bool known = container->m_pSan->CheckCreateGuid(NarrowFromWide(key), id);
    object = nullptr;
    if (known && SUCCEEDED(Find(*container, id, object)) && object) {
        if (built) *built = false;
        return Share(*container, *lun, id, object);
    }
    object = Build(container, lun, id, record);
    if (built) *built = object != nullptr;
    return object ? S_OK : E_OUTOFMEMORY;
}

}  // namespace lun_objects
