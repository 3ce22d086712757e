// Snapshots.
// Not built yet: until their requests are, these refuse as an operation that
// the release lacks does.
#include <filer/filer_classes.h>

void CFilerREL63::fapi_snapshot_delete(const WCHAR*, const WCHAR*, owned_ptr<fapi_error_t>*) {
    refuse_operation(__func__);
}
void CFilerREL63::fapi_snapshot_rename(const WCHAR*, const WCHAR*, const WCHAR*) { refuse_operation(__func__); }
void CFilerREL63::fapi_snapshot_get_schedule(const WCHAR*, fapi_snapshot_schedule_t&) { refuse_operation(__func__); }
void CFilerREL63::fapi_snapshot_set_schedule(const WCHAR*, const fapi_snapshot_schedule_t&) {
    refuse_operation(__func__);
}
void CFilerQuilbe1::fapi_snapshot_list_info(const WCHAR*, bool, std::vector<fapi_snapshot_info_t>&) {
    refuse_operation(__func__);
}
void CFilerQuilbe1::fapi_snapshot_create(const WCHAR*, const WCHAR*, bool) { refuse_operation(__func__); }
int64_t CFilerTovren::fapi_snapshot_volume_info(const WCHAR*) { refuse_operation(__func__); }
void CFilerTovren::fapi_snapshot_restore_file(const WCHAR*, const WCHAR*, const WCHAR*) { refuse_operation(__func__); }
int64_t CFilerOskarn::fapi_snapshot_delta_info(const WCHAR*, const WCHAR*, const WCHAR*) { refuse_operation(__func__); }
int64_t CFilerOskarn::fapi_snapshot_reclaimable_info(const WCHAR*, const WCHAR*) { refuse_operation(__func__); }
