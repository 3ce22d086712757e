// The iSCSI operations against the simulated appliance: the records read from
// its replies, what it keeps of a CHAP secret, and the failures and refusals.
#include <gtest/gtest.h>

#include <filer/filer_classes.h>

#include "fapi_test_support.h"
#include "filer_sim_support.h"

namespace {

using namespace filer_e2e;

std::string hex_of(const std::vector<BYTE>& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (BYTE b : bytes) hex += {digits[b >> 4], digits[b & 15]};
    return hex;
}

TEST(IscsiOperations, ListsAreReadIntoRecordsAndAppended) {
    const e2e::Appliance sim({"--release", "Zarvo Release 7.1: Tue Feb 7"});
    auto filer = create_for(sim);

    std::vector<fapi_iscsi_tpgroup_info_t> groups(1);  // an entry the caller already had
    filer->fapi_iscsi_tpgroup_list_info(0, groups);
    ASSERT_EQ(groups.size(), 4u);
    EXPECT_EQ(groups[1].tpgroup_name, u"e0a_default");
    EXPECT_EQ(groups[1].tpgroup_tag, 1000);
    EXPECT_EQ(groups[1].interfaces, std::vector<std::u16string>{u"e0a"});
    EXPECT_EQ(groups[2].tpgroup_name, u"tpg_app");
    EXPECT_EQ(groups[2].tpgroup_tag, 1);

    std::vector<fapi_iscsi_interface_info_t> interfaces;
    filer->fapi_iscsi_interface_list_info(u"", interfaces);
    ASSERT_EQ(interfaces.size(), 3u);
    EXPECT_TRUE(interfaces[0].is_interface_enabled);
    EXPECT_EQ(interfaces[1].tpgroup_name, u"tpg_app");
    EXPECT_EQ(interfaces[1].tpgroup_tag, 1);
    EXPECT_FALSE(interfaces[2].is_interface_enabled);

    std::vector<fapi_iscsi_portal_info_t> portals;
    filer->fapi_iscsi_portal_list_info(portals);
    ASSERT_EQ(portals.size(), 2u);  // the disabled interface has no portal
    EXPECT_EQ(portals[0].interface_name, u"e0a");
    EXPECT_EQ(portals[0].ip_address, u"10.10.1.10");
    EXPECT_EQ(portals[0].ip_port, 3260);
    EXPECT_EQ(portals[0].tpgroup_tag, 1000);

    std::vector<fapi_iscsi_initiator_info_t> initiators;
    filer->fapi_iscsi_initiator_list_info(initiators);
    ASSERT_EQ(initiators.size(), 1u);
    EXPECT_EQ(initiators[0].initiator_aliasname, u"host2");
    EXPECT_EQ(initiators[0].initiator_nodename, u"iqn.1991-05.com.microsoft:host2.example.com");
    EXPECT_EQ(initiators[0].isid, u"40:00:01:37:00:00");
    EXPECT_EQ(initiators[0].target_session_id, 12);
    EXPECT_EQ(initiators[0].tpgroup_tag, 1000);
}

TEST(IscsiOperations, NodeAliasGroupsAndServiceStatus) {
    const e2e::Appliance sim({"--release", "Zarvo Release 7.2.4:"});
    auto filer = create_for(sim);

    std::string node = "stale";
    filer->fapi_iscsi_node_get_name(node);
    EXPECT_EQ(node, "iqn.1992-08.com.korvex:sn.3003470");
    filer->fapi_iscsi_node_set_name(u"iqn.1992-08.com.korvex:sn.42");
    filer->fapi_iscsi_node_get_name(node);
    EXPECT_EQ(node, "iqn.1992-08.com.korvex:sn.42");

    std::u16string alias;
    filer->fapi_iscsi_target_alias_set_alias(u"zarvo-renamed");
    filer->fapi_iscsi_target_alias_get_alias(alias);
    EXPECT_EQ(alias, u"zarvo-renamed");
    filer->fapi_iscsi_target_alias_clear_alias();
    filer->fapi_iscsi_target_alias_get_alias(alias);
    EXPECT_EQ(alias, u"");

    // A tag of 0 lets the appliance choose, and the holder learns it.
    uint32_t tag = 0;
    filer->fapi_iscsi_tpgroup_create(u"tpg_new", &tag);
    EXPECT_EQ(tag, 2u);
    filer->fapi_iscsi_tpgroup_interface_add(u"e0a", tag);
    std::vector<fapi_iscsi_tpgroup_info_t> group;
    filer->fapi_iscsi_tpgroup_list_info(tag, group);
    ASSERT_EQ(group.size(), 1u);
    EXPECT_EQ(group[0].interfaces, std::vector<std::u16string>{u"e0a"});
    filer->fapi_iscsi_tpgroup_interface_delete(u"e0a", tag);
    filer->fapi_iscsi_tpgroup_destroy(tag);

    EXPECT_TRUE(filer->fapi_iscsi_service_status());
    sim.set(R"({"iscsi/service-available": false})");
    EXPECT_FALSE(filer->fapi_iscsi_service_status());
}

// A secret is sent as its first 500 bytes, every zero byte among them included.
TEST(IscsiOperations, ASecretArrivesAsItsFirst500BytesZeroBytesIncluded) {
    const e2e::Appliance sim({"--release", "Zarvo Release 7.1:"});
    auto filer = create_for(sim);
    std::vector<BYTE> secret(600);
    for (size_t i = 0; i < secret.size(); ++i) secret[i] = static_cast<BYTE>(i % 7 == 3 ? 0 : 'a' + i % 26);
    const std::vector<BYTE> outbound = {'o', 'u', 't', 0, 0, 'x'};

    filer->fapi_iscsi_initiator_add_auth(u"CHAP", u"iqn.h3", outbound, u"iqn.h3-out", secret, u"iqn.h3");
    const std::string entry = R"(next(a for a in d["iscsi"]["auth"] if a["initiator"] == "iqn.h3"))";
    EXPECT_EQ(state_query(sim, entry + R"(["password-hex"])"),
              hex_of(std::vector<BYTE>(secret.begin(), secret.begin() + 500)));
    EXPECT_EQ(state_query(sim, entry + R"(["outbound-password-hex"])"), hex_of(outbound));
    EXPECT_EQ(state_query(sim, entry + R"(["outbound-user-name"])"), "iqn.h3-out");

    const std::vector<BYTE> twelve = {'d', 'e', 'f', 'a', 'u', 'l', 't', 0, 's', 'e', 'c', 'r'};
    filer->fapi_iscsi_initiator_set_default_auth(u"CHAP", {}, u"", twelve, u"dflt");
    EXPECT_EQ(state_query(sim, R"(d["iscsi"]["default-auth"]["password-hex"])"), hex_of(twelve));
    std::u16string type, outbound_user, user;
    filer->fapi_iscsi_initiator_get_default_auth(type, outbound_user, user);
    EXPECT_EQ(type, u"CHAP");
    EXPECT_EQ(outbound_user, u"");
    EXPECT_EQ(user, u"dflt");
}

// Removing a secret that the appliance refuses to remove is not a success.
TEST(IscsiOperations, ARefusedAuthenticationRemovalIsRaised) {
    const e2e::Appliance sim({"--release", "Zarvo Release 7.1:"});
    auto filer = create_for(sim);
    filer->fapi_iscsi_initiator_delete_auth(u"iqn.1991-05.com.microsoft:host2.example.com");
    EXPECT_EQ(state_query(sim, R"(len(d["iscsi"]["auth"]))"), "0");
    expect_com_error(0xC00403B7,
                     u"An attempt to remove authentication from initiator 'iqn.1991-05.com.microsoft:host2.example.com' "
                     u"failed with Error code: 13064. Error description: No authentication is defined for initiator "
                     u"iqn.1991-05.com.microsoft:host2.example.com.\r\n",
                     [&] { filer->fapi_iscsi_initiator_delete_auth(u"iqn.1991-05.com.microsoft:host2.example.com"); });
}

TEST(IscsiOperations, FailedRepliesRaiseTheirOwnMessages) {
    const e2e::Appliance sim({"--release", "Zarvo Release 7.1:"});
    auto filer = create_for(sim);
    const failure_case cases[] = {
        {"iscsi-tpgroup-list-info", 0xC00403A0,
         u"Fapi Query fapi-iscsi-tpgroup-list-info failed with Error code: 13061. Error description: gone.\r\n",
         [&] { std::vector<fapi_iscsi_tpgroup_info_t> g; filer->fapi_iscsi_tpgroup_list_info(0, g); }},
        {"iscsi-node-get-name", 0xC00402E2,
         u"FAPI: An attempt to get iSCSI node name failed on the filer " + wide(sim.address()) + u". Error description: gone\r\n",
         [&] { std::string n; filer->fapi_iscsi_node_get_name(n); }},
        {"iscsi-initiator-add-auth", 0xC00403B4,
         u"An attempt to add authentication to initiator 'iqn.h5' failed with Error code: 13061. Error description: gone.\r\n",
         [&] { filer->fapi_iscsi_initiator_add_auth(u"CHAP", u"iqn.h5", {}, u"", std::vector<BYTE>{'s'}, u"iqn.h5"); }},
        {"iscsi-tpgroup-interface-add", 0xC00403A9,
         u"An attempt to add an interface or portal called 'e0b' to tpgroup name '3' using "
         u"fapi-iscsi-tpgroup-interface-add failed with Error code: 13061. Error description: gone.\r\n",
         [&] { filer->fapi_iscsi_tpgroup_interface_add(u"e0b", 3); }},
        {"iscsi-service-status", 0xC00403BE,
         u"An attempt to retrive the initiator service status failed with Error code: 13061. Error description: gone.\r\n",
         [&] { filer->fapi_iscsi_service_status(); }},
        {"iscsi-portal-list-info", 0xC00403A1,
         u"Fapi Query fapi-iscsi-portal-list-info failed with Error code: 13061. Error description: gone.\r\n",
         [&] { std::vector<fapi_iscsi_portal_info_t> p; filer->fapi_iscsi_portal_list_info(p); }},
        {"iscsi-interface-list-info", 0xC00403A2,
         u"Fapi Query fapi-iscsi-interface-list-info (network interface) failed with Error code: 13061. Error "
         u"description: gone.\r\n",
         [&] { std::vector<fapi_iscsi_interface_info_t> i; filer->fapi_iscsi_interface_list_info(u"", i); }},
        {"iscsi-initiator-list-info", 0xC00403A3,
         u"Fapi Query fapi-iscsi-initiator-list-info failed with Error code: 13061. Error description: gone.\r\n",
         [&] { std::vector<fapi_iscsi_initiator_info_t> i; filer->fapi_iscsi_initiator_list_info(i); }},
        {"iscsi-target-alias-get-alias", 0xC00403A4,
         u"Fapi Query fapi-iscsi-target-alias-get-alias failed with Error code: 13061. Error description: gone.\r\n",
         [&] { std::u16string a; filer->fapi_iscsi_target_alias_get_alias(a); }},
        {"iscsi-target-alias-set-alias", 0xC00403A5,
         u"An attempt to set alias name 'zarvo-x' using fapi-iscsi-target-alias-set-alias failed with Error code: "
         u"13061. Error description: gone.\r\n",
         [&] { filer->fapi_iscsi_target_alias_set_alias(u"zarvo-x"); }},
        {"iscsi-target-alias-clear-alias", 0xC00403C3,
         u"An attempt to clear alias name on target failed with Error code: 13061. Error description: gone.\r\n",
         [&] { filer->fapi_iscsi_target_alias_clear_alias(); }},
        {"iscsi-tpgroup-create", 0xC00403A6,
         u"An attempt to create tpgroup with Tag ID '9' using fapi-iscsi-target-alias-set-alias failed with Error "
         u"code: 13061. Error description: gone.\r\n",
         [&] { uint32_t tag = 9; filer->fapi_iscsi_tpgroup_create(u"tpg9", &tag); }},
        {"iscsi-tpgroup-destroy", 0xC00403A7,
         u"An attempt to destroy tpgroup with Tag ID '9' using fapi-iscsi-tpgroup-destroy failed with Error code: "
         u"13061. Error description: gone.\r\n",
         [&] { filer->fapi_iscsi_tpgroup_destroy(9); }},
        {"iscsi-node-set-name", 0xC00403A8,
         u"An attempt to set target-name with 'iqn.1992-08.com.korvex:sn.7' using fapi-iscsi-node-set_name failed "
         u"with Error code: 13061. Error description: gone.\r\n",
         [&] { filer->fapi_iscsi_node_set_name(u"iqn.1992-08.com.korvex:sn.7"); }},
        {"iscsi-tpgroup-interface-delete", 0xC00403AA,
         u"An attempt to delete an interface or portal called 'e0b' from tpgroup name '3' using "
         u"fapi-iscsi-tpgroup-interface-delete failed with Error code: 13061. Error description: gone.\r\n",
         [&] { filer->fapi_iscsi_tpgroup_interface_delete(u"e0b", 3); }},
        {"iscsi-interface-enable", 0xC00403B2,
         u"An attempt to enable an interface or portal called 'e0c' failed with Error code: 13061. Error description: "
         u"gone.\r\n",
         [&] { filer->fapi_iscsi_interface_enable(u"e0c"); }},
        {"iscsi-interface-disable", 0xC00403B3,
         u"An attempt to disable an interface or portal called 'e0c' failed with Error code: 13061. Error "
         u"description: gone.\r\n",
         [&] { filer->fapi_iscsi_interface_disable(u"e0c"); }},
        {"iscsi-initiator-get-default-auth", 0xC00403B5,
         u"An attempt to get the default authentication using fapi-iscsi-initiator-get-default-auth failed with "
         u"Error code: 13061. Error description: gone.\r\n",
         [&] { std::u16string t, o, u; filer->fapi_iscsi_initiator_get_default_auth(t, o, u); }},
        {"iscsi-initiator-add-auth", 0xC00403B6,
         u"An attempt to set the default authentication using fapi-iscsi-initiator-set-default-auth failed with "
         u"Error code: 13061. Error description: gone.\r\n",
         [&] { filer->fapi_iscsi_initiator_set_default_auth(u"CHAP", {}, u"", std::vector<BYTE>{'s'}, u"dflt"); }},
    };
    expect_failures(sim, cases, "gone");
}

// 7.0.2 up to 7.1 has only the node name and the service status.
TEST(IscsiOperations, TheReleaseBefore7_1RefusesTheTargetRequestsAndSendsNothing) {
    const e2e::Appliance sim({"--release", "Zarvo Release 7.0.3:"});
    auto filer = create_for(sim);
    ASSERT_FALSE(dynamic_cast<CFilerOskarn*>(filer.get()));
    const size_t before = request_count(sim);
    expect_com_error_prefix(0xC00403C4, u"The operation 'fapi_iscsi_initiator_add_auth' is not supported", [&] {
        filer->fapi_iscsi_initiator_add_auth(u"CHAP", u"iqn.h3", {}, u"", std::vector<BYTE>{'s'}, u"iqn.h3");
    });
    expect_com_error_prefix(0xC00403C4, u"The operation 'fapi_iscsi_initiator_delete_auth' is not supported",
                            [&] { filer->fapi_iscsi_initiator_delete_auth(u"iqn.h3"); });
    filer->fapi_iscsi_target_alias_clear_alias();  // only an assertion line
    EXPECT_EQ(request_count(sim), before);
    std::string node;
    filer->fapi_iscsi_node_get_name(node);
    EXPECT_FALSE(node.empty());
}

}  // namespace
