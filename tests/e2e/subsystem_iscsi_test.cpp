// An iSCSI subsystem against the simulated appliance: its target, portal
// groups and portals as discovery reads them, and the changes the container
// makes to them.
#include "subsystem_support.h"

#include <model/async.h>
#include <model/filer_object_container.h>
#include <model/iscsi_portal.h>
#include <model/iscsi_portal_group.h>
#include <model/iscsi_target.h>
#include <model/zarvo_san.h>

#include <hostlib/conversions.h>
#include <platform/comalloc.h>
#include <platform/text.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>

using namespace subsystem_e2e;
namespace code = notification_code;

namespace {

const std::string kLocalInitiator = "iqn.1991-05.com.microsoft:host2.example.com";

class IscsiSubsystem : public ::testing::Test {
protected:
    void SetUp() override {
        root_.write_initiator_name(kLocalInitiator);
        sim_.set(R"({"cluster/enabled": false})");
    }
    HRESULT start() {
        san_ = std::make_unique<ZarvoSan>();
        san_->SetNotifier(&notifier_);
        return san_->Initialize(record_for(sim_.address(), FILER_TYPE_ISCSI), FILER_TYPE_ISCSI, false);
    }
    FilerObjectContainer& current() { return *san_->GetContainer(); }
    ZarvoIscsiTarget& target() { return *current().m_targetMap.begin()->second; }
    GUID id(const std::string& key) { return id_of_key(*san_, key); }
    ZarvoIscsiPortal& portal(const std::string& name) { return *current().m_portalMap.at(id(name)); }
    ZarvoIscsiPortalGroup& group(const std::string& name) { return *current().m_portalGroupMap.at(id(name)); }
    // Waits for the queued work of a completion object and releases it.
    HRESULT wait(ZarvoAsync* async, GUID* objectId = nullptr) {
        HRESULT result = E_FAIL;
        GUID ignored{};
        EXPECT_EQ(async->Wait(&result, objectId ? objectId : &ignored), S_OK);
        async->Release();
        return result;
    }
    std::string group_of_interface(const std::string& name) {
        const auto s = state(sim_);
        for (const auto& g : s["iscsi"]["tpgroups"])
            for (const auto& i : g["interfaces"])
                if (i == name) return g["name"];
        return "";
    }

    TestRoot root_;
    e2e::Appliance sim_;
    RecordingNotifier notifier_;
    std::unique_ptr<ZarvoSan> san_;
};

TEST_F(IscsiSubsystem, DiscoveryBuildsTheTargetItsPortalGroupsAndPortals) {
    ASSERT_EQ(start(), S_OK);
    ASSERT_EQ(current().m_targetMap.size(), 1u);
    ZarvoIscsiTarget& t = target();
    EXPECT_TRUE(IsEqualGUID(t.GetId(), id(sim_.address())));
    EXPECT_EQ(t.m_strNodeName, u"iqn.1992-08.com.korvex:sn.3003470");
    EXPECT_EQ(t.m_strAlias, u"zarvo-a");
    EXPECT_EQ(t.m_strLocalInitiatorName, wide(kLocalInitiator));
    // Registered with the host's initiator.
    EXPECT_EQ(root_.static_targets(), std::vector<std::string>{"iqn.1992-08.com.korvex:sn.3003470"});

    EXPECT_EQ(current().m_portalGroupMap.size(), 3u);
    EXPECT_EQ(group("tpg_app").GetTag(), 1);
    std::vector<GUID> groups;
    EXPECT_EQ(current().QueryPortalGroups(t.GetId(), groups), S_OK);
    EXPECT_EQ(groups, (std::vector<GUID>{id("e0a_default"), id("e0c_default"), id("tpg_app")}));

    ZarvoIscsiPortal& e0b = portal("e0b");
    EXPECT_TRUE(IsEqualGUID(e0b.m_portalGroupId, id("tpg_app")));
    EXPECT_EQ(e0b.m_status, VDS_IPS_ONLINE);
    VDS_ISCSI_PORTAL_PROP properties{};
    ASSERT_EQ(current().GetPortalProperties(id("e0b"), properties), S_OK);
    EXPECT_EQ(std::u16string(properties.address.wszTextAddress), u"10.10.2.10");
    EXPECT_EQ(properties.address.ulPort, 3260u);
    std::vector<GUID> portals;
    EXPECT_EQ(current().QueryAssociatedPortals(id("tpg_app"), portals), S_OK);
    EXPECT_EQ(portals, std::vector<GUID>{id("e0b")});

    // The host's own session only.
    std::vector<std::u16string> initiators;
    EXPECT_EQ(t.QueryCurrentInitiators(initiators), S_OK);
    EXPECT_EQ(initiators, std::vector<std::u16string>{wide(kLocalInitiator)});
}

TEST_F(IscsiSubsystem, AnInterfaceWithoutGroupGivesAPortalWithTheNilGroupAndStatusOffline) {
    // The appliance lists the portal of its disabled interface e0c, which is in no group.
    sim_.set(R"({"quirks/list-every-portal": true, "iscsi/tpgroups/e0c_default/interfaces": []})");
    ASSERT_EQ(start(), S_OK);
    EXPECT_EQ(portal("e0c").m_status, VDS_IPS_OFFLINE);
    std::vector<GUID> groupIds;
    EXPECT_EQ(current().QueryAssociatedPortalGroups(id("e0c"), groupIds), S_OK);
    EXPECT_EQ(groupIds, std::vector<GUID>{GUID_NULL});
}

TEST_F(IscsiSubsystem, PortalGroupCreationGetsTheNextFreeTagAndAnnouncesTheGroup) {
    ASSERT_EQ(start(), S_OK);
    for (HRESULT expected : {S_OK, VDS_S_ISCSI_PORTAL_GROUP_EXISTS}) {
        ZarvoAsync* async = nullptr;
        ASSERT_EQ(san_->CreatePortalGroup(target().GetId(), &async), S_OK);
        notifier_.clear();
        GUID created{};
        EXPECT_EQ(wait(async, &created), expected);
        EXPECT_TRUE(IsEqualGUID(created, id("VDSTPG")));
        EXPECT_EQ(notifier_.batches(),
                  (std::vector<std::vector<Delivered>>{{{code::PortalGroupArrive, id("VDSTPG")}}}));
    }
    EXPECT_EQ(group("VDSTPG").GetTag(), 2) << "tag 1 is taken by tpg_app";
    const auto groups = state(sim_)["iscsi"]["tpgroups"];
    EXPECT_EQ(std::count_if(groups.begin(), groups.end(), [](const auto& g) { return g["name"] == "VDSTPG"; }), 1);
}

TEST_F(IscsiSubsystem, APortalMovesBetweenGroupsAndBack) {
    ASSERT_EQ(start(), S_OK);
    clear_requests(sim_);
    ZarvoAsync* async = nullptr;
    ASSERT_EQ(san_->AddPortal(id("e0a"), id("tpg_app"), &async), S_OK);
    EXPECT_EQ(wait(async), VDS_S_ISCSI_PORTAL_GROUP_EXISTS);
    EXPECT_EQ(group_of_interface("e0a"), "tpg_app");
    EXPECT_TRUE(IsEqualGUID(portal("e0a").m_portalGroupId, id("tpg_app")));
    std::vector<GUID> portals;
    current().QueryAssociatedPortals(id("tpg_app"), portals);
    EXPECT_EQ(portals.size(), 2u);

    // Already in the group: no request, the work is still queued.
    clear_requests(sim_);
    ASSERT_EQ(san_->AddPortal(id("e0a"), id("tpg_app"), &async), S_OK);
    EXPECT_EQ(wait(async), VDS_S_ISCSI_PORTAL_GROUP_EXISTS);
    EXPECT_TRUE(requests(sim_).empty());

    ASSERT_EQ(san_->RemovePortal(id("e0a"), id("tpg_app"), &async), S_OK);
    EXPECT_EQ(wait(async), S_OK);
    EXPECT_EQ(group_of_interface("e0a"), "e0a_default");
    current().QueryAssociatedPortals(id("tpg_app"), portals);
    EXPECT_EQ(portals, std::vector<GUID>{id("e0b")});

    // The appliance's own group of an interface cannot be left: nothing changes.
    async = nullptr;
    EXPECT_TRUE(FAILED(san_->RemovePortal(id("e0b"), id("e0a_default"), &async)) ||
                group_of_interface("e0b") == "tpg_app");
    if (async) wait(async);
    EXPECT_EQ(group_of_interface("e0b"), "tpg_app");

    const struct {
        const char* what;
        GUID portal, group;
        HRESULT add, remove;
    } refused[] = {
        {"nil portal", GUID_NULL, id("tpg_app"), VDS_E_OBJECT_NOT_FOUND, E_INVALIDARG},
        {"unknown group", id("e0a"), id("no-such-group"), VDS_E_OBJECT_NOT_FOUND, VDS_E_OBJECT_NOT_FOUND},
    };
    for (const auto& r : refused) {
        async = nullptr;
        EXPECT_EQ(san_->AddPortal(r.portal, r.group, &async), r.add) << r.what;
        EXPECT_EQ(san_->RemovePortal(r.portal, r.group, &async), r.remove) << r.what;
        EXPECT_EQ(async, nullptr) << r.what;
    }
}

// An interface is in one group at a time: the group it left no longer lists
// its portal, so moving it back asks the appliance again.
TEST_F(IscsiSubsystem, APortalIsInTheGroupTheApplianceSaysAndMovingItBackSendsItsRequest) {
    sim_.set(R"({"iscsi/tpgroups": [
        {"name": "e0a_default", "tag": 1000, "interfaces": ["e0a"], "user-defined": false},
        {"name": "tpg_app", "tag": 1, "interfaces": ["e0b"], "user-defined": true},
        {"name": "tpg_two", "tag": 2, "interfaces": [], "user-defined": true},
        {"name": "e0c_default", "tag": 1002, "interfaces": ["e0c"], "user-defined": false}]})");
    ASSERT_EQ(start(), S_OK);
    const auto portals_of = [&](const std::string& group) {
        std::vector<GUID> portals;
        current().QueryAssociatedPortals(id(group), portals);
        return portals;
    };
    for (const char* to : {"tpg_two", "tpg_app", "tpg_two"}) {
        clear_requests(sim_);
        ZarvoAsync* async = nullptr;
        ASSERT_EQ(san_->AddPortal(id("e0b"), id(to), &async), S_OK) << to;
        EXPECT_EQ(wait(async), VDS_S_ISCSI_PORTAL_GROUP_EXISTS) << to;
        EXPECT_EQ(requests(sim_), std::vector<std::string>{"iscsi-tpgroup-interface-add"}) << to;
        EXPECT_EQ(group_of_interface("e0b"), to);
        const std::string from = std::string(to) == "tpg_two" ? "tpg_app" : "tpg_two";
        EXPECT_EQ(portals_of(to), std::vector<GUID>{id("e0b")}) << to;
        EXPECT_TRUE(portals_of(from).empty()) << to;
    }
}

TEST_F(IscsiSubsystem, AliasIsSetAndClearedOnTheAppliance) {
    ASSERT_EQ(start(), S_OK);
    const GUID t = target().GetId();
    ASSERT_EQ(current().SetTargetName(t, u"new-alias"), S_OK);
    EXPECT_EQ(state(sim_)["iscsi"]["alias"], "new-alias");
    ASSERT_EQ(current().SetTargetName(t, u""), S_OK);
    EXPECT_EQ(requests(sim_).back(), "iscsi-target-alias-clear-alias");
    EXPECT_EQ(target().m_strAlias, u"");
}

TEST_F(IscsiSubsystem, ChapSecretsReachTheApplianceAndNeverTheTraceOrEventLog) {
    ASSERT_EQ(start(), S_OK);
    const GUID t = target().GetId();
    std::string secret = "chap-secret-0123";
    VDS_ISCSI_SHARED_SECRET shared{reinterpret_cast<UCHAR*>(secret.data()), static_cast<ULONG>(secret.size())};
    ASSERT_EQ(current().SetTargetSharedSecret(t, &shared, u"iqn.1998-01.com.example:other"), S_OK);
    ASSERT_EQ(current().SetTargetSharedSecret(t, &shared, u""), S_OK);  // the host's own initiator
    const auto after = state(sim_);
    std::string stored;
    for (const auto& entry : after["iscsi"]["auth"])
        if (entry["initiator"] == "iqn.1998-01.com.example:other") stored = entry["password-hex"];
    EXPECT_EQ(stored, "636861702d7365637265742d30313233");
    bool own = false;
    for (const auto& entry : after["iscsi"]["auth"]) own = own || entry["initiator"] == kLocalInitiator;
    EXPECT_TRUE(own);

    VDS_ISCSI_SHARED_SECRET empty{nullptr, 0};
    ASSERT_EQ(current().SetTargetSharedSecret(t, &empty, u"iqn.1998-01.com.example:other"), S_OK);
    EXPECT_EQ(requests(sim_).back(), "iscsi-initiator-delete-auth");
    EXPECT_EQ(static_cast<uint32_t>(current().SetInitiatorSharedSecret(t, &shared, u"iqn.1998-01.com.example:other")),
              0x80042705u);

    // A refused request puts its text in the event log: still without the secret.
    sim_.fault(R"({"kind": "errno", "errno": 13065, "reason": "refused", "request": "iscsi-initiator-add-auth"})");
    EXPECT_TRUE(FAILED(current().SetTargetSharedSecret(t, &shared, u"iqn.1998-01.com.example:other")));
    for (const Event& e : events(root_))
        for (const std::string& insert : e.inserts) EXPECT_EQ(insert.find(secret), std::string::npos) << insert;
}

TEST_F(IscsiSubsystem, ConnectedInitiatorsAreCopiedOutAfterTheirWait) {
    ASSERT_EQ(start(), S_OK);
    WCHAR** names = nullptr;
    LONG count = -1;
    ASSERT_EQ(current().GetConnectedInitiators(target().GetId(), &names, &count), S_OK);
    ASSERT_EQ(count, 1);
    EXPECT_EQ(std::u16string(names[0]), wide(kLocalInitiator));
    CoTaskMemFree(names[0]);
    CoTaskMemFree(names);

    sim_.set(R"({"iscsi/sessions": []})");
    names = nullptr;
    ASSERT_EQ(current().GetConnectedInitiators(target().GetId(), &names, &count), S_OK);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(names, nullptr);
    EXPECT_EQ(current().GetConnectedInitiators(id("no-such-target"), &names, &count), VDS_E_OBJECT_NOT_FOUND);
}

TEST_F(IscsiSubsystem, SecondRefreshAnnouncesPortalGroupAndTargetChanges) {
    ASSERT_EQ(start(), S_OK);
    notifier_.clear();
    auto s = state(sim_);
    s["iscsi"]["alias"] = "renamed";
    auto& groups = s["iscsi"]["tpgroups"];
    groups.push_back({{"name", "tpg_new"}, {"tag", 7}, {"interfaces", nlohmann::ordered_json::array()},
                      {"user-defined", true}});
    for (auto& g : groups)
        if (g["name"] == "tpg_app") g["tag"] = 5;
    load_state(sim_, s);
    ASSERT_EQ(san_->RefreshSubSystem(), S_OK);
    const auto batches = notifier_.batches();
    ASSERT_EQ(batches.size(), 1u);
    std::set<std::pair<NotificationType, std::string>> announced;
    for (const Delivered& d : batches.front()) announced.insert({d.type, GuidToString(d.id)});
    EXPECT_EQ(announced, (std::set<std::pair<NotificationType, std::string>>{
                             {code::TargetModify, GuidToString(id(sim_.address()))},
                             {code::PortalGroupArrive, GuidToString(id("tpg_new"))},
                             {code::PortalGroupModify, GuidToString(id("tpg_app"))},
                         }));
}

TEST(IscsiDiscoveryLibrary, AMissingLibraryOrEntryLeavesTheSubsystemWithoutTargetAndReportsIt) {
    const struct {
        const char* what;
        std::string library;
        uint32_t event;
    } cases[] = {
        {"library not found", "/nonexistent/libsanprov_iscsidsc.so", 0xC0000BCB},
        {"entry point not found", "libc.so.6", 0xC0000BCC},  // loads, but has no discovery entry
    };
    for (const auto& c : cases) {
        TestRoot root;
        ::setenv("SANPROV_LIB_ISCSIDSC", c.library.c_str(), 1);
        e2e::Appliance sim;
        sim.set(R"({"cluster/enabled": false})");
        ZarvoSan san;
        EXPECT_TRUE(FAILED(san.Initialize(record_for(sim.address(), FILER_TYPE_ISCSI), FILER_TYPE_ISCSI, false)))
            << c.what;
        const auto all = events(root);
        EXPECT_TRUE(std::any_of(all.begin(), all.end(), [&](const Event& e) { return e.id == c.event; })) << c.what;
        EXPECT_TRUE(std::any_of(all.begin(), all.end(), [](const Event& e) { return e.id == 0xC0000BC4u; }))
            << c.what;
    }
}

}  // namespace

namespace {

TEST_F(IscsiSubsystem, ConnectedInitiatorsOutOfMemoryReportNoneAndKeepNothing) {
    ASSERT_EQ(start(), S_OK);
    // The array, then the one name: each allocation failing in turn.
    for (int pass : {0, 1}) {
        WCHAR** names = nullptr;
        LONG count = -1;
        platform::fail_task_allocations(pass, 1);
        EXPECT_EQ(current().GetConnectedInitiators(target().GetId(), &names, &count), E_OUTOFMEMORY) << pass;
        platform::fail_task_allocations(0, 0);
        EXPECT_EQ(count, 0) << pass;
        EXPECT_EQ(names, nullptr) << pass;
    }
}

}  // namespace
