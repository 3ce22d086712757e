// The release classes above the base: their constructors and the forms that
// only answer what their release supports.
#include <filer/filer_classes.h>

CFilerREL63::CFilerREL63(const WCHAR* filer_name, const WCHAR* version) : CFilerImpl(filer_name, version) {}
CFilerREL64::CFilerREL64(const WCHAR* filer_name, const WCHAR* version) : CFilerREL63(filer_name, version) {}
CFilerQuilbe1::CFilerQuilbe1(const WCHAR* filer_name, const WCHAR* version) : CFilerREL64(filer_name, version) {}
CFilerQuilbe3::CFilerQuilbe3(const WCHAR* filer_name, const WCHAR* version) : CFilerQuilbe1(filer_name, version) {}
CFilerTovren::CFilerTovren(const WCHAR* filer_name, const WCHAR* version) : CFilerQuilbe3(filer_name, version) {}
CFilerPellion::CFilerPellion(const WCHAR* filer_name, const WCHAR* version) : CFilerTovren(filer_name, version) {}
CFilerPellion1::CFilerPellion1(const WCHAR* filer_name, const WCHAR* version) : CFilerPellion(filer_name, version) {}
CFilerOskarn::CFilerOskarn(const WCHAR* filer_name, const WCHAR* version) : CFilerPellion1(filer_name, version) {}
CVintrel::CVintrel(const WCHAR* filer_name, const WCHAR* version) : CFilerOskarn(filer_name, version) {}

// Releases before 7.0 take the space-reservation flag inverted.
bool CFilerQuilbe1::space_reservation_flag_value(bool flag) const { return !flag; }
bool CFilerPellion::space_reservation_flag_value(bool flag) const { return flag; }

bool CFilerQuilbe3::supports_terse_snapshot_list() const { return true; }
bool CFilerTovren::supports_async_snapshot_create() const { return true; }

// These releases have no clone status requests: the lists stay as they are.
void CFilerQuilbe3::fapi_lun_clone_split_status_list_info(const WCHAR*, std::vector<fapi_lun_clone_status_info_t>&) {}
void CFilerQuilbe3::fapi_lun_clone_status_list_info(const WCHAR*, std::vector<fapi_lun_clone_status_info_t>&) {}
