// LUN mapping, initiator groups and adapters.
// Not built yet: until their requests are, these refuse as an operation that
// the release lacks does.
#include <filer/filer_classes.h>

void CFilerQuilbe1::fapi_lun_map_list_info(const WCHAR*, std::vector<fapi_igroup_info_t>&) {
    refuse_operation(__func__);
}
void CFilerQuilbe1::fapi_fcp_adapter_list_info(std::vector<fapi_fcp_adapter_info_t>&) { refuse_operation(__func__); }
void CFilerQuilbe1::fapi_iscsi_adapter_list_info(std::vector<fapi_iscsi_adapter_info_t>&) {
    refuse_operation(__func__);
}
void CFilerQuilbe1::fapi_fcp_adapter_initiators_list_info(const WCHAR*, std::vector<fapi_fcp_adapter_initiators_t>&) {
    refuse_operation(__func__);
}
void CFilerQuilbe1::fapi_iscsi_adapter_initiators_list_info(const WCHAR*,
                                                            std::vector<fapi_iscsi_adapter_initiators_t>&) {
    refuse_operation(__func__);
}
void CFilerQuilbe1::fapi_lun_map(const WCHAR*, const WCHAR*, std::optional<int32_t>, int32_t&) {
    refuse_operation(__func__);
}
void CFilerQuilbe1::fapi_lun_unmap(const WCHAR*, const WCHAR*) { refuse_operation(__func__); }
void CFilerQuilbe1::fapi_igroup_create(const WCHAR*, int32_t, int32_t) { refuse_operation(__func__); }
void CFilerQuilbe1::fapi_igroup_destroy(const WCHAR*, bool) { refuse_operation(__func__); }
void CFilerQuilbe1::fapi_igroup_list_info(const WCHAR*, std::vector<fapi_igroup_info_t>&) {
    refuse_operation(__func__);
}
void CFilerQuilbe1::fapi_igroup_add(const WCHAR*, const WCHAR*) { refuse_operation(__func__); }
bool CFilerQuilbe1::wait_lun_available_after_break(const WCHAR*, int32_t) { refuse_operation(__func__); }
void CFilerPellion::fapi_igroup_lookup_lun(const WCHAR*, int32_t, std::u16string&) { refuse_operation(__func__); }
