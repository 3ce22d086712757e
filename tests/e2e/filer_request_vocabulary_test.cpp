// The requests of the iSCSI, LUN attribute, snapshot and volume-query
// operations as the appliance receives them: one request per operation, its
// name, and its children in order with their texts.
#include <gtest/gtest.h>

#include <filer/filer_classes.h>

#include <functional>

#include "fapi_test_support.h"
#include "filer_sim_support.h"

namespace {

using namespace filer_e2e;

using children = std::vector<std::pair<std::string, std::string>>;

// A child's text, or its children as "name=text" joined by ",".
std::string rendered(const xml_node& child) {
    if (child.children.empty()) return child.text;
    std::string text;
    for (const auto& c : child.children) text += (text.empty() ? "" : ",") + c.name + "=" + rendered(c);
    return text;
}

struct vocabulary_case {
    const char* what;
    std::function<void(CFiler&)> call;
    const char* request;
    children expected;  // text "*": any (encrypted values)
};

const WCHAR* const kLun = u"/vol/vol1/q1/lun0";
const BYTE kSecret[] = {'s', 'e', 'c', 'r', 'e', 't', '-', 'o', 'f', '-', '1', '2'};

std::vector<vocabulary_case> cases() {
    const std::span<const BYTE> none, secret(kSecret);
    return {
        {"node name", [](CFiler& f) { std::string n; f.fapi_iscsi_node_get_name(n); }, "iscsi-node-get-name", {}},
        {"service status", [](CFiler& f) { f.fapi_iscsi_service_status(); }, "iscsi-service-status", {}},
        {"all portal groups", [](CFiler& f) { std::vector<fapi_iscsi_tpgroup_info_t> g; f.fapi_iscsi_tpgroup_list_info(0, g); },
         "iscsi-tpgroup-list-info", {}},
        {"one portal group", [](CFiler& f) { std::vector<fapi_iscsi_tpgroup_info_t> g; f.fapi_iscsi_tpgroup_list_info(1, g); },
         "iscsi-tpgroup-list-info", {{"tpgroup-tag", "1"}}},
        {"portals", [](CFiler& f) { std::vector<fapi_iscsi_portal_info_t> p; f.fapi_iscsi_portal_list_info(p); },
         "iscsi-portal-list-info", {}},
        {"all interfaces", [](CFiler& f) { std::vector<fapi_iscsi_interface_info_t> i; f.fapi_iscsi_interface_list_info(u"", i); },
         "iscsi-interface-list-info", {}},
        {"one interface", [](CFiler& f) { std::vector<fapi_iscsi_interface_info_t> i; f.fapi_iscsi_interface_list_info(u"e0a", i); },
         "iscsi-interface-list-info", {{"interface-name", "e0a"}}},
        {"initiators", [](CFiler& f) { std::vector<fapi_iscsi_initiator_info_t> i; f.fapi_iscsi_initiator_list_info(i); },
         "iscsi-initiator-list-info", {}},
        {"alias", [](CFiler& f) { std::u16string a; f.fapi_iscsi_target_alias_get_alias(a); }, "iscsi-target-alias-get-alias", {}},
        {"set alias", [](CFiler& f) { f.fapi_iscsi_target_alias_set_alias(u"zarvo-b"); }, "iscsi-target-alias-set-alias",
         {{"alias-name", "zarvo-b"}}},
        {"clear alias", [](CFiler& f) { f.fapi_iscsi_target_alias_clear_alias(); }, "iscsi-target-alias-clear-alias", {}},
        {"group, tag chosen", [](CFiler& f) { uint32_t t = 0; f.fapi_iscsi_tpgroup_create(u"tpg_new", &t); },
         "iscsi-tpgroup-create", {{"tpgroup-name", "tpg_new"}}},
        {"group, tag given", [](CFiler& f) { uint32_t t = 7; f.fapi_iscsi_tpgroup_create(u"tpg7", &t); },
         "iscsi-tpgroup-create", {{"tpgroup-name", "tpg7"}, {"tpgroup-tag", "7"}}},
        {"group, no name", [](CFiler& f) { f.fapi_iscsi_tpgroup_create(nullptr, nullptr); }, "iscsi-tpgroup-create", {}},
        {"add interface", [](CFiler& f) { f.fapi_iscsi_tpgroup_interface_add(u"e0a", 7); }, "iscsi-tpgroup-interface-add",
         {{"interface-name", "e0a"}, {"tpgroup-tag", "7"}}},
        {"delete interface", [](CFiler& f) { f.fapi_iscsi_tpgroup_interface_delete(u"e0a", 7); },
         "iscsi-tpgroup-interface-delete", {{"interface-name", "e0a"}, {"tpgroup-tag", "7"}}},
        {"tag 0 is sent", [](CFiler& f) { f.fapi_iscsi_tpgroup_interface_add(u"e0a", 0); }, "iscsi-tpgroup-interface-add",
         {{"interface-name", "e0a"}, {"tpgroup-tag", "0"}}},
        {"destroy group", [](CFiler& f) { f.fapi_iscsi_tpgroup_destroy(7); }, "iscsi-tpgroup-destroy", {{"tpgroup-tag", "7"}}},
        {"destroy tag 0", [](CFiler& f) { f.fapi_iscsi_tpgroup_destroy(0); }, "iscsi-tpgroup-destroy", {}},
        {"node set name", [](CFiler& f) { f.fapi_iscsi_node_set_name(u"iqn.1992-08.com.korvex:sn.9"); }, "iscsi-node-set-name",
         {{"node-name", "iqn.1992-08.com.korvex:sn.9"}}},
        {"enable", [](CFiler& f) { f.fapi_iscsi_interface_enable(u"e0c"); }, "iscsi-interface-enable", {{"interface-name", "e0c"}}},
        {"disable", [](CFiler& f) { f.fapi_iscsi_interface_disable(u"e0c"); }, "iscsi-interface-disable",
         {{"interface-name", "e0c"}}},
        {"own secret", [=](CFiler& f) { f.fapi_iscsi_initiator_add_auth(u"CHAP", u"iqn.h3", none, u"", secret, u"iqn.h3"); },
         "iscsi-initiator-add-auth", {{"auth-type", "CHAP"}, {"initiator", "iqn.h3"}, {"password", "*"}, {"user-name", "iqn.h3"}}},
        {"mutual secret", [=](CFiler& f) { f.fapi_iscsi_initiator_add_auth(u"CHAP", u"iqn.h3", secret, u"iqn.h3", secret, u"iqn.h3"); },
         "iscsi-initiator-add-auth",
         {{"auth-type", "CHAP"}, {"initiator", "iqn.h3"}, {"outbound-password", "*"}, {"outbound-user-name", "iqn.h3"},
          {"password", "*"}, {"user-name", "iqn.h3"}}},
        {"no secret", [=](CFiler& f) { f.fapi_iscsi_initiator_add_auth(u"none", u"iqn.h4", none, u"", none, u""); },
         "iscsi-initiator-add-auth", {{"auth-type", "none"}, {"initiator", "iqn.h4"}}},
        {"delete auth", [](CFiler& f) { f.fapi_iscsi_initiator_delete_auth(u"iqn.h3"); }, "iscsi-initiator-delete-auth",
         {{"initiator", "iqn.h3"}}},
        {"default auth", [](CFiler& f) { std::u16string a, o, u; f.fapi_iscsi_initiator_get_default_auth(a, o, u); },
         "iscsi-initiator-get-default-auth", {}},
        {"set default auth", [=](CFiler& f) { f.fapi_iscsi_initiator_set_default_auth(u"CHAP", none, u"", secret, u"dflt"); },
         "iscsi-initiator-add-auth", {{"auth-type", "CHAP"}, {"password", "*"}, {"user-name", "dflt"}}},

        {"LUN reservation", [](CFiler& f) { bool b; f.fapi_lun_get_space_reservation_info(kLun, b); },
         "lun-get-space-reservation-info", {{"path", "/vol/vol1/q1/lun0"}}},
        {"set LUN reservation", [](CFiler& f) { f.fapi_lun_set_space_reservation_info(kLun, false); },
         "lun-set-space-reservation-info", {{"path", "/vol/vol1/q1/lun0"}, {"enable", "false"}}},
        {"file reservation", [](CFiler& f) { bool o, l; f.fapi_file_get_space_reservation_info(u"/vol/vol1/f", o, l); },
         "file-get-space-reservation-info", {{"path", "/vol/vol1/f"}}},
        {"set file reservation", [](CFiler& f) { f.fapi_file_set_space_reservation_info(u"/vol/vol1/f", true, false); },
         "file-set-space-reservation-info",
         {{"path", "/vol/vol1/f"}, {"is-overwrite-enabled", "true"}, {"is-fill-enabled", "false"}}},
        {"attribute", [](CFiler& f) { std::u16string v; f.fapi_lun_get_attribute(kLun, u"owner", v); }, "lun-get-attribute",
         {{"path", "/vol/vol1/q1/lun0"}, {"name", "owner"}}},
        {"set attribute", [](CFiler& f) { f.fapi_lun_set_attribute(kLun, u"owner", u"sql02"); }, "lun-set-attribute",
         {{"path", "/vol/vol1/q1/lun0"}, {"name", "owner"}, {"value", "sql02"}}},
        {"raw read", [](CFiler& f) { char b[512]; f.fapi_lun_read_raw(kLun, 0, 512, b); }, "lun-read-raw",
         {{"path", "/vol/vol1/q1/lun0"}, {"offset", "0"}, {"length", "512"}}},
        {"raw write", [](CFiler& f) { f.fapi_lun_write_raw(kLun, 4096, 4, "abcd"); }, "lun-write-raw",
         {{"path", "/vol/vol1/q1/lun0"}, {"offset", "4096"}, {"length", "4"}, {"encoded-data", "YWJjZA=="}}},
        {"restore status", [](CFiler& f) { bool b; f.fapi_lun_restore_status(kLun, b); }, "lun-restore-status",
         {{"path", "/vol/vol1/q1/lun0"}}},
        {"split status", [](CFiler& f) { std::vector<fapi_lun_clone_status_info_t> s; f.fapi_lun_clone_split_status_list_info(kLun, s); },
         "lun-clone-split-status-list-info", {{"path", "/vol/vol1/q1/lun0"}}},
        {"clone status, all", [](CFiler& f) { std::vector<fapi_lun_clone_status_info_t> s; f.fapi_lun_clone_status_list_info(nullptr, s); },
         "lun-clone-status-list-info", {}},
        {"snap usage", [](CFiler& f) { std::vector<fapi_lun_snap_usage_info_t> u; f.fapi_lun_snap_usage_list_info(u"vol1", u"nightly.0", u); },
         "lun-snap-usage-list-info", {{"volume", "vol1"}, {"snapshot", "nightly.0"}}},
        {"logged in", [](CFiler& f) { f.fapi_lun_initiator_logged_in(u"iqn.h2"); }, "lun-initiator-logged-in",
         {{"initiator", "iqn.h2"}}},
        {"port reservations", [](CFiler& f) { f.fapi_is_port_has_scsi_reservations(kLun, u"21:00:00:e0:8b:05:05:04"); },
         "lun-port-has-scsi-reservations", {{"path", "/vol/vol1/q1/lun0"}, {"portname", "21:00:00:e0:8b:05:05:04"}}},
        {"LUN reservations", [](CFiler& f) { dynamic_cast<CFilerImpl&>(f).fapi_is_lun_has_reservations(kLun); },
         "lun-has-scsi-reservations", {{"path", "/vol/vol1/q1/lun0"}}},
        {"inquiry", [](CFiler& f) { std::u16string v, p, r; f.fapi_lun_get_inquiry_info(u"ig1", v, p, r); }, "lun-get-inquiry-info",
         {{"initiator-group-name", "ig1"}}},

        {"snapshot space", [](CFiler& f) { f.fapi_snapshot_volume_info(u"vol1"); }, "snapshot-volume-info", {{"volume", "vol1"}}},
        {"snapshots", [](CFiler& f) { std::vector<fapi_snapshot_info_t> s; f.fapi_snapshot_list_info(u"vol1", false, s); },
         "snapshot-list-info", {{"volume", "vol1"}, {"terse", "false"}}},
        {"terse snapshots", [](CFiler& f) { std::vector<fapi_snapshot_info_t> s; f.fapi_snapshot_list_info(u"vol1", true, s); },
         "snapshot-list-info", {{"volume", "vol1"}, {"terse", "true"}}},
        {"create snapshot", [](CFiler& f) { f.fapi_snapshot_create(u"vol1", u"s1", true); }, "snapshot-create",
         {{"volume", "vol1"}, {"snapshot", "s1"}, {"async", "true"}}},
        {"rename snapshot", [](CFiler& f) { f.fapi_snapshot_rename(u"vol1", u"s1", u"s2"); }, "snapshot-rename",
         {{"volume", "vol1"}, {"current-name", "s1"}, {"new-name", "s2"}}},
        {"delete snapshot", [](CFiler& f) { owned_ptr<fapi_error_t> e; f.fapi_snapshot_delete(u"vol1", u"s2", std::addressof(e)); },
         "snapshot-delete", {{"volume", "vol1"}, {"snapshot", "s2"}}},
        {"schedule", [](CFiler& f) { fapi_snapshot_schedule_t s; f.fapi_snapshot_get_schedule(u"vol1", s); }, "snapshot-get-schedule",
         {{"volume", "vol1"}}},
        {"set schedule", [](CFiler& f) { f.fapi_snapshot_set_schedule(u"vol1", {0, 2, 6, 0, u"8,12,16", u"15"}); },
         "snapshot-set-schedule",
         {{"volume", "vol1"}, {"weeks", "0"}, {"days", "2"}, {"hours", "6"}, {"minutes", "0"}, {"which-hours", "8,12,16"},
          {"which-minutes", "15"}}},
        {"set schedule, no lists", [](CFiler& f) { f.fapi_snapshot_set_schedule(u"vol1", {1, 0, 0, 0, u"", u""}); },
         "snapshot-set-schedule", {{"volume", "vol1"}, {"weeks", "1"}, {"days", "0"}, {"hours", "0"}, {"minutes", "0"}}},
        {"restore file", [](CFiler& f) { f.fapi_snapshot_restore_file(kLun, u"nightly.0", nullptr); }, "snapshot-restore-file",
         {{"path", "/vol/vol1/q1/lun0"}, {"snapshot", "nightly.0"}}},
        {"restore file elsewhere", [](CFiler& f) { f.fapi_snapshot_restore_file(kLun, u"nightly.0", u"/vol/vol1/q1/copy"); },
         "snapshot-restore-file", {{"path", "/vol/vol1/q1/lun0"}, {"snapshot", "nightly.0"}, {"restore-path", "/vol/vol1/q1/copy"}}},
        {"delta to now", [](CFiler& f) { f.fapi_snapshot_delta_info(u"vol1", u"nightly.0", u""); }, "snapshot-delta-info",
         {{"snapshot1", "nightly.0"}, {"volume", "vol1"}}},
        {"delta between", [](CFiler& f) { f.fapi_snapshot_delta_info(u"vol1", u"nightly.0", u"hourly.0"); }, "snapshot-delta-info",
         {{"snapshot1", "nightly.0"}, {"snapshot2", "hourly.0"}, {"volume", "vol1"}}},
        {"reclaimable", [](CFiler& f) { f.fapi_snapshot_reclaimable_info(u"vol1", u"hourly.0"); }, "snapshot-reclaimable-info",
         {{"volume", "vol1"}, {"snapshots", "snapshot-name=hourly.0"}}},

        {"container", [](CFiler& f) { std::u16string a; f.is_trell_volume(u"vol1", a); }, "volume-container", {{"volume", "vol1"}}},
        {"auto delete", [](CFiler& f) { std::u16string s, d, p; f.get_snapshot_auto_delete_settings(u"vol1", s, d, p); },
         "snapshot-autodelete-list-info", {{"volume", "vol1"}}},
        {"clone children", [](CFiler& f) { f.snapshot_already_trell_clone(u"vol1", u"clone"); }, "volume-list-info",
         {{"volume", "vol1"}}},
    };
}

TEST(RequestVocabulary, EachOperationSendsOneRequestWithItsChildrenInOrder) {
    const e2e::Appliance sim({"--release", "Zarvo Release 7.2.4: Thu Feb 12"});
    auto filer = create_for(sim);
    ASSERT_TRUE(dynamic_cast<CVintrel*>(filer.get()));
    for (const auto& c : cases()) {
        SCOPED_TRACE(c.what);
        const size_t before = request_count(sim);
        try {
            c.call(*filer);
        } catch (const _com_error&) {
            // The request is what is checked here; replies are checked elsewhere.
        }
        ASSERT_EQ(request_count(sim), before + 1);
        const xml_node request = request_element(last_body(sim));
        EXPECT_EQ(request.name, c.request);
        children sent;
        for (const auto& child : request.children) sent.emplace_back(child.name, rendered(child));
        ASSERT_EQ(sent.size(), c.expected.size());
        for (size_t i = 0; i < sent.size(); ++i) {
            EXPECT_EQ(sent[i].first, c.expected[i].first);
            if (c.expected[i].second != "*") {
                EXPECT_EQ(sent[i].second, c.expected[i].second) << sent[i].first;
            }
        }
    }
}

}  // namespace
