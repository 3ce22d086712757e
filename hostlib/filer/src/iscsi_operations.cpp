// iSCSI operations.
// Not built yet: until their requests are, these refuse as an operation that
// the release lacks does.
#include <filer/filer_classes.h>

void CFilerQuilbe1::fapi_iscsi_node_get_name(std::string&) { refuse_operation(__func__); }
bool CFilerQuilbe1::fapi_iscsi_service_status() { refuse_operation(__func__); }
void CFilerOskarn::fapi_iscsi_tpgroup_list_info(uint32_t, std::vector<fapi_iscsi_tpgroup_info_t>&) {
    refuse_operation(__func__);
}
void CFilerOskarn::fapi_iscsi_portal_list_info(std::vector<fapi_iscsi_portal_info_t>&) { refuse_operation(__func__); }
void CFilerOskarn::fapi_iscsi_interface_list_info(const WCHAR*, std::vector<fapi_iscsi_interface_info_t>&) {
    refuse_operation(__func__);
}
void CFilerOskarn::fapi_iscsi_initiator_list_info(std::vector<fapi_iscsi_initiator_info_t>&) {
    refuse_operation(__func__);
}
void CFilerOskarn::fapi_iscsi_target_alias_get_alias(std::u16string&) { refuse_operation(__func__); }
void CFilerOskarn::fapi_iscsi_target_alias_set_alias(const WCHAR*) { refuse_operation(__func__); }
void CFilerOskarn::fapi_iscsi_target_alias_clear_alias() { refuse_operation(__func__); }
void CFilerOskarn::fapi_iscsi_tpgroup_create(const WCHAR*, uint32_t*) { refuse_operation(__func__); }
void CFilerOskarn::fapi_iscsi_tpgroup_destroy(uint32_t) { refuse_operation(__func__); }
void CFilerOskarn::fapi_iscsi_node_set_name(const WCHAR*) { refuse_operation(__func__); }
void CFilerOskarn::fapi_iscsi_tpgroup_interface_add(const WCHAR*, uint32_t) { refuse_operation(__func__); }
void CFilerOskarn::fapi_iscsi_tpgroup_interface_delete(const WCHAR*, uint32_t) { refuse_operation(__func__); }
void CFilerOskarn::fapi_iscsi_interface_enable(const WCHAR*) { refuse_operation(__func__); }
void CFilerOskarn::fapi_iscsi_interface_disable(const WCHAR*) { refuse_operation(__func__); }
void CFilerOskarn::fapi_iscsi_initiator_add_auth(const WCHAR*, const WCHAR*, std::span<const BYTE>, const WCHAR*,
                                                 std::span<const BYTE>, const WCHAR*) {
    refuse_operation(__func__);
}
void CFilerOskarn::fapi_iscsi_initiator_delete_auth(const WCHAR*) { refuse_operation(__func__); }
void CFilerOskarn::fapi_iscsi_initiator_get_default_auth(std::u16string&, std::u16string&, std::u16string&) {
    refuse_operation(__func__);
}
void CFilerOskarn::fapi_iscsi_initiator_set_default_auth(const WCHAR*, std::span<const BYTE>, const WCHAR*,
                                                         std::span<const BYTE>, const WCHAR*) {
    refuse_operation(__func__);
}
