#pragma once
// Result records of the filer API: one entry of a list reply each, in the
// field order of the reply. Texts are wide unless the appliance's bytes are
// kept as they arrive (narrow fields). Scalars start at zero.
#include <filer/enum_tables.h>
#include <platform/types.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

// A world-wide name as eight bytes, in the form the host library converts.
using fapi_wwn_t = BYTE[8];

// "%02x:..:%02x" of the eight bytes in memory order, lower case: an FC
// initiator's name as the appliance writes it.
std::u16string wwn_to_string(const fapi_wwn_t& wwn);

struct fapi_lun_info_t {
    std::u16string path;
    std::u16string backing_snapshot;
    int64_t size = 0;
    bool read_only = false;
    bool online = false;
    bool mapped = false;
    int32_t share_state = 0;  // lun_share_state_table
};

struct fapi_igroup_info_t {
    std::u16string name;
    int32_t os_type = 0;  // igroup_os_type_table
    int32_t type = 0;     // 0 fcp, 1 iscsi, 2 unknown
    std::vector<std::u16string> initiators;
    int32_t lun_id = 0;
};

struct fapi_fcp_adapter_info_t {
    std::string adapter;
    std::string node_name;
    std::string adapter_type;  // "Local", "Partner", "Standby"
    std::string state;
    int32_t port_address = 0;
    int32_t port_id = 0;
    std::string port_name;
    bool standby = false;
    std::string media_type;
};

struct fapi_fcp_initiator_info_t {
    fapi_wwn_t node_name{};
    fapi_wwn_t port_name{};
    std::u16string port_address;
    std::vector<std::u16string> initiator_groups;
};

struct fapi_fcp_adapter_initiators_t {
    std::u16string adapter;
    std::vector<fapi_fcp_initiator_info_t> initiators;
};

struct fapi_iscsi_portal_address_t {
    uint32_t address = 0;  // IPv4, network byte order
    int32_t port = 0;
    int32_t id = 0;
};

struct fapi_iscsi_adapter_info_t {
    std::string name;
    int32_t state = 0;  // iscsi_adapter_state_from_string
    std::string status;
    std::vector<fapi_iscsi_portal_address_t> portal_addresses;
};

struct fapi_iscsi_connected_initiator_t {
    std::u16string initiator_name;
    int32_t portal_group_id = 0;
    fapi_isid_t isid{};
};

struct fapi_iscsi_adapter_initiators_t {
    std::u16string adapter_name;
    std::vector<fapi_iscsi_connected_initiator_t> initiators;
};

struct fapi_lun_clone_status_info_t {
    int32_t blocks_completed = 0;
    int32_t blocks_total = 0;
    std::u16string path;
};

struct fapi_lun_snap_usage_info_t {
    std::u16string backing_store;
    std::u16string path;
    std::u16string snapshot;
};

struct fapi_volume_info_t {
    std::u16string name;
    int32_t state = 0;  // volume_state_table
    std::u16string uuid;
    int64_t size_available = 0;
};

struct fapi_qtree_info_t {
    int32_t id = 0;
    bool oplocks = false;
    std::u16string qtree;
    std::u16string security_style;
    std::u16string volume;
};

struct fapi_disk_info_t {
    std::u16string name;
    std::u16string host_adapter;
    std::u16string port;
    std::u16string port_name;
    int64_t physical_space = 0;
    int64_t used_space = 0;
    std::u16string bay;
    std::u16string shelf;
    std::u16string plex;
    std::u16string volume;
    std::u16string vendor_id;
    int32_t id = 0;
    std::u16string serial_number;
    std::u16string raid_group;
    int32_t raid_type = 0;   // disk_raid_type_table
    int32_t raid_state = 0;  // disk_raid_state_table
};

struct fapi_raid_group_info_t {
    std::vector<fapi_disk_info_t> disks;  // names only
    bool is_reconstructing = false;
    std::u16string name;
    int32_t reconstruction_percentage = 0;
};

struct fapi_plex_info_t {
    std::u16string name;
    bool is_online = false;
    bool is_resyncing = false;
    int32_t resyncing_percentage = 0;
    std::vector<fapi_raid_group_info_t> raid_groups;
};

struct fapi_aggr_info_t {
    std::u16string reserved_text1;
    std::u16string name;
    std::u16string uuid;
    int32_t disk_count = 0;
    int64_t files_total = 0;
    int64_t files_used = 0;
    std::u16string reserved_text2;
    int32_t plex_count = 0;
    int32_t volume_count = 0;
    int32_t raid_size = 0;
    int64_t size_available = 0;
    int32_t size_percentage_used = 0;
    int64_t size_total = 0;
    int64_t size_used = 0;
    std::u16string raid_status;
    int32_t state = 0;  // aggr_state_table
    int32_t type = 0;   // aggr_type_table
    std::vector<fapi_plex_info_t> plexes;
    std::vector<fapi_volume_info_t> volumes;  // names only
};

struct fapi_iscsi_tpgroup_info_t {
    std::u16string tpgroup_name;
    int32_t tpgroup_tag = 0;
    std::vector<std::u16string> interfaces;
};

struct fapi_iscsi_portal_info_t {
    std::u16string interface_name;
    std::u16string ip_address;
    int32_t ip_port = 0;
    int32_t tpgroup_tag = 0;
};

struct fapi_iscsi_interface_info_t {
    std::u16string interface_name;
    bool is_interface_enabled = false;
    std::u16string tpgroup_name;
    int32_t tpgroup_tag = 0;
};

struct fapi_iscsi_initiator_info_t {
    std::u16string initiator_aliasname;
    std::u16string initiator_nodename;
    std::u16string isid;
    int32_t target_session_id = 0;
    int32_t tpgroup_tag = 0;
};

struct fapi_snapshot_info_t {
    std::string name;
    FILETIME access_time{};
    bool busy = false;
    std::string reserved_text;  // never filled by the list request
    int32_t cumulative_percentage_of_total_blocks = 0;
    int32_t cumulative_percentage_of_used_blocks = 0;
    int32_t percentage_of_total_blocks = 0;
    int32_t percentage_of_used_blocks = 0;
    int64_t total = 0;             // not read in the terse form
    int64_t cumulative_total = 0;  // not read in the terse form
};

struct fapi_snapshot_schedule_t {
    int32_t weeks = 0;
    int32_t days = 0;
    int32_t hours = 0;
    int32_t minutes = 0;
    std::u16string which_hours;
    std::u16string which_minutes;
};

struct fapi_tandril_destination_t {
    std::string source_snapshot;
    std::string destination_location;
    std::string source_location;
};

struct fapi_tandril_status_t {
    int32_t contents = 0;
    int32_t last_transfer_type = 0;
    int32_t current_transfer_type = 0;
    int32_t state = 0;
    int32_t status = 0;
    int32_t lag_time = 0;
    int32_t last_transfer_duration = 0;
    int32_t last_transfer_size = 0;
    int32_t mirror_timestamp = 0;
    int32_t transfer_progress = 0;
    std::u16string base_snapshot;
    std::u16string current_transfer_error;
    std::u16string destination_location;
    std::u16string last_transfer_from;
    std::u16string source_location;
};

struct fapi_tandril_sync_schedule_t {
    std::u16string destination_location;
    std::u16string ops_throttle;
    std::u16string source_location;
    int32_t visibility_frequency = 0;
};

struct fapi_system_info_t {
    std::string system_name;
    std::string system_serial_number;
    std::u16string system_id;
    std::u16string system_model;
    std::u16string vendor_id;
};
