// Stub: the container's LUN, plex, drive and path operations are built by
// their own owner, who replaces this file.
#include <model/filer_object_container.h>

namespace {
HRESULT NotQueued(ZarvoAsync** async) {
    if (async) *async = nullptr;
    return E_NOTIMPL;
}
}  // namespace

HRESULT FilerObjectContainer::DeleteLun(const GUID& /*lunId*/, ZarvoAsync** async) { return NotQueued(async); }
HRESULT FilerObjectContainer::SetLunUnmask(const GUID& /*lunId*/, const std::u16string& /*unmaskingList*/,
                                           ZarvoAsync** async) {
    return NotQueued(async);
}
HRESULT FilerObjectContainer::GetUnmaskingList(std::u16string& /*unmaskingList*/) { return E_NOTIMPL; }
HRESULT FilerObjectContainer::AddPlex(const GUID& /*lunId*/, const GUID& /*sourceLunId*/, ZarvoAsync** async) {
    return NotQueued(async);
}
HRESULT FilerObjectContainer::RemovePlex(const GUID& /*lunId*/, const GUID& /*plexId*/, ZarvoAsync** async) {
    return NotQueued(async);
}
HRESULT FilerObjectContainer::QueryPlexes(const GUID& /*lunId*/, std::vector<GUID>& /*plexIds*/) { return E_NOTIMPL; }
HRESULT FilerObjectContainer::GetLunFromPlex(const GUID& /*plexId*/, GUID& /*lunId*/) { return E_NOTIMPL; }
HRESULT FilerObjectContainer::SetLunName(const GUID& /*lunId*/, const std::u16string& /*name*/) { return E_NOTIMPL; }
HRESULT FilerObjectContainer::SetLunStatus(const GUID& /*lunId*/, VDS_LUN_STATUS /*status*/) { return E_NOTIMPL; }
HRESULT FilerObjectContainer::SetDriveStatus(const GUID& /*driveId*/, VDS_DRIVE_STATUS /*status*/) {
    return E_NOTIMPL;
}
HRESULT FilerObjectContainer::GetDriveSpace(const GUID& /*driveId*/, ULONGLONG& /*freeBytes*/) { return E_NOTIMPL; }
HRESULT FilerObjectContainer::GetDrive(SHORT /*busNumber*/, SHORT /*slotNumber*/, GUID& /*driveId*/) {
    return E_NOTIMPL;
}
void FilerObjectContainer::GetDataDiskCount(const fapi_raid_group_info_t& /*raidGroup*/, LONG& count) { count = 0; }
HRESULT FilerObjectContainer::ResetController(const GUID& /*controllerId*/) { return E_NOTIMPL; }
HRESULT FilerObjectContainer::SetPortStatus(const GUID& /*portId*/, VDS_PORT_STATUS /*status*/) { return E_NOTIMPL; }
HRESULT FilerObjectContainer::GetPathInfo(const GUID& /*portId*/, ULONG /*pathNumber*/, VDS_PATH_INFO& /*pathInfo*/) {
    return E_NOTIMPL;
}
HRESULT FilerObjectContainer::GetPathPolicy(const GUID& /*portId*/, ULONG /*pathNumber*/,
                                            VDS_PATH_POLICY& /*pathPolicy*/) {
    return E_NOTIMPL;
}
HRESULT FilerObjectContainer::SetPathPolicy(const GUID& /*portId*/, VDS_PATH_POLICY /*pathPolicy*/) {
    return E_NOTIMPL;
}
HRESULT FilerObjectContainer::SetAllPathStatusesFromHbaPort(VDS_HBAPORT_PROP /*hbaPort*/, VDS_PATH_STATUS /*status*/) {
    return E_NOTIMPL;
}
