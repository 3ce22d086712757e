// Operations through the administration library.
// Not built yet: until their requests are, these refuse as an operation that
// the release lacks does.
#include <filer/filer_classes.h>

void CFilerImpl::get_snapshot_info(const WCHAR*, std::array<BYTE, 16>&, uint64_t&, uint64_t&, uint64_t&) {
    refuse_operation(__func__);
}
bool CFilerImpl::rpc_lun_get_attribute(const WCHAR*, const WCHAR*, std::u16string&) { refuse_operation(__func__); }
void CFilerImpl::rpc_lun_set_attribute(const WCHAR*, const WCHAR*, const WCHAR*) { refuse_operation(__func__); }
uint64_t CFilerImpl::rpc_lun_max_size(const WCHAR*, bool) { refuse_operation(__func__); }
void CFilerImpl::rpc_ems_dorv(uint32_t, const WCHAR*, const WCHAR*, const WCHAR*, const WCHAR*, int32_t, bool) {
    refuse_operation(__func__);
}
void CFilerImpl::rpc_file_restore(const WCHAR*, const WCHAR*) { refuse_operation(__func__); }
void CFilerImpl::rpc_lun_wopa_status(const WCHAR*, bool&) { refuse_operation(__func__); }
bool CFilerImpl::rpc_lun_file_type(const WCHAR*) { refuse_operation(__func__); }
uint64_t CFilerImpl::rpc_lun_size(const WCHAR*) { refuse_operation(__func__); }
void CFilerImpl::rpc_lun_raw_read(const WCHAR*, uint64_t, uint32_t, void*) { refuse_operation(__func__); }
void CFilerImpl::rpc_lun_raw_write(const WCHAR*, uint64_t, uint32_t, const void*) { refuse_operation(__func__); }
bool CFilerImpl::rpc_initiator_logged_in(const WCHAR*) { refuse_operation(__func__); }
void CFilerImpl::rpc_lun_reverse_map(const WCHAR*, uint32_t, std::u16string&) { refuse_operation(__func__); }
bool CFilerImpl::rpc_lun_has_reservations(const WCHAR*) { refuse_operation(__func__); }
