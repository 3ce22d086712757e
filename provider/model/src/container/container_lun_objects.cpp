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

