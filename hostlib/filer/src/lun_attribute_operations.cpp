// LUN attributes, space reservation and status queries: the properties of a
// LUN (or file) that its listing does not carry.
#include <filer/filer_classes.h>
#include <hostlib/base64.h>
#include <platform/errors.h>

#include <concepts>
#include <memory>
#include <string>

#include "fapi_raise.h"

namespace {

// The appliance's error numbers for a LUN that has no attribute of that name.
constexpr int32_t kNoSuchAttribute = 9011;
constexpr int32_t kNoSuchAttributeAlternative = 13115;

// The longest raw write the Base64 encoder takes: b64_encoded_size of
// 0xFFFFFFFF - 2 in 32-bit arithmetic.
constexpr uint32_t kMaxRawWriteLength = 1431655765;

template <std::integral T>
std::u16string decimal_text(T value) {
    const std::string digits = std::to_string(value);
    return std::u16string(digits.begin(), digits.end());
}

}  // namespace

void CFilerREL64::fapi_lun_get_space_reservation_info(const WCHAR* path, bool& enabled) {
    auto server = open_server();
    fapi_request request(server.get(), "lun-get-space-reservation-info");
    request.add("path", path);
    const fapi_reply reply = request.invoke();
    if (!reply.passed())
        FAPI_RAISE(res::MSG_FAPI_LUN_GET_SPACE_RESERVATION_INFO, path, get_filer_name(), reply.error_number(),
                   reply.reason());
    enabled = reply.bool_value("is-enabled");
}

void CFilerREL64::fapi_lun_set_space_reservation_info(const WCHAR* path, bool enable) {
    auto server = open_server();
    fapi_request request(server.get(), "lun-set-space-reservation-info");
    request.add("path", path).add_bool("enable", enable);
    const fapi_reply reply = request.invoke();
    if (!reply.passed())
        FAPI_RAISE(res::MSG_FAPI_LUN_SET_SPACE_RESERVATION_INFO, path, get_filer_name(), reply.error_number(),
                   reply.reason());
}

void CFilerREL64::fapi_file_get_space_reservation_info(const WCHAR* path, bool& overwrite_enabled,
                                                       bool& fill_enabled) {
    auto server = open_server();
    fapi_request request(server.get(), "file-get-space-reservation-info");
    request.add("path", path);
    const fapi_reply reply = request.invoke();
    if (!reply.passed())
        FAPI_RAISE(res::MSG_FAPI_FILE_GET_SPACE_RESERVATION_INFO, path, get_filer_name(), reply.error_number(),
                   reply.reason());
    overwrite_enabled = reply.bool_value("is-overwrite-enabled");
    fill_enabled = reply.bool_value("is-fill-enabled");
}

void CFilerREL64::fapi_file_set_space_reservation_info(const WCHAR* path, bool overwrite_enabled, bool fill_enabled) {
    auto server = open_server();
    fapi_request request(server.get(), "file-set-space-reservation-info");
    request.add("path", path)
        .add_bool("is-overwrite-enabled", overwrite_enabled)
        .add_bool("is-fill-enabled", fill_enabled);
    const fapi_reply reply = request.invoke();
    if (!reply.passed())
        FAPI_RAISE(res::MSG_FAPI_FILE_SET_SPACE_RESERVATION_INFO, path, get_filer_name(), reply.error_number(),
                   reply.reason());
}

bool CFilerTovren::fapi_lun_get_attribute(const WCHAR* path, const WCHAR* name, std::u16string& value) {
    value.clear();
    auto server = open_server();
    fapi_request request(server.get(), "lun-get-attribute");
    request.add("path", path).add("name", name);
    const fapi_reply reply = request.invoke();
    if (reply.passed()) {
        value = reply.text("value");
        return true;
    }
    // A missing attribute is an answer, not a failure.
    const int32_t error_number = reply.error_number();
    if (error_number == kNoSuchAttribute || error_number == kNoSuchAttributeAlternative) return false;
    FAPI_RAISE(res::MSG_FAPI_LUN_GET_ATTRIBUTE, name, path, get_filer_name(), error_number, reply.reason());
}

void CFilerTovren::fapi_lun_set_attribute(const WCHAR* path, const WCHAR* name, const WCHAR* value) {
    auto server = open_server();
    fapi_request request(server.get(), "lun-set-attribute");
    request.add("path", path).add("name", name).add("value", value);
    const fapi_reply reply = request.invoke();
    if (!reply.passed())
        FAPI_RAISE(res::MSG_FAPI_LUN_SET_ATTRIBUTE, value, name, path, get_filer_name(), reply.error_number(),
                   reply.reason());
}

void CFilerTovren::fapi_lun_read_raw(const WCHAR* path, uint64_t offset, uint32_t length, void* buffer) {
    auto server = open_server();
    fapi_request request(server.get(), "lun-read-raw");
    request.add("path", path).add("offset", offset).add("length", length);
    const fapi_reply reply = request.invoke();
    if (!reply.passed())
        FAPI_RAISE(res::MSG_FAPI_LUN_READ_RAW, decimal_text(length), decimal_text(offset), path, get_filer_name(),
                   reply.error_number(), reply.reason());
    const std::string encoded = reply.narrow_text("encoded-data");
    auto* out = static_cast<unsigned char*>(buffer);
    const size_t decoded = b64_decode(encoded.data(), encoded.data() + encoded.size(), out, out + length);
    // A short reply leaves the rest of the buffer as it was.
    ReportAssertion(__FILE__, __LINE__, decoded == length);
}

// A length the encoder cannot take is refused before anything is sent, so no
// encoding buffer is ever sized by a wrapped count.
void CFilerTovren::fapi_lun_write_raw(const WCHAR* path, uint64_t offset, uint32_t length, const void* data) {
    if (length > kMaxRawWriteLength) {
        ReportAssertion(__FILE__, __LINE__, false);
        FAPI_RAISE(E_INVALIDARG);
    }
    const size_t size = b64_encoded_size(length);
    auto encoded = std::make_unique_for_overwrite<char[]>(size);
    const size_t written = b64_encode(data, length, encoded.get(), size);
    ReportAssertion(__FILE__, __LINE__, written == size);
    if (written == 0) FAPI_RAISE(E_INVALIDARG);

    auto server = open_server();
    fapi_request request(server.get(), "lun-write-raw");
    request.add("path", path).add("offset", offset).add("length", length).add_ansi("encoded-data", encoded.get());
    const fapi_reply reply = request.invoke();
    if (!reply.passed())
        FAPI_RAISE(res::MSG_FAPI_LUN_WRITE_RAW, decimal_text(length), decimal_text(offset), path, get_filer_name(),
                   reply.error_number(), reply.reason());
}

void CFilerTovren::fapi_lun_restore_status(const WCHAR* path, bool& running) {
    running = false;
    auto server = open_server();
    fapi_request request(server.get(), "lun-restore-status");
    request.add("path", path);
    const fapi_reply reply = request.invoke();
    if (!reply.passed())
        FAPI_RAISE(res::MSG_FAPI_LUN_RESTORE_STATUS, path, get_filer_name(), reply.error_number(), reply.reason());
    running = reply.bool_value("is-running");
}

void CFilerTovren::fapi_lun_snap_usage_list_info(const WCHAR* volume, const WCHAR* snapshot,
                                                 std::vector<fapi_lun_snap_usage_info_t>& usages) {
    auto server = open_server();
    fapi_request request(server.get(), "lun-snap-usage-list-info");
    request.add("volume", volume).add("snapshot", snapshot);
    const fapi_reply reply = request.invoke();
    if (!reply.passed())
        FAPI_RAISE(res::MSG_FAPI_LUN_SNAP_USAGE_LIST_INFO, snapshot, volume, get_filer_name(), reply.reason());
    reply.for_each_child("lun-snap-usage-luns", [&](const fapi_elem& entry) {
        auto& usage = usages.emplace_back();
        usage.backing_store = entry.text("backing-store");
        usage.path = entry.text("path");
        usage.snapshot = entry.text("snapshot");
    });
}

bool CFilerPellion::fapi_is_port_has_scsi_reservations(const WCHAR* path, const WCHAR* port_name) {
    auto server = open_server();
    fapi_request request(server.get(), "lun-port-has-scsi-reservations");
    request.add("path", path).add("portname", port_name);
    const fapi_reply reply = request.invoke();
    if (!reply.passed())
        FAPI_RAISE(res::MSG_FAPI_PORT_HAS_SCSI_RESERVATIONS, path, port_name, get_filer_name(), reply.reason());
    return reply.bool_value("is-reservation-held");
}

bool CFilerPellion1::fapi_is_lun_has_reservations(const WCHAR* path) {
    auto server = open_server();
    fapi_request request(server.get(), "lun-has-scsi-reservations");
    request.add("path", path);
    const fapi_reply reply = request.invoke();
    if (!reply.passed())
        FAPI_RAISE(res::MSG_FAPI_LUN_HAS_SCSI_RESERVATIONS, path, get_filer_name(), reply.reason());
    return reply.bool_value("is-reservation-held");
}

namespace {

// The clone and clone-split lists: a failed reply leaves the list as it was.
void list_clone_status(kx_server_rec* server, const char* request_name, const char* list, const WCHAR* path,
                       std::vector<fapi_lun_clone_status_info_t>& statuses) {
    fapi_request request(server, request_name);
    request.add("path", path);
    const fapi_reply reply = request.invoke();
    if (!reply.passed()) return;
    statuses.reserve(200);
    reply.for_each_child(list, [&](const fapi_elem& entry) {
        auto& status = statuses.emplace_back();
        status.blocks_completed = entry.int32_value("blocks-completed");
        status.blocks_total = entry.int32_value("blocks-total");
        status.path = entry.text("path");
    });
}

}  // namespace

void CFilerOskarn::fapi_lun_clone_split_status_list_info(const WCHAR* path,
                                                         std::vector<fapi_lun_clone_status_info_t>& statuses) {
    auto server = open_server();
    list_clone_status(server.get(), "lun-clone-split-status-list-info", "clone-statusus", path, statuses);
}

void CFilerOskarn::fapi_lun_clone_status_list_info(const WCHAR* path,
                                                   std::vector<fapi_lun_clone_status_info_t>& statuses) {
    auto server = open_server();
    list_clone_status(server.get(), "lun-clone-status-list-info", "clone-status", path, statuses);
}

bool CFilerOskarn::fapi_lun_initiator_logged_in(const std::u16string& initiator) {
    auto server = open_server();
    fapi_request request(server.get(), "lun-initiator-logged-in");
    request.add("initiator", initiator);
    const fapi_reply reply = request.invoke();
    if (!reply.passed())
        FAPI_RAISE(res::MSG_FAPI_LUN_INITIATOR_LOGGED_IN, initiator, get_filer_name(), reply.reason());
    return reply.bool_value("is-logged-in");
}

void CVintrel::fapi_lun_get_inquiry_info(const WCHAR* igroup, std::u16string& vendor_id, std::u16string& product_id,
                                         std::u16string& firmware_revision) {
    auto server = open_server();
    fapi_request request(server.get(), "lun-get-inquiry-info");
    request.add("initiator-group-name", igroup);
    const fapi_reply reply = request.invoke();
    if (!reply.passed())
        FAPI_RAISE(res::MSG_FAPI_LUN_GET_INQUIRY_INFO, decimal_text(reply.error_number()),
                   reply.reason());
    vendor_id = reply.text("vendor-id");
    product_id = reply.text("product-id");
    firmware_revision = reply.text("firmware-revision");
}
