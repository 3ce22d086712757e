// Operations built on other operations: questions of the SAN model and of host
// tools answered from the requests of the interface. The base forms ask the
// administration library where the early releases had no request; the later
// releases replace them with management-API requests.
#include <filer/filer_classes.h>
#include <hostlib/utilities.h>
#include <platform/text.h>

#include <algorithm>
#include <cstdio>
#include <memory>

#include "fapi_raise.h"

namespace {

// The disk signature: four bytes at this offset of the LUN's first sector.
constexpr uint64_t kSignatureOffset = 440;
constexpr uint32_t kSignatureLength = 4;

constexpr int32_t kVolumeOnline = 3;   // volume_state_table
constexpr int32_t kNoSuchLun = 9017;  // the appliance's error number for a missing LUN

}  // namespace

std::u16string wwn_to_string(const fapi_wwn_t& wwn) {
    char text[24];
    std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x:%02x:%02x", wwn[0], wwn[1], wwn[2], wwn[3],
                  wwn[4], wwn[5], wwn[6], wwn[7]);
    return std::u16string(text, text + 23);
}

namespace {

// The one LUN of a list asked for by path; none when the appliance listed none.
const fapi_lun_info_t* single_lun(const std::vector<fapi_lun_info_t>& luns) {
    ReportAssertion(__FILE__, __LINE__, luns.size() == 1);
    return luns.empty() ? nullptr : &luns.front();
}

// Access times compare as 64-bit counts.
uint64_t filetime_value(const FILETIME& time) {
    return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

}  // namespace

bool CFilerImpl::volume_has_free_space(const WCHAR* volume) {
    const std::u16string path = make_volume_path(volume ? volume : u"", u"", u"");
    return rpc_lun_max_size(path.c_str(), false) != 0;
}

void CFilerImpl::get_lun_max_size(const WCHAR* path, uint64_t& without_snapshot_reserve,
                                  uint64_t& with_snapshot_reserve) {
    without_snapshot_reserve = 0;
    with_snapshot_reserve = 0;
    without_snapshot_reserve = rpc_lun_max_size(path, false);
    with_snapshot_reserve = rpc_lun_max_size(path, true);
}

bool CFilerImpl::snapshotExists(const WCHAR* volume, const WCHAR* snapshot) {
    std::vector<fapi_snapshot_info_t> snapshots;
    fapi_snapshot_list_info(volume, false, snapshots);
    const std::string name = wide_to_ansi(snapshot);
    return std::any_of(snapshots.begin(), snapshots.end(), [&](const auto& s) { return s.name == name; });
}

void CFilerImpl::set_lun_signature(const WCHAR* path, int32_t signature) {
    write_lun_raw(path, kSignatureOffset, kSignatureLength, &signature);
    int32_t written = 0;
    read_lun_raw(path, kSignatureOffset, kSignatureLength, &written);
    ReportAssertion(__FILE__, __LINE__, written == signature);
}

// A LUN without a signature (zero bytes) leaves the caller's value as it was.
void CFilerImpl::get_lun_signature(const WCHAR* path, int32_t& signature) {
    int32_t value = 0;
    read_lun_raw(path, kSignatureOffset, kSignatureLength, &value);
    if (value != 0) signature = value;
}

bool CFilerImpl::get_space_reservation(const WCHAR* path, bool is_lun) {
    if (is_lun) {
        bool enabled = false;
        fapi_lun_get_space_reservation_info(path, enabled);
        return enabled;
    }
    bool overwrite = false, fill = false;
    fapi_file_get_space_reservation_info(path, overwrite, fill);
    return overwrite && fill;
}

void CFilerImpl::set_space_reservation(const WCHAR* path, bool is_lun, bool value) {
    if (is_lun)
        fapi_lun_set_space_reservation_info(path, value);
    else
        fapi_file_set_space_reservation_info(path, value, value);
}

void CFilerImpl::has_snapshot_schedule(const WCHAR* volume, bool& has_schedule) {
    has_schedule = false;
    fapi_snapshot_schedule_t schedule;
    fapi_snapshot_get_schedule(volume, schedule);
    has_schedule = schedule.weeks != 0 || schedule.days != 0 || schedule.hours != 0 || schedule.minutes != 0;
}

void CFilerImpl::clear_snapshot_schedule(const WCHAR* volume) { fapi_snapshot_set_schedule(volume, {}); }

void CFilerImpl::send_ems_event(const WCHAR*, uint32_t event_id, const WCHAR* event_source, const WCHAR* app_version,
                                const WCHAR* category, const WCHAR* description, int32_t log_level,
                                bool send_support_report) {
    rpc_ems_dorv(event_id, event_source, app_version, category, description, log_level, send_support_report);
}

void CFilerImpl::restore_file_from_snapshot(const WCHAR* path, const WCHAR* snapshot) {
    rpc_file_restore(path, snapshot);
}

void CFilerImpl::get_lun_backing_snapshot(const WCHAR* path, std::u16string& snapshot) {
    snapshot.clear();
    std::vector<fapi_lun_info_t> luns;
    fapi_lun_list_info(path, luns, nullptr);
    if (const auto* lun = single_lun(luns)) snapshot = lun->backing_snapshot;
}

uint64_t CFilerImpl::get_lun_size(const WCHAR* path) { return rpc_lun_size(path); }

bool CFilerImpl::is_lun_online(const WCHAR* path) {
    std::vector<fapi_lun_info_t> luns;
    fapi_lun_list_info(path, luns, nullptr);
    const auto* lun = single_lun(luns);
    return lun && lun->online;
}

bool CFilerImpl::lun_exists(const WCHAR* path) { return rpc_lun_file_type(path); }

bool CFilerImpl::get_lun_attribute(const WCHAR* path, const WCHAR* name, std::u16string& value) {
    return rpc_lun_get_attribute(path, name, value);
}

void CFilerImpl::set_lun_attribute(const WCHAR* path, const WCHAR* name, const WCHAR* value) {
    rpc_lun_set_attribute(path, name, value);
}

void CFilerImpl::read_lun_raw(const WCHAR* path, uint64_t offset, uint32_t length, void* buffer) {
    rpc_lun_raw_read(path, offset, length, buffer);
}

void CFilerImpl::write_lun_raw(const WCHAR* path, uint64_t offset, uint32_t length, const void* data) {
    rpc_lun_raw_write(path, offset, length, data);
}

void CFilerImpl::get_lun_restore_status(const WCHAR* path, bool& running) { rpc_lun_wopa_status(path, running); }

bool CFilerImpl::is_initiator_logged_in_a(const fapi_wwn_t& port_name) {
    return is_initiator_logged_in(wwn_to_string(port_name).c_str());
}

bool CFilerImpl::is_initiator_logged_in(const WCHAR* initiator) { return rpc_initiator_logged_in(initiator); }

// Stops at the first group that cannot be unmapped.
void CFilerImpl::unmap_lun_from_all_igroups(const WCHAR* path) {
    std::vector<fapi_igroup_info_t> groups;
    fapi_lun_map_list_info(path, groups);
    for (const auto& group : groups) fapi_lun_unmap(path, group.name.c_str());
}

// The newest by access time; of equal times the later in the list.
void CFilerImpl::get_recent_snapshot_name(const WCHAR* volume, std::u16string& snapshot) {
    std::vector<fapi_snapshot_info_t> snapshots;
    fapi_snapshot_list_info(volume, false, snapshots);
    if (snapshots.empty()) return;
    const fapi_snapshot_info_t* newest = &snapshots.front();
    for (const auto& s : snapshots)
        if (filetime_value(newest->access_time) <= filetime_value(s.access_time)) newest = &s;
    snapshot = ansi_to_wide(newest->name);
}

void CFilerImpl::lun_reverse_map(const WCHAR* initiator, uint32_t lun_id, std::u16string& path) {
    rpc_lun_reverse_map(initiator, lun_id, path);
}

bool CFilerImpl::lun_has_scsi_reservations(const WCHAR* path) { return rpc_lun_has_reservations(path); }

bool CFilerREL64::is_volume_online(const WCHAR* volume) {
    std::vector<fapi_volume_info_t> volumes;
    fapi_volume_list_info(volumes);
    const std::u16string_view name = volume ? volume : u"";
    return std::any_of(volumes.begin(), volumes.end(), [&](const fapi_volume_info_t& v) {
        return v.state == kVolumeOnline && platform::equal_wide_nocase(v.name, name);
    });
}

bool CFilerTovren::volume_has_free_space(const WCHAR* volume) { return fapi_snapshot_volume_info(volume) != 0; }

void CFilerTovren::get_lun_max_size(const WCHAR* path, uint64_t& without_snapshot_reserve,
                                    uint64_t& with_snapshot_reserve) {
    int64_t without = 0, with = 0;
    fapi_lun_get_maxsize(path, without, with);
    without_snapshot_reserve = static_cast<uint64_t>(without);
    with_snapshot_reserve = static_cast<uint64_t>(with);
}

void CFilerTovren::get_volume_options(const WCHAR* volume, int32_t& create_ucode, int32_t& convert_ucode,
                                      int32_t& nosnapdir) {
    fapi_volume_options_list_info(volume, create_ucode, convert_ucode, nosnapdir);
}

void CFilerTovren::set_volume_language_options(const WCHAR* volume, int32_t create_ucode, int32_t convert_ucode,
                                               int32_t nosnapdir) {
    if (create_ucode == 0) fapi_volume_set_option(volume, "create_ucode", "on");
    if (convert_ucode == 0) fapi_volume_set_option(volume, "convert_ucode", "on");
    if (nosnapdir != 0) fapi_volume_set_option(volume, "nosnapdir", "off");
}

void CFilerTovren::send_ems_event(const WCHAR* computer_name, uint32_t event_id, const WCHAR* event_source,
                                  const WCHAR* app_version, const WCHAR* category, const WCHAR* description,
                                  int32_t log_level, bool send_support_report) {
    fapi_ems_dorvek_log(computer_name, event_id, event_source, app_version, category, description, log_level,
                        send_support_report);
}

void CFilerTovren::restore_file_from_snapshot(const WCHAR* path, const WCHAR* snapshot) {
    fapi_snapshot_restore_file(path, snapshot, nullptr);
}

void CFilerTovren::set_lun_attribute(const WCHAR* path, const WCHAR* name, const WCHAR* value) {
    fapi_lun_set_attribute(path, name, value);
}

void CFilerTovren::read_lun_raw(const WCHAR* path, uint64_t offset, uint32_t length, void* buffer) {
    fapi_lun_read_raw(path, offset, length, buffer);
}

void CFilerTovren::get_lun_restore_status(const WCHAR* path, bool& running) { fapi_lun_restore_status(path, running); }

void CFilerPellion::lun_reverse_map(const WCHAR* initiator, uint32_t lun_id, std::u16string& path) {
    fapi_igroup_lookup_lun(initiator, static_cast<int32_t>(lun_id), path);
}

bool CFilerPellion1::lun_has_scsi_reservations(const WCHAR* path) { return fapi_is_lun_has_reservations(path); }

// The LUN's own flag, or a clone in progress that holds its space.
bool CFilerOskarn::get_space_reservation(const WCHAR* path, bool is_lun) {
    if (!is_lun) return CFilerImpl::get_space_reservation(path, false);
    bool enabled = false;
    fapi_lun_get_space_reservation_info(path, enabled);
    if (enabled) return true;
    std::vector<fapi_lun_clone_status_info_t> clones;
    fapi_lun_clone_status_list_info(path, clones);
    return !clones.empty();
}

uint64_t CFilerOskarn::get_lun_size(const WCHAR* path) {
    std::vector<fapi_lun_info_t> luns;
    fapi_lun_list_info(path, luns, nullptr);
    const auto* lun = single_lun(luns);
    return lun ? static_cast<uint64_t>(lun->size) : 0;
}

bool CFilerOskarn::lun_exists(const WCHAR* path) {
    std::vector<fapi_lun_info_t> luns;
    owned_ptr<fapi_error_t> outcome;
    fapi_lun_list_info(path, luns, std::addressof(outcome));
    if (!outcome || outcome->passed()) return true;
    if (outcome->error_number() == kNoSuchLun) return false;
    outcome->raise();
    return false;
}

bool CFilerOskarn::get_lun_attribute(const WCHAR* path, const WCHAR* name, std::u16string& value) {
    return fapi_lun_get_attribute(path, name, value);
}

void CFilerOskarn::write_lun_raw(const WCHAR* path, uint64_t offset, uint32_t length, const void* data) {
    fapi_lun_write_raw(path, offset, length, data);
}

bool CFilerOskarn::is_initiator_logged_in_a(const fapi_wwn_t& port_name) {
    return fapi_lun_initiator_logged_in(wwn_to_string(port_name));
}

bool CFilerOskarn::is_initiator_logged_in(const WCHAR* initiator) {
    return fapi_lun_initiator_logged_in(initiator ? initiator : u"");
}
