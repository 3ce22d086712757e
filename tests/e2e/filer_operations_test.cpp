// The request operations of the filer API against the simulated appliance:
// the exact request each one sends (read back from the appliance's request
// log), the records filled from its default fixture, which lists are cleared
// and which appended to, the appliance error numbers that are answers, the
// wait after a replication break, and every failure's HRESULT and text.
#include <gtest/gtest.h>

#include <filer/filer_classes.h>
#include <platform/clock.h>

#include <functional>
#include <memory>

#include <korvex/server.h>
#include <platform/text.h>

#include "appliance.h"
#include "fapi_test_support.h"
#include "filer_request_log.h"

namespace {

const char* const kRelease = "Zarvo Release 7.2.4: Thu Feb 12 03:11:09 PST 2009";

std::u16string wide(const std::string& text) { return platform::utf8_to_wide_lossy(text); }

// Each test has an appliance of its own (tests run in parallel), a filer
// object for it, and the appliance's request log.
class FilerOperations : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        char text[256];
        kx_startup(text, sizeof text);
    }

    void start(const char* release = kRelease) {
        log_ = std::make_unique<request_log>();
        sim_ = std::make_unique<e2e::Appliance>(
            std::initializer_list<std::string>{"--release", release, "--log", log_->file().string()});
        create_filer(u"HTTP", filer_name().c_str(), u"root", u"zarvo123", filer_);
        log_->mark();
    }
    std::u16string filer_name() const { return wide(sim_->address()); }

    // Back to the default fixture, with no faults left.
    void reset() { EXPECT_EQ(sim_->control("POST", "/sim/reset", "{}").status, 200); }
    // One value of the appliance's state: "path=value", the value read as
    // JSON when it is a literal or a number, as text otherwise.
    void set(const std::string& assignment) {
        const size_t eq = assignment.find('=');
        const std::string path = assignment.substr(0, eq), value = assignment.substr(eq + 1);
        const bool literal = value == "true" || value == "false" ||
                             (!value.empty() && value.find_first_not_of("0123456789") == std::string::npos);
        sim_->set("{\"" + path + "\": " + (literal ? value : "\"" + value + "\"") + "}");
    }
    // The next request of that name fails with the error number and reason.
    void fail_next(const std::string& request, int error_number, const std::string& reason) {
        sim_->fault(R"({"kind": "errno", "request": ")" + request + R"(", "errno": )" +
                    std::to_string(error_number) + R"(, "reason": ")" + reason + R"("})");
    }

    // The requests received since the last call (or since the test began).
    std::vector<logged_request> sent() {
        auto requests = log_->since_mark();
        log_->mark();
        return requests;
    }

    std::unique_ptr<request_log> log_;
    std::unique_ptr<e2e::Appliance> sim_;
    owned_ptr<CFiler> filer_;
};

using operation = std::function<void(CFiler&)>;

// Disk lists of requests carry names only.
std::vector<fapi_disk_info_t> disks_named(std::initializer_list<const WCHAR*> names) {
    std::vector<fapi_disk_info_t> disks;
    for (const WCHAR* name : names) disks.emplace_back().name = name;
    return disks;
}

// Runs an operation whose outcome the test does not judge.
void run_ignoring_failure(CFiler& filer, const operation& op) {
    try {
        op(filer);
    } catch (const _com_error&) {
    }
}

// ---------------------------------------------------------------------------
// Request vocabulary: each operation sends one request, its children in order.

using OperationRequests = FilerOperations;

struct vocabulary_case {
    const char* label;
    operation op;
    const char* request;
};

TEST_F(OperationRequests, EachOperationSendsExactlyItsRequest) {
    start();
    std::vector<fapi_lun_info_t> luns;
    std::vector<fapi_igroup_info_t> groups;
    std::vector<fapi_volume_info_t> volumes;
    std::vector<fapi_qtree_info_t> qtrees;
    std::vector<fapi_disk_info_t> disks;
    std::vector<fapi_aggr_info_t> aggregates;
    std::vector<fapi_fcp_adapter_info_t> fcp;
    std::vector<fapi_fcp_adapter_initiators_t> fcp_initiators;
    std::vector<fapi_iscsi_adapter_info_t> iscsi;
    std::vector<fapi_iscsi_adapter_initiators_t> iscsi_initiators;
    std::vector<fapi_tandril_destination_t> destinations;
    std::vector<fapi_tandril_status_t> statuses;
    std::vector<fapi_tandril_sync_schedule_t> schedules;
    std::u16string text1, text2, text3;
    std::string narrow;
    int64_t size1 = 0, size2 = 0;
    int32_t number = 0, flag1 = 0, flag2 = 0, flag3 = 0;
    bool bool1 = false, bool2 = false;
    fapi_system_info_t info;
    const auto two_disks = disks_named({u"0a.27", u"0a.28"});
    const auto mirror = disks_named({u"0b.20"});

    const vocabulary_case cases[] = {
        // LUNs
        {"all LUNs", [&](CFiler& f) { f.fapi_lun_list_info(nullptr, luns, nullptr); }, "<lun-list-info/>"},
        {"all LUNs, empty path", [&](CFiler& f) { f.fapi_lun_list_info(u"", luns, nullptr); }, "<lun-list-info/>"},
        {"one LUN", [&](CFiler& f) { f.fapi_lun_list_info(u"/vol/vol1/q1/lun0", luns, nullptr); },
         "<lun-list-info><path>/vol/vol1/q1/lun0</path></lun-list-info>"},
        {"mapped flag", [&](CFiler& f) { f.fapi_lun_list_info_ex(u"/vol/vol1/q1/lun0"); },
         "<lun-list-info><path>/vol/vol1/q1/lun0</path></lun-list-info>"},
        {"create, no options",
         [&](CFiler& f) { f.fapi_lun_create_by_size(u"/vol/vol2/l1", 104857600, {}, {}, size1); },
         "<lun-create-by-size><path>/vol/vol2/l1</path><size>104857600</size></lun-create-by-size>"},
        {"create, both options",
         [&](CFiler& f) { f.fapi_lun_create_by_size(u"/vol/vol2/l2", 1073741824, 1, true, size1); },
         "<lun-create-by-size><path>/vol/vol2/l2</path><size>1073741824</size><type>windows</type>"
         "<space-reservation-enabled>true</space-reservation-enabled></lun-create-by-size>"},
        {"create from file",
         [&](CFiler& f) { f.fapi_lun_create_from_file(u"/vol/vol0/etc/hosts", u"/vol/vol0/l3", 5, false, size1); },
         "<lun-create-from-file><path>/vol/vol0/l3</path><file-name>/vol/vol0/etc/hosts</file-name>"
         "<type>image</type><space-reservation-enabled>false</space-reservation-enabled></lun-create-from-file>"},
        {"create from snapshot",
         [&](CFiler& f) {
             f.fapi_lun_create_from_snapshot(u"/vol/vol1/q1/l4", u"/vol/vol1/.snapshot/nightly.0/q1/lun0", {}, {},
                                             size1);
         },
         "<lun-create-from-snapshot><path>/vol/vol1/q1/l4</path>"
         "<snapshot-lun-path>/vol/vol1/.snapshot/nightly.0/q1/lun0</snapshot-lun-path></lun-create-from-snapshot>"},
        {"destroy", [&](CFiler& f) { f.fapi_lun_destroy(u"/vol/vol2/db_lun", {}); },
         "<lun-destroy><path>/vol/vol2/db_lun</path></lun-destroy>"},
        {"destroy, forced", [&](CFiler& f) { f.fapi_lun_destroy(u"/vol/vol2/db_lun", true); },
         "<lun-destroy><path>/vol/vol2/db_lun</path><force>true</force></lun-destroy>"},
        {"resize", [&](CFiler& f) { f.fapi_lun_resize(u"/vol/vol1/q1/lun0", 32212254720, false, size1, nullptr); },
         "<lun-resize><path>/vol/vol1/q1/lun0</path><size>32212254720</size><force>false</force></lun-resize>"},
        {"offline", [&](CFiler& f) { f.fapi_lun_offline("/vol/vol1/q1/lun1"); },
         "<lun-offline><path>/vol/vol1/q1/lun1</path></lun-offline>"},
        {"online", [&](CFiler& f) { f.fapi_lun_online("/vol/vol1/q1/lun1"); },
         "<lun-online><path>/vol/vol1/q1/lun1</path></lun-online>"},
        {"set serial number", [&](CFiler& f) { f.fapi_lun_set_serial_number("/vol/vol1/q1/lun1", "AbCdEfGhIjKl"); },
         "<lun-set-serial-number><path>/vol/vol1/q1/lun1</path><serial-number>AbCdEfGhIjKl</serial-number>"
         "</lun-set-serial-number>"},
        {"get serial number", [&](CFiler& f) { f.fapi_lun_get_serial_number("/vol/vol1/q1/lun1", narrow); },
         "<lun-get-serial-number><path>/vol/vol1/q1/lun1</path></lun-get-serial-number>"},
        {"rename", [&](CFiler& f) { f.fapi_lun_rename(u"/vol/vol1/q1/renamed", u"/vol/vol1/q1/lun1"); },
         "<lun-move><new-path>/vol/vol1/q1/renamed</new-path><path>/vol/vol1/q1/lun1</path></lun-move>"},
        {"largest size", [&](CFiler& f) { f.fapi_lun_get_maxsize(u"/vol/vol2", size1, size2); },
         "<lun-get-maxsize><path>/vol/vol2</path><type>windows</type></lun-get-maxsize>"},
        // Mapping, initiator groups, adapters
        {"groups of a LUN", [&](CFiler& f) { f.fapi_lun_map_list_info(u"/vol/vol1/q1/lun0", groups); },
         "<lun-map-list-info><path>/vol/vol1/q1/lun0</path></lun-map-list-info>"},
        {"wait after break", [&](CFiler& f) { f.wait_lun_available_after_break(u"/vol/vol1/q1/lun0", 0); },
         "<lun-map-list-info><path>/vol/vol1/q1/lun0</path></lun-map-list-info>"},
        {"map, any id", [&](CFiler& f) { f.fapi_lun_map(u"/vol/vol2/db_lun", u"ig_host1_fc", {}, number); },
         "<lun-map><path>/vol/vol2/db_lun</path><initiator-group>ig_host1_fc</initiator-group></lun-map>"},
        {"map at id 5", [&](CFiler& f) { f.fapi_lun_map(u"/vol/vol2/db_lun", u"ig_host1_fc", 5, number); },
         "<lun-map><path>/vol/vol2/db_lun</path><initiator-group>ig_host1_fc</initiator-group><lun-id>5</lun-id>"
         "</lun-map>"},
        {"map at id -1", [&](CFiler& f) { f.fapi_lun_map(u"/vol/vol2/db_lun", u"ig_host1_fc", -1, number); },
         "<lun-map><path>/vol/vol2/db_lun</path><initiator-group>ig_host1_fc</initiator-group>"
         "<lun-id>4294967295</lun-id></lun-map>"},
        {"unmap", [&](CFiler& f) { f.fapi_lun_unmap(u"/vol/vol1/q1/lun0", u"ig_host1_fc"); },
         "<lun-unmap><path>/vol/vol1/q1/lun0</path><initiator-group>ig_host1_fc</initiator-group></lun-unmap>"},
        {"create group", [&](CFiler& f) { f.fapi_igroup_create(u"viaVDS.iqn.host9", 1, 4); },
         "<igroup-create><initiator-group-name>viaVDS.iqn.host9</initiator-group-name>"
         "<initiator-group-type>iscsi</initiator-group-type><os-type>windows</os-type></igroup-create>"},
        {"destroy group", [&](CFiler& f) { f.fapi_igroup_destroy(u"ig_host2_iscsi", false); },
         "<igroup-destroy><initiator-group-name>ig_host2_iscsi</initiator-group-name><force>false</force>"
         "</igroup-destroy>"},
        {"all groups", [&](CFiler& f) { f.fapi_igroup_list_info(nullptr, groups); }, "<igroup-list-info/>"},
        {"all groups, empty name", [&](CFiler& f) { f.fapi_igroup_list_info(u"", groups); }, "<igroup-list-info/>"},
        {"one group", [&](CFiler& f) { f.fapi_igroup_list_info(u"ig_host1_fc", groups); },
         "<igroup-list-info><initiator-group-name>ig_host1_fc</initiator-group-name></igroup-list-info>"},
        {"add initiator", [&](CFiler& f) { f.fapi_igroup_add(u"ig_host1_fc", u"10:00:00:00:c9:6b:3d:99"); },
         "<igroup-add><initiator-group-name>ig_host1_fc</initiator-group-name>"
         "<initiator>10:00:00:00:c9:6b:3d:99</initiator></igroup-add>"},
        {"FC adapters", [&](CFiler& f) { f.fapi_fcp_adapter_list_info(fcp); }, "<fcp-adapter-list-info/>"},
        {"FC initiators, every adapter",
         [&](CFiler& f) { f.fapi_fcp_adapter_initiators_list_info(nullptr, fcp_initiators); },
         "<fcp-adapter-initiators-list-info/>"},
        {"FC initiators, one adapter",
         [&](CFiler& f) { f.fapi_fcp_adapter_initiators_list_info(u"0c", fcp_initiators); },
         "<fcp-adapter-initiators-list-info><fcp-adapter>0c</fcp-adapter></fcp-adapter-initiators-list-info>"},
        {"iSCSI adapters", [&](CFiler& f) { f.fapi_iscsi_adapter_list_info(iscsi); }, "<iscsi-adapter-list-info/>"},
        {"iSCSI initiators, every adapter",
         [&](CFiler& f) { f.fapi_iscsi_adapter_initiators_list_info(nullptr, iscsi_initiators); },
         "<iscsi-adapter-initiators-list-info/>"},
        {"iSCSI initiators, one adapter",
         [&](CFiler& f) { f.fapi_iscsi_adapter_initiators_list_info(u"iswta", iscsi_initiators); },
         "<iscsi-adapter-initiators-list-info><iscsi-adapter>iswta</iscsi-adapter>"
         "</iscsi-adapter-initiators-list-info>"},
        // Volumes and qtrees
        {"volumes", [&](CFiler& f) { f.fapi_volume_list_info(volumes); }, "<volume-list-info/>"},
        {"root volume", [&](CFiler& f) { f.fapi_volume_get_root_name(text1); }, "<volume-get-root-name/>"},
        {"create volume, no reserve", [&](CFiler& f) { f.fapi_volume_create(u"v9", u"aggr1", u"20g", nullptr); },
         "<volume-create><containing-aggr-name>aggr1</containing-aggr-name><volume>v9</volume><size>20g</size>"
         "</volume-create>"},
        {"create volume", [&](CFiler& f) { f.fapi_volume_create(u"v9", u"aggr1", u"20g", u"none"); },
         "<volume-create><containing-aggr-name>aggr1</containing-aggr-name><volume>v9</volume><size>20g</size>"
         "<space-reserve>none</space-reserve></volume-create>"},
        {"destroy volume", [&](CFiler& f) { f.fapi_volume_destroy(u"vol2"); },
         "<volume-destroy><name>vol2</name></volume-destroy>"},
        {"offline volume", [&](CFiler& f) { f.fapi_volume_offline(u"vol2", {}); },
         "<volume-offline><name>vol2</name></volume-offline>"},
        {"offline volume, no CIFS delay", [&](CFiler& f) { f.fapi_volume_offline(u"vol2", 0u); },
         "<volume-offline><name>vol2</name><cifs-delay>0</cifs-delay></volume-offline>"},
        {"online volume", [&](CFiler& f) { f.fapi_volume_online(u"vol2"); },
         "<volume-online><name>vol2</name></volume-online>"},
        {"rename volume", [&](CFiler& f) { f.fapi_volume_rename(u"vol2b", u"vol2"); },
         "<volume-rename><new-volume-name>vol2b</new-volume-name><volume>vol2</volume></volume-rename>"},
        {"read volume size", [&](CFiler& f) { f.fapi_volume_size(u"", u"vol2", text1); },
         "<volume-size><volume>vol2</volume></volume-size>"},
        {"set volume size", [&](CFiler& f) { f.fapi_volume_size(u"+10g", u"vol2", text1); },
         "<volume-size><new-size>+10g</new-size><volume>vol2</volume></volume-size>"},
        {"clone volume", [&](CFiler& f) { f.fapi_volume_clone_create(u"vol1", u"nightly.0", u"none", u"vol1c"); },
         "<volume-clone-create><parent-snapshot>nightly.0</parent-snapshot><parent-volume>vol1</parent-volume>"
         "<space-reserve>none</space-reserve><volume>vol1c</volume></volume-clone-create>"},
        {"volume options", [&](CFiler& f) { f.fapi_volume_options_list_info(u"vol1", flag1, flag2, flag3); },
         "<volume-options-list-info><volume>vol1</volume></volume-options-list-info>"},
        {"set volume option", [&](CFiler& f) { f.fapi_volume_set_option(u"vol1", "nosnapdir", "on"); },
         "<volume-set-option><volume>vol1</volume><option-name>nosnapdir</option-name>"
         "<option-value>on</option-value></volume-set-option>"},
        {"autosize", [&](CFiler& f) { f.fapi_volume_autosize_get(u"vol1", text1, text2, text3); },
         "<volume-autosize-get><volume>vol1</volume></volume-autosize-get>"},
        {"qtrees", [&](CFiler& f) { f.fapi_qtree_list(u"vol1", qtrees); },
         "<qtree-list><volume>vol1</volume></qtree-list>"},
        {"create qtree", [&](CFiler& f) { f.fapi_qtree_create(u"q2", u"vol1"); },
         "<qtree-create><qtree>q2</qtree><volume>vol1</volume></qtree-create>"},
        // Aggregates and disks
        {"every disk", [&](CFiler& f) { f.fapi_disk_list_info(nullptr, disks); }, "<disk-list-info/>"},
        {"every disk, empty name", [&](CFiler& f) { f.fapi_disk_list_info(u"", disks); }, "<disk-list-info/>"},
        {"one disk", [&](CFiler& f) { f.fapi_disk_list_info(u"0a.16", disks); },
         "<disk-list-info><disk>0a.16</disk></disk-list-info>"},
        {"aggregates", [&](CFiler& f) { f.fapi_aggr_list_info(aggregates, nullptr, false); }, "<aggr-list-info/>"},
        {"one aggregate, verbose", [&](CFiler& f) { f.fapi_aggr_list_info(aggregates, u"aggr1", true); },
         "<aggr-list-info><aggregate>aggr1</aggregate><verbose>true</verbose></aggr-list-info>"},
        {"root aggregate", [&](CFiler& f) { f.fapi_aggr_get_root(text1); }, "<aggr-get-root-name/>"},
        {"add nothing", [&](CFiler& f) { f.fapi_aggr_add(u"", 0, 0, {}, false, {}, u"", disks); }, "<aggr-add/>"},
        {"add disks",
         [&](CFiler& f) { f.fapi_aggr_add(u"aggr1", 2, 1024, two_disks, true, mirror, u"rg1", disks); },
         "<aggr-add><aggregate>aggr1</aggregate><disk-count>2</disk-count><disk-size>1024</disk-size>"
         "<disks>0a.27</disks><disks>0a.28</disks><force-spare-pool>true</force-spare-pool>"
         "<mirror-disks>0b.20</mirror-disks><raid-group>rg1</raid-group></aggr-add>"},
        // Files, replication, system
        {"read file", [&](CFiler& f) { f.fapi_file_read_file(u"/vol/vol0/etc/hosts", 1024, 0, narrow, number); },
         "<file-read-file><length>1024</length><offset>0</offset><path>/vol/vol0/etc/hosts</path></file-read-file>"},
        {"write file",
         [&](CFiler& f) { f.fapi_file_write_file(u"/vol/vol0/etc/name.vds", 0, true, "005A0041", number); },
         "<file-write-file><data>005A0041</data><offset>0</offset><overwrite>true</overwrite>"
         "<path>/vol/vol0/etc/name.vds</path></file-write-file>"},
        {"delete file", [&](CFiler& f) { f.fapi_file_delete_file(u"/vol/vol0/etc/rc"); },
         "<file-delete-file><path>/vol/vol0/etc/rc</path></file-delete-file>"},
        {"truncate file", [&](CFiler& f) { f.fapi_file_truncate_file(u"/vol/vol0/etc/rc", u"0"); },
         "<file-truncate-file><path>/vol/vol0/etc/rc</path><size>0</size></file-truncate-file>"},
        {"destinations", [&](CFiler& f) { f.fapi_tandril_list_destinations(u"zarvo-a:vol1", destinations); },
         "<tandril-list-destinations><source-location>zarvo-a:vol1</source-location></tandril-list-destinations>"},
        {"update, destination only", [&](CFiler& f) { f.fapi_tandril_update(u"zarvo-a:vol_dr", nullptr, nullptr); },
         "<tandril-update><destination-location>zarvo-a:vol_dr</destination-location></tandril-update>"},
        {"update from a snapshot",
         [&](CFiler& f) { f.fapi_tandril_update(u"zarvo-a:vol_dr", u"zarvo-b:volb", u"snap.1"); },
         "<tandril-update><destination-location>zarvo-a:vol_dr</destination-location>"
         "<source-location>zarvo-b:volb</source-location><source-snapshot>snap.1</source-snapshot>"
         "</tandril-update>"},
        {"break", [&](CFiler& f) { f.fapi_tandril_break(u"zarvo-a:vol_dr"); },
         "<tandril-break><destination-location>zarvo-a:vol_dr</destination-location></tandril-break>"},
        {"quiesce", [&](CFiler& f) { f.fapi_tandril_quiesce(u"zarvo-a:vol_dr"); },
         "<tandril-quiesce><destination-location>zarvo-a:vol_dr</destination-location></tandril-quiesce>"},
        {"status everywhere", [&](CFiler& f) { f.fapi_tandril_get_status(u"", flag1, statuses); },
         "<tandril-get-status/>"},
        {"status of a location", [&](CFiler& f) { f.fapi_tandril_get_status(u"zarvo-a:vol_dr", flag1, statuses); },
         "<tandril-get-status><location>zarvo-a:vol_dr</location></tandril-get-status>"},
        {"sync schedule", [&](CFiler& f) { f.fapi_tandril_get_list_sync_schedule(u"zarvo-a:vol_dr", schedules); },
         "<tandril-list-sync-schedule><destination-location>zarvo-a:vol_dr</destination-location>"
         "</tandril-list-sync-schedule>"},
        {"event",
         [&](CFiler& f) {
             f.fapi_ems_dorvek_log(u"HOST1", 4000000000u, u"Corvane", u"2.1", u"SAN", u"LUN created", 6, true);
         },
         "<ems-dorvek-log><computer-name>HOST1</computer-name><event-id>4000000000</event-id>"
         "<event-source>Corvane</event-source><app-version>2.1</app-version><category>SAN</category>"
         "<event-description>LUN created</event-description><log-level>6</log-level><dorvek>true</dorvek>"
         "</ems-dorvek-log>"},
        {"system information", [&](CFiler& f) { f.fapi_system_get_info(info); }, "<system-get-info/>"},
        {"cluster status", [&](CFiler& f) { f.fapi_cf_status(number, bool1, bool2, text1); }, "<cf-status/>"},
        {"option", [&](CFiler& f) { f.fapi_options_get(u"tandril.enable", text1); },
         "<options-get><name>tandril.enable</name></options-get>"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        run_ignoring_failure(*filer_, c.op);
        const auto requests = sent();
        ASSERT_EQ(requests.size(), 1u);
        EXPECT_EQ(requests[0].element(), c.request);
    }
}

// Values the request cannot carry are refused before anything is sent.
TEST_F(OperationRequests, AnUnknownCodeOrAnEmptyTextSendsNothing) {
    start();
    int64_t actual = 0;
    const struct {
        const char* label;
        operation op;
    } cases[] = {
        {"group type 9", [](CFiler& f) { f.fapi_igroup_create(u"g", 9, 4); }},
        {"group OS type 0", [](CFiler& f) { f.fapi_igroup_create(u"g", 0, 0); }},
        {"LUN OS type 6", [&](CFiler& f) { f.fapi_lun_create_by_size(u"/vol/vol2/x", 1 << 30, 6, {}, actual); }},
        {"log level 8",
         [](CFiler& f) { f.fapi_ems_dorvek_log(u"H", 1, u"S", u"1", u"C", u"D", 8, false); }},
        {"empty LUN path", [](CFiler& f) { f.fapi_lun_destroy(u"", {}); }},
        {"empty mapped-flag path", [](CFiler& f) { f.fapi_lun_list_info_ex(u""); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        try {
            c.op(*filer_);
            ADD_FAILURE() << "nothing was raised";
        } catch (const _com_error& error) {
            EXPECT_EQ(static_cast<uint32_t>(error.Error()), 0x80070057u);
        }
        EXPECT_TRUE(sent().empty());
    }
}

// ---------------------------------------------------------------------------
// Release forms.

using OperationReleaseForms = FilerOperations;

// The 6.5 release as a step of the chain: it lacks only the adding of disks,
// which aggregates brought.
class tovren_filer : public CFilerTovren {
public:
    using CFilerTovren::CFilerTovren;
    void fapi_aggr_add(const WCHAR*, int32_t, int32_t, const std::vector<fapi_disk_info_t>&, bool,
                       const std::vector<fapi_disk_info_t>&, const WCHAR*, std::vector<fapi_disk_info_t>&) override {}
};

// Releases before 7.0 take the space-reservation flag inverted; the created
// classes (7.0.2 and later) send it as given.
TEST_F(OperationReleaseForms, TheSpaceReservationFlagIsSentAsTheReleaseTakesIt) {
    start("Zarvo Release 7.0.3: Thu Jan 12 2006");
    ASSERT_NE(dynamic_cast<CFilerPellion1*>(filer_.get()), nullptr);
    tovren_filer tovren(filer_name().c_str(), u"Zarvo Release tovren");
    tovren.set_transport(u"HTTP");
    tovren.set_user_name(u"root");
    tovren.set_password(u"zarvo123");
    int64_t actual = 0;
    for (CFiler* filer : {static_cast<CFiler*>(filer_.get()), static_cast<CFiler*>(&tovren)}) {
        run_ignoring_failure(*filer, [&](CFiler& f) { f.fapi_lun_create_by_size(u"/vol/vol2/r", 1 << 30, {}, true, actual); });
    }
    const auto requests = sent();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_NE(requests[0].element().find("<space-reservation-enabled>true<"), std::string::npos);
    EXPECT_NE(requests[1].element().find("<space-reservation-enabled>false<"), std::string::npos);
}

TEST_F(OperationReleaseForms, Below7_1TheVolumeAutosizeIsRefusedAndNothingSent) {
    start("Zarvo Release 7.0.3: Thu Jan 12 2006");
    std::u16string enabled, increment, maximum;
    expect_com_error(0xC00403C4,
                     u"The operation 'fapi_volume_autosize_get' is not supported with this version of Zarvo.\r\n"
                     u"Please verify that you are using a supported configuration by checking the compatibility "
                     u"matrix.\r\n",
                     [&] { filer_->fapi_volume_autosize_get(u"vol1", enabled, increment, maximum); });
    EXPECT_TRUE(sent().empty());
    // The aggregates this release brought are sent.
    std::vector<fapi_aggr_info_t> aggregates;
    filer_->fapi_aggr_list_info(aggregates, nullptr, true);
    EXPECT_EQ(aggregates.size(), 2u);
}

// ---------------------------------------------------------------------------
// Records read from the default fixture.

using OperationRecords = FilerOperations;

TEST_F(OperationRecords, LunsCarryTheirStateFlagsAndShareState) {
    start();
    std::vector<fapi_lun_info_t> luns;
    filer_->fapi_lun_list_info(nullptr, luns, nullptr);
    ASSERT_EQ(luns.size(), 5u);
    const fapi_lun_info_t& lun0 = luns[0];
    EXPECT_EQ(lun0.path, u"/vol/vol1/q1/lun0");
    EXPECT_EQ(lun0.size, 21474836480);
    EXPECT_TRUE(lun0.online);
    EXPECT_TRUE(lun0.mapped);
    EXPECT_FALSE(lun0.read_only);
    EXPECT_EQ(lun0.share_state, 3);  // "none"
    EXPECT_EQ(lun0.backing_snapshot, u"");
    EXPECT_EQ(luns[3].path, u"/vol/vol_dr/dr_lun");
    EXPECT_TRUE(luns[3].read_only);
    EXPECT_FALSE(luns[3].mapped);

    set("luns/0/share-state=write");
    set("luns/0/online=false");
    luns.clear();
    filer_->fapi_lun_list_info(u"/vol/vol1/q1/lun0", luns, nullptr);
    ASSERT_EQ(luns.size(), 1u);
    EXPECT_EQ(luns[0].share_state, 5);
    EXPECT_FALSE(luns[0].online);
    EXPECT_TRUE(filer_->fapi_lun_list_info_ex(u"/vol/vol1/q1/lun0"));
    EXPECT_FALSE(filer_->fapi_lun_list_info_ex(u"/vol/vol_dr/dr_lun"));

    std::string serial;
    filer_->fapi_lun_get_serial_number("/vol/vol1/q1/lun0", serial);
    EXPECT_EQ(serial, "HnS4cJ4Kx8iB");
}

TEST_F(OperationRecords, VolumesQtreesAndTheRootName) {
    start();
    set("volumes/vol2/state=offline");
    std::vector<fapi_volume_info_t> volumes;
    filer_->fapi_volume_list_info(volumes);
    ASSERT_EQ(volumes.size(), 5u);
    EXPECT_EQ(volumes[1].name, u"vol1");
    EXPECT_EQ(volumes[1].state, 3);
    EXPECT_GT(volumes[1].size_available, 0);
    EXPECT_FALSE(volumes[1].uuid.empty());
    EXPECT_EQ(volumes[2].name, u"vol2");
    EXPECT_EQ(volumes[2].state, 2);
    EXPECT_EQ(volumes[2].size_available, 0);  // an offline volume reports no space

    std::vector<fapi_qtree_info_t> qtrees;
    filer_->fapi_qtree_list(u"vol1", qtrees);
    ASSERT_EQ(qtrees.size(), 2u);
    EXPECT_EQ(qtrees[1].qtree, u"q1");
    EXPECT_EQ(qtrees[1].id, 1);
    EXPECT_TRUE(qtrees[1].oplocks);
    EXPECT_EQ(qtrees[1].security_style, u"ntfs");
    EXPECT_EQ(qtrees[1].volume, u"vol1");

    std::u16string root, aggr_root;
    filer_->fapi_volume_get_root_name(root);
    filer_->fapi_aggr_get_root(aggr_root);
    EXPECT_EQ(root, u"vol0");
    EXPECT_EQ(aggr_root, u"vol0");

    int32_t create_ucode = -1, convert_ucode = -1, nosnapdir = -1;
    set("volumes/vol1/options/create_ucode=ON");
    set("volumes/vol1/options/nosnapdir=on");
    filer_->fapi_volume_options_list_info(u"vol1", create_ucode, convert_ucode, nosnapdir);
    EXPECT_EQ(create_ucode, 1);
    EXPECT_EQ(convert_ucode, 0);
    EXPECT_EQ(nosnapdir, 1);

    std::u16string enabled, increment, maximum;
    filer_->fapi_volume_autosize_get(u"vol1", enabled, increment, maximum);
    EXPECT_FALSE(enabled.empty());
    EXPECT_FALSE(maximum.empty());
}

TEST_F(OperationRecords, AggregatesWithPlexesRaidGroupsAndVolumes) {
    start();
    std::vector<fapi_aggr_info_t> aggregates;
    filer_->fapi_aggr_list_info(aggregates, u"", true);
    ASSERT_EQ(aggregates.size(), 2u);
    const fapi_aggr_info_t& aggr1 = aggregates[1];
    EXPECT_EQ(aggr1.name, u"aggr1");
    EXPECT_EQ(aggr1.state, 3);
    EXPECT_EQ(aggr1.type, 1);
    EXPECT_EQ(aggr1.disk_count, 8);
    EXPECT_EQ(aggr1.plex_count, 1);
    EXPECT_EQ(aggr1.volume_count, 4);
    EXPECT_EQ(aggr1.raid_size, 16);
    EXPECT_EQ(aggr1.raid_status, u"raid_dp, aggr");
    EXPECT_GT(aggr1.size_total, int64_t{1} << 31);
    EXPECT_EQ(aggr1.size_used + aggr1.size_available, aggr1.size_total);
    ASSERT_EQ(aggr1.plexes.size(), 1u);
    EXPECT_EQ(aggr1.plexes[0].name, u"/aggr1/plex0");
    EXPECT_TRUE(aggr1.plexes[0].is_online);
    EXPECT_FALSE(aggr1.plexes[0].is_resyncing);
    ASSERT_EQ(aggr1.plexes[0].raid_groups.size(), 1u);
    const fapi_raid_group_info_t& group = aggr1.plexes[0].raid_groups[0];
    EXPECT_EQ(group.name, u"/aggr1/plex0/rg0");
    ASSERT_EQ(group.disks.size(), 8u);
    EXPECT_EQ(group.disks[0].name, u"0a.19");
    EXPECT_EQ(group.disks[7].name, u"0a.26");
    ASSERT_EQ(aggr1.volumes.size(), 4u);
    EXPECT_EQ(aggr1.volumes[0].name, u"vol1");
    EXPECT_EQ(aggr1.volumes[3].name, u"ZarvoVolume1");

    // Without the verbose form a plex keeps no RAID groups.
    filer_->fapi_aggr_list_info(aggregates, u"aggr1", false);
    ASSERT_EQ(aggregates.size(), 1u);
    ASSERT_EQ(aggregates[0].plexes.size(), 1u);
    EXPECT_TRUE(aggregates[0].plexes[0].raid_groups.empty());
}

TEST_F(OperationRecords, DisksWithPlacementAndRaidRole) {
    start();
    std::vector<fapi_disk_info_t> disks;
    filer_->fapi_disk_list_info(nullptr, disks);
    ASSERT_EQ(disks.size(), 14u);
    const fapi_disk_info_t& first = disks[0];
    EXPECT_EQ(first.name, u"0a.16");
    EXPECT_EQ(first.id, 16);
    EXPECT_EQ(first.host_adapter, u"0a");
    EXPECT_EQ(first.shelf, u"1");
    EXPECT_EQ(first.bay, u"0");
    EXPECT_EQ(first.physical_space, 293710462976);
    EXPECT_EQ(first.used_space, 285212672000);
    EXPECT_EQ(first.volume, u"aggr0");
    EXPECT_EQ(first.plex, u"/aggr0/plex0");
    EXPECT_EQ(first.raid_group, u"/aggr0/plex0/rg0");
    EXPECT_EQ(first.vendor_id, u"SEAGATE");
    EXPECT_EQ(first.serial_number, u"3KN0A000");
    EXPECT_EQ(first.raid_type, 3);   // dparity
    EXPECT_EQ(first.raid_state, 7);  // present
    EXPECT_EQ(disks[11].raid_state, 4);  // spare
    EXPECT_EQ(disks[11].raid_type, 0);   // a word the table lacks
    EXPECT_EQ(disks[13].raid_state, 1);  // partner
    EXPECT_EQ(disks[13].id, 200);
}

TEST_F(OperationRecords, InitiatorGroupsAndTheGroupsOfALun) {
    start();
    std::vector<fapi_igroup_info_t> groups;
    filer_->fapi_igroup_list_info(nullptr, groups);
    ASSERT_EQ(groups.size(), 4u);
    EXPECT_EQ(groups[2].name, u"ig_host2_iscsi");
    EXPECT_EQ(groups[2].type, 1);
    EXPECT_EQ(groups[2].os_type, 4);
    EXPECT_EQ(groups[2].initiators, std::vector<std::u16string>{u"iqn.1991-05.com.microsoft:host2.example.com"});

    filer_->fapi_lun_map_list_info(u"/vol/vol1/q1/lun1", groups);
    ASSERT_EQ(groups.size(), 2u);
    EXPECT_EQ(groups[0].name, u"ig_host1_fc");
    EXPECT_EQ(groups[0].lun_id, 1);
    EXPECT_EQ(groups[0].type, 0);
    EXPECT_EQ(groups[1].name, u"ig_cluster_fc");
    EXPECT_EQ(groups[1].lun_id, 1);
}

TEST_F(OperationRecords, FibreChannelAdaptersAndTheirLoggedInInitiators) {
    start();
    std::vector<fapi_fcp_adapter_info_t> adapters;
    filer_->fapi_fcp_adapter_list_info(adapters);
    ASSERT_EQ(adapters.size(), 4u);
    EXPECT_EQ(adapters[0].adapter, "0c");
    EXPECT_EQ(adapters[0].adapter_type, "Local");
    EXPECT_EQ(adapters[0].node_name, "50:0a:09:80:86:f7:0c:51");
    EXPECT_EQ(adapters[0].port_name, "50:0a:09:81:86:f7:0c:51");
    EXPECT_EQ(adapters[0].state, "ONLINE");
    EXPECT_EQ(adapters[0].port_address, 66560);
    EXPECT_EQ(adapters[0].port_id, 1);
    EXPECT_EQ(adapters[0].media_type, "ptp");
    EXPECT_FALSE(adapters[0].standby);
    EXPECT_EQ(adapters[1].adapter_type, "Partner");
    EXPECT_EQ(adapters[2].adapter_type, "Standby");
    EXPECT_TRUE(adapters[2].standby);
    EXPECT_TRUE(adapters[3].standby);
    EXPECT_EQ(adapters[3].node_name, "20:01:00:a0:98:f7:0c:51");

    std::vector<fapi_fcp_adapter_initiators_t> logged_in;
    filer_->fapi_fcp_adapter_initiators_list_info(nullptr, logged_in);
    ASSERT_EQ(logged_in.size(), 4u);
    EXPECT_EQ(logged_in[0].adapter, u"0c");
    ASSERT_EQ(logged_in[0].initiators.size(), 3u);  // the third is the simulated host's first port
    const fapi_fcp_initiator_info_t& host1 = logged_in[0].initiators[0];
    const BYTE port_name[8] = {0x10, 0x00, 0x00, 0x00, 0xc9, 0x6b, 0x3d, 0x1a};
    const BYTE node_name[8] = {0x20, 0x00, 0x00, 0x00, 0xc9, 0x6b, 0x3d, 0x1a};
    EXPECT_EQ(std::memcmp(host1.port_name, port_name, 8), 0);
    EXPECT_EQ(std::memcmp(host1.node_name, node_name, 8), 0);
    EXPECT_EQ(host1.port_address, u"0x010a00");
    EXPECT_EQ(host1.initiator_groups,
              (std::vector<std::u16string>{u"ig_host1_fc", u"ig_cluster_fc", u"viaVDS.10:00:00:00:c9:6b:3d:1a"}));
    EXPECT_TRUE(logged_in[2].initiators.empty());
}

TEST_F(OperationRecords, IscsiAdaptersPortalsAndSessions) {
    start();
    std::vector<fapi_iscsi_adapter_info_t> adapters;
    filer_->fapi_iscsi_adapter_list_info(adapters);
    ASSERT_EQ(adapters.size(), 1u);
    EXPECT_EQ(adapters[0].name, "iswta");
    EXPECT_EQ(adapters[0].state, 1);
    EXPECT_EQ(adapters[0].status, "ONLINE");
    ASSERT_EQ(adapters[0].portal_addresses.size(), 2u);
    const fapi_iscsi_portal_address_t& portal = adapters[0].portal_addresses[0];
    const BYTE* address = reinterpret_cast<const BYTE*>(&portal.address);
    EXPECT_EQ((std::vector<int>{address[0], address[1], address[2], address[3]}), (std::vector<int>{10, 10, 1, 10}));
    EXPECT_EQ(portal.port, 3260);
    EXPECT_EQ(portal.id, 1000);

    std::vector<fapi_iscsi_adapter_initiators_t> sessions;
    filer_->fapi_iscsi_adapter_initiators_list_info(u"iswta", sessions);
    ASSERT_EQ(sessions.size(), 1u);
    EXPECT_EQ(sessions[0].adapter_name, u"iswta");
    ASSERT_EQ(sessions[0].initiators.size(), 1u);
    EXPECT_EQ(sessions[0].initiators[0].initiator_name, u"iqn.1991-05.com.microsoft:host2.example.com");
    EXPECT_EQ(sessions[0].initiators[0].portal_group_id, 1000);
    EXPECT_EQ(sessions[0].initiators[0].isid, (fapi_isid_t{0x40, 0x00, 0x01, 0x37, 0x00, 0x00}));
}

TEST_F(OperationRecords, SystemClusterOptionsAndFiles) {
    start();
    fapi_system_info_t info;
    info.system_name = "stale";
    filer_->fapi_system_get_info(info);
    EXPECT_EQ(info.system_name, "zarvo-a");
    EXPECT_EQ(info.system_serial_number, "3003470");
    EXPECT_EQ(info.system_id, u"0118045690");
    EXPECT_EQ(info.system_model, u"FAS3070");
    EXPECT_EQ(info.vendor_id, u"Korvex");

    int32_t now = 0;
    bool enabled = false, interconnect_up = false;
    std::u16string partner = u"stale";
    filer_->fapi_cf_status(now, enabled, interconnect_up, partner);
    EXPECT_GT(now, 0);
    EXPECT_TRUE(enabled);
    EXPECT_TRUE(interconnect_up);
    EXPECT_EQ(partner, u"127.0.0.3");
    set("cluster/partner=");
    filer_->fapi_cf_status(now, enabled, interconnect_up, partner);
    EXPECT_EQ(partner, u"");

    std::u16string value;
    filer_->fapi_options_get(u"tandril.enable", value);
    EXPECT_EQ(value, u"on");
    // An unknown option answers the appliance's reason as its value.
    filer_->fapi_options_get(u"no.such.option", value);
    EXPECT_EQ(value, u"No such option: no.such.option");

    std::string data;
    int32_t length = 0;
    filer_->fapi_file_read_file(u"/vol/vol0/etc/rc", 8, 9, data, length);
    EXPECT_EQ(data, "zarvo-a\n");
    EXPECT_EQ(length, 8);
}

TEST_F(OperationRecords, ReplicationDestinationsStatusAndSchedules) {
    start();
    std::vector<fapi_tandril_destination_t> destinations;
    filer_->fapi_tandril_list_destinations(u"zarvo-b:volb", destinations);
    ASSERT_EQ(destinations.size(), 1u);
    EXPECT_EQ(destinations[0].destination_location, "zarvo-a:vol_dr");
    EXPECT_EQ(destinations[0].source_location, "zarvo-b:volb");
    EXPECT_EQ(destinations[0].source_snapshot, "zarvo-a(0118045690)_vol_dr.4");
    // A clone of a replica is not a destination.
    set("tandril/0/destination-location=zarvo-b:vol1_mirror->[clone:c1]");
    filer_->fapi_tandril_list_destinations(u"zarvo-a:vol1", destinations);
    EXPECT_TRUE(destinations.empty());

    int32_t available = -1;
    std::vector<fapi_tandril_status_t> statuses;
    filer_->fapi_tandril_get_status(u"zarvo-a:vol_dr", available, statuses);
    EXPECT_EQ(available, 1);
    ASSERT_EQ(statuses.size(), 1u);
    const fapi_tandril_status_t& status = statuses[0];
    EXPECT_EQ(status.contents, 2);            // replica
    EXPECT_EQ(status.last_transfer_type, 3);  // scheduled
    EXPECT_EQ(status.state, 2);               // tandriled
    EXPECT_EQ(status.status, 1);              // idle
    EXPECT_EQ(status.lag_time, 600);
    EXPECT_EQ(status.last_transfer_duration, 7);
    EXPECT_EQ(status.last_transfer_size, 524288);
    EXPECT_EQ(status.mirror_timestamp, 1234565700);
    EXPECT_EQ(status.base_snapshot, u"zarvo-a(0118045690)_vol_dr.4");
    EXPECT_EQ(status.destination_location, u"zarvo-a:vol_dr");
    EXPECT_EQ(status.source_location, u"zarvo-b:volb");
    EXPECT_EQ(status.last_transfer_from, u"zarvo-b:volb");

    // Without replication the answer is the flag 0 and no records.
    set("options/tandril.enable=off");
    filer_->fapi_tandril_get_status(u"", available, statuses);
    EXPECT_EQ(available, 0);
    EXPECT_TRUE(statuses.empty());

    std::vector<fapi_tandril_sync_schedule_t> schedules;
    filer_->fapi_tandril_get_list_sync_schedule(u"zarvo-a:vol_dr", schedules);
    ASSERT_EQ(schedules.size(), 1u);
    EXPECT_EQ(schedules[0].destination_location, u"zarvo-a:vol_dr");
    EXPECT_EQ(schedules[0].source_location, u"zarvo-b:volb");
    EXPECT_EQ(schedules[0].ops_throttle, u"-");
    EXPECT_EQ(schedules[0].visibility_frequency, 180);
}

// A reply value a record cannot take ends the listing with the converter's
// error; what was appended before it stays in the caller's list.
TEST_F(OperationRecords, AValueTheRecordCannotTakeEndsTheListing) {
    start();
    set("igroups/ig_cluster_fc/type=FCP");
    std::vector<fapi_igroup_info_t> groups;
    expect_com_error(0xC00402B6, u"Unrecognized initiator group type: FCP\r\n",
                     [&] { filer_->fapi_lun_map_list_info(u"/vol/vol1/q1/lun1", groups); });
    EXPECT_EQ(groups.size(), 2u);  // ig_host1_fc, then the half-read one

    set("volumes/vol1/qtrees/q1/oplocks=maybe");
    std::vector<fapi_qtree_info_t> qtrees;
    expect_com_error(0xC00402FF, u"Unrecognized boolean string value 'maybe'.\r\n",
                     [&] { filer_->fapi_qtree_list(u"vol1", qtrees); });
    ASSERT_EQ(qtrees.size(), 2u);
    EXPECT_EQ(qtrees[1].qtree, u"q1");

    set("fcp/adapters/0c/initiators/1/port-name=21:00:00:e0:8b:12:34");
    std::vector<fapi_fcp_adapter_initiators_t> logged_in;
    expect_com_error(0xC0040298, u"Invalid WWNN or WWPN format\r\n",
                     [&] { filer_->fapi_fcp_adapter_initiators_list_info(u"0c", logged_in); });
    ASSERT_EQ(logged_in.size(), 1u);
    EXPECT_EQ(logged_in[0].initiators.size(), 2u);

    set("iscsi/adapters/0/state=broken");
    std::vector<fapi_iscsi_adapter_info_t> adapters;
    expect_com_error(0xC00402E1, u"Unrecognized iSCSI adapter state: broken\r\n",
                     [&] { filer_->fapi_iscsi_adapter_list_info(adapters); });

    // A status entry without the transfer's origin names the caller's location.
    sim_->fault(R"({"kind": "body", "request": "tandril-get-status", "body": "<?xml version='1.0' encoding='UTF-8' ?>)"
                R"(<korvex version='1.1'><results status=\"passed\"><is-available>true</is-available><tandril-status>)"
                R"(<tandril-status-info><destination-location>zarvo-a:vol_dr</destination-location>)"
                R"(<source-location>zarvo-b:volb</source-location></tandril-status-info></tandril-status>)"
                R"(</results></korvex>"})");
    int32_t available = 0;
    std::vector<fapi_tandril_status_t> statuses;
    expect_com_error(0xC0040315,
                     u"An attempt to get tandril last transfer information for 'zarvo-a:vol_dr' location failed.\r\n",
                     [&] { filer_->fapi_tandril_get_status(u"zarvo-a:vol_dr", available, statuses); });
    EXPECT_EQ(available, 1);
    EXPECT_EQ(statuses.size(), 1u);
}

// Called twice with the same list, an appending operation doubles it and a
// clearing one gives the same list again.
TEST_F(OperationRecords, ListsAreClearedOrAppendedToAsEachOperationSays) {
    start();
    const auto twice = [](auto& list, auto&& list_once) {
        list_once();
        const size_t once = list.size();
        EXPECT_GT(once, 0u);
        list_once();
        return std::pair{once, list.size()};
    };
    const auto appends = [&](const char* label, auto& list, auto&& list_once) {
        SCOPED_TRACE(label);
        const auto [once, again] = twice(list, list_once);
        EXPECT_EQ(again, 2 * once);
    };
    const auto clears = [&](const char* label, auto& list, auto&& list_once) {
        SCOPED_TRACE(label);
        const auto [once, again] = twice(list, list_once);
        EXPECT_EQ(again, once);
    };
    CFiler& f = *filer_;
    std::vector<fapi_lun_info_t> luns;
    appends("LUNs", luns, [&] { f.fapi_lun_list_info(nullptr, luns, nullptr); });
    std::vector<fapi_disk_info_t> disks;
    appends("disks", disks, [&] { f.fapi_disk_list_info(nullptr, disks); });
    std::vector<fapi_fcp_adapter_initiators_t> fcp_initiators;
    appends("FC initiators", fcp_initiators, [&] { f.fapi_fcp_adapter_initiators_list_info(nullptr, fcp_initiators); });
    std::vector<fapi_iscsi_adapter_initiators_t> iscsi_initiators;
    appends("iSCSI initiators", iscsi_initiators,
            [&] { f.fapi_iscsi_adapter_initiators_list_info(nullptr, iscsi_initiators); });

    std::vector<fapi_volume_info_t> volumes;
    clears("volumes", volumes, [&] { f.fapi_volume_list_info(volumes); });
    std::vector<fapi_qtree_info_t> qtrees;
    clears("qtrees", qtrees, [&] { f.fapi_qtree_list(u"vol1", qtrees); });
    std::vector<fapi_aggr_info_t> aggregates;
    clears("aggregates", aggregates, [&] { f.fapi_aggr_list_info(aggregates, nullptr, true); });
    std::vector<fapi_igroup_info_t> groups;
    clears("groups", groups, [&] { f.fapi_igroup_list_info(nullptr, groups); });
    clears("groups of a LUN", groups, [&] { f.fapi_lun_map_list_info(u"/vol/vol1/q1/lun1", groups); });
    std::vector<fapi_fcp_adapter_info_t> fcp;
    clears("FC adapters", fcp, [&] { f.fapi_fcp_adapter_list_info(fcp); });
    std::vector<fapi_iscsi_adapter_info_t> iscsi;
    clears("iSCSI adapters", iscsi, [&] { f.fapi_iscsi_adapter_list_info(iscsi); });
    std::vector<fapi_tandril_destination_t> destinations;
    clears("destinations", destinations, [&] { f.fapi_tandril_list_destinations(u"zarvo-b:volb", destinations); });
    int32_t available = 0;
    std::vector<fapi_tandril_status_t> statuses;
    clears("replication status", statuses, [&] { f.fapi_tandril_get_status(u"", available, statuses); });
    std::vector<fapi_tandril_sync_schedule_t> schedules;
    clears("sync schedules", schedules,
           [&] { f.fapi_tandril_get_list_sync_schedule(u"zarvo-a:vol_dr", schedules); });
}

// ---------------------------------------------------------------------------
// Appliance error numbers that are answers, and the wait after a replication break.

using OperationAnswers = FilerOperations;

TEST_F(OperationAnswers, AMissingLunIsHandedToACallerWhoTakesTheOutcome) {
    start();
    std::vector<fapi_lun_info_t> luns(1);
    owned_ptr<fapi_error_t> outcome;
    filer_->fapi_lun_list_info(u"/vol/vol1/q1/nope", luns, std::addressof(outcome));
    ASSERT_TRUE(outcome);
    EXPECT_FALSE(outcome->passed());
    EXPECT_EQ(outcome->error_number(), 9017);
    EXPECT_EQ(luns.size(), 1u);

    // A passed listing taken as an outcome is not read either.
    filer_->fapi_lun_list_info(u"/vol/vol1/q1/lun0", luns, std::addressof(outcome));
    ASSERT_TRUE(outcome);
    EXPECT_TRUE(outcome->passed());
    EXPECT_EQ(luns.size(), 1u);

    expect_com_error(0xC004032E,
                     u"An attempt to obtain lun info for the lun '/vol/vol1/q1/nope' on the filer '" + filer_name() +
                         u"' failed. Error code: 9017. Error description: No such LUN exists.\r\n",
                     [&] { filer_->fapi_lun_list_info(u"/vol/vol1/q1/nope", luns, nullptr); });
    EXPECT_EQ(luns.size(), 1u);
}

// Groups that hold the initiator are asked in name order; 9016 means "not in
// this group" and the next one is asked.
TEST_F(OperationAnswers, TheLunAnInitiatorSeesIsLookedUpGroupByGroup) {
    start();
    auto* pellion = dynamic_cast<CFilerPellion*>(filer_.get());
    ASSERT_NE(pellion, nullptr);
    const std::u16string initiator = u"10:00:00:00:C9:6B:3D:1A";  // the groups write it in lower case
    const auto lookups = [&] {
        std::vector<std::string> asked;
        for (const auto& r : sent()) asked.push_back(r.name == "igroup-lookup-lun" ? r.element() : r.name);
        return asked;
    };
    const auto lookup_of = [](const char* group, int id) {
        return std::string("<igroup-lookup-lun><initiator-group-name>") + group +
               "</initiator-group-name><lun-id>" + std::to_string(id) + "</lun-id></igroup-lookup-lun>";
    };
    std::u16string path = u"unchanged";
    pellion->fapi_igroup_lookup_lun(initiator.c_str(), 1, path);
    EXPECT_EQ(path, u"/vol/vol1/q1/lun1");
    EXPECT_EQ(lookups(), (std::vector<std::string>{"igroup-list-info", lookup_of("ig_cluster_fc", 1)}));

    pellion->fapi_igroup_lookup_lun(initiator.c_str(), 2, path);
    EXPECT_EQ(path, u"/vol/ZarvoVolume1/ZarvoQtree1/ZarvoLun1");
    EXPECT_EQ(lookups(), (std::vector<std::string>{"igroup-list-info", lookup_of("ig_cluster_fc", 2),
                                                   lookup_of("ig_host1_fc", 2),
                                                   lookup_of("viaVDS.10:00:00:00:c9:6b:3d:1a", 2)}));

    path = u"unchanged";
    pellion->fapi_igroup_lookup_lun(initiator.c_str(), 7, path);
    EXPECT_EQ(path, u"unchanged");
    EXPECT_EQ(lookups().size(), 4u);

    fail_next("igroup-lookup-lun", 13115, "Simulated refusal");
    log_->mark();
    expect_com_error(0xC00403C7,
                     u"An attempt to find the path to the LUN mapped at a given LUN ID 2 for a given initiator '" +
                         initiator + u"' failed on the filer '" + filer_name() +
                         u"'. Error description: Simulated refusal\r\n",
                     [&] { pellion->fapi_igroup_lookup_lun(initiator.c_str(), 2, path); });
    EXPECT_EQ(lookups().size(), 2u);  // the groups after the refusal are not asked
    EXPECT_EQ(path, u"unchanged");
}

// After a break each LUN of the replica answers 9017 for two requests.
TEST_F(OperationAnswers, AfterAReplicationBreakTheLunIsAskedAgainEveryFiveSeconds) {
    start();
    const struct {
        int32_t retries;
        bool available;
        size_t requests;
        ULONGLONG slept_ms;
    } cases[] = {
        {2, true, 3, 10000},   // the third answer passes
        {5, true, 3, 10000},
        {1, false, 2, 10000},  // every unavailable answer is followed by a pause, the last one too
        {0, false, 1, 5000},
        {-3, false, 1, 5000},  // a negative count allows one request
    };
    platform::ScopedFakeClock clock;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.retries);
        reset();
        filer_->fapi_tandril_break(u"zarvo-a:vol_dr");
        log_->mark();
        const ULONGLONG start = GetTickCount64();
        EXPECT_EQ(filer_->wait_lun_available_after_break(u"/vol/vol_dr/dr_lun", c.retries), c.available);
        EXPECT_EQ(GetTickCount64() - start, c.slept_ms);
        const auto requests = sent();
        EXPECT_EQ(requests.size(), c.requests);
        for (const auto& r : requests) EXPECT_EQ(r.name, "lun-map-list-info");
    }

    // Any other refusal ends the wait at once.
    fail_next("lun-map-list-info", 9016, "No such LUN map");
    const ULONGLONG start = GetTickCount64();
    expect_com_error(0xC00402B7,
                     u"An attempt to get list of initiator groups and their members (the initiators) mapped to the "
                     u"LUN /vol/vol1/q1/lun0 failed on the filer " +
                         filer_name() + u". Error description: No such LUN map\r\n",
                     [&] { filer_->wait_lun_available_after_break(u"/vol/vol1/q1/lun0", 4); });
    EXPECT_EQ(GetTickCount64() - start, 0u);
    EXPECT_EQ(sent().size(), 1u);
}

// ---------------------------------------------------------------------------
// OperationFailures: each operation's HRESULT and its message with its inserts.

using OperationFailures = FilerOperations;

struct failure_case {
    const char* request;
    operation op;
    uint32_t hr;
    std::u16string text;
};

TEST_F(OperationFailures, EachOperationRaisesItsOwnMessageWithItsInserts) {
    start();
    const std::u16string F = filer_name();
    const std::u16string tail = u"Error code: 13115. Error description: Simulated refusal.\r\n";
    const std::u16string R = u"Simulated refusal";
    std::vector<fapi_lun_info_t> luns;
    std::vector<fapi_igroup_info_t> groups;
    std::vector<fapi_volume_info_t> volumes;
    std::vector<fapi_qtree_info_t> qtrees;
    std::vector<fapi_disk_info_t> disks;
    std::vector<fapi_aggr_info_t> aggregates;
    std::vector<fapi_fcp_adapter_info_t> fcp;
    std::vector<fapi_fcp_adapter_initiators_t> fcp_initiators;
    std::vector<fapi_iscsi_adapter_info_t> iscsi;
    std::vector<fapi_iscsi_adapter_initiators_t> iscsi_initiators;
    std::vector<fapi_tandril_destination_t> destinations;
    std::vector<fapi_tandril_status_t> statuses;
    std::vector<fapi_tandril_sync_schedule_t> schedules;
    std::u16string t1, t2, t3;
    std::string narrow;
    int64_t s1 = 0, s2 = 0;
    int32_t n = 0, f1 = 0, f2 = 0, f3 = 0;
    bool b1 = false, b2 = false;
    fapi_system_info_t info;
    const auto spare = disks_named({u"0a.27"});

    const failure_case cases[] = {
        {"lun-list-info", [&](CFiler& f) { f.fapi_lun_list_info(u"/vol/vol1/q1/lun0", luns, nullptr); }, 0xC004032E,
         u"An attempt to obtain lun info for the lun '/vol/vol1/q1/lun0' on the filer '" + F + u"' failed. " + tail},
        {"lun-list-info", [&](CFiler& f) { f.fapi_lun_list_info_ex(nullptr); }, 0xC004032E,
         u"An attempt to obtain lun info for the lun '' on the filer '" + F + u"' failed. " + tail},
        {"lun-create-by-size", [&](CFiler& f) { f.fapi_lun_create_by_size(u"/vol/vol2/n", 1 << 30, 1, {}, s1); },
         0xC004032F, u"An attempt to create lun '/vol/vol2/n' on the filer '" + F + u"' failed. " + tail},
        {"lun-create-from-file",
         [&](CFiler& f) { f.fapi_lun_create_from_file(u"/vol/vol0/etc/hosts", u"/vol/vol0/n", {}, {}, s1); },
         0xC0040349,
         u"An attempt to create lun '/vol/vol0/n' from another file '/vol/vol0/etc/hosts' on the filer '" + F +
             u"' failed. " + tail},
        {"lun-create-from-snapshot",
         [&](CFiler& f) { f.fapi_lun_create_from_snapshot(u"/vol/vol1/n", u"/vol/vol1/.snapshot/s/l", {}, {}, s1); },
         0xC0040332,
         u"An attempt to create lun '/vol/vol1/n' based on the lun in snapshot '/vol/vol1/.snapshot/s/l' on the "
         u"filer '" + F + u"' failed. " + tail},
        {"lun-destroy", [&](CFiler& f) { f.fapi_lun_destroy(u"/vol/vol2/db_lun", true); }, 0xC0040330,
         u"An attempt to destroy lun '/vol/vol2/db_lun' on the filer '" + F + u"' failed. " + tail},
        {"lun-resize", [&](CFiler& f) { f.fapi_lun_resize(u"/vol/vol2/db_lun", 1 << 30, true, s1, nullptr); },
         0xC0040331, u"An attempt to resize lun '/vol/vol2/db_lun' on the filer '" + F + u"' failed. " + tail},
        {"lun-offline", [&](CFiler& f) { f.fapi_lun_offline("/vol/vol2/db_lun"); }, 0xC00402F4,
         u"FAPI: An attempt to offline LUN '/vol/vol2/db_lun' failed on the filer " + F +
             u". Error description: " + R + u"\r\n"},
        {"lun-online", [&](CFiler& f) { f.fapi_lun_online("/vol/vol2/db_lun"); }, 0xC00402F5,
         u"FAPI: An attempt to online LUN '/vol/vol2/db_lun' failed on the filer " + F + u". Error description: " +
             R + u"\r\n"},
        {"lun-set-serial-number", [&](CFiler& f) { f.fapi_lun_set_serial_number("/vol/vol2/db_lun", "S1"); },
         0xC00402F3,
         u"FAPI: An attempt to set serial number 'S1' on LUN '/vol/vol2/db_lun' failed on the filer " + F +
             u". Error description: " + R + u"\r\n"},
        {"lun-get-serial-number", [&](CFiler& f) { f.fapi_lun_get_serial_number("/vol/vol2/db_lun", narrow); },
         0xC00402FC,
         u"FAPI: An attempt to get serial number of the LUN '/vol/vol2/db_lun' failed on the filer " + F +
             u". Error description: " + R + u"\r\n"},
        {"lun-move", [&](CFiler& f) { f.fapi_lun_rename(u"/vol/vol2/x", u"/vol/vol2/db_lun"); }, 0xC0040399,
         u"Failed to rename lun from filer '" + F + u"'. " + tail},
        {"lun-get-maxsize", [&](CFiler& f) { f.fapi_lun_get_maxsize(u"/vol/vol2", s1, s2); }, 0xC00402F8,
         u"FAPI: Unable to get maximum possible size of a lun on the volume '/vol/vol2' on the filer '" + F +
             u"'. Error description: " + R + u"\r\n"},
        {"lun-map-list-info", [&](CFiler& f) { f.fapi_lun_map_list_info(u"/vol/vol2/db_lun", groups); }, 0xC00402B7,
         u"An attempt to get list of initiator groups and their members (the initiators) mapped to the LUN "
         u"/vol/vol2/db_lun failed on the filer " + F + u". Error description: " + R + u"\r\n"},
        {"lun-map", [&](CFiler& f) { f.fapi_lun_map(u"/vol/vol2/db_lun", u"ig_host1_fc", {}, n); }, 0xC0040335,
         u"An attempt to map lun '/vol/vol2/db_lun' to the igroup 'ig_host1_fc'on the filer '" + F + u"' failed. " +
             tail},
        {"lun-unmap", [&](CFiler& f) { f.fapi_lun_unmap(u"/vol/vol2/db_lun", u"ig_host2_iscsi"); }, 0xC0040336,
         u"An attempt to unmap lun '/vol/vol2/db_lun' to the igroup 'ig_host2_iscsi'on the filer '" + F +
             u"' failed. " + tail},
        {"igroup-create", [&](CFiler& f) { f.fapi_igroup_create(u"g1", 0, 2); }, 0xC0040337,
         u"An attempt to create an igroup 'g1' on the filer '" + F + u"' failed. " + tail},
        {"igroup-destroy", [&](CFiler& f) { f.fapi_igroup_destroy(u"g1", true); }, 0xC0040338,
         u"An attempt to destroy the igroup 'g1' on the filer '" + F + u"' failed. " + tail},
        {"igroup-list-info", [&](CFiler& f) { f.fapi_igroup_list_info(nullptr, groups); }, 0xC0040347,
         u"Failed to get list of initiator groups on the filer '" + F + u"'. " + tail},
        {"igroup-add", [&](CFiler& f) { f.fapi_igroup_add(u"g1", u"iqn.1991-05.com.microsoft:h"); }, 0xC0040348,
         u"Failed to to add the initiator 'iqn.1991-05.com.microsoft:h' to the igroup 'g1' on the filer '" + F +
             u"'. " + tail},
        {"fcp-adapter-list-info", [&](CFiler& f) { f.fapi_fcp_adapter_list_info(fcp); }, 0xC004039A,
         u"An attempt to get the configuration information for the fc adapter(s) on the filer failed.\r\n\r\n"
         u"Filer Name = " + F + u"\r\n\r\nFiler API Error description : " + R + u"\r\n"},
        {"fcp-adapter-initiators-list-info",
         [&](CFiler& f) { f.fapi_fcp_adapter_initiators_list_info(nullptr, fcp_initiators); }, 0xC0040333,
         u"An attempt to get list of FCP initiators currently connected to the '<All adapters>' FCP adapter on the "
         u"filer '" + F + u"' failed. " + tail},
        {"fcp-adapter-initiators-list-info",
         [&](CFiler& f) { f.fapi_fcp_adapter_initiators_list_info(u"0c", fcp_initiators); }, 0xC0040333,
         u"An attempt to get list of FCP initiators currently connected to the '0c' FCP adapter on the filer '" + F +
             u"' failed. " + tail},
        {"iscsi-adapter-list-info", [&](CFiler& f) { f.fapi_iscsi_adapter_list_info(iscsi); }, 0xC00402CF,
         u"An attempt to get the configuration information for the iscsi adapter(s) on the filer failed.\r\n\r\n"
         u"Filer Name = " + F + u"\r\n\r\nFiler API Error description : " + R + u"\r\n"},
        {"iscsi-adapter-initiators-list-info",
         [&](CFiler& f) { f.fapi_iscsi_adapter_initiators_list_info(u"iswta", iscsi_initiators); }, 0xC0040334,
         u"An attempt to get list of iSCSI initiators currently connected to the 'iswta' iSCSI adapter on the filer '" +
             F + u"' failed. " + tail},
        {"volume-list-info", [&](CFiler& f) { f.fapi_volume_list_info(volumes); }, 0xC004032D,
         u"An attempt to obtain list of volumes on the filer '" + F + u"' failed. " + tail},
        {"volume-get-root-name", [&](CFiler& f) { f.fapi_volume_get_root_name(t1); }, 0xC0040381,
         u"Failed to retreive the root volume name from filer '" + F + u"'. " + tail},
        {"volume-create", [&](CFiler& f) { f.fapi_volume_create(u"v9", u"aggr1", u"1g", u"none"); }, 0xC0040392,
         u"Failed to create the volume from the filer '" + F + u"'. " + tail},
        {"volume-destroy", [&](CFiler& f) { f.fapi_volume_destroy(u"vol2"); }, 0xC004038F,
         u"Failed to destroy the volume 'vol2'. " + tail},
        {"volume-offline", [&](CFiler& f) { f.fapi_volume_offline(u"vol2", {}); }, 0xC004038E,
         u"Failed to set the volume offline\r\n"},
        {"volume-online", [&](CFiler& f) { f.fapi_volume_online(u"vol2"); }, 0xC004038D,
         u"Failed to set the volume online\r\n"},
        {"volume-rename", [&](CFiler& f) { f.fapi_volume_rename(u"vol2b", u"vol2"); }, 0xC0040393,
         u"Failed to rename the volume from the filer '" + F + u"'. " + tail},
        {"volume-size", [&](CFiler& f) { f.fapi_volume_size(nullptr, u"vol2", t1); }, 0xC0040394,
         u"Failed to set or get size volume 'vol2'. " + tail},
        {"volume-clone-create", [&](CFiler& f) { f.fapi_volume_clone_create(u"vol1", u"s", u"none", u"c"); },
         0xC0040390, u"Failed to create clone of the volume\r\n"},
        {"volume-options-list-info", [&](CFiler& f) { f.fapi_volume_options_list_info(u"vol1", f1, f2, f3); },
         0xC00402FA,
         u"FAPI: An attempt to get options on the volume (vol1) of the filer (" + F +
             u") failed. Error description: " + R + u"\r\n"},
        {"volume-set-option", [&](CFiler& f) { f.fapi_volume_set_option(u"vol1", "nosnapdir", "on"); }, 0xC00402FB,
         u"FAPI: An attempt to set (nosnapdir) option to (on) on the volume (vol1) of the filer (" + F +
             u") failed. Error description: " + R + u"\r\n"},
        {"volume-autosize-get", [&](CFiler& f) { f.fapi_volume_autosize_get(u"vol1", t1, t2, t3); }, 0xC004035D,
         u"FAPI: An attempt to get autosize settings on the volume (vol1) of the filer (" + F +
             u") failed. Error description: " + R + u"\r\n"},
        {"qtree-list", [&](CFiler& f) { f.fapi_qtree_list(u"vol1", qtrees); }, 0xC004030C,
         u"Unable to get qtree list for the 'vol1' volume on the filer '" + F + u"'. " + tail},
        {"qtree-create", [&](CFiler& f) { f.fapi_qtree_create(u"q9", u"vol1"); }, 0xC0040395,
         u"Unable to create qtree for the 'vol1' volume on the filer '" + F + u"'. " + tail},
        {"disk-list-info", [&](CFiler& f) { f.fapi_disk_list_info(nullptr, disks); }, 0xC0040398,
         u"An attempt to obtain disk info for the disk 'every disk' on the filer '" + F + u"' failed. " + tail},
        {"disk-list-info", [&](CFiler& f) { f.fapi_disk_list_info(u"0a.16", disks); }, 0xC0040398,
         u"An attempt to obtain disk info for the disk '0a.16' on the filer '" + F + u"' failed. " + tail},
        {"aggr-list-info", [&](CFiler& f) { f.fapi_aggr_list_info(aggregates, nullptr, true); }, 0xC0040396,
         u"An attempt to obtain list of aggregates on the filer '" + F + u"' failed. " + tail},
        {"aggr-get-root-name", [&](CFiler& f) { f.fapi_aggr_get_root(t1); }, 0xC0040397,
         u"Cannot get root aggregate on the filer '" + F + u"' failed. " + tail},
        {"aggr-add", [&](CFiler& f) { f.fapi_aggr_add(u"aggr1", 0, 0, spare, false, {}, nullptr, disks); },
         0xC00403C0, u"An attempt to add disks to aggregates 'aggr1' on the filer '" + F + u"' failed. " + tail},
        {"file-read-file", [&](CFiler& f) { f.fapi_file_read_file(u"/vol/vol0/etc/rc", 10, 0, narrow, n); },
         0xC004039C, u"An attempt to read file '/vol/vol0/etc/rc' failed on the filer '" + F + u"'. " + tail},
        {"file-write-file", [&](CFiler& f) { f.fapi_file_write_file(u"/vol/vol0/etc/rc", 0, true, "0041", n); },
         0xC004039D,
         u"An attempt to write data '0041' to file '/vol/vol0/etc/rc' failed on the filer '" + F + u"'. " + tail},
        {"file-delete-file", [&](CFiler& f) { f.fapi_file_delete_file(u"/vol/vol0/etc/rc"); }, 0xC004039E,
         u"An attempt to delete file '/vol/vol0/etc/rc' failed on the filer '" + F + u"'. " + tail},
        {"file-truncate-file", [&](CFiler& f) { f.fapi_file_truncate_file(u"/vol/vol0/etc/rc", u"0"); }, 0xC004039F,
         u"An attempt to truncate file '/vol/vol0/etc/rc' to size '0' failed on the filer '" + F + u"'. " + tail},
        {"tandril-list-destinations",
         [&](CFiler& f) { f.fapi_tandril_list_destinations(u"zarvo-a:vol1", destinations); }, 0xC004030D,
         u"FAPI: An attempt to get tandril destinations list for the 'zarvo-a:vol1' source failed on the filer " +
             F + u". " + tail},
        {"tandril-update", [&](CFiler& f) { f.fapi_tandril_update(u"zarvo-a:vol_dr", nullptr, nullptr); },
         0xC004030E, u"An attempt to update tandril on a destination 'zarvo-a:vol_dr' failed. " + tail},
        {"tandril-break", [&](CFiler& f) { f.fapi_tandril_break(u"zarvo-a:vol_dr"); }, 0xC004030F,
         u"An attempt to break tandril on a destination 'zarvo-a:vol_dr' failed. " + tail},
        {"tandril-quiesce", [&](CFiler& f) { f.fapi_tandril_quiesce(u"zarvo-a:vol_dr"); }, 0xC0040359,
         u"An attempt to quiesce tandril on a destination 'zarvo-a:vol_dr' failed. " + tail},
        {"tandril-get-status", [&](CFiler& f) { f.fapi_tandril_get_status(u"zarvo-a:vol_dr", f1, statuses); },
         0xC0040310, u"An attempt to get tandril status on a location 'zarvo-a:vol_dr' failed. " + tail},
        {"tandril-list-sync-schedule",
         [&](CFiler& f) { f.fapi_tandril_get_list_sync_schedule(u"zarvo-a:vol_dr", schedules); }, 0xC0040356,
         u"An attempt to get synchronous tandril schedule on a location 'zarvo-a:vol_dr' failed. " + tail},
        {"ems-dorvek-log", [&](CFiler& f) { f.fapi_ems_dorvek_log(u"H", 77, u"S", u"1", u"C", u"D", 3, false); },
         0xC0040339, u"The attempt to log the EMS event id 77' on the filer '" + F + u"' failed. " + tail},
        {"system-get-info", [&](CFiler& f) { f.fapi_system_get_info(info); }, 0xC004036B,
         u"Failed to get system information from the filer '" + F + u"'. " + tail},
        {"cf-status", [&](CFiler& f) { f.fapi_cf_status(n, b1, b2, t1); }, 0xC00403B8,
         u"The attempt to get CF status on filer '" + F + u"' failed. " + tail},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.request);
        fail_next(c.request, 13115, "Simulated refusal");
        expect_com_error(c.hr, c.text, [&] { c.op(*filer_); });
        const auto requests = sent();
        ASSERT_EQ(requests.size(), 1u);
        EXPECT_EQ(requests[0].name, c.request);
    }
}

// What a failed operation leaves in its outputs.
TEST_F(OperationFailures, OutputsKeepWhatTheOperationWroteBeforeTheRequest) {
    start();
    int64_t actual = 77;
    int32_t error_number = 0;
    fail_next("lun-resize", 9041, "Reducing the size of a LUN may cause data loss");
    EXPECT_THROW(filer_->fapi_lun_resize(u"/vol/vol2/db_lun", 1 << 30, false, actual, &error_number), _com_error);
    EXPECT_EQ(error_number, 9041);
    EXPECT_EQ(actual, 77);

    std::vector<fapi_volume_info_t> volumes(3);
    fail_next("volume-list-info", 13115, "Simulated refusal");
    EXPECT_THROW(filer_->fapi_volume_list_info(volumes), _com_error);
    EXPECT_TRUE(volumes.empty());

    std::vector<fapi_disk_info_t> disks(3);
    fail_next("disk-list-info", 13115, "Simulated refusal");
    EXPECT_THROW(filer_->fapi_disk_list_info(nullptr, disks), _com_error);
    EXPECT_EQ(disks.size(), 3u);

    int32_t create_ucode = 5, convert_ucode = 5, nosnapdir = 5;
    fail_next("volume-options-list-info", 13115, "Simulated refusal");
    EXPECT_THROW(filer_->fapi_volume_options_list_info(u"vol1", create_ucode, convert_ucode, nosnapdir), _com_error);
    EXPECT_EQ((std::vector<int32_t>{create_ucode, convert_ucode, nosnapdir}), (std::vector<int32_t>{0, 0, 1}));

    // A failed option query is no failure: its reason is the value.
    std::u16string value;
    fail_next("options-get", 13115, "Simulated refusal");
    filer_->fapi_options_get(u"tandril.enable", value);
    EXPECT_EQ(value, u"Simulated refusal");
}

// ---------------------------------------------------------------------------
// The SAN model's steps, one after the other, against the appliance's state.

class OperationModelSteps : public FilerOperations {
protected:
    int64_t aggr1_available() {
        std::vector<fapi_aggr_info_t> aggregates;
        filer_->fapi_aggr_list_info(aggregates, u"aggr1", false);
        return aggregates.at(0).size_available;
    }
    // The volume's state code, 0 when the appliance does not list it.
    int32_t volume_state(const std::u16string& name) {
        std::vector<fapi_volume_info_t> volumes;
        filer_->fapi_volume_list_info(volumes);
        for (const auto& v : volumes)
            if (v.name == name) return v.state;
        return 0;
    }
};

TEST_F(OperationModelSteps, ALunIsCreatedMappedGrownAndRemovedWithItsVolume) {
    start();
    CFiler& f = *filer_;
    const std::u16string path = u"/vol/ZarvoVolume2/ZarvoQtree2/ZarvoLun2";
    const std::u16string group = u"viaVDS.10:00:00:00:c9:6b:3d:77";
    const int64_t gib = int64_t{1} << 30;

    const int64_t free_before = aggr1_available();
    f.fapi_volume_create(u"ZarvoVolume2", u"aggr1", u"20g", u"volume");
    EXPECT_EQ(aggr1_available(), free_before - 20 * gib);
    EXPECT_EQ(volume_state(u"ZarvoVolume2"), 3);
    f.fapi_qtree_create(u"ZarvoQtree2", u"ZarvoVolume2");
    int64_t actual = 0;
    f.fapi_lun_create_by_size(path.c_str(), 10 * gib, 1, {}, actual);
    EXPECT_EQ(actual, 10 * gib);

    f.fapi_igroup_create(group.c_str(), 0, 4);
    f.fapi_igroup_add(group.c_str(), u"10:00:00:00:c9:6b:3d:77");
    int32_t lun_id = -1;
    f.fapi_lun_map(path.c_str(), group.c_str(), {}, lun_id);
    EXPECT_EQ(lun_id, 0);
    std::vector<fapi_igroup_info_t> groups;
    f.fapi_lun_map_list_info(path.c_str(), groups);
    ASSERT_EQ(groups.size(), 1u);
    EXPECT_EQ(groups[0].name, group);
    EXPECT_EQ(groups[0].initiators, std::vector<std::u16string>{u"10:00:00:00:c9:6b:3d:77"});

    const std::string narrow_path = to_utf8(path);
    std::string serial;
    f.fapi_lun_get_serial_number(narrow_path.c_str(), serial);
    EXPECT_EQ(serial.size(), 12u);

    int32_t error_number = 0;
    f.fapi_lun_resize(path.c_str(), 12 * gib, false, actual, &error_number);
    EXPECT_EQ(actual, 12 * gib);
    EXPECT_EQ(error_number, 1);
    EXPECT_THROW(f.fapi_lun_resize(path.c_str(), gib, false, actual, &error_number), _com_error);
    EXPECT_EQ(error_number, 9041);  // a shrink needs force
    EXPECT_EQ(actual, 12 * gib);

    f.fapi_lun_offline(narrow_path.c_str());
    std::vector<fapi_lun_info_t> luns;
    f.fapi_lun_list_info(path.c_str(), luns, nullptr);
    ASSERT_EQ(luns.size(), 1u);
    EXPECT_FALSE(luns[0].online);
    EXPECT_EQ(luns[0].size, 12 * gib);
    f.fapi_lun_unmap(path.c_str(), group.c_str());
    f.fapi_lun_destroy(path.c_str(), {});
    owned_ptr<fapi_error_t> outcome;
    f.fapi_lun_list_info(path.c_str(), luns, std::addressof(outcome));
    EXPECT_EQ(outcome->error_number(), 9017);
    f.fapi_igroup_destroy(group.c_str(), false);

    f.fapi_volume_offline(u"ZarvoVolume2", {});
    EXPECT_EQ(volume_state(u"ZarvoVolume2"), 2);
    f.fapi_volume_destroy(u"ZarvoVolume2");
    EXPECT_EQ(volume_state(u"ZarvoVolume2"), 0);
    EXPECT_EQ(aggr1_available(), free_before);
}

// The subsystem's friendly name lives in a file of the root volume.
TEST_F(OperationModelSteps, TheFriendlyNameFileIsTruncatedWrittenAndReadBack) {
    start();
    CFiler& f = *filer_;
    const WCHAR* path = u"/vol/vol0/etc/FilerVDSName.vds";
    EXPECT_THROW(f.fapi_file_truncate_file(path, u"0"), _com_error);  // not there yet: the model ignores this
    int32_t written = 0;
    f.fapi_file_write_file(path, 0, true, "005A0041", written);
    EXPECT_EQ(written, 8);
    f.fapi_file_truncate_file(path, u"0");
    f.fapi_file_write_file(path, 0, true, "0042", written);
    std::string data;
    int32_t length = 0;
    f.fapi_file_read_file(path, 1024, 0, data, length);
    EXPECT_EQ(data, "0042");
    EXPECT_EQ(length, 4);
    f.fapi_file_delete_file(path);
    EXPECT_THROW(f.fapi_file_read_file(path, 1024, 0, data, length), _com_error);
}

}  // namespace
