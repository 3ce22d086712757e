// Stub: appliance discovery, drive validation and the friendly-name file are
// built by their own owner, who replaces this file.
#include <model/filer_object_container.h>

HRESULT FilerObjectContainer::RefreshContainer() { return E_NOTIMPL; }
HRESULT FilerObjectContainer::SetUnmaskingList(const std::u16string& /*adapterName*/) { return S_OK; }
bool FilerObjectContainer::IsPathPresent(const BYTE (&/*portWwn*/)[8], const std::string& /*adapterName*/) {
    return false;
}
bool FilerObjectContainer::AllocateSlot(SHORT& /*busNumber*/, SHORT& /*slotNumber*/,
                                        const fapi_disk_info_t& /*disk*/) {
    return false;
}
HRESULT FilerObjectContainer::ValidateDrives(bool& changed) {
    changed = false;
    return E_NOTIMPL;
}
HRESULT FilerObjectContainer::CreateRootVolumeFilename(const std::u16string& /*fileName*/, std::u16string& /*path*/) {
    return E_NOTIMPL;
}
HRESULT FilerObjectContainer::SetName(const std::u16string& /*friendlyName*/) { return E_NOTIMPL; }
