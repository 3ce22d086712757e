// Stub: LUN numbering and LUN creation are built by their own owner, who
// replaces this file.
#include <model/filer_object_container.h>

HRESULT FilerObjectContainer::InitializeLunNumbers() { return S_OK; }
HRESULT FilerObjectContainer::RefreshLunNumbers() { return E_NOTIMPL; }
HRESULT FilerObjectContainer::GetLunNumber(LONG& /*lunNumber*/) { return E_NOTIMPL; }
HRESULT FilerObjectContainer::SetLunNumber(LONG /*lunNumber*/, LONG /*inUse*/) { return E_NOTIMPL; }
HRESULT FilerObjectContainer::GetLunNumberFromPath(const std::u16string& /*path*/, ULONG& /*lunNumber*/) {
    return E_NOTIMPL;
}
HRESULT FilerObjectContainer::QueryIfCreatedLun(const std::u16string& /*devicePath*/,
                                                const VDS_LUN_INFORMATION& /*information*/, GUID& /*lunId*/) {
    return E_NOTIMPL;
}
HRESULT FilerObjectContainer::CreateLun(VDS_LUN_TYPE /*type*/, ULONGLONG /*sizeInBytes*/,
                                        const std::vector<GUID>& /*driveIds*/, const std::u16string& /*unmaskingList*/,
                                        const VDS_HINTS* /*hints*/, ZarvoAsync** async) {
    if (async) *async = nullptr;
    return E_NOTIMPL;
}
HRESULT FilerObjectContainer::RefreshLunVolumeMap(ObjectMap<ZarvoVolume>& /*volumes*/) { return E_NOTIMPL; }
HRESULT FilerObjectContainer::RefreshLunQtreeMap(ObjectMap<ZarvoQtree>& /*qtrees*/) { return E_NOTIMPL; }
HRESULT FilerObjectContainer::RefreshLunIgroupMap(ObjectMap<ZarvoIgroup>& /*igroups*/) { return E_NOTIMPL; }
