// Aggregates and disks.
// Not built yet: until their requests are, these refuse as an operation that
// the release lacks does.
#include <filer/filer_classes.h>

void CFilerQuilbe1::fapi_disk_list_info(const WCHAR*, std::vector<fapi_disk_info_t>&) { refuse_operation(__func__); }
void CFilerPellion::fapi_aggr_list_info(std::vector<fapi_aggr_info_t>&, const WCHAR*, bool) {
    refuse_operation(__func__);
}
void CFilerPellion::fapi_aggr_get_root(std::u16string&) { refuse_operation(__func__); }
void CFilerPellion::fapi_aggr_add(const WCHAR*, int32_t, int32_t, const std::vector<fapi_disk_info_t>&, bool,
                                  const std::vector<fapi_disk_info_t>&, const WCHAR*, std::vector<fapi_disk_info_t>&) {
    refuse_operation(__func__);
}
