// Volumes and qtrees.
// Not built yet: until their requests are, these refuse as an operation that
// the release lacks does.
#include <filer/filer_classes.h>

void CFilerREL64::fapi_volume_list_info(std::vector<fapi_volume_info_t>&) { refuse_operation(__func__); }
void CFilerREL64::fapi_volume_get_root_name(std::u16string&) { refuse_operation(__func__); }
void CFilerQuilbe1::fapi_qtree_list(const WCHAR*, std::vector<fapi_qtree_info_t>&) { refuse_operation(__func__); }
void CFilerQuilbe1::fapi_qtree_create(const WCHAR*, const WCHAR*) { refuse_operation(__func__); }
void CFilerTovren::fapi_volume_set_option(const WCHAR*, const char*, const char*) { refuse_operation(__func__); }
void CFilerTovren::fapi_volume_options_list_info(const WCHAR*, int32_t&, int32_t&, int32_t&) {
    refuse_operation(__func__);
}
void CFilerTovren::fapi_volume_destroy(const WCHAR*) { refuse_operation(__func__); }
void CFilerTovren::fapi_volume_offline(const WCHAR*, std::optional<uint32_t>) { refuse_operation(__func__); }
void CFilerTovren::fapi_volume_online(const WCHAR*) { refuse_operation(__func__); }
void CFilerTovren::fapi_volume_create(const WCHAR*, const WCHAR*, const WCHAR*, const WCHAR*) {
    refuse_operation(__func__);
}
void CFilerTovren::fapi_volume_rename(const WCHAR*, const WCHAR*) { refuse_operation(__func__); }
void CFilerPellion::fapi_volume_clone_create(const WCHAR*, const WCHAR*, const WCHAR*, const WCHAR*) {
    refuse_operation(__func__);
}
void CFilerPellion::fapi_volume_size(const WCHAR*, const WCHAR*, std::u16string&) { refuse_operation(__func__); }
void CFilerOskarn::fapi_volume_autosize_get(const WCHAR*, std::u16string&, std::u16string&, std::u16string&) {
    refuse_operation(__func__);
}
