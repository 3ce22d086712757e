#pragma once
// The release classes of CFiler, one per appliance OS release, each derived
// from the one before: a class adds the operations its release brought and
// replaces those whose request changed. create_filer makes only CFilerPellion1
// (7.0.2 up to 7.1), CFilerOskarn (exactly 7.1) and CVintrel (above 7.1); the
// others are the steps between.
//
// Every class is constructed with (appliance name, version text as received).
#include <filer/filer.h>
#include <filer/request_frame.h>

// The base of every release: the appliance name and version text, the composite
// operations, the administration-library operations, and the refusing forms of
// what later releases bring (0xC00403C4 with the operation's name, nothing sent).
class CFilerImpl : public CFiler {
public:
    CFilerImpl(const WCHAR* filer_name, const WCHAR* version);

    void get_snapshot_info(const WCHAR* path, std::array<BYTE, 16>& id, uint64_t& value1, uint64_t& value2,
                           uint64_t& value3) override;
    const WCHAR* get_filer_name() const override;
    bool supports_terse_snapshot_list() const override;
    bool volume_has_free_space(const WCHAR* volume) override;
    void get_lun_max_size(const WCHAR* path, uint64_t& without_snapshot_reserve,
                          uint64_t& with_snapshot_reserve) override;
    bool snapshotExists(const WCHAR* volume, const WCHAR* snapshot) override;
    void set_lun_signature(const WCHAR* path, int32_t signature) override;
    void get_lun_signature(const WCHAR* path, int32_t& signature) override;
    bool get_space_reservation(const WCHAR* path, bool is_lun) override;
    void set_space_reservation(const WCHAR* path, bool is_lun, bool value) override;
    void has_snapshot_schedule(const WCHAR* volume, bool& has_schedule) override;
    void clear_snapshot_schedule(const WCHAR* volume) override;
    void send_ems_event(const WCHAR* computer_name, uint32_t event_id, const WCHAR* event_source,
                        const WCHAR* app_version, const WCHAR* category, const WCHAR* description, int32_t log_level,
                        bool send_support_report) override;
    void restore_file_from_snapshot(const WCHAR* path, const WCHAR* snapshot) override;
    void get_lun_backing_snapshot(const WCHAR* path, std::u16string& snapshot) override;
    uint64_t get_lun_size(const WCHAR* path) override;
    bool is_lun_online(const WCHAR* path) override;
    bool lun_exists(const WCHAR* path) override;
    bool get_lun_attribute(const WCHAR* path, const WCHAR* name, std::u16string& value) override;
    void set_lun_attribute(const WCHAR* path, const WCHAR* name, const WCHAR* value) override;
    void read_lun_raw(const WCHAR* path, uint64_t offset, uint32_t length, void* buffer) override;
    void write_lun_raw(const WCHAR* path, uint64_t offset, uint32_t length, const void* data) override;
    void get_lun_restore_status(const WCHAR* path, bool& running) override;
    bool is_initiator_logged_in_a(const fapi_wwn_t& port_name) override;
    bool is_initiator_logged_in(const WCHAR* initiator) override;
    void unmap_lun_from_all_igroups(const WCHAR* path) override;
    bool is_trell_volume(const WCHAR* volume, std::u16string& aggregate) override;
    void get_trell_volume_info(const WCHAR* volume, std::u16string& space_guarantee, std::u16string& autosize_enabled,
                               std::u16string& autosize_increment, std::u16string& autosize_maximum) override;
    void get_snapshot_auto_delete_settings(const WCHAR* volume, std::u16string& state, std::u16string& defer_delete,
                                           std::u16string& prefix) override;
    void get_space_reservations_info(const WCHAR* volume, uint64_t& reserved, uint64_t& reserve_required,
                                     uint64_t& reserve_used, uint64_t& reserve_available, int32_t& available_percent,
                                     int32_t& fractional_reserve) override;
    void get_recent_snapshot_name(const WCHAR* volume, std::u16string& snapshot) override;
    void lun_reverse_map(const WCHAR* initiator, uint32_t lun_id, std::u16string& path) override;
    bool lun_has_scsi_reservations(const WCHAR* path) override;
    bool snapshot_already_trell_clone(const WCHAR* volume, const WCHAR* clone) override;
    bool is_volume_online(const WCHAR* volume) override;
    void fapi_lun_get_maxsize(const WCHAR* path, int64_t& without_snapshot_reserve,
                              int64_t& with_snapshot_reserve) override;
    int64_t fapi_snapshot_volume_info(const WCHAR* volume) override;
    void fapi_tandril_get_list_sync_schedule(const WCHAR* destination_location,
                                             std::vector<fapi_tandril_sync_schedule_t>& schedules) override;
    void fapi_ems_dorvek_log(const WCHAR* computer_name, uint32_t event_id, const WCHAR* event_source,
                             const WCHAR* app_version, const WCHAR* category, const WCHAR* description,
                             int32_t log_level, bool dorvek) override;
    void fapi_snapshot_restore_file(const WCHAR* path, const WCHAR* snapshot, const WCHAR* restore_path) override;
    bool fapi_lun_get_attribute(const WCHAR* path, const WCHAR* name, std::u16string& value) override;
    void fapi_lun_set_attribute(const WCHAR* path, const WCHAR* name, const WCHAR* value) override;
    void fapi_lun_read_raw(const WCHAR* path, uint64_t offset, uint32_t length, void* buffer) override;
    void fapi_lun_write_raw(const WCHAR* path, uint64_t offset, uint32_t length, const void* data) override;
    void fapi_lun_restore_status(const WCHAR* path, bool& running) override;
    void fapi_volume_set_option(const WCHAR* volume, const char* option_name, const char* option_value) override;
    void fapi_volume_options_list_info(const WCHAR* volume, int32_t& create_ucode, int32_t& convert_ucode,
                                       int32_t& nosnapdir) override;
    int64_t fapi_snapshot_delta_info(const WCHAR* volume, const WCHAR* snapshot1, const WCHAR* snapshot2) override;
    int64_t fapi_snapshot_reclaimable_info(const WCHAR* volume, const WCHAR* snapshot) override;
    void fapi_volume_autosize_get(const WCHAR* volume, std::u16string& enabled, std::u16string& increment,
                                  std::u16string& maximum) override;
    void fapi_lun_clone_split_status_list_info(const WCHAR* path,
                                               std::vector<fapi_lun_clone_status_info_t>& statuses) override;
    void fapi_lun_clone_status_list_info(const WCHAR* path,
                                         std::vector<fapi_lun_clone_status_info_t>& statuses) override;
    void fapi_options_get(const WCHAR* name, std::u16string& value) override;
    void fapi_system_get_info(fapi_system_info_t& info) override;
    bool fapi_lun_initiator_logged_in(const std::u16string& initiator) override;
    void fapi_volume_clone_create(const WCHAR* parent_volume, const WCHAR* parent_snapshot, const WCHAR* space_reserve,
                                  const WCHAR* clone_volume) override;
    void fapi_volume_size(const WCHAR* new_size, const WCHAR* volume, std::u16string& size) override;
    void fapi_volume_destroy(const WCHAR* volume) override;
    void fapi_volume_offline(const WCHAR* volume, std::optional<uint32_t> cifs_delay) override;
    void fapi_volume_online(const WCHAR* volume) override;
    void fapi_volume_create(const WCHAR* volume, const WCHAR* aggregate, const WCHAR* size,
                            const WCHAR* space_reserve) override;
    void fapi_volume_rename(const WCHAR* new_name, const WCHAR* volume) override;
    void fapi_aggr_list_info(std::vector<fapi_aggr_info_t>& aggregates, const WCHAR* aggregate, bool verbose) override;
    void fapi_aggr_get_root(std::u16string& root_volume) override;
    bool supports_async_snapshot_create() const override;
    bool version_at_least_7_1() const override;
    void fapi_volume_get_root_name(std::u16string& volume) override;
    void fapi_lun_rename(const WCHAR* new_path, const WCHAR* path) override;
    void fapi_cf_status(int32_t& current_time, bool& enabled, bool& interconnect_up, std::u16string& partner) override;
    bool fapi_is_port_has_scsi_reservations(const WCHAR* path, const WCHAR* port_name) override;
    void fapi_iscsi_tpgroup_list_info(uint32_t tag, std::vector<fapi_iscsi_tpgroup_info_t>& groups) override;
    void fapi_iscsi_portal_list_info(std::vector<fapi_iscsi_portal_info_t>& portals) override;
    void fapi_iscsi_interface_list_info(const WCHAR* interface_filter,
                                        std::vector<fapi_iscsi_interface_info_t>& interfaces) override;
    void fapi_iscsi_initiator_list_info(std::vector<fapi_iscsi_initiator_info_t>& initiators) override;
    void fapi_iscsi_target_alias_get_alias(std::u16string& alias) override;
    void fapi_iscsi_target_alias_set_alias(const WCHAR* alias) override;
    void fapi_iscsi_target_alias_clear_alias() override;
    void fapi_iscsi_tpgroup_create(const WCHAR* name, uint32_t* tag) override;
    void fapi_iscsi_tpgroup_destroy(uint32_t tag) override;
    void fapi_iscsi_node_set_name(const WCHAR* node_name) override;
    void fapi_iscsi_tpgroup_interface_add(const WCHAR* interface_name, uint32_t tag) override;
    void fapi_iscsi_tpgroup_interface_delete(const WCHAR* interface_name, uint32_t tag) override;
    void fapi_iscsi_interface_enable(const WCHAR* interface_name) override;
    void fapi_iscsi_interface_disable(const WCHAR* interface_name) override;
    void fapi_iscsi_initiator_add_auth(const WCHAR* auth_type, const WCHAR* initiator,
                                       std::span<const BYTE> outbound_secret, const WCHAR* outbound_user_name,
                                       std::span<const BYTE> secret, const WCHAR* user_name) override;
    void fapi_iscsi_initiator_delete_auth(const WCHAR* initiator) override;
    void fapi_iscsi_initiator_get_default_auth(std::u16string& auth_type, std::u16string& outbound_user_name,
                                               std::u16string& user_name) override;
    void fapi_iscsi_initiator_set_default_auth(const WCHAR* auth_type, std::span<const BYTE> outbound_secret,
                                               const WCHAR* outbound_user_name, std::span<const BYTE> secret,
                                               const WCHAR* user_name) override;
    void fapi_lun_get_inquiry_info(const WCHAR* igroup, std::u16string& vendor_id, std::u16string& product_id,
                                   std::u16string& firmware_revision) override;
    virtual bool fapi_is_lun_has_reservations(const WCHAR* path);
    virtual bool rpc_lun_get_attribute(const WCHAR* path, const WCHAR* name, std::u16string& value);
    virtual void rpc_lun_set_attribute(const WCHAR* path, const WCHAR* name, const WCHAR* value);
    virtual uint64_t rpc_lun_max_size(const WCHAR* path, bool with_snapshot_reserve);
    virtual void rpc_ems_dorv(uint32_t event_id, const WCHAR* event_source, const WCHAR* app_version,
                              const WCHAR* category, const WCHAR* description, int32_t log_level,
                              bool send_support_report);
    virtual void rpc_file_restore(const WCHAR* path, const WCHAR* snapshot);
    virtual void rpc_lun_wopa_status(const WCHAR* path, bool& running);
    virtual bool rpc_lun_file_type(const WCHAR* path);
    virtual uint64_t rpc_lun_size(const WCHAR* path);
    virtual void rpc_lun_raw_read(const WCHAR* path, uint64_t offset, uint32_t length, void* buffer);
    virtual void rpc_lun_raw_write(const WCHAR* path, uint64_t offset, uint32_t length, const void* data);
    virtual bool rpc_initiator_logged_in(const WCHAR* initiator);
    virtual void rpc_lun_reverse_map(const WCHAR* initiator, uint32_t lun_id, std::u16string& path);
    virtual bool rpc_lun_has_reservations(const WCHAR* path);

protected:
    // Opens and logs in the server handle of one request (under g_fapiLock).
    ServerHandlePtr open_server() const;
    // Raises 0xC00403C4 with the operation's name; nothing is sent.
    [[noreturn]] void refuse_operation(const char* operation) const;
    // Raises 0xC00402FD when an optional parameter is asked for that the release cannot take.
    void check_optional_parameter(bool requested, bool supported, const WCHAR* parameter, const WCHAR* request) const;
    const std::u16string& version_text() const { return version_; }

private:
    std::u16string filer_name_;
    std::u16string version_;
};

// Snapshot deletion, renaming and schedules.
class CFilerREL63 : public CFilerImpl {
public:
    CFilerREL63(const WCHAR* filer_name, const WCHAR* version);

    void fapi_snapshot_delete(const WCHAR* volume, const WCHAR* snapshot, owned_ptr<fapi_error_t>* error) override;
    void fapi_snapshot_rename(const WCHAR* volume, const WCHAR* current_name, const WCHAR* new_name) override;
    void fapi_snapshot_get_schedule(const WCHAR* volume, fapi_snapshot_schedule_t& schedule) override;
    void fapi_snapshot_set_schedule(const WCHAR* volume, const fapi_snapshot_schedule_t& schedule) override;
};

// Volume listing, space reservation of LUNs and files, root volume name, LUN rename.
class CFilerREL64 : public CFilerREL63 {
public:
    CFilerREL64(const WCHAR* filer_name, const WCHAR* version);

    bool is_volume_online(const WCHAR* volume) override;
    void fapi_volume_list_info(std::vector<fapi_volume_info_t>& volumes) override;
    void fapi_lun_get_space_reservation_info(const WCHAR* path, bool& enabled) override;
    void fapi_lun_set_space_reservation_info(const WCHAR* path, bool enable) override;
    void fapi_file_get_space_reservation_info(const WCHAR* path, bool& overwrite_enabled, bool& fill_enabled) override;
    void fapi_file_set_space_reservation_info(const WCHAR* path, bool overwrite_enabled, bool fill_enabled) override;
    void fapi_volume_get_root_name(std::u16string& volume) override;
    void fapi_lun_rename(const WCHAR* new_path, const WCHAR* path) override;
};

// 6.4.1: LUNs, mapping, initiator groups, adapters, files, qtrees, disks, snapshot
// list and creation, replication, the iSCSI node name and service status.
class CFilerQuilbe1 : public CFilerREL64 {
public:
    CFilerQuilbe1(const WCHAR* filer_name, const WCHAR* version);

    void fapi_lun_map_list_info(const WCHAR* path, std::vector<fapi_igroup_info_t>& groups) override;
    void fapi_fcp_adapter_list_info(std::vector<fapi_fcp_adapter_info_t>& adapters) override;
    void fapi_iscsi_adapter_list_info(std::vector<fapi_iscsi_adapter_info_t>& adapters) override;
    void fapi_iscsi_node_get_name(std::string& node_name) override;
    void fapi_lun_set_serial_number(const char* path, const char* serial_number) override;
    void fapi_lun_get_serial_number(const char* path, std::string& serial_number) override;
    void fapi_lun_offline(const char* path) override;
    void fapi_lun_online(const char* path) override;
    void fapi_snapshot_list_info(const WCHAR* volume, bool terse,
                                 std::vector<fapi_snapshot_info_t>& snapshots) override;
    void fapi_snapshot_create(const WCHAR* volume, const WCHAR* snapshot, bool async) override;
    void fapi_tandril_list_destinations(const WCHAR* source_location,
                                        std::vector<fapi_tandril_destination_t>& destinations) override;
    void fapi_tandril_update(const WCHAR* destination_location, const WCHAR* source_location,
                             const WCHAR* source_snapshot) override;
    void fapi_tandril_break(const WCHAR* destination_location) override;
    void fapi_tandril_quiesce(const WCHAR* destination_location) override;
    void fapi_tandril_get_status(const WCHAR* location, int32_t& available,
                                 std::vector<fapi_tandril_status_t>& statuses) override;
    void fapi_qtree_list(const WCHAR* volume, std::vector<fapi_qtree_info_t>& qtrees) override;
    void fapi_qtree_create(const WCHAR* qtree, const WCHAR* volume) override;
    void fapi_file_read_file(const WCHAR* path, int32_t length, int64_t offset, std::string& data,
                             int32_t& length_read) override;
    void fapi_file_write_file(const WCHAR* path, int64_t offset, bool overwrite, const char* data,
                              int32_t& length_written) override;
    void fapi_file_delete_file(const WCHAR* path) override;
    void fapi_file_truncate_file(const WCHAR* path, const WCHAR* size) override;
    void fapi_disk_list_info(const WCHAR* disk, std::vector<fapi_disk_info_t>& disks) override;
    void fapi_lun_list_info(const WCHAR* path, std::vector<fapi_lun_info_t>& luns,
                            owned_ptr<fapi_error_t>* error) override;
    void fapi_lun_create_by_size(const WCHAR* path, uint64_t size, std::optional<int32_t> os_type,
                                 std::optional<bool> space_reservation, int64_t& actual_size) override;
    void fapi_lun_destroy(const WCHAR* path, std::optional<bool> force) override;
    void fapi_lun_resize(const WCHAR* path, uint64_t size, std::optional<bool> force, int64_t& actual_size,
                         int32_t* error_number) override;
    void fapi_lun_create_from_snapshot(const WCHAR* path, const WCHAR* snapshot_lun_path,
                                       std::optional<int32_t> os_type, std::optional<bool> space_reservation,
                                       int64_t& actual_size) override;
    void fapi_fcp_adapter_initiators_list_info(const WCHAR* adapter,
                                               std::vector<fapi_fcp_adapter_initiators_t>& adapters) override;
    void fapi_iscsi_adapter_initiators_list_info(const WCHAR* adapter,
                                                 std::vector<fapi_iscsi_adapter_initiators_t>& adapters) override;
    void fapi_lun_map(const WCHAR* path, const WCHAR* igroup, std::optional<int32_t> lun_id,
                      int32_t& assigned_lun_id) override;
    void fapi_lun_unmap(const WCHAR* path, const WCHAR* igroup) override;
    void fapi_igroup_create(const WCHAR* name, int32_t type, int32_t os_type) override;
    void fapi_igroup_destroy(const WCHAR* name, bool force) override;
    void fapi_igroup_list_info(const WCHAR* name, std::vector<fapi_igroup_info_t>& groups) override;
    void fapi_igroup_add(const WCHAR* igroup, const WCHAR* initiator) override;
    void fapi_lun_create_from_file(const WCHAR* file_path, const WCHAR* lun_path, std::optional<int32_t> os_type,
                                   std::optional<bool> space_reservation, int64_t& actual_size) override;
    bool wait_lun_available_after_break(const WCHAR* path, int32_t retries) override;
    bool fapi_lun_list_info_ex(const WCHAR* path) override;
    bool fapi_iscsi_service_status() override;
    virtual bool space_reservation_flag_value(bool flag) const;
};

// Terse snapshot lists; the LUN clone status lists exist but answer nothing.
class CFilerQuilbe3 : public CFilerQuilbe1 {
public:
    CFilerQuilbe3(const WCHAR* filer_name, const WCHAR* version);

    bool supports_terse_snapshot_list() const override;
    void fapi_lun_clone_split_status_list_info(const WCHAR* path,
                                               std::vector<fapi_lun_clone_status_info_t>& statuses) override;
    void fapi_lun_clone_status_list_info(const WCHAR* path,
                                         std::vector<fapi_lun_clone_status_info_t>& statuses) override;
};

// 6.5: management-API requests in place of the administration library, volume
// options and lifecycle, system information, cluster status, asynchronous snapshots.
class CFilerTovren : public CFilerQuilbe3 {
public:
    CFilerTovren(const WCHAR* filer_name, const WCHAR* version);

    bool volume_has_free_space(const WCHAR* volume) override;
    void get_lun_max_size(const WCHAR* path, uint64_t& without_snapshot_reserve,
                          uint64_t& with_snapshot_reserve) override;
    void get_volume_options(const WCHAR* volume, int32_t& create_ucode, int32_t& convert_ucode,
                            int32_t& nosnapdir) override;
    void set_volume_language_options(const WCHAR* volume, int32_t create_ucode, int32_t convert_ucode,
                                     int32_t nosnapdir) override;
    void send_ems_event(const WCHAR* computer_name, uint32_t event_id, const WCHAR* event_source,
                        const WCHAR* app_version, const WCHAR* category, const WCHAR* description, int32_t log_level,
                        bool send_support_report) override;
    void restore_file_from_snapshot(const WCHAR* path, const WCHAR* snapshot) override;
    void set_lun_attribute(const WCHAR* path, const WCHAR* name, const WCHAR* value) override;
    void read_lun_raw(const WCHAR* path, uint64_t offset, uint32_t length, void* buffer) override;
    void get_lun_restore_status(const WCHAR* path, bool& running) override;
    void fapi_lun_get_maxsize(const WCHAR* path, int64_t& without_snapshot_reserve,
                              int64_t& with_snapshot_reserve) override;
    int64_t fapi_snapshot_volume_info(const WCHAR* volume) override;
    void fapi_tandril_get_list_sync_schedule(const WCHAR* destination_location,
                                             std::vector<fapi_tandril_sync_schedule_t>& schedules) override;
    void fapi_ems_dorvek_log(const WCHAR* computer_name, uint32_t event_id, const WCHAR* event_source,
                             const WCHAR* app_version, const WCHAR* category, const WCHAR* description,
                             int32_t log_level, bool dorvek) override;
    void fapi_snapshot_restore_file(const WCHAR* path, const WCHAR* snapshot, const WCHAR* restore_path) override;
    bool fapi_lun_get_attribute(const WCHAR* path, const WCHAR* name, std::u16string& value) override;
    void fapi_lun_set_attribute(const WCHAR* path, const WCHAR* name, const WCHAR* value) override;
    void fapi_lun_read_raw(const WCHAR* path, uint64_t offset, uint32_t length, void* buffer) override;
    void fapi_lun_write_raw(const WCHAR* path, uint64_t offset, uint32_t length, const void* data) override;
    void fapi_lun_restore_status(const WCHAR* path, bool& running) override;
    void fapi_volume_set_option(const WCHAR* volume, const char* option_name, const char* option_value) override;
    void fapi_volume_options_list_info(const WCHAR* volume, int32_t& create_ucode, int32_t& convert_ucode,
                                       int32_t& nosnapdir) override;
    void fapi_system_get_info(fapi_system_info_t& info) override;
    void fapi_lun_snap_usage_list_info(const WCHAR* volume, const WCHAR* snapshot,
                                       std::vector<fapi_lun_snap_usage_info_t>& usages) override;
    void fapi_volume_destroy(const WCHAR* volume) override;
    void fapi_volume_offline(const WCHAR* volume, std::optional<uint32_t> cifs_delay) override;
    void fapi_volume_online(const WCHAR* volume) override;
    void fapi_volume_create(const WCHAR* volume, const WCHAR* aggregate, const WCHAR* size,
                            const WCHAR* space_reserve) override;
    void fapi_volume_rename(const WCHAR* new_name, const WCHAR* volume) override;
    bool supports_async_snapshot_create() const override;
    void fapi_cf_status(int32_t& current_time, bool& enabled, bool& interconnect_up, std::u16string& partner) override;
};

// 7.0: aggregates, volume clone and size, port reservations, LUN lookup by initiator.
class CFilerPellion : public CFilerTovren {
public:
    CFilerPellion(const WCHAR* filer_name, const WCHAR* version);

    void lun_reverse_map(const WCHAR* initiator, uint32_t lun_id, std::u16string& path) override;
    void fapi_volume_clone_create(const WCHAR* parent_volume, const WCHAR* parent_snapshot, const WCHAR* space_reserve,
                                  const WCHAR* clone_volume) override;
    void fapi_volume_size(const WCHAR* new_size, const WCHAR* volume, std::u16string& size) override;
    void fapi_aggr_list_info(std::vector<fapi_aggr_info_t>& aggregates, const WCHAR* aggregate, bool verbose) override;
    void fapi_aggr_get_root(std::u16string& root_volume) override;
    bool fapi_is_port_has_scsi_reservations(const WCHAR* path, const WCHAR* port_name) override;
    void fapi_aggr_add(const WCHAR* aggregate, int32_t disk_count, int32_t disk_size,
                       const std::vector<fapi_disk_info_t>& disks, bool force_spare_pool,
                       const std::vector<fapi_disk_info_t>& mirror_disks, const WCHAR* raid_group,
                       std::vector<fapi_disk_info_t>& bad_disks) override;
    bool space_reservation_flag_value(bool flag) const override;
    virtual void fapi_igroup_lookup_lun(const WCHAR* initiator, int32_t lun_id, std::u16string& path);
};

// 7.0.2 up to 7.1 (created): LUN SCSI reservations.
class CFilerPellion1 : public CFilerPellion {
public:
    CFilerPellion1(const WCHAR* filer_name, const WCHAR* version);

    bool lun_has_scsi_reservations(const WCHAR* path) override;
    bool fapi_is_lun_has_reservations(const WCHAR* path) override;
};

// Exactly 7.1 (created): the iSCSI target requests, snapshot space, volume
// autosize, clone status, and the composites that read through the management API.
class CFilerOskarn : public CFilerPellion1 {
public:
    CFilerOskarn(const WCHAR* filer_name, const WCHAR* version);

    bool get_space_reservation(const WCHAR* path, bool is_lun) override;
    uint64_t get_lun_size(const WCHAR* path) override;
    bool lun_exists(const WCHAR* path) override;
    bool get_lun_attribute(const WCHAR* path, const WCHAR* name, std::u16string& value) override;
    void write_lun_raw(const WCHAR* path, uint64_t offset, uint32_t length, const void* data) override;
    bool is_initiator_logged_in_a(const fapi_wwn_t& port_name) override;
    bool is_initiator_logged_in(const WCHAR* initiator) override;
    bool is_trell_volume(const WCHAR* volume, std::u16string& aggregate) override;
    void get_trell_volume_info(const WCHAR* volume, std::u16string& space_guarantee, std::u16string& autosize_enabled,
                               std::u16string& autosize_increment, std::u16string& autosize_maximum) override;
    void get_snapshot_auto_delete_settings(const WCHAR* volume, std::u16string& state, std::u16string& defer_delete,
                                           std::u16string& prefix) override;
    void get_space_reservations_info(const WCHAR* volume, uint64_t& reserved, uint64_t& reserve_required,
                                     uint64_t& reserve_used, uint64_t& reserve_available, int32_t& available_percent,
                                     int32_t& fractional_reserve) override;
    bool snapshot_already_trell_clone(const WCHAR* volume, const WCHAR* clone) override;
    int64_t fapi_snapshot_delta_info(const WCHAR* volume, const WCHAR* snapshot1, const WCHAR* snapshot2) override;
    int64_t fapi_snapshot_reclaimable_info(const WCHAR* volume, const WCHAR* snapshot) override;
    void fapi_volume_autosize_get(const WCHAR* volume, std::u16string& enabled, std::u16string& increment,
                                  std::u16string& maximum) override;
    void fapi_lun_clone_split_status_list_info(const WCHAR* path,
                                               std::vector<fapi_lun_clone_status_info_t>& statuses) override;
    void fapi_lun_clone_status_list_info(const WCHAR* path,
                                         std::vector<fapi_lun_clone_status_info_t>& statuses) override;
    bool fapi_lun_initiator_logged_in(const std::u16string& initiator) override;
    void fapi_iscsi_tpgroup_list_info(uint32_t tag, std::vector<fapi_iscsi_tpgroup_info_t>& groups) override;
    void fapi_iscsi_portal_list_info(std::vector<fapi_iscsi_portal_info_t>& portals) override;
    void fapi_iscsi_interface_list_info(const WCHAR* interface_filter,
                                        std::vector<fapi_iscsi_interface_info_t>& interfaces) override;
    void fapi_iscsi_initiator_list_info(std::vector<fapi_iscsi_initiator_info_t>& initiators) override;
    void fapi_iscsi_target_alias_get_alias(std::u16string& alias) override;
    void fapi_iscsi_target_alias_set_alias(const WCHAR* alias) override;
    void fapi_iscsi_target_alias_clear_alias() override;
    void fapi_iscsi_tpgroup_create(const WCHAR* name, uint32_t* tag) override;
    void fapi_iscsi_tpgroup_destroy(uint32_t tag) override;
    void fapi_iscsi_node_set_name(const WCHAR* node_name) override;
    void fapi_iscsi_tpgroup_interface_add(const WCHAR* interface_name, uint32_t tag) override;
    void fapi_iscsi_tpgroup_interface_delete(const WCHAR* interface_name, uint32_t tag) override;
    void fapi_iscsi_interface_enable(const WCHAR* interface_name) override;
    void fapi_iscsi_interface_disable(const WCHAR* interface_name) override;
    void fapi_iscsi_initiator_add_auth(const WCHAR* auth_type, const WCHAR* initiator,
                                       std::span<const BYTE> outbound_secret, const WCHAR* outbound_user_name,
                                       std::span<const BYTE> secret, const WCHAR* user_name) override;
    void fapi_iscsi_initiator_delete_auth(const WCHAR* initiator) override;
    void fapi_iscsi_initiator_get_default_auth(std::u16string& auth_type, std::u16string& outbound_user_name,
                                               std::u16string& user_name) override;
    void fapi_iscsi_initiator_set_default_auth(const WCHAR* auth_type, std::span<const BYTE> outbound_secret,
                                               const WCHAR* outbound_user_name, std::span<const BYTE> secret,
                                               const WCHAR* user_name) override;
};

// Above 7.1 (created): SCSI inquiry data.
class CVintrel : public CFilerOskarn {
public:
    CVintrel(const WCHAR* filer_name, const WCHAR* version);

    void fapi_lun_get_inquiry_info(const WCHAR* igroup, std::u16string& vendor_id, std::u16string& product_id,
                                   std::u16string& firmware_revision) override;
};
