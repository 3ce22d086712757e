#pragma once
// CFiler: the typed interface through which the provider drives one appliance,
// one operation per management-API request or small composite of requests.
//
// Conventions of every operation:
// - Wide text arguments are null-terminated; a null one leaves its child out of
//   the request, an empty one fails the text conversion with 0x80070057 before
//   anything is sent (unless the operation says otherwise).
// - An optional value that is empty leaves its child out of the request.
// - A failed reply raises the operation's own message-table error as a COM error.
// - An operation the appliance's release lacks raises 0xC00403C4 with its name
//   and sends nothing.
#include <filer/fapi_error.h>
#include <filer/records.h>
#include <platform/types.h>

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

class CFiler {
public:
    virtual ~CFiler() = default;

    CFiler(const CFiler&) = delete;
    CFiler& operator=(const CFiler&) = delete;

    // The login of every request; set once, after construction, by create_filer.
    void set_transport(const WCHAR* transport);
    void set_user_name(const WCHAR* user_name);
    void set_password(const WCHAR* password);
    const std::u16string& get_transport() const { return transport_; }
    const std::u16string& get_user_name() const { return user_name_; }
    const std::u16string& get_password() const { return password_; }

    // Snapshot identifier and three values, through the administration library.
    virtual void get_snapshot_info(const WCHAR* path, std::array<BYTE, 16>& id, uint64_t& value1, uint64_t& value2,
                                   uint64_t& value3) = 0;
    virtual const WCHAR* get_filer_name() const = 0;
    virtual bool supports_terse_snapshot_list() const = 0;
    virtual bool volume_has_free_space(const WCHAR* volume) = 0;
    virtual void get_lun_max_size(const WCHAR* path, uint64_t& without_snapshot_reserve,
                                  uint64_t& with_snapshot_reserve) = 0;
    virtual bool snapshotExists(const WCHAR* volume, const WCHAR* snapshot) = 0;
    virtual void set_lun_signature(const WCHAR* path, int32_t signature) = 0;
    virtual void get_lun_signature(const WCHAR* path, int32_t& signature) = 0;
    virtual void get_volume_options(const WCHAR* volume, int32_t& create_ucode, int32_t& convert_ucode,
                                    int32_t& nosnapdir) = 0;
    virtual void set_volume_language_options(const WCHAR* volume, int32_t create_ucode, int32_t convert_ucode,
                                             int32_t nosnapdir) = 0;
    virtual bool get_space_reservation(const WCHAR* path, bool is_lun) = 0;
    virtual void set_space_reservation(const WCHAR* path, bool is_lun, bool value) = 0;
    virtual void has_snapshot_schedule(const WCHAR* volume, bool& has_schedule) = 0;
    virtual void clear_snapshot_schedule(const WCHAR* volume) = 0;
    virtual void send_ems_event(const WCHAR* computer_name, uint32_t event_id, const WCHAR* event_source,
                                const WCHAR* app_version, const WCHAR* category, const WCHAR* description,
                                int32_t log_level, bool send_support_report) = 0;
    virtual void restore_file_from_snapshot(const WCHAR* path, const WCHAR* snapshot) = 0;
    virtual void get_lun_backing_snapshot(const WCHAR* path, std::u16string& snapshot) = 0;
    virtual uint64_t get_lun_size(const WCHAR* path) = 0;
    virtual bool is_lun_online(const WCHAR* path) = 0;
    virtual bool lun_exists(const WCHAR* path) = 0;
    virtual bool get_lun_attribute(const WCHAR* path, const WCHAR* name, std::u16string& value) = 0;
    virtual void set_lun_attribute(const WCHAR* path, const WCHAR* name, const WCHAR* value) = 0;
    virtual void read_lun_raw(const WCHAR* path, uint64_t offset, uint32_t length, void* buffer) = 0;
    virtual void write_lun_raw(const WCHAR* path, uint64_t offset, uint32_t length, const void* data) = 0;
    virtual void get_lun_restore_status(const WCHAR* path, bool& running) = 0;
    virtual bool is_initiator_logged_in_a(const fapi_wwn_t& port_name) = 0;
    virtual bool is_initiator_logged_in(const WCHAR* initiator) = 0;
    virtual void unmap_lun_from_all_igroups(const WCHAR* path) = 0;
    virtual bool is_trell_volume(const WCHAR* volume, std::u16string& aggregate) = 0;
    virtual void get_trell_volume_info(const WCHAR* volume, std::u16string& space_guarantee,
                                       std::u16string& autosize_enabled, std::u16string& autosize_increment,
                                       std::u16string& autosize_maximum) = 0;
    virtual void get_snapshot_auto_delete_settings(const WCHAR* volume, std::u16string& state,
                                                   std::u16string& defer_delete, std::u16string& prefix) = 0;
    virtual void get_space_reservations_info(const WCHAR* volume, uint64_t& reserved, uint64_t& reserve_required,
                                             uint64_t& reserve_used, uint64_t& reserve_available,
                                             int32_t& available_percent, int32_t& fractional_reserve) = 0;
    virtual void get_recent_snapshot_name(const WCHAR* volume, std::u16string& snapshot) = 0;
    virtual void lun_reverse_map(const WCHAR* initiator, uint32_t lun_id, std::u16string& path) = 0;
    virtual bool lun_has_scsi_reservations(const WCHAR* path) = 0;
    virtual bool snapshot_already_trell_clone(const WCHAR* volume, const WCHAR* clone) = 0;
    virtual bool is_volume_online(const WCHAR* volume) = 0;
    virtual void fapi_lun_map_list_info(const WCHAR* path, std::vector<fapi_igroup_info_t>& groups) = 0;
    virtual void fapi_fcp_adapter_list_info(std::vector<fapi_fcp_adapter_info_t>& adapters) = 0;
    virtual void fapi_iscsi_adapter_list_info(std::vector<fapi_iscsi_adapter_info_t>& adapters) = 0;
    virtual void fapi_iscsi_node_get_name(std::string& node_name) = 0;
    virtual void fapi_lun_set_serial_number(const char* path, const char* serial_number) = 0;
    virtual void fapi_lun_get_serial_number(const char* path, std::string& serial_number) = 0;
    virtual void fapi_lun_offline(const char* path) = 0;
    virtual void fapi_lun_online(const char* path) = 0;
    virtual void fapi_lun_get_maxsize(const WCHAR* path, int64_t& without_snapshot_reserve,
                                      int64_t& with_snapshot_reserve) = 0;
    virtual int64_t fapi_snapshot_volume_info(const WCHAR* volume) = 0;
    virtual void fapi_snapshot_list_info(const WCHAR* volume, bool terse,
                                         std::vector<fapi_snapshot_info_t>& snapshots) = 0;
    virtual void fapi_snapshot_create(const WCHAR* volume, const WCHAR* snapshot, bool async) = 0;
    // With `error` given the outcome is handed over and nothing is raised.
    virtual void fapi_snapshot_delete(const WCHAR* volume, const WCHAR* snapshot, owned_ptr<fapi_error_t>* error) = 0;
    virtual void fapi_tandril_list_destinations(const WCHAR* source_location,
                                                std::vector<fapi_tandril_destination_t>& destinations) = 0;
    virtual void fapi_tandril_update(const WCHAR* destination_location, const WCHAR* source_location,
                                     const WCHAR* source_snapshot) = 0;
    virtual void fapi_tandril_break(const WCHAR* destination_location) = 0;
    virtual void fapi_tandril_quiesce(const WCHAR* destination_location) = 0;
    virtual void fapi_tandril_get_status(const WCHAR* location, int32_t& available,
                                         std::vector<fapi_tandril_status_t>& statuses) = 0;
    virtual void fapi_tandril_get_list_sync_schedule(const WCHAR* destination_location,
                                                     std::vector<fapi_tandril_sync_schedule_t>& schedules) = 0;
    virtual void fapi_qtree_list(const WCHAR* volume, std::vector<fapi_qtree_info_t>& qtrees) = 0;
    virtual void fapi_qtree_create(const WCHAR* qtree, const WCHAR* volume) = 0;
    virtual void fapi_snapshot_rename(const WCHAR* volume, const WCHAR* current_name, const WCHAR* new_name) = 0;
    virtual void fapi_snapshot_get_schedule(const WCHAR* volume, fapi_snapshot_schedule_t& schedule) = 0;
    virtual void fapi_snapshot_set_schedule(const WCHAR* volume, const fapi_snapshot_schedule_t& schedule) = 0;
    virtual void fapi_volume_list_info(std::vector<fapi_volume_info_t>& volumes) = 0;
    virtual void fapi_lun_get_space_reservation_info(const WCHAR* path, bool& enabled) = 0;
    virtual void fapi_lun_set_space_reservation_info(const WCHAR* path, bool enable) = 0;
    virtual void fapi_file_get_space_reservation_info(const WCHAR* path, bool& overwrite_enabled,
                                                      bool& fill_enabled) = 0;
    virtual void fapi_file_set_space_reservation_info(const WCHAR* path, bool overwrite_enabled, bool fill_enabled) = 0;
    virtual void fapi_file_read_file(const WCHAR* path, int32_t length, int64_t offset, std::string& data,
                                     int32_t& length_read) = 0;
    virtual void fapi_file_write_file(const WCHAR* path, int64_t offset, bool overwrite, const char* data,
                                      int32_t& length_written) = 0;
    virtual void fapi_file_delete_file(const WCHAR* path) = 0;
    virtual void fapi_file_truncate_file(const WCHAR* path, const WCHAR* size) = 0;
    virtual void fapi_disk_list_info(const WCHAR* disk, std::vector<fapi_disk_info_t>& disks) = 0;
    // With `error` given the outcome is handed over, nothing is raised or read.
    virtual void fapi_lun_list_info(const WCHAR* path, std::vector<fapi_lun_info_t>& luns,
                                    owned_ptr<fapi_error_t>* error) = 0;
    virtual void fapi_lun_create_by_size(const WCHAR* path, uint64_t size, std::optional<int32_t> os_type,
                                         std::optional<bool> space_reservation, int64_t& actual_size) = 0;
    virtual void fapi_lun_destroy(const WCHAR* path, std::optional<bool> force) = 0;
    virtual void fapi_lun_resize(const WCHAR* path, uint64_t size, std::optional<bool> force, int64_t& actual_size,
                                 int32_t* error_number) = 0;
    virtual void fapi_lun_create_from_snapshot(const WCHAR* path, const WCHAR* snapshot_lun_path,
                                               std::optional<int32_t> os_type, std::optional<bool> space_reservation,
                                               int64_t& actual_size) = 0;
    virtual void fapi_fcp_adapter_initiators_list_info(const WCHAR* adapter,
                                                       std::vector<fapi_fcp_adapter_initiators_t>& adapters) = 0;
    virtual void fapi_iscsi_adapter_initiators_list_info(const WCHAR* adapter,
                                                         std::vector<fapi_iscsi_adapter_initiators_t>& adapters) = 0;
    virtual void fapi_lun_map(const WCHAR* path, const WCHAR* igroup, std::optional<int32_t> lun_id,
                              int32_t& assigned_lun_id) = 0;
    virtual void fapi_lun_unmap(const WCHAR* path, const WCHAR* igroup) = 0;
    virtual void fapi_igroup_create(const WCHAR* name, int32_t type, int32_t os_type) = 0;
    virtual void fapi_igroup_destroy(const WCHAR* name, bool force) = 0;
    virtual void fapi_igroup_list_info(const WCHAR* name, std::vector<fapi_igroup_info_t>& groups) = 0;
    virtual void fapi_igroup_add(const WCHAR* igroup, const WCHAR* initiator) = 0;
    virtual void fapi_ems_dorvek_log(const WCHAR* computer_name, uint32_t event_id, const WCHAR* event_source,
                                     const WCHAR* app_version, const WCHAR* category, const WCHAR* description,
                                     int32_t log_level, bool dorvek) = 0;
    virtual void fapi_snapshot_restore_file(const WCHAR* path, const WCHAR* snapshot, const WCHAR* restore_path) = 0;
    virtual bool fapi_lun_get_attribute(const WCHAR* path, const WCHAR* name, std::u16string& value) = 0;
    virtual void fapi_lun_set_attribute(const WCHAR* path, const WCHAR* name, const WCHAR* value) = 0;
    virtual void fapi_lun_read_raw(const WCHAR* path, uint64_t offset, uint32_t length, void* buffer) = 0;
    virtual void fapi_lun_write_raw(const WCHAR* path, uint64_t offset, uint32_t length, const void* data) = 0;
    virtual void fapi_lun_restore_status(const WCHAR* path, bool& running) = 0;
    virtual void fapi_volume_set_option(const WCHAR* volume, const char* option_name, const char* option_value) = 0;
    virtual void fapi_volume_options_list_info(const WCHAR* volume, int32_t& create_ucode, int32_t& convert_ucode,
                                               int32_t& nosnapdir) = 0;
    virtual void fapi_lun_create_from_file(const WCHAR* file_path, const WCHAR* lun_path,
                                           std::optional<int32_t> os_type, std::optional<bool> space_reservation,
                                           int64_t& actual_size) = 0;
    virtual bool wait_lun_available_after_break(const WCHAR* path, int32_t retries) = 0;
    virtual bool fapi_lun_list_info_ex(const WCHAR* path) = 0;
    virtual int64_t fapi_snapshot_delta_info(const WCHAR* volume, const WCHAR* snapshot1, const WCHAR* snapshot2) = 0;
    virtual int64_t fapi_snapshot_reclaimable_info(const WCHAR* volume, const WCHAR* snapshot) = 0;
    virtual void fapi_volume_autosize_get(const WCHAR* volume, std::u16string& enabled, std::u16string& increment,
                                          std::u16string& maximum) = 0;
    virtual void fapi_lun_clone_split_status_list_info(const WCHAR* path,
                                                       std::vector<fapi_lun_clone_status_info_t>& statuses) = 0;
    virtual void fapi_lun_clone_status_list_info(const WCHAR* path,
                                                 std::vector<fapi_lun_clone_status_info_t>& statuses) = 0;
    virtual void fapi_options_get(const WCHAR* name, std::u16string& value) = 0;
    virtual void fapi_system_get_info(fapi_system_info_t& info) = 0;
    virtual bool fapi_lun_initiator_logged_in(const std::u16string& initiator) = 0;
    virtual void fapi_lun_snap_usage_list_info(const WCHAR* volume, const WCHAR* snapshot,
                                               std::vector<fapi_lun_snap_usage_info_t>& usages) = 0;
    virtual void fapi_volume_clone_create(const WCHAR* parent_volume, const WCHAR* parent_snapshot,
                                          const WCHAR* space_reserve, const WCHAR* clone_volume) = 0;
    virtual void fapi_volume_size(const WCHAR* new_size, const WCHAR* volume, std::u16string& size) = 0;
    virtual void fapi_volume_destroy(const WCHAR* volume) = 0;
    virtual void fapi_volume_offline(const WCHAR* volume, std::optional<uint32_t> cifs_delay) = 0;
    virtual void fapi_volume_online(const WCHAR* volume) = 0;
    virtual void fapi_volume_create(const WCHAR* volume, const WCHAR* aggregate, const WCHAR* size,
                                    const WCHAR* space_reserve) = 0;
    virtual void fapi_volume_rename(const WCHAR* new_name, const WCHAR* volume) = 0;
    virtual void fapi_aggr_list_info(std::vector<fapi_aggr_info_t>& aggregates, const WCHAR* aggregate,
                                     bool verbose) = 0;
    virtual void fapi_aggr_get_root(std::u16string& root_volume) = 0;
    virtual bool supports_async_snapshot_create() const = 0;
    virtual bool version_at_least_7_1() const = 0;
    virtual void fapi_volume_get_root_name(std::u16string& volume) = 0;
    virtual void fapi_lun_rename(const WCHAR* new_path, const WCHAR* path) = 0;
    virtual void fapi_cf_status(int32_t& current_time, bool& enabled, bool& interconnect_up,
                                std::u16string& partner) = 0;
    virtual bool fapi_is_port_has_scsi_reservations(const WCHAR* path, const WCHAR* port_name) = 0;
    virtual void fapi_iscsi_tpgroup_list_info(uint32_t tag, std::vector<fapi_iscsi_tpgroup_info_t>& groups) = 0;
    virtual void fapi_iscsi_portal_list_info(std::vector<fapi_iscsi_portal_info_t>& portals) = 0;
    virtual void fapi_iscsi_interface_list_info(const WCHAR* interface_filter,
                                                std::vector<fapi_iscsi_interface_info_t>& interfaces) = 0;
    virtual void fapi_iscsi_initiator_list_info(std::vector<fapi_iscsi_initiator_info_t>& initiators) = 0;
    virtual void fapi_iscsi_target_alias_get_alias(std::u16string& alias) = 0;
    virtual void fapi_iscsi_target_alias_set_alias(const WCHAR* alias) = 0;
    virtual void fapi_iscsi_target_alias_clear_alias() = 0;
    // A non-zero tag asks for that tag; a given holder receives the appliance's tag.
    virtual void fapi_iscsi_tpgroup_create(const WCHAR* name, uint32_t* tag) = 0;
    virtual void fapi_iscsi_tpgroup_destroy(uint32_t tag) = 0;
    virtual void fapi_iscsi_node_set_name(const WCHAR* node_name) = 0;
    virtual void fapi_iscsi_tpgroup_interface_add(const WCHAR* interface_name, uint32_t tag) = 0;
    virtual void fapi_iscsi_tpgroup_interface_delete(const WCHAR* interface_name, uint32_t tag) = 0;
    virtual void fapi_iscsi_interface_enable(const WCHAR* interface_name) = 0;
    virtual void fapi_iscsi_interface_disable(const WCHAR* interface_name) = 0;
    // Secrets are byte strings; an empty one is not sent.
    virtual void fapi_iscsi_initiator_add_auth(const WCHAR* auth_type, const WCHAR* initiator,
                                               std::span<const BYTE> outbound_secret, const WCHAR* outbound_user_name,
                                               std::span<const BYTE> secret, const WCHAR* user_name) = 0;
    virtual void fapi_iscsi_initiator_delete_auth(const WCHAR* initiator) = 0;
    virtual void fapi_iscsi_initiator_get_default_auth(std::u16string& auth_type, std::u16string& outbound_user_name,
                                                       std::u16string& user_name) = 0;
    virtual void fapi_iscsi_initiator_set_default_auth(const WCHAR* auth_type, std::span<const BYTE> outbound_secret,
                                                       const WCHAR* outbound_user_name, std::span<const BYTE> secret,
                                                       const WCHAR* user_name) = 0;
    virtual bool fapi_iscsi_service_status() = 0;
    virtual void fapi_lun_get_inquiry_info(const WCHAR* igroup, std::u16string& vendor_id, std::u16string& product_id,
                                           std::u16string& firmware_revision) = 0;
    virtual void fapi_aggr_add(const WCHAR* aggregate, int32_t disk_count, int32_t disk_size,
                               const std::vector<fapi_disk_info_t>& disks, bool force_spare_pool,
                               const std::vector<fapi_disk_info_t>& mirror_disks, const WCHAR* raid_group,
                               std::vector<fapi_disk_info_t>& bad_disks) = 0;

protected:
    CFiler() = default;

private:
    std::u16string transport_;
    std::u16string user_name_;
    std::u16string password_;
};

// Reads the appliance's release ("system-get-version") with the given login and
// makes the release class for it; the caller owns the object. Raises 0xC00402E3
// for a release below 7.0.2, 0xC004031D when the release cannot be read and
// 0xC00402E4 when its text has no known form. Nothing is made when it raises.
void create_filer(const WCHAR* transport, const WCHAR* filer_name, const WCHAR* user_name, const WCHAR* password,
                  owned_ptr<CFiler>& filer);
