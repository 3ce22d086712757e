// Snapshots: list, create, delete, rename, schedules, single-file restore and
// the space that snapshots take or would give back.
#include <filer/filer_classes.h>
#include <korvex/elem.h>

#include <cerrno>

#include "fapi_raise.h"

namespace {

// 100-ns units between 1601-01-01 and 1970-01-01.
constexpr uint64_t kUnixEpochAsFiletime = 116444736000000000ull;

// The appliance's seconds since 1970, read as a 64-bit count so that times
// after 2038 keep their value.
FILETIME filetime_from_seconds(int64_t seconds) {
    const uint64_t units = static_cast<uint64_t>(seconds) * 10000000ull + kUnixEpochAsFiletime;
    return FILETIME{static_cast<DWORD>(units), static_cast<DWORD>(units >> 32)};
}

const WCHAR* flag_text(bool flag) { return flag ? u"true" : u"false"; }

}  // namespace

int64_t CFilerTovren::fapi_snapshot_volume_info(const WCHAR* volume) {
    auto server = open_server();
    fapi_request request(server.get(), "snapshot-volume-info");
    request.add("volume", volume);
    const fapi_reply reply = request.invoke();
    if (!reply.passed()) FAPI_RAISE(res::MSG_FAPI_SNAPSHOT_VOLUME_INFO, volume, get_filer_name(), reply.reason());
    return reply.int64_value("size-available");
}

void CFilerQuilbe1::fapi_snapshot_list_info(const WCHAR* volume, bool terse,
                                            std::vector<fapi_snapshot_info_t>& snapshots) {
    snapshots.clear();
    const bool terse_supported = supports_terse_snapshot_list();
    check_optional_parameter(terse, terse_supported, u"terse", u"snapshot-list-info");
    auto server = open_server();
    fapi_request request(server.get(), "snapshot-list-info");
    request.add("volume", volume);
    if (terse_supported) request.add_bool("terse", terse);
    const fapi_reply reply = request.invoke();
    if (!reply.passed())
        FAPI_RAISE(res::MSG_FAPI_SNAPSHOT_LIST_INFO, volume, flag_text(terse), get_filer_name(), reply.error_number(),
                   reply.reason());
    reply.for_each_child("snapshots", [&](const fapi_elem& entry) {
        auto& snapshot = snapshots.emplace_back();
        snapshot.name = entry.narrow_text("name");
        snapshot.access_time = filetime_from_seconds(entry.int64_value("access-time"));
        snapshot.busy = entry.bool_value("busy");
        snapshot.cumulative_percentage_of_total_blocks = entry.int32_value("cumulative-percentage-of-total-blocks");
        snapshot.cumulative_percentage_of_used_blocks = entry.int32_value("cumulative-percentage-of-used-blocks");
        snapshot.percentage_of_total_blocks = entry.int32_value("percentage-of-total-blocks");
        snapshot.percentage_of_used_blocks = entry.int32_value("percentage-of-used-blocks");
        if (!terse) {
            snapshot.total = entry.int64_value("total");
            snapshot.cumulative_total = entry.int64_value("cumulative-total");
        }
    });
}

void CFilerQuilbe1::fapi_snapshot_create(const WCHAR* volume, const WCHAR* snapshot, bool async) {
    const bool async_supported = supports_async_snapshot_create();
    check_optional_parameter(async, async_supported, u"async", u"snapshot-create");
    auto server = open_server();
    fapi_request request(server.get(), "snapshot-create");
    request.add("volume", volume).add("snapshot", snapshot);
    if (async_supported) request.add_bool("async", async);
    const fapi_reply reply = request.invoke();
    if (!reply.passed())
        FAPI_RAISE(res::MSG_FAPI_SNAPSHOT_CREATE, snapshot, volume, flag_text(async), get_filer_name(),
                   reply.error_number(), reply.reason());
}

void CFilerREL63::fapi_snapshot_delete(const WCHAR* volume, const WCHAR* snapshot, owned_ptr<fapi_error_t>* error) {
    auto server = open_server();
    fapi_request request(server.get(), "snapshot-delete");
    request.add("volume", volume).add("snapshot", snapshot);
    const fapi_reply reply = request.invoke();
    owned_ptr<fapi_error_t> outcome(new fapi_snapshot_delete_error_t(reply.get(), get_filer_name(), volume, snapshot));
    // The caller who asked for the outcome decides whether a failure is fatal.
    if (error)
        error->reset(outcome.release());
    else
        outcome->raise();
}

void CFilerREL63::fapi_snapshot_rename(const WCHAR* volume, const WCHAR* current_name, const WCHAR* new_name) {
    auto server = open_server();
    fapi_request request(server.get(), "snapshot-rename");
    request.add("volume", volume).add("current-name", current_name).add("new-name", new_name);
    const fapi_reply reply = request.invoke();
    if (!reply.passed())
        FAPI_RAISE(res::MSG_FAPI_SNAPSHOT_RENAME, current_name, new_name, volume, get_filer_name(),
                   reply.error_number(), reply.reason());
}

void CFilerREL63::fapi_snapshot_get_schedule(const WCHAR* volume, fapi_snapshot_schedule_t& schedule) {
    auto server = open_server();
    fapi_request request(server.get(), "snapshot-get-schedule");
    request.add("volume", volume);
    const fapi_reply reply = request.invoke();
    if (!reply.passed())
        FAPI_RAISE(res::MSG_FAPI_SNAPSHOT_GET_SCHEDULE, volume, get_filer_name(), reply.error_number(),
                   reply.reason());
    schedule.weeks = reply.int32_value("weeks");
    schedule.days = reply.int32_value("days");
    schedule.hours = reply.int32_value("hours");
    schedule.minutes = reply.int32_value("minutes");
    schedule.which_hours = reply.text("which-hours");
    schedule.which_minutes = reply.text("which-minutes");
}

void CFilerREL63::fapi_snapshot_set_schedule(const WCHAR* volume, const fapi_snapshot_schedule_t& schedule) {
    auto server = open_server();
    fapi_request request(server.get(), "snapshot-set-schedule");
    request.add("volume", volume)
        .add("weeks", schedule.weeks)
        .add("days", schedule.days)
        .add("hours", schedule.hours)
        .add("minutes", schedule.minutes);
    if (!schedule.which_hours.empty()) request.add("which-hours", schedule.which_hours);
    if (!schedule.which_minutes.empty()) request.add("which-minutes", schedule.which_minutes);
    const fapi_reply reply = request.invoke();
    if (!reply.passed())
        FAPI_RAISE(res::MSG_FAPI_SNAPSHOT_SET_SCHEDULE, volume, get_filer_name(), reply.error_number(),
                   reply.reason());
}

void CFilerTovren::fapi_snapshot_restore_file(const WCHAR* path, const WCHAR* snapshot, const WCHAR* restore_path) {
    auto server = open_server();
    fapi_request request(server.get(), "snapshot-restore-file");
    request.add("path", path).add("snapshot", snapshot).add("restore-path", restore_path);
    const fapi_reply reply = request.invoke();
    if (!reply.passed())
        FAPI_RAISE(res::MSG_FAPI_SNAPSHOT_RESTORE_FILE, path, snapshot, get_filer_name(), reply.error_number(),
                   reply.reason());
}

int64_t CFilerOskarn::fapi_snapshot_delta_info(const WCHAR* volume, const WCHAR* snapshot1, const WCHAR* snapshot2) {
    auto server = open_server();
    fapi_request request(server.get(), "snapshot-delta-info");
    request.add("snapshot1", snapshot1);
    if (snapshot2 && *snapshot2) request.add("snapshot2", snapshot2);
    request.add("volume", volume);
    const fapi_reply reply = request.invoke();
    if (!reply.passed())
        FAPI_RAISE(res::MSG_FAPI_SNAPSHOT_DELTA_INFO, volume, get_filer_name(), reply.error_number(), reply.reason());
    return reply.int64_value("consumed-size");
}

int64_t CFilerOskarn::fapi_snapshot_reclaimable_info(const WCHAR* volume, const WCHAR* snapshot) {
    auto server = open_server();
    fapi_request request(server.get(), "snapshot-reclaimable-info");
    request.add("volume", volume);
    // The snapshot goes inside a list element of its own.
    ElemHandlePtr snapshots(kx_elem_create("snapshots"));
    if (!snapshots) FAPI_RAISE(E_OUTOFMEMORY);
    add_child_utf8(snapshots.get(), "snapshot-name", wide_to_ansi(snapshot).c_str());
    if (!kx_child_append(request.element(), snapshots.get())) FAPI_RAISE(E_OUTOFMEMORY);
    snapshots.release();
    const fapi_reply reply = request.invoke();
    if (!reply.passed())
        FAPI_RAISE(res::MSG_FAPI_SNAPSHOT_RECLAIMABLE_INFO, snapshot, volume, get_filer_name(), reply.error_number(),
                   reply.reason());
    return reply.int64_value("reclaimable-size");
}
