// LUN operations.
// Not built yet: until their requests are, these refuse as an operation that
// the release lacks does.
#include <filer/filer_classes.h>

void CFilerREL64::fapi_lun_rename(const WCHAR*, const WCHAR*) { refuse_operation(__func__); }
void CFilerQuilbe1::fapi_lun_set_serial_number(const char*, const char*) { refuse_operation(__func__); }
void CFilerQuilbe1::fapi_lun_get_serial_number(const char*, std::string&) { refuse_operation(__func__); }
void CFilerQuilbe1::fapi_lun_offline(const char*) { refuse_operation(__func__); }
void CFilerQuilbe1::fapi_lun_online(const char*) { refuse_operation(__func__); }
void CFilerQuilbe1::fapi_lun_list_info(const WCHAR*, std::vector<fapi_lun_info_t>&, owned_ptr<fapi_error_t>*) {
    refuse_operation(__func__);
}
void CFilerQuilbe1::fapi_lun_create_by_size(const WCHAR*, uint64_t, std::optional<int32_t>, std::optional<bool>,
                                            int64_t&) {
    refuse_operation(__func__);
}
void CFilerQuilbe1::fapi_lun_destroy(const WCHAR*, std::optional<bool>) { refuse_operation(__func__); }
void CFilerQuilbe1::fapi_lun_resize(const WCHAR*, uint64_t, std::optional<bool>, int64_t&, int32_t*) {
    refuse_operation(__func__);
}
void CFilerQuilbe1::fapi_lun_create_from_snapshot(const WCHAR*, const WCHAR*, std::optional<int32_t>,
                                                  std::optional<bool>, int64_t&) {
    refuse_operation(__func__);
}
void CFilerQuilbe1::fapi_lun_create_from_file(const WCHAR*, const WCHAR*, std::optional<int32_t>, std::optional<bool>,
                                              int64_t&) {
    refuse_operation(__func__);
}
bool CFilerQuilbe1::fapi_lun_list_info_ex(const WCHAR*) { refuse_operation(__func__); }
void CFilerTovren::fapi_lun_get_maxsize(const WCHAR*, int64_t&, int64_t&) { refuse_operation(__func__); }
