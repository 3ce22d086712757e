#include <filer/filer_classes.h>
#include <filer/filer_version.h>

#include "fapi_raise.h"

namespace {
std::u16string copy_of(const WCHAR* text) { return text ? std::u16string(text) : std::u16string(); }
}  // namespace

void CFiler::set_transport(const WCHAR* transport) { transport_ = copy_of(transport); }
void CFiler::set_user_name(const WCHAR* user_name) { user_name_ = copy_of(user_name); }
void CFiler::set_password(const WCHAR* password) { password_ = copy_of(password); }

CFilerImpl::CFilerImpl(const WCHAR* filer_name, const WCHAR* version)
    : filer_name_(copy_of(filer_name)), version_(copy_of(version)) {}

const WCHAR* CFilerImpl::get_filer_name() const { return filer_name_.c_str(); }

bool CFilerImpl::supports_terse_snapshot_list() const { return false; }
bool CFilerImpl::supports_async_snapshot_create() const { return false; }
bool CFilerImpl::is_volume_online(const WCHAR*) { return false; }

// The stored text is the appliance's own, so it is parsed again on every call.
bool CFilerImpl::version_at_least_7_1() const { return filer_version::from_string(version_) >= filer_version(7, 1); }

void CFilerImpl::refuse_operation(const char* operation) const {
    FAPI_RAISE(res::MSG_OPERATION_NOT_SUPPORTED,
               std::u16string(operation, operation + std::char_traits<char>::length(operation)));
}

void CFilerImpl::check_optional_parameter(bool requested, bool supported, const WCHAR* parameter,
                                          const WCHAR* request) const {
    if (requested && !supported)
        FAPI_RAISE(res::MSG_FAPI_OPTIONAL_PARAMETER_NOT_SUPPORTED, copy_of(parameter), copy_of(request), version_,
                   filer_name_);
}

// Reachable only on releases below 7.1, where no caller asks for it.
void CFilerImpl::fapi_iscsi_target_alias_clear_alias() { ReportAssertion(__FILE__, __LINE__, false); }

// Operations the base release lacks; a later class of the chain implements each.
bool CFilerImpl::is_trell_volume(const WCHAR*, std::u16string&) { refuse_operation(__func__); }
void CFilerImpl::get_trell_volume_info(const WCHAR*, std::u16string&, std::u16string&, std::u16string&,
                                       std::u16string&) {
    refuse_operation(__func__);
}
void CFilerImpl::get_snapshot_auto_delete_settings(const WCHAR*, std::u16string&, std::u16string&, std::u16string&) {
    refuse_operation(__func__);
}
void CFilerImpl::get_space_reservations_info(const WCHAR*, uint64_t&, uint64_t&, uint64_t&, uint64_t&, int32_t&,
                                             int32_t&) {
    refuse_operation(__func__);
}
bool CFilerImpl::snapshot_already_trell_clone(const WCHAR*, const WCHAR*) { refuse_operation(__func__); }
void CFilerImpl::fapi_lun_get_maxsize(const WCHAR*, int64_t&, int64_t&) { refuse_operation(__func__); }
int64_t CFilerImpl::fapi_snapshot_volume_info(const WCHAR*) { refuse_operation(__func__); }
void CFilerImpl::fapi_tandril_get_list_sync_schedule(const WCHAR*, std::vector<fapi_tandril_sync_schedule_t>&) {
    refuse_operation(__func__);
}
void CFilerImpl::fapi_ems_dorvek_log(const WCHAR*, uint32_t, const WCHAR*, const WCHAR*, const WCHAR*, const WCHAR*,
                                     int32_t, bool) {
    refuse_operation(__func__);
}
void CFilerImpl::fapi_snapshot_restore_file(const WCHAR*, const WCHAR*, const WCHAR*) { refuse_operation(__func__); }
bool CFilerImpl::fapi_lun_get_attribute(const WCHAR*, const WCHAR*, std::u16string&) { refuse_operation(__func__); }
void CFilerImpl::fapi_lun_set_attribute(const WCHAR*, const WCHAR*, const WCHAR*) { refuse_operation(__func__); }
void CFilerImpl::fapi_lun_read_raw(const WCHAR*, uint64_t, uint32_t, void*) { refuse_operation(__func__); }
void CFilerImpl::fapi_lun_write_raw(const WCHAR*, uint64_t, uint32_t, const void*) { refuse_operation(__func__); }
void CFilerImpl::fapi_lun_restore_status(const WCHAR*, bool&) { refuse_operation(__func__); }
void CFilerImpl::fapi_volume_set_option(const WCHAR*, const char*, const char*) { refuse_operation(__func__); }
void CFilerImpl::fapi_volume_options_list_info(const WCHAR*, int32_t&, int32_t&, int32_t&) {
    refuse_operation(__func__);
}
int64_t CFilerImpl::fapi_snapshot_delta_info(const WCHAR*, const WCHAR*, const WCHAR*) { refuse_operation(__func__); }
int64_t CFilerImpl::fapi_snapshot_reclaimable_info(const WCHAR*, const WCHAR*) { refuse_operation(__func__); }
void CFilerImpl::fapi_volume_autosize_get(const WCHAR*, std::u16string&, std::u16string&, std::u16string&) {
    refuse_operation(__func__);
}
void CFilerImpl::fapi_lun_clone_split_status_list_info(const WCHAR*, std::vector<fapi_lun_clone_status_info_t>&) {
    refuse_operation(__func__);
}
void CFilerImpl::fapi_lun_clone_status_list_info(const WCHAR*, std::vector<fapi_lun_clone_status_info_t>&) {
    refuse_operation(__func__);
}
void CFilerImpl::fapi_system_get_info(fapi_system_info_t&) { refuse_operation(__func__); }
bool CFilerImpl::fapi_lun_initiator_logged_in(const std::u16string&) { refuse_operation(__func__); }
void CFilerImpl::fapi_volume_clone_create(const WCHAR*, const WCHAR*, const WCHAR*, const WCHAR*) {
    refuse_operation(__func__);
}
void CFilerImpl::fapi_volume_size(const WCHAR*, const WCHAR*, std::u16string&) { refuse_operation(__func__); }
void CFilerImpl::fapi_volume_destroy(const WCHAR*) { refuse_operation(__func__); }
void CFilerImpl::fapi_volume_offline(const WCHAR*, std::optional<uint32_t>) { refuse_operation(__func__); }
void CFilerImpl::fapi_volume_online(const WCHAR*) { refuse_operation(__func__); }
void CFilerImpl::fapi_volume_create(const WCHAR*, const WCHAR*, const WCHAR*, const WCHAR*) {
    refuse_operation(__func__);
}
void CFilerImpl::fapi_volume_rename(const WCHAR*, const WCHAR*) { refuse_operation(__func__); }
void CFilerImpl::fapi_aggr_list_info(std::vector<fapi_aggr_info_t>&, const WCHAR*, bool) { refuse_operation(__func__); }
void CFilerImpl::fapi_aggr_get_root(std::u16string&) { refuse_operation(__func__); }
void CFilerImpl::fapi_volume_get_root_name(std::u16string&) { refuse_operation(__func__); }
void CFilerImpl::fapi_lun_rename(const WCHAR*, const WCHAR*) { refuse_operation(__func__); }
void CFilerImpl::fapi_cf_status(int32_t&, bool&, bool&, std::u16string&) { refuse_operation(__func__); }
bool CFilerImpl::fapi_is_port_has_scsi_reservations(const WCHAR*, const WCHAR*) { refuse_operation(__func__); }
void CFilerImpl::fapi_iscsi_tpgroup_list_info(uint32_t, std::vector<fapi_iscsi_tpgroup_info_t>&) {
    refuse_operation(__func__);
}
void CFilerImpl::fapi_iscsi_portal_list_info(std::vector<fapi_iscsi_portal_info_t>&) { refuse_operation(__func__); }
void CFilerImpl::fapi_iscsi_interface_list_info(const WCHAR*, std::vector<fapi_iscsi_interface_info_t>&) {
    refuse_operation(__func__);
}
void CFilerImpl::fapi_iscsi_initiator_list_info(std::vector<fapi_iscsi_initiator_info_t>&) {
    refuse_operation(__func__);
}
void CFilerImpl::fapi_iscsi_target_alias_get_alias(std::u16string&) { refuse_operation(__func__); }
void CFilerImpl::fapi_iscsi_target_alias_set_alias(const WCHAR*) { refuse_operation(__func__); }
void CFilerImpl::fapi_iscsi_tpgroup_create(const WCHAR*, uint32_t*) { refuse_operation(__func__); }
void CFilerImpl::fapi_iscsi_tpgroup_destroy(uint32_t) { refuse_operation(__func__); }
void CFilerImpl::fapi_iscsi_node_set_name(const WCHAR*) { refuse_operation(__func__); }
void CFilerImpl::fapi_iscsi_tpgroup_interface_add(const WCHAR*, uint32_t) { refuse_operation(__func__); }
void CFilerImpl::fapi_iscsi_tpgroup_interface_delete(const WCHAR*, uint32_t) { refuse_operation(__func__); }
void CFilerImpl::fapi_iscsi_interface_enable(const WCHAR*) { refuse_operation(__func__); }
void CFilerImpl::fapi_iscsi_interface_disable(const WCHAR*) { refuse_operation(__func__); }
void CFilerImpl::fapi_iscsi_initiator_add_auth(const WCHAR*, const WCHAR*, std::span<const BYTE>, const WCHAR*,
                                               std::span<const BYTE>, const WCHAR*) {
    refuse_operation(__func__);
}
void CFilerImpl::fapi_iscsi_initiator_delete_auth(const WCHAR*) { refuse_operation(__func__); }
void CFilerImpl::fapi_iscsi_initiator_get_default_auth(std::u16string&, std::u16string&, std::u16string&) {
    refuse_operation(__func__);
}
void CFilerImpl::fapi_iscsi_initiator_set_default_auth(const WCHAR*, std::span<const BYTE>, const WCHAR*,
                                                       std::span<const BYTE>, const WCHAR*) {
    refuse_operation(__func__);
}
void CFilerImpl::fapi_lun_get_inquiry_info(const WCHAR*, std::u16string&, std::u16string&, std::u16string&) {
    refuse_operation(__func__);
}
bool CFilerImpl::fapi_is_lun_has_reservations(const WCHAR*) { refuse_operation(__func__); }
