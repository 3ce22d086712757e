#include <filer/fapi_error.h>
#include <filer/request_frame.h>

#include "fapi_raise.h"

namespace {
std::u16string copy_of(const WCHAR* text) { return text ? std::u16string(text) : std::u16string(); }
}  // namespace

fapi_error_t::fapi_error_t(const kx_elem_rec* reply, const WCHAR* filer_name) : filer_name_(copy_of(filer_name)) {
    const fapi_results outcome(reply);
    status_ = outcome.passed() ? 1 : 0;
    if (status_ == 0) {
        error_number_ = outcome.error_number();
        reason_ = outcome.reason();
    }
}

fapi_snapshot_delete_error_t::fapi_snapshot_delete_error_t(const kx_elem_rec* reply, const WCHAR* filer_name,
                                                           const WCHAR* volume, const WCHAR* snapshot)
    : fapi_error_t(reply, filer_name), volume_(copy_of(volume)), snapshot_(copy_of(snapshot)) {}

void fapi_snapshot_delete_error_t::raise() const {
    if (!passed())
        FAPI_RAISE(res::MSG_FAPI_SNAPSHOT_DELETE, snapshot_, volume_, filer_name(), error_number(), reason_text());
}

fapi_disk_list_info_error_t::fapi_disk_list_info_error_t(const kx_elem_rec* reply, const WCHAR* filer_name,
                                                         const WCHAR* disk)
    : fapi_error_t(reply, filer_name), disk_(copy_of(disk)) {}

void fapi_disk_list_info_error_t::raise() const {
    if (!passed())
        FAPI_RAISE(res::MSG_FAPI_DISK_LIST_INFO, disk_.empty() ? std::u16string(u"every disk") : disk_, filer_name(),
                   error_number(), reason_text());
}

fapi_lun_list_info_error_t::fapi_lun_list_info_error_t(const kx_elem_rec* reply, const WCHAR* filer_name,
                                                       const WCHAR* path)
    : fapi_error_t(reply, filer_name), path_(copy_of(path)) {}

void fapi_lun_list_info_error_t::raise() const {
    if (!passed()) FAPI_RAISE(res::MSG_FAPI_LUN_LIST_INFO, path_, filer_name(), error_number(), reason_text());
}
