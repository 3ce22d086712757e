// LUN attributes, space reservation and status queries.
// Not built yet: until their requests are, these refuse as an operation that
// the release lacks does.
#include <filer/filer_classes.h>

void CFilerREL64::fapi_lun_get_space_reservation_info(const WCHAR*, bool&) { refuse_operation(__func__); }
void CFilerREL64::fapi_lun_set_space_reservation_info(const WCHAR*, bool) { refuse_operation(__func__); }
void CFilerREL64::fapi_file_get_space_reservation_info(const WCHAR*, bool&, bool&) { refuse_operation(__func__); }
void CFilerREL64::fapi_file_set_space_reservation_info(const WCHAR*, bool, bool) { refuse_operation(__func__); }
bool CFilerTovren::fapi_lun_get_attribute(const WCHAR*, const WCHAR*, std::u16string&) { refuse_operation(__func__); }
void CFilerTovren::fapi_lun_set_attribute(const WCHAR*, const WCHAR*, const WCHAR*) { refuse_operation(__func__); }
void CFilerTovren::fapi_lun_read_raw(const WCHAR*, uint64_t, uint32_t, void*) { refuse_operation(__func__); }
void CFilerTovren::fapi_lun_write_raw(const WCHAR*, uint64_t, uint32_t, const void*) { refuse_operation(__func__); }
void CFilerTovren::fapi_lun_restore_status(const WCHAR*, bool&) { refuse_operation(__func__); }
void CFilerTovren::fapi_lun_snap_usage_list_info(const WCHAR*, const WCHAR*, std::vector<fapi_lun_snap_usage_info_t>&) {
    refuse_operation(__func__);
}
bool CFilerPellion::fapi_is_port_has_scsi_reservations(const WCHAR*, const WCHAR*) { refuse_operation(__func__); }
bool CFilerPellion1::fapi_is_lun_has_reservations(const WCHAR*) { refuse_operation(__func__); }
void CFilerOskarn::fapi_lun_clone_split_status_list_info(const WCHAR*, std::vector<fapi_lun_clone_status_info_t>&) {
    refuse_operation(__func__);
}
void CFilerOskarn::fapi_lun_clone_status_list_info(const WCHAR*, std::vector<fapi_lun_clone_status_info_t>&) {
    refuse_operation(__func__);
}
bool CFilerOskarn::fapi_lun_initiator_logged_in(const std::u16string&) { refuse_operation(__func__); }
void CVintrel::fapi_lun_get_inquiry_info(const WCHAR*, std::u16string&, std::u16string&, std::u16string&) {
    refuse_operation(__func__);
}
