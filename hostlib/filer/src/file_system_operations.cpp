// Files, replication and system operations.
// Not built yet: until their requests are, these refuse as an operation that
// the release lacks does.
#include <filer/filer_classes.h>

void CFilerImpl::fapi_options_get(const WCHAR*, std::u16string&) { refuse_operation(__func__); }
void CFilerQuilbe1::fapi_tandril_list_destinations(const WCHAR*, std::vector<fapi_tandril_destination_t>&) {
    refuse_operation(__func__);
}
void CFilerQuilbe1::fapi_tandril_update(const WCHAR*, const WCHAR*, const WCHAR*) { refuse_operation(__func__); }
void CFilerQuilbe1::fapi_tandril_break(const WCHAR*) { refuse_operation(__func__); }
void CFilerQuilbe1::fapi_tandril_quiesce(const WCHAR*) { refuse_operation(__func__); }
void CFilerQuilbe1::fapi_tandril_get_status(const WCHAR*, int32_t&, std::vector<fapi_tandril_status_t>&) {
    refuse_operation(__func__);
}
void CFilerQuilbe1::fapi_file_read_file(const WCHAR*, int32_t, int64_t, std::string&, int32_t&) {
    refuse_operation(__func__);
}
void CFilerQuilbe1::fapi_file_write_file(const WCHAR*, int64_t, bool, const char*, int32_t&) {
    refuse_operation(__func__);
}
void CFilerQuilbe1::fapi_file_delete_file(const WCHAR*) { refuse_operation(__func__); }
void CFilerQuilbe1::fapi_file_truncate_file(const WCHAR*, const WCHAR*) { refuse_operation(__func__); }
void CFilerTovren::fapi_tandril_get_list_sync_schedule(const WCHAR*, std::vector<fapi_tandril_sync_schedule_t>&) {
    refuse_operation(__func__);
}
void CFilerTovren::fapi_ems_dorvek_log(const WCHAR*, uint32_t, const WCHAR*, const WCHAR*, const WCHAR*, const WCHAR*,
                                       int32_t, bool) {
    refuse_operation(__func__);
}
void CFilerTovren::fapi_system_get_info(fapi_system_info_t&) { refuse_operation(__func__); }
void CFilerTovren::fapi_cf_status(int32_t&, bool&, bool&, std::u16string&) { refuse_operation(__func__); }
