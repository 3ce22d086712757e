// Operations through the administration library. The releases before the
// management API had requests for these questions ask the library instead;
// a non-zero status raises status | 0x10000000 and leaves the outputs alone.
#include <filer/filer_classes.h>

#include <algorithm>
#include <cstring>

#include "fapi_raise.h"
#include "kvxadmin_library.h"

namespace {

// A list is only as long as its array: a count without one holds no record.
DWORD record_count(const kvx_record_list& list) { return list.records ? list.count : 0; }

std::u16string record_text(const kvx_record_list& list, DWORD record, int field) {
    const WCHAR* text = record < record_count(list) ? list.records[record].text[field] : nullptr;
    return text ? std::u16string(text) : std::u16string();
}

}  // namespace

void CFilerImpl::get_snapshot_info(const WCHAR* path, std::array<BYTE, 16>& id, uint64_t& value1, uint64_t& value2,
                                   uint64_t& value3) {
    BYTE snapshot_id[16] = {};
    ULONGLONG values[3] = {};
    raise_kvxadmin_status(
        KVXADMIN_CALL(KvxNetGetSnapInfo, get_filer_name(), path, snapshot_id, &values[0], &values[1], &values[2]));
    std::copy(std::begin(snapshot_id), std::end(snapshot_id), id.begin());
    value1 = values[0];
    value2 = values[1];
    value3 = values[2];
}

bool CFilerImpl::rpc_lun_get_attribute(const WCHAR* path, const WCHAR* name, std::u16string& value) {
    kvx_record_list_holder records;
    const DWORD status = KVXADMIN_CALL(KvxNetLUNGetAttribute, get_filer_name(), path, name, &records);
    // The library's answer for an attribute the LUN does not have.
    if (status == KVX_STATUS_INVALID_PARAMETER) {
        value.clear();
        return false;
    }
    raise_kvxadmin_status(status);
    ReportAssertion(__FILE__, __LINE__, record_count(records) == 1);
    value = record_text(records, 0, 2);
    return true;
}

void CFilerImpl::rpc_lun_set_attribute(const WCHAR* path, const WCHAR* name, const WCHAR* value) {
    raise_kvxadmin_status(KVXADMIN_CALL(KvxNetLUNSetAttribute, get_filer_name(), path, name, value));
}

uint64_t CFilerImpl::rpc_lun_max_size(const WCHAR* path, bool with_snapshot_reserve) {
    const LONG with_reserve = with_snapshot_reserve ? 1 : 0;
    ULONGLONG size = 0;
    raise_kvxadmin_status(KVXADMIN_CALL(KvxNetLUNMaxSize, get_filer_name(), path, &with_reserve, &size));
    return size;
}

void CFilerImpl::rpc_ems_dorv(uint32_t event_id, const WCHAR* event_source, const WCHAR* app_version,
                              const WCHAR* category, const WCHAR* description, int32_t log_level,
                              bool send_support_report) {
    raise_kvxadmin_status(KVXADMIN_CALL(KvxNetEMSDorv, get_filer_name(), DWORD{event_id}, event_source, app_version,
                                        category, description, LONG{log_level},
                                        static_cast<BYTE>(send_support_report ? 1 : 0)));
}

void CFilerImpl::rpc_file_restore(const WCHAR* path, const WCHAR* snapshot) {
    const DWORD status =
        KVXADMIN_CALL(KvxNetFileRestore, get_filer_name(), path, snapshot, static_cast<const WCHAR*>(nullptr));
    if (status == KVX_STATUS_UNSUCCESSFUL) FAPI_RAISE(res::MSG_FAPI_FILE_RESTORE_START);
    raise_kvxadmin_status(status);
}

void CFilerImpl::rpc_lun_wopa_status(const WCHAR* path, bool& running) {
    LONG state = 0;
    raise_kvxadmin_status(KVXADMIN_CALL(KvxNetLUNWopaStatus, get_filer_name(), path, &state));
    running = state != 0;
}

bool CFilerImpl::rpc_lun_file_type(const WCHAR* path) {
    LONG type = 0;
    raise_kvxadmin_status(KVXADMIN_CALL(KvxNetLUNFileType, get_filer_name(), path, &type));
    return type > 0;
}

uint64_t CFilerImpl::rpc_lun_size(const WCHAR* path) {
    ULONGLONG size = 0;
    raise_kvxadmin_status(KVXADMIN_CALL(KvxNetLUNSize, get_filer_name(), path, &size));
    return size;
}

void CFilerImpl::rpc_lun_raw_read(const WCHAR* path, uint64_t offset, uint32_t length, void* buffer) {
    const ULONGLONG at = offset;
    const DWORD count = length;
    kvx_buffer_holder block;
    raise_kvxadmin_status(KVXADMIN_CALL(KvxNetLUNRawRead, get_filer_name(), path, &at, &count, &block));
    ReportAssertion(__FILE__, __LINE__, block.byteCount == length);
    // A short block gives what it holds; nothing is read beyond it.
    if (block.data) std::memcpy(buffer, block.data, std::min<DWORD>(block.byteCount, length));
}

void CFilerImpl::rpc_lun_raw_write(const WCHAR* path, uint64_t offset, uint32_t length, const void* data) {
    const ULONGLONG at = offset;
    const DWORD count = length;
    raise_kvxadmin_status(
        KVXADMIN_CALL(KvxNetLUNRawWrite, get_filer_name(), path, &at, &count, static_cast<const BYTE*>(data)));
}

bool CFilerImpl::rpc_initiator_logged_in(const WCHAR* initiator) {
    LONG logged_in = 0;
    raise_kvxadmin_status(KVXADMIN_CALL(KvxNetLUNInitiatorLoggedIn, get_filer_name(), initiator, &logged_in));
    return logged_in != 0;
}

void CFilerImpl::rpc_lun_reverse_map(const WCHAR* initiator, uint32_t lun_id, std::u16string& path) {
    const DWORD id = lun_id;
    kvx_record_list_holder records;
    raise_kvxadmin_status(KVXADMIN_CALL(KvxNetLUNReverseMap, get_filer_name(), initiator, &id, &records));
    if (record_count(records) > 0) path = record_text(records, 0, 0);
}

bool CFilerImpl::rpc_lun_has_reservations(const WCHAR* path) {
    LONG held = 0;
    raise_kvxadmin_status(KVXADMIN_CALL(KvxNetLUNHasReservations, get_filer_name(), path, &held));
    return held == 1;
}
