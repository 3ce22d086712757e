// Operations built on other operations.
// Not built yet: until their requests are, these refuse as an operation that
// the release lacks does.
#include <filer/filer_classes.h>

bool CFilerImpl::volume_has_free_space(const WCHAR*) { refuse_operation(__func__); }
void CFilerImpl::get_lun_max_size(const WCHAR*, uint64_t&, uint64_t&) { refuse_operation(__func__); }
bool CFilerImpl::snapshotExists(const WCHAR*, const WCHAR*) { refuse_operation(__func__); }
void CFilerImpl::set_lun_signature(const WCHAR*, int32_t) { refuse_operation(__func__); }
void CFilerImpl::get_lun_signature(const WCHAR*, int32_t&) { refuse_operation(__func__); }
bool CFilerImpl::get_space_reservation(const WCHAR*, bool) { refuse_operation(__func__); }
void CFilerImpl::set_space_reservation(const WCHAR*, bool, bool) { refuse_operation(__func__); }
void CFilerImpl::has_snapshot_schedule(const WCHAR*, bool&) { refuse_operation(__func__); }
void CFilerImpl::clear_snapshot_schedule(const WCHAR*) { refuse_operation(__func__); }
void CFilerImpl::send_ems_event(const WCHAR*, uint32_t, const WCHAR*, const WCHAR*, const WCHAR*, const WCHAR*, int32_t,
                                bool) {
    refuse_operation(__func__);
}
void CFilerImpl::restore_file_from_snapshot(const WCHAR*, const WCHAR*) { refuse_operation(__func__); }
void CFilerImpl::get_lun_backing_snapshot(const WCHAR*, std::u16string&) { refuse_operation(__func__); }
uint64_t CFilerImpl::get_lun_size(const WCHAR*) { refuse_operation(__func__); }
bool CFilerImpl::is_lun_online(const WCHAR*) { refuse_operation(__func__); }
bool CFilerImpl::lun_exists(const WCHAR*) { refuse_operation(__func__); }
bool CFilerImpl::get_lun_attribute(const WCHAR*, const WCHAR*, std::u16string&) { refuse_operation(__func__); }
void CFilerImpl::set_lun_attribute(const WCHAR*, const WCHAR*, const WCHAR*) { refuse_operation(__func__); }
void CFilerImpl::read_lun_raw(const WCHAR*, uint64_t, uint32_t, void*) { refuse_operation(__func__); }
void CFilerImpl::write_lun_raw(const WCHAR*, uint64_t, uint32_t, const void*) { refuse_operation(__func__); }
void CFilerImpl::get_lun_restore_status(const WCHAR*, bool&) { refuse_operation(__func__); }
bool CFilerImpl::is_initiator_logged_in_a(const fapi_wwn_t&) { refuse_operation(__func__); }
bool CFilerImpl::is_initiator_logged_in(const WCHAR*) { refuse_operation(__func__); }
void CFilerImpl::unmap_lun_from_all_igroups(const WCHAR*) { refuse_operation(__func__); }
void CFilerImpl::get_recent_snapshot_name(const WCHAR*, std::u16string&) { refuse_operation(__func__); }
void CFilerImpl::lun_reverse_map(const WCHAR*, uint32_t, std::u16string&) { refuse_operation(__func__); }
bool CFilerImpl::lun_has_scsi_reservations(const WCHAR*) { refuse_operation(__func__); }
bool CFilerREL64::is_volume_online(const WCHAR*) { refuse_operation(__func__); }
bool CFilerTovren::volume_has_free_space(const WCHAR*) { refuse_operation(__func__); }
void CFilerTovren::get_lun_max_size(const WCHAR*, uint64_t&, uint64_t&) { refuse_operation(__func__); }
void CFilerTovren::get_volume_options(const WCHAR*, int32_t&, int32_t&, int32_t&) { refuse_operation(__func__); }
void CFilerTovren::set_volume_language_options(const WCHAR*, int32_t, int32_t, int32_t) { refuse_operation(__func__); }
void CFilerTovren::send_ems_event(const WCHAR*, uint32_t, const WCHAR*, const WCHAR*, const WCHAR*, const WCHAR*,
                                  int32_t, bool) {
    refuse_operation(__func__);
}
void CFilerTovren::restore_file_from_snapshot(const WCHAR*, const WCHAR*) { refuse_operation(__func__); }
void CFilerTovren::set_lun_attribute(const WCHAR*, const WCHAR*, const WCHAR*) { refuse_operation(__func__); }
void CFilerTovren::read_lun_raw(const WCHAR*, uint64_t, uint32_t, void*) { refuse_operation(__func__); }
void CFilerTovren::get_lun_restore_status(const WCHAR*, bool&) { refuse_operation(__func__); }
void CFilerPellion::lun_reverse_map(const WCHAR*, uint32_t, std::u16string&) { refuse_operation(__func__); }
bool CFilerPellion1::lun_has_scsi_reservations(const WCHAR*) { refuse_operation(__func__); }
bool CFilerOskarn::get_space_reservation(const WCHAR*, bool) { refuse_operation(__func__); }
uint64_t CFilerOskarn::get_lun_size(const WCHAR*) { refuse_operation(__func__); }
bool CFilerOskarn::lun_exists(const WCHAR*) { refuse_operation(__func__); }
bool CFilerOskarn::get_lun_attribute(const WCHAR*, const WCHAR*, std::u16string&) { refuse_operation(__func__); }
void CFilerOskarn::write_lun_raw(const WCHAR*, uint64_t, uint32_t, const void*) { refuse_operation(__func__); }
bool CFilerOskarn::is_initiator_logged_in_a(const fapi_wwn_t&) { refuse_operation(__func__); }
bool CFilerOskarn::is_initiator_logged_in(const WCHAR*) { refuse_operation(__func__); }
bool CFilerOskarn::is_trell_volume(const WCHAR*, std::u16string&) { refuse_operation(__func__); }
void CFilerOskarn::get_trell_volume_info(const WCHAR*, std::u16string&, std::u16string&, std::u16string&,
                                         std::u16string&) {
    refuse_operation(__func__);
}
void CFilerOskarn::get_snapshot_auto_delete_settings(const WCHAR*, std::u16string&, std::u16string&, std::u16string&) {
    refuse_operation(__func__);
}
void CFilerOskarn::get_space_reservations_info(const WCHAR*, uint64_t&, uint64_t&, uint64_t&, uint64_t&, int32_t&,
                                               int32_t&) {
    refuse_operation(__func__);
}
bool CFilerOskarn::snapshot_already_trell_clone(const WCHAR*, const WCHAR*) { refuse_operation(__func__); }
