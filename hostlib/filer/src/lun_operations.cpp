// LUN operations: listing, creation, destruction, resizing, renaming, state,
// serial numbers and the largest possible size.
#include <filer/filer_classes.h>

#include "fapi_raise.h"
#include "operation_support.h"

namespace {

// The reply's outcome kept for the caller, or raised when no caller takes it.
owned_ptr<fapi_error_t> lun_list_outcome(const fapi_reply& reply, const WCHAR* filer_name, const WCHAR* path) {
    owned_ptr<fapi_error_t> outcome(new fapi_lun_list_info_error_t(reply.get(), filer_name, path ? path : u""));
    ReportAssertion(__FILE__, __LINE__, static_cast<bool>(outcome));
    return outcome;
}

void read_lun(const fapi_elem& entry, fapi_lun_info_t& lun) {
    lun.path = entry.text("path");
    lun.size = entry.int64_value("size");
    lun.read_only = entry.bool_value("read-only");
    lun.online = entry.bool_value("online");
    lun.mapped = entry.bool_value("mapped");
    lun.share_state = entry.enum_value(lun_share_state_table, "share-state");
    lun.backing_snapshot = entry.text("backing-snapshot");
}

}  // namespace

void CFilerQuilbe1::fapi_lun_list_info(const WCHAR* path, std::vector<fapi_lun_info_t>& luns,
                                       owned_ptr<fapi_error_t>* error) {
    if (error) error->reset();
    auto server = open_server();
    fapi_request request(server.get(), "lun-list-info");
    if (has_text(path)) request.add("path", path);
    const fapi_reply reply = request.invoke();
    owned_ptr<fapi_error_t> outcome = lun_list_outcome(reply, get_filer_name(), path);
    if (error) {
        // The caller judges the outcome (9017 is a missing LUN); nothing is read.
        error->reset(outcome.release());
        return;
    }
    outcome->raise();
    luns.reserve(luns.size() + 200);
    reply.for_each_child("luns", [&](const fapi_elem& entry) { read_lun(entry, luns.emplace_back()); });
}

bool CFilerQuilbe1::fapi_lun_list_info_ex(const WCHAR* path) {
    auto server = open_server();
    fapi_request request(server.get(), "lun-list-info");
    request.add("path", path);
    const fapi_reply reply = request.invoke();
    lun_list_outcome(reply, get_filer_name(), path)->raise();
    bool mapped = false;
    reply.for_each_child("luns", [&](const fapi_elem& entry) { mapped = entry.bool_value("mapped"); });
    return mapped;
}

namespace {

// The two optional children of every LUN creation, in their order.
void add_creation_options(fapi_request& request, std::optional<int32_t> os_type, std::optional<bool> reservation,
                          const CFilerQuilbe1& filer) {
    if (os_type) request.add_ansi("type", lun_os_type_to_string(*os_type));
    if (reservation) request.add_bool("space-reservation-enabled", filer.space_reservation_flag_value(*reservation));
}

}  // namespace

void CFilerQuilbe1::fapi_lun_create_by_size(const WCHAR* path, uint64_t size, std::optional<int32_t> os_type,
                                            std::optional<bool> space_reservation, int64_t& actual_size) {
    actual_size = 0;
    auto server = open_server();
    fapi_request request(server.get(), "lun-create-by-size");
    request.add("path", path).add("size", size);
    add_creation_options(request, os_type, space_reservation, *this);
    const fapi_reply reply = request.invoke();
    if (!reply.passed()) {
        debug_print(u"fapi_lun_create_by_size failed ...reason = %s", u"" __FILE__, __LINE__, reply.reason());
        FAPI_RAISE(res::MSG_FAPI_LUN_CREATE_BY_SIZE, path, get_filer_name(), reply.error_number(), reply.reason());
    }
    actual_size = reply.int64_value("actual-size");
}

void CFilerQuilbe1::fapi_lun_create_from_file(const WCHAR* file_path, const WCHAR* lun_path,
                                              std::optional<int32_t> os_type, std::optional<bool> space_reservation,
                                              int64_t& actual_size) {
    actual_size = 0;
    auto server = open_server();
    fapi_request request(server.get(), "lun-create-from-file");
    request.add("path", lun_path).add("file-name", file_path);
    add_creation_options(request, os_type, space_reservation, *this);
    const fapi_reply reply = request.invoke();
    if (!reply.passed())
        FAPI_RAISE(res::MSG_FAPI_LUN_CREATE_FROM_FILE, lun_path, file_path, get_filer_name(), reply.error_number(),
                   reply.reason());
    actual_size = reply.int64_value("actual-size");
}

void CFilerQuilbe1::fapi_lun_create_from_snapshot(const WCHAR* path, const WCHAR* snapshot_lun_path,
                                                  std::optional<int32_t> os_type,
                                                  std::optional<bool> space_reservation, int64_t& actual_size) {
    auto server = open_server();
    fapi_request request(server.get(), "lun-create-from-snapshot");
    request.add("path", path).add("snapshot-lun-path", snapshot_lun_path);
    add_creation_options(request, os_type, space_reservation, *this);
    const fapi_reply reply = request.invoke();
    if (!reply.passed())
        FAPI_RAISE(res::MSG_FAPI_LUN_CREATE_FROM_SNAPSHOT, path, snapshot_lun_path, get_filer_name(),
                   reply.error_number(), reply.reason());
    actual_size = reply.int64_value("actual-size");
}

void CFilerQuilbe1::fapi_lun_destroy(const WCHAR* path, std::optional<bool> force) {
    auto server = open_server();
    fapi_request request(server.get(), "lun-destroy");
    request.add("path", path).add("force", force);
    const fapi_reply reply = request.invoke();
    if (!reply.passed())
        FAPI_RAISE(res::MSG_FAPI_LUN_DESTROY, path, get_filer_name(), reply.error_number(), reply.reason());
}

void CFilerQuilbe1::fapi_lun_resize(const WCHAR* path, uint64_t size, std::optional<bool> force,
                                    int64_t& actual_size, int32_t* error_number) {
    if (error_number) *error_number = 1;
    auto server = open_server();
    fapi_request request(server.get(), "lun-resize");
    request.add("path", path).add("size", size).add("force", force);
    const fapi_reply reply = request.invoke();
    if (!reply.passed()) {
        // The caller maps some refusals (too large, too small a step) to codes of its own.
        if (error_number) *error_number = reply.error_number();
        FAPI_RAISE(res::MSG_FAPI_LUN_RESIZE, path, get_filer_name(), reply.error_number(), reply.reason());
    }
    actual_size = reply.int64_value("actual-size");
}

void CFilerQuilbe1::fapi_lun_offline(const char* path) {
    auto server = open_server();
    fapi_request request(server.get(), "lun-offline");
    request.add_ansi("path", path);
    const fapi_reply reply = request.invoke();
    if (!reply.passed()) FAPI_RAISE(res::MSG_FAPI_LUN_OFFLINE, widened(path), get_filer_name(), reply.reason());
}

void CFilerQuilbe1::fapi_lun_online(const char* path) {
    auto server = open_server();
    fapi_request request(server.get(), "lun-online");
    request.add_ansi("path", path);
    const fapi_reply reply = request.invoke();
    if (!reply.passed()) FAPI_RAISE(res::MSG_FAPI_LUN_ONLINE, widened(path), get_filer_name(), reply.reason());
}

void CFilerQuilbe1::fapi_lun_set_serial_number(const char* path, const char* serial_number) {
    auto server = open_server();
    fapi_request request(server.get(), "lun-set-serial-number");
    request.add_ansi("path", path).add_ansi("serial-number", serial_number);
    const fapi_reply reply = request.invoke();
    if (!reply.passed())
        FAPI_RAISE(res::MSG_FAPI_LUN_SET_SERIAL_NUMBER, widened(serial_number), widened(path), get_filer_name(),
                   reply.reason());
}

// The serial number is kept as the appliance's bytes: it is compared with what
// the host's SCSI inquiry reports.
void CFilerQuilbe1::fapi_lun_get_serial_number(const char* path, std::string& serial_number) {
    auto server = open_server();
    fapi_request request(server.get(), "lun-get-serial-number");
    request.add_ansi("path", path);
    const fapi_reply reply = request.invoke();
    if (!reply.passed())
        FAPI_RAISE(res::MSG_FAPI_LUN_GET_SERIAL_NUMBER, widened(path), get_filer_name(), reply.reason());
    serial_number = reply.narrow_text("serial-number");
}

void CFilerREL64::fapi_lun_rename(const WCHAR* new_path, const WCHAR* path) {
    auto server = open_server();
    fapi_request request(server.get(), "lun-move");
    request.add("new-path", new_path).add("path", path);
    const fapi_reply reply = request.invoke();
    if (!reply.passed()) FAPI_RAISE(res::MSG_FAPI_LUN_RENAME, get_filer_name(), reply.error_number(), reply.reason());
}

void CFilerTovren::fapi_lun_get_maxsize(const WCHAR* path, int64_t& without_snapshot_reserve,
                                        int64_t& with_snapshot_reserve) {
    without_snapshot_reserve = 0;
    with_snapshot_reserve = 0;
    auto server = open_server();
    fapi_request request(server.get(), "lun-get-maxsize");
    request.add("path", path).add_ansi("type", "windows");
    const fapi_reply reply = request.invoke();
    if (!reply.passed()) FAPI_RAISE(res::MSG_FAPI_LUN_GET_MAXSIZE, path, get_filer_name(), reply.reason());
    without_snapshot_reserve = reply.int64_value("without-snapshot-reserve");
    with_snapshot_reserve = reply.int64_value("with-snapshot-reserve");
}
