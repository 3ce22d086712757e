// Aggregates with their plexes, RAID groups and volumes, the root name, the
// disks, and the adding of disks to an aggregate.
#include <filer/filer_classes.h>

#include "fapi_raise.h"
#include "operation_support.h"

namespace {

void read_disk(const fapi_elem& entry, fapi_disk_info_t& disk) {
    disk.name = entry.text("name");
    disk.host_adapter = entry.text("host-adapter");
    disk.port = entry.text("port");
    disk.port_name = entry.text("port-name");
    disk.physical_space = entry.int64_value("physical-space");
    disk.used_space = entry.int64_value("used-space");
    disk.bay = entry.text("bay");
    disk.shelf = entry.text("shelf");
    disk.plex = entry.text("plex");
    disk.volume = entry.text("volume");
    disk.vendor_id = entry.text("vendor-id");
    disk.id = entry.int32_value("id");
    disk.serial_number = entry.text("serial-number");
    disk.raid_group = entry.text("raid-group");
    disk.raid_state = entry.enum_value(disk_raid_state_table, "raid-state");
    disk.raid_type = entry.enum_value(disk_raid_type_table, "raid-type");
}

// Lists whose entries carry only a name.
template <typename Record>
void read_names(const fapi_elem& list, std::vector<Record>& records) {
    list.for_each_child([&](const fapi_elem& entry) { records.emplace_back().name = entry.text("name"); });
}

void read_raid_group(const fapi_elem& entry, fapi_raid_group_info_t& group) {
    read_names(entry.child("disks"), group.disks);
    group.is_reconstructing = entry.bool_value("is-reconstructing");
    group.name = entry.text("name");
    group.reconstruction_percentage = entry.int32_value("reconstruction-percentage");
}

// RAID groups and the resync progress come only with the verbose form.
void read_plex(const fapi_elem& entry, bool verbose, fapi_plex_info_t& plex) {
    plex.is_online = entry.bool_value("is-online");
    plex.is_resyncing = entry.bool_value("is-resyncing");
    plex.name = entry.text("name");
    if (!verbose) return;
    entry.for_each_child("raid-groups",
                         [&](const fapi_elem& group) { read_raid_group(group, plex.raid_groups.emplace_back()); });
    plex.resyncing_percentage = entry.int32_value("resyncing-percentage");
}

void read_aggregate(const fapi_elem& entry, bool verbose, fapi_aggr_info_t& aggr) {
    aggr.disk_count = entry.int32_value("disk-count");
    aggr.files_total = entry.int32_value("files-total");
    aggr.files_used = entry.int32_value("files-used");
    aggr.name = entry.text("name");
    aggr.plex_count = entry.int32_value("plex-count");
    entry.for_each_child("plexes", [&](const fapi_elem& plex) { read_plex(plex, verbose, aggr.plexes.emplace_back()); });
    aggr.raid_size = static_cast<int32_t>(entry.int64_value("raid-size"));
    aggr.raid_status = entry.text("raid-status");
    aggr.size_available = entry.int64_value("size-available");
    aggr.size_percentage_used = entry.int32_value("size-percentage-used");
    aggr.size_total = entry.int64_value("size-total");
    aggr.size_used = entry.int64_value("size-used");
    aggr.state = entry.enum_value(aggr_state_table, "state");
    aggr.type = entry.enum_value(aggr_type_table, "type");
    aggr.uuid = entry.text("uuid");
    aggr.volume_count = entry.int32_value("volume-count");
    read_names(entry.child("volumes"), aggr.volumes);
}

}  // namespace

// Appends to what the caller's list holds; a failure is raised through the
// disk list's error record.
void CFilerQuilbe1::fapi_disk_list_info(const WCHAR* disk, std::vector<fapi_disk_info_t>& disks) {
    auto server = open_server();
    fapi_request request(server.get(), "disk-list-info");
    if (has_text(disk)) request.add("disk", disk);
    const fapi_reply reply = request.invoke();
    fapi_disk_list_info_error_t(reply.get(), get_filer_name(), disk ? disk : u"").raise();
    disks.reserve(disks.size() + 200);
    reply.for_each_child("disk-details", [&](const fapi_elem& entry) { read_disk(entry, disks.emplace_back()); });
}

void CFilerPellion::fapi_aggr_list_info(std::vector<fapi_aggr_info_t>& aggregates, const WCHAR* aggregate,
                                        bool verbose) {
    aggregates.clear();
    auto server = open_server();
    fapi_request request(server.get(), "aggr-list-info");
    if (has_text(aggregate)) request.add("aggregate", aggregate);
    if (verbose) request.add_bool("verbose", true);
    const fapi_reply reply = request.invoke();
    if (!reply.passed())
        FAPI_RAISE(res::MSG_FAPI_AGGR_LIST_INFO, get_filer_name(), reply.error_number(), reply.reason());
    aggregates.reserve(14);
    reply.for_each_child("aggregates",
                         [&](const fapi_elem& entry) { read_aggregate(entry, verbose, aggregates.emplace_back()); });
}

void CFilerPellion::fapi_aggr_get_root(std::u16string& root_volume) {
    auto server = open_server();
    fapi_request request(server.get(), "aggr-get-root-name");
    const fapi_reply reply = request.invoke();
    if (!reply.passed())
        FAPI_RAISE(res::MSG_FAPI_AGGR_GET_ROOT, get_filer_name(), reply.error_number(), reply.reason());
    root_volume = reply.text("root-volume");
    debug_print(u"Aggregate root =  %s", u"" __FILE__, __LINE__, root_volume);
}

// Every child is optional: a name or a count that is empty or 0, a clear flag
// and empty lists send nothing.
void CFilerPellion::fapi_aggr_add(const WCHAR* aggregate, int32_t disk_count, int32_t disk_size,
                                  const std::vector<fapi_disk_info_t>& disks, bool force_spare_pool,
                                  const std::vector<fapi_disk_info_t>& mirror_disks, const WCHAR* raid_group,
                                  std::vector<fapi_disk_info_t>& bad_disks) {
    bad_disks.clear();
    auto server = open_server();
    fapi_request request(server.get(), "aggr-add");
    if (has_text(aggregate)) request.add("aggregate", aggregate);
    if (disk_count != 0) request.add("disk-count", disk_count);
    if (disk_size != 0) request.add("disk-size", disk_size);
    for (const auto& disk : disks) request.add("disks", disk.name);
    if (force_spare_pool) request.add_bool("force-spare-pool", true);
    for (const auto& disk : mirror_disks) request.add("mirror-disks", disk.name);
    if (has_text(raid_group)) request.add("raid-group", raid_group);
    const fapi_reply reply = request.invoke();
    if (!reply.passed()) {
        debug_print(u"zfapi_aggr_add failed ...reason = %s", u"" __FILE__, __LINE__, reply.reason());
        FAPI_RAISE(res::MSG_FAPI_AGGR_ADD, aggregate, get_filer_name(), reply.error_number(), reply.reason());
    }
    read_names(reply.child("bad-disks"), bad_disks);
}
