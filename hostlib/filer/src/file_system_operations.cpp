// Files on the appliance, volume replication (Tandril), the appliance's event
// log, its identity, its cluster state and its options.
#include <filer/filer_classes.h>

#include "fapi_raise.h"
#include "operation_support.h"

namespace {

// Destinations that are clones of a replica are not replication destinations.
constexpr std::string_view kCloneMarker = "->[clone:";

// The three elements a status entry cannot do without, each with the error
// that names the caller's location.
void check_required(const fapi_elem& entry, const std::u16string& location) {
    static constexpr std::pair<const char*, DWORD> required[] = {
        {"destination-location", res::MSG_FAPI_TANDRIL_NO_DESTINATION},
        {"last-transfer-from", res::MSG_FAPI_TANDRIL_NO_LAST_TRANSFER},
        {"source-location", res::MSG_FAPI_TANDRIL_NO_SOURCE},
    };
    for (const auto& [element, id] : required)
        if (!entry.has_child(element)) FAPI_RAISE(id, location);
}

void read_tandril_status(const fapi_elem& entry, fapi_tandril_status_t& status) {
    status.contents = tandril_contents_from_string(entry.narrow_text("contents"));
    status.last_transfer_type = tandril_last_transfer_type_from_string(entry.narrow_text("last-transfer-type"));
    status.current_transfer_type =
        tandril_current_transfer_type_from_string(entry.narrow_text("current-transfer-type"));
    status.state = tandril_state_from_string(entry.narrow_text("state"));
    status.status = tandril_status_from_string(entry.narrow_text("status"));
    status.lag_time = entry.int32_value("lag-time");
    status.last_transfer_duration = entry.int32_value("last-transferd-duration");
    status.last_transfer_size = entry.int32_value("last-transfer-size");
    status.mirror_timestamp = entry.int32_value("mirror-timestamp");
    status.transfer_progress = entry.int32_value("transfer-progress");
    status.base_snapshot = entry.text("base-snapshot");
    status.current_transfer_error = entry.text("current-transfer-error");
    status.destination_location = entry.text("destination-location");
    status.last_transfer_from = entry.text("last-transfer-from");
    status.source_location = entry.text("source-location");
}

}  // namespace

void CFilerQuilbe1::fapi_file_read_file(const WCHAR* path, int32_t length, int64_t offset, std::string& data,
                                        int32_t& length_read) {
    auto server = open_server();
    fapi_request request(server.get(), "file-read-file");
    request.add("length", length).add("offset", offset).add("path", path);
    const fapi_reply reply = request.invoke();
    if (!reply.passed())
        FAPI_RAISE(res::MSG_FAPI_FILE_READ_FILE, path, get_filer_name(), reply.error_number(), reply.reason());
    data = reply.narrow_text("data");
    length_read = reply.int32_value("length");
}

void CFilerQuilbe1::fapi_file_write_file(const WCHAR* path, int64_t offset, bool overwrite, const char* data,
                                         int32_t& length_written) {
    auto server = open_server();
    fapi_request request(server.get(), "file-write-file");
    request.add_ansi("data", data).add("offset", offset).add_bool("overwrite", overwrite).add("path", path);
    const fapi_reply reply = request.invoke();
    if (!reply.passed())
        FAPI_RAISE(res::MSG_FAPI_FILE_WRITE_FILE, widened(data), path, get_filer_name(), reply.error_number(),
                   reply.reason());
    length_written = reply.int32_value("length");
}

void CFilerQuilbe1::fapi_file_delete_file(const WCHAR* path) {
    auto server = open_server();
    fapi_request request(server.get(), "file-delete-file");
    request.add("path", path);
    const fapi_reply reply = request.invoke();
    if (!reply.passed())
        FAPI_RAISE(res::MSG_FAPI_FILE_DELETE_FILE, path, get_filer_name(), reply.error_number(), reply.reason());
}

void CFilerQuilbe1::fapi_file_truncate_file(const WCHAR* path, const WCHAR* size) {
    auto server = open_server();
    fapi_request request(server.get(), "file-truncate-file");
    request.add("path", path).add("size", size);
    const fapi_reply reply = request.invoke();
    if (!reply.passed())
        FAPI_RAISE(res::MSG_FAPI_FILE_TRUNCATE_FILE, path, size, get_filer_name(), reply.error_number(),
                   reply.reason());
}

void CFilerQuilbe1::fapi_tandril_list_destinations(const WCHAR* source_location,
                                                   std::vector<fapi_tandril_destination_t>& destinations) {
    destinations.clear();
    auto server = open_server();
    fapi_request request(server.get(), "tandril-list-destinations");
    request.add("source-location", source_location);
    const fapi_reply reply = request.invoke();
    if (!reply.passed())
        FAPI_RAISE(res::MSG_FAPI_TANDRIL_LIST_DESTINATIONS, source_location, get_filer_name(), reply.error_number(),
                   reply.reason());
    reply.for_each_child("destinations", [&](const fapi_elem& entry) {
        std::string destination = entry.narrow_text("destination-location");
        if (destination.find(kCloneMarker) != std::string::npos) return;
        destinations.push_back({entry.narrow_text("source-snapshot"), std::move(destination),
                                entry.narrow_text("source-location")});
    });
}

void CFilerQuilbe1::fapi_tandril_update(const WCHAR* destination_location, const WCHAR* source_location,
                                        const WCHAR* source_snapshot) {
    auto server = open_server();
    fapi_request request(server.get(), "tandril-update");
    request.add("destination-location", destination_location)
        .add("source-location", source_location)
        .add("source-snapshot", source_snapshot);
    const fapi_reply reply = request.invoke();
    if (!reply.passed())
        FAPI_RAISE(res::MSG_FAPI_TANDRIL_UPDATE, destination_location, reply.error_number(), reply.reason());
}

void CFilerQuilbe1::fapi_tandril_break(const WCHAR* destination_location) {
    auto server = open_server();
    fapi_request request(server.get(), "tandril-break");
    request.add("destination-location", destination_location);
    const fapi_reply reply = request.invoke();
    if (!reply.passed())
        FAPI_RAISE(res::MSG_FAPI_TANDRIL_BREAK, destination_location, reply.error_number(), reply.reason());
}

void CFilerQuilbe1::fapi_tandril_quiesce(const WCHAR* destination_location) {
    auto server = open_server();
    fapi_request request(server.get(), "tandril-quiesce");
    request.add("destination-location", destination_location);
    const fapi_reply reply = request.invoke();
    if (!reply.passed())
        FAPI_RAISE(res::MSG_FAPI_TANDRIL_QUIESCE, destination_location, reply.error_number(), reply.reason());
}

// An appliance whose replication is not available answers with no records,
// whatever else the reply holds.
void CFilerQuilbe1::fapi_tandril_get_status(const WCHAR* location, int32_t& available,
                                            std::vector<fapi_tandril_status_t>& statuses) {
    available = 0;
    statuses.clear();
    const std::u16string caller_location = location ? location : u"";
    auto server = open_server();
    fapi_request request(server.get(), "tandril-get-status");
    if (has_text(location)) request.add("location", location);
    const fapi_reply reply = request.invoke();
    if (!reply.passed())
        FAPI_RAISE(res::MSG_FAPI_TANDRIL_GET_STATUS, caller_location, reply.error_number(), reply.reason());
    if (!reply.bool_value("is-available")) return;
    available = 1;
    reply.for_each_child("tandril-status", [&](const fapi_elem& entry) {
        auto& status = statuses.emplace_back();
        check_required(entry, caller_location);
        read_tandril_status(entry, status);
        debug_print(u"tandril config: source location: '%s', destination location: '%s', status: '%s', state: '%s'",
                    u"" __FILE__, __LINE__, status.source_location, status.destination_location,
                    tandril_status_to_string(status.status), tandril_state_to_string(status.state));
    });
}

void CFilerTovren::fapi_tandril_get_list_sync_schedule(const WCHAR* destination_location,
                                                       std::vector<fapi_tandril_sync_schedule_t>& schedules) {
    schedules.clear();
    const std::u16string caller_location = destination_location ? destination_location : u"";
    auto server = open_server();
    fapi_request request(server.get(), "tandril-list-sync-schedule");
    request.add("destination-location", destination_location);
    const fapi_reply reply = request.invoke();
    if (!reply.passed())
        FAPI_RAISE(res::MSG_FAPI_TANDRIL_LIST_SYNC_SCHEDULE, caller_location, reply.error_number(), reply.reason());
    reply.for_each_child("tandril-sync-schedules", [&](const fapi_elem& entry) {
        auto& schedule = schedules.emplace_back();
        if (!entry.has_child("destination-location")) FAPI_RAISE(res::MSG_FAPI_TANDRIL_NO_DESTINATION, caller_location);
        schedule.destination_location = entry.text("destination-location");
        schedule.ops_throttle = entry.text("ops-throttle");
        schedule.source_location = entry.text("source-location");
        schedule.visibility_frequency = entry.int32_value("visibility-frequency");
        debug_print(u"sync tandril schedule: destination location: '%s'", u"" __FILE__, __LINE__,
                    schedule.destination_location);
    });
}

void CFilerTovren::fapi_ems_dorvek_log(const WCHAR* computer_name, uint32_t event_id, const WCHAR* event_source,
                                       const WCHAR* app_version, const WCHAR* category, const WCHAR* description,
                                       int32_t log_level, bool dorvek) {
    auto server = open_server();
    fapi_request request(server.get(), "ems-dorvek-log");
    request.add("computer-name", computer_name)
        .add("event-id", event_id)
        .add("event-source", event_source)
        .add("app-version", app_version)
        .add("category", category)
        .add("event-description", description)
        .add_ansi("log-level", log_level_to_string(log_level))
        .add_bool("dorvek", dorvek);
    const fapi_reply reply = request.invoke();
    if (!reply.passed())
        FAPI_RAISE(res::MSG_FAPI_EMS_DORVEK_LOG, event_id, get_filer_name(), reply.error_number(), reply.reason());
}

void CFilerTovren::fapi_system_get_info(fapi_system_info_t& info) {
    info = fapi_system_info_t{};
    auto server = open_server();
    fapi_request request(server.get(), "system-get-info");
    const fapi_reply reply = request.invoke();
    if (!reply.passed())
        FAPI_RAISE(res::MSG_FAPI_SYSTEM_GET_INFO, get_filer_name(), reply.error_number(), reply.reason());
    read_system_info(reply.child("system-info"), info);
}

void CFilerTovren::fapi_cf_status(int32_t& current_time, bool& enabled, bool& interconnect_up,
                                  std::u16string& partner) {
    current_time = 0;
    enabled = false;
    interconnect_up = false;
    auto server = open_server();
    fapi_request request(server.get(), "cf-status");
    const fapi_reply reply = request.invoke();
    if (!reply.passed()) FAPI_RAISE(res::MSG_FAPI_CF_STATUS, get_filer_name(), reply.error_number(), reply.reason());
    current_time = reply.int32_value("current-time");
    enabled = reply.bool_value("is-enabled");
    interconnect_up = reply.bool_value("is-interconnect-up");
    partner = reply.text("partner");
}

// A failure is not raised: its reason becomes the value, as callers of this
// request have always received it.
void CFilerImpl::fapi_options_get(const WCHAR* name, std::u16string& value) {
    auto server = open_server();
    fapi_request request(server.get(), "options-get");
    request.add("name", name);
    const fapi_reply reply = request.invoke();
    if (reply.passed()) {
        value = reply.text("value");
        return;
    }
    value = reply.reason();
    debug_print(u"fapi_options_get returned error string = %s", u"" __FILE__, __LINE__, value);
}
