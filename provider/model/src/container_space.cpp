// Stub: space allocation, extents and plexes are built by their own owner,
// who replaces this file.
#include <model/filer_object_container.h>

HRESULT FilerObjectContainer::GetMaxLunSizeFromAggregateSize(bool /*isExtent*/, ULONGLONG /*aggregateBytes*/,
                                                             ULONGLONG& usableBytes) {
    usableBytes = 0;
    return S_OK;
}
HRESULT FilerObjectContainer::GetMaxFreeSpaceInAggregate(ULONGLONG& /*bytes*/, std::u16string& /*aggregateName*/,
                                                         std::vector<fapi_aggr_info_t>& /*aggregates*/,
                                                         fapi_aggr_info_t& /*chosen*/) {
    return E_NOTIMPL;
}
HRESULT FilerObjectContainer::AllocateSpaceinAggregate(ULONGLONG /*bytesNeeded*/,
                                                       std::vector<fapi_aggr_info_t>& /*aggregates*/,
                                                       fapi_aggr_info_t& /*chosen*/) {
    return E_NOTIMPL;
}
HRESULT FilerObjectContainer::QueryMaxLunCreateSize(VDS_LUN_TYPE /*type*/, const GUID* /*driveIds*/,
                                                    LONG /*driveCount*/, const VDS_HINTS* /*hints*/,
                                                    ULONGLONG& /*maxBytes*/) {
    return E_NOTIMPL;
}
HRESULT FilerObjectContainer::QueryMaxLunExtendSize(const GUID& /*lunId*/, const GUID* /*driveIds*/,
                                                    LONG /*driveCount*/, ULONGLONG& /*maxBytes*/) {
    return E_NOTIMPL;
}
HRESULT FilerObjectContainer::SetSize(const GUID& /*lunId*/, ULONGLONG /*newSizeInBytes*/, ZarvoAsync** async) {
    if (async) *async = nullptr;
    return E_NOTIMPL;
}
bool FilerObjectContainer::AllocateExtents(const GUID& /*lunId*/, const GUID& /*plexId*/, ULONGLONG /*bytes*/,
                                           NotificationSet* /*notifications*/) {
    return false;
}
HRESULT FilerObjectContainer::FreeExtents(const GUID& /*plexId*/, NotificationSet* /*notifications*/) {
    return E_NOTIMPL;
}
HRESULT FilerObjectContainer::ChangeExtentOwner(const GUID& /*plexId*/, const GUID& /*newPlexId*/,
                                                const GUID& /*newLunId*/) {
    return E_NOTIMPL;
}
