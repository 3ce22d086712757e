// A Fibre Channel subsystem against simulated appliances: its first reading,
// a reading with and without the cluster partner, the changes a second
// refresh announces, the friendly-name file and the end of the subsystem.
#include "subsystem_support.h"

#include <model/controller.h>
#include <model/drive.h>
#include <model/lun.h>
#include <model/volume.h>
#include <model/filer_object_container.h>
#include <model/zarvo_san.h>

#include <hostlib/conversions.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <set>

using namespace subsystem_e2e;
namespace code = notification_code;

namespace {

// The serial number of the default fixture's appliance, as its subsystem id.
const std::string kSerialNumber = "3003470";
const std::vector<std::string> kLunPaths = {"/vol/vol1/q1/lun0", "/vol/vol1/q1/lun1", "/vol/vol2/db_lun",
                                            "/vol/vol_dr/dr_lun", "/vol/ZarvoVolume1/ZarvoQtree1/ZarvoLun1"};

// Each name of `expected` occurs in `actual` in this order (others may come between).
bool in_order(const std::vector<std::string>& actual, const std::vector<std::string>& expected) {
    auto position = actual.begin();
    for (const std::string& name : expected) {
        position = std::find(position, actual.end(), name);
        if (position == actual.end()) return false;
        ++position;
    }
    return true;
}

size_t count_of(const std::vector<std::string>& names, const std::string& name) {
    return static_cast<size_t>(std::count(names.begin(), names.end(), name));
}


std::set<std::u16string> controller_names(FilerObjectContainer& container) {
    std::set<std::u16string> names;
    for (const auto& [id, controller] : container.m_controllerMap) {
        VDS_CONTROLLER_PROP properties{};
        controller->GetProperties(properties);
        names.insert(properties.pwszFriendlyName ? properties.pwszFriendlyName : u"");
    }
    return names;
}

class FcSubsystem : public ::testing::Test {
protected:
    HRESULT start(const e2e::Appliance& sim, int32_t type = FILER_TYPE_FCP) {
        san_ = std::make_unique<ZarvoSan>();
        san_->SetNotifier(&notifier_);
        return san_->Initialize(record_for(sim.address(), type), type, true);
    }
    FilerObjectContainer& current() { return *san_->GetContainer(); }
    GUID subsystem_id() const { return GuidFromBytes(kSerialNumber.data(), kSerialNumber.size()); }

    TestRoot root_;
    RecordingNotifier notifier_;
    std::unique_ptr<ZarvoSan> san_;
};

TEST_F(FcSubsystem, FirstReadingOfAClusteredApplianceBuildsItsObjectsAndAnnouncesOnlyTheSubsystem) {
    e2e::Appliance sim{e2e::Appliance::WithPartner{}};
    ASSERT_NE(sim.partner(), nullptr);
    ASSERT_EQ(start(sim), S_OK);

    EXPECT_EQ(notifier_.batches(), (std::vector<std::vector<Delivered>>{{{code::SubSystemArrive, subsystem_id()}}}));
    const auto local = requests(sim);
    EXPECT_TRUE(in_order(local, {"system-get-info", "system-get-version", "system-get-info", "cf-status",
                                 "aggr-get-root-name", "file-read-file", "disk-list-info", "fcp-adapter-list-info",
                                 "fcp-adapter-initiators-list-info", "lun-list-info"}))
        << testing::PrintToString(local);
    // One reading reads the volume and aggregate lists once for all its LUNs.
    EXPECT_EQ(count_of(local, "volume-list-info"), 1u);
    EXPECT_EQ(count_of(local, "aggr-list-info"), 1u);
    const auto partner = requests(*sim.partner());
    EXPECT_TRUE(in_order(partner, {"system-get-info", "fcp-adapter-initiators-list-info"}))
        << testing::PrintToString(partner);

    FilerObjectContainer& container = current();
    EXPECT_TRUE(IsEqualGUID(san_->GetId(), subsystem_id()));
    EXPECT_EQ(container.m_subSystemProperties.m_strFriendlyName, u"zarvo-a");
    EXPECT_EQ(container.m_subSystemProperties.m_prop.status, VDS_SSS_ONLINE);
    EXPECT_EQ(container.m_partnerName, wide(sim.partner()->address()));
    EXPECT_TRUE(container.m_partnerUp);
    // 0c (local) and 0d (the partner's); the standby 4a and the local standby 4b are left out.
    EXPECT_EQ(controller_names(container), (std::set<std::u16string>{u"0c", u"0d"}));
    EXPECT_EQ(container.m_subSystemProperties.m_prop.sMaxNumberOfControllers, 8);
    for (const auto& [id, controller] : container.m_controllerMap) {
        std::vector<GUID> ports;
        EXPECT_EQ(container.QueryAssociatedPorts(id, ports), S_OK);
        EXPECT_FALSE(ports.empty());
    }
    EXPECT_EQ(container.m_strMaskingList, u"10:00:00:00:c9:6b:3d:1a;21:00:00:e0:8b:12:34:56;21:00:00:e0:8b:05:05:04;"
                                          u"10:00:00:00:c9:6b:3d:1b;21:00:00:e0:8b:05:05:05");

    // 13 disks are the appliance's own (the 14th is its partner's), all on host adapter 0a: bus 1.
    EXPECT_EQ(container.m_driveMap.size(), 13u);
    DriveProperties drive;
    ASSERT_EQ(container.GetDriveProperties(id_of_key(*san_, "21"), drive), S_OK);
    EXPECT_EQ(drive.m_strFriendlyName, u"0a.21");
    EXPECT_EQ(drive.m_sInternalBusNumber, 1);
    EXPECT_EQ(drive.m_sSlotNumber, 5);
    EXPECT_EQ(container.m_subSystemProperties.m_prop.sNumberOfInternalBuses, 1);

}

TEST_F(FcSubsystem, StandaloneApplianceLeavesThePartnersAdapterOutAndAsksNoPartner) {
    e2e::Appliance sim;
    sim.set(R"({"cluster/enabled": false})");
    ASSERT_EQ(start(sim), S_OK);
    FilerObjectContainer& container = current();
    EXPECT_FALSE(container.m_partnerUp);
    EXPECT_EQ(controller_names(container), (std::set<std::u16string>{u"0c"}));
    EXPECT_EQ(container.m_strMaskingList, u"10:00:00:00:c9:6b:3d:1a;21:00:00:e0:8b:12:34:56;21:00:00:e0:8b:05:05:04");
    EXPECT_TRUE(events(root_).empty());
}

TEST_F(FcSubsystem, UnreachablePartnerIsReportedAndItsAdapterLeftOut) {
    e2e::Appliance sim;
    const std::string partner = e2e::Appliance::unused_address();
    sim.set(R"({"cluster/partner": ")" + partner + R"("})");
    ASSERT_EQ(start(sim), S_OK);
    EXPECT_FALSE(current().m_partnerUp);
    EXPECT_EQ(controller_names(current()), (std::set<std::u16string>{u"0c"}));
    const auto all = events(root_);
    ASSERT_FALSE(all.empty());
    EXPECT_EQ(all.front().id, 0xC004250Au);
    EXPECT_EQ(all.front().inserts, (std::vector<std::string>{sim.address(), partner}));
}

TEST_F(FcSubsystem, SecondRefreshAnnouncesExactlyWhatChangedOnTheAppliance) {
    e2e::Appliance sim;
    sim.set(R"({"cluster/enabled": false})");
    ASSERT_EQ(start(sim), S_OK);
    notifier_.clear();
    const GUID port0c = [&] {
        std::vector<GUID> ports;
        for (const auto& [id, controller] : current().m_controllerMap) current().QueryAssociatedPorts(id, ports);
        return ports.empty() ? GUID{} : ports.front();
    }();

    nlohmann::ordered_json s = state(sim);
    auto& luns = s["luns"];
    nlohmann::ordered_json added = luns[2];
    added["path"] = "/vol/vol2/added_lun";
    added["serial-number"] = "added-serial";
    added.erase("maps");
    luns.push_back(added);
    luns.erase(luns.begin() + 3);  // /vol/vol_dr/dr_lun
    luns[0]["size"] = luns[0]["size"].get<int64_t>() * 2;  // /vol/vol1/q1/lun0 grows
    for (auto& disk : s["disks"])
        if (disk["name"] == "0a.27") disk["raid-state"] = "broken";
    for (auto& adapter : s["fcp"]["adapters"])
        if (adapter["adapter"] == "0c") adapter["state"] = "OFFLINE";
    load_state(sim, s);

    ASSERT_EQ(san_->RefreshSubSystem(), S_OK);
    const auto batches = notifier_.batches();
    ASSERT_EQ(batches.size(), 1u);
    const std::set<std::pair<NotificationType, std::string>> announced = [&] {
        std::set<std::pair<NotificationType, std::string>> all;
        for (const Delivered& d : batches.front()) all.insert({d.type, GuidToString(d.id)});
        return all;
    }();
    const std::set<std::pair<NotificationType, std::string>> expected = {
        {code::LunArrive, GuidToString(id_of_key(*san_, "/vol/vol2/added_lun"))},
        {code::LunDepart, GuidToString(id_of_key(*san_, "/vol/vol_dr/dr_lun"))},
        {code::LunModify, GuidToString(id_of_key(*san_, "/vol/vol1/q1/lun0"))},
        {code::DriveModify, GuidToString(id_of_key(*san_, "27"))},
        {code::ControllerDepart, GuidToString(id_of_key(*san_, "0c"))},
        {code::PortDepart, GuidToString(port0c)},
    };
    EXPECT_EQ(announced, expected);
    EXPECT_EQ(batches.front().size(), expected.size());

    notifier_.clear();
    ASSERT_EQ(san_->RefreshSubSystem(), S_OK);
    EXPECT_TRUE(notifier_.batches().empty()) << "a refresh without changes announces nothing";
}

TEST_F(FcSubsystem, TheLunsOfAnAggregateKeepOneRecordOfItWithoutItsVolumeNames) {
    e2e::Appliance sim;
    sim.set(R"({"cluster/enabled": false})");
    ASSERT_EQ(start(sim), S_OK);
    for (int reading = 0; reading < 2; ++reading) {
        if (reading == 1) {
            ASSERT_EQ(san_->RefreshSubSystem(), S_OK);
        }
        FilerObjectContainer& container = current();
        ASSERT_EQ(container.m_aggregateMap.size(), 1u);
        ASSERT_GE(container.m_lunMap.size(), 2u);
        const fapi_aggr_info_t& shared = container.m_lunMap.begin()->second->AggregateRecord();
        for (const auto& [id, lun] : container.m_lunMap) EXPECT_EQ(&lun->AggregateRecord(), &shared) << reading;
        EXPECT_FALSE(shared.name.empty());
        EXPECT_FALSE(shared.plexes.empty());
        EXPECT_TRUE(shared.volumes.empty());
    }
}

TEST_F(FcSubsystem, FriendlyNameRoundTripsThroughTheApplianceFile) {
    e2e::Appliance sim;
    sim.set(R"({"cluster/enabled": false})");
    ASSERT_EQ(start(sim), S_OK);
    const std::u16string name = u"Sub \u00e9 \U0001F600";  // a character outside the BMP: a surrogate pair
    ASSERT_EQ(san_->SetName(name), S_OK);
    const auto files = state(sim)["files"];
    const auto file = std::find_if(files.begin(), files.end(),
                                   [](const auto& f) { return f["path"] == "/vol/vol0/etc/FilerVDSName.vds"; });
    ASSERT_NE(file, files.end());
    EXPECT_EQ((*file)["data"], "0053007500620020" "00E90020" "D83DDE00");

    ASSERT_EQ(san_->RefreshSubSystem(), S_OK);
    EXPECT_EQ(current().m_subSystemProperties.m_strFriendlyName, name);

    ASSERT_EQ(san_->SetName(u""), S_OK);
    ASSERT_EQ(san_->RefreshSubSystem(), S_OK);
    EXPECT_EQ(current().m_subSystemProperties.m_strFriendlyName, u"") << "an empty file is an empty name";
}

TEST_F(FcSubsystem, InactiveSubsystemStopsItsApplianceThreadAndDeparts) {
    e2e::Appliance sim;
    sim.set(R"({"cluster/enabled": false})");
    ASSERT_EQ(start(sim), S_OK);
    notifier_.clear();
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_EQ(san_->SetSANInactive(), S_OK);
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(2));
    EXPECT_FALSE(san_->IsActive());
    EXPECT_EQ(notifier_.batches(), (std::vector<std::vector<Delivered>>{{{code::SubSystemDepart, subsystem_id()}}}));
    notifier_.clear();
    san_.reset();
    EXPECT_TRUE(notifier_.batches().empty()) << "an inactive subsystem departs once";
}

}  // namespace

namespace {

// The events of one id written since `before`.
std::vector<Event> events_since(const TestRoot& root, size_t before, uint32_t id) {
    std::vector<Event> found;
    const auto all = events(root);
    for (size_t i = before; i < all.size(); ++i)
        if (all[i].id == id) found.push_back(all[i]);
    return found;
}

TEST_F(FcSubsystem, ALunWhoseDetailsCannotBeReadStaysAsLastReadAndIsReportedOnce) {
    e2e::Appliance sim;
    sim.set(R"({"cluster/enabled": false})");
    ASSERT_EQ(start(sim), S_OK);
    const GUID kept = id_of_key(*san_, kLunPaths[1]);
    LunProperties before;
    ASSERT_EQ(san_->GetLunProperties(kept, before), S_OK);
    ZarvoLun* lun = nullptr;
    ASSERT_EQ(current().GetLun(kept, lun), S_OK);
    const std::string serial = lun->GetSerialNumber();

    // The second LUN's details fail in this reading: refused, or the connection dropped.
    const char* faults[] = {
        R"({"kind": "errno", "errno": 13001, "reason": "serial number refused", "request": "lun-get-serial-number", "skip": 1})",
        R"({"kind": "drop", "request": "lun-get-serial-number", "skip": 1})",
        R"({"kind": "errno", "errno": 13001, "reason": "no volumes", "request": "volume-list-info"})",
    };
    for (const char* fault : faults) {
        notifier_.clear();
        const size_t eventsBefore = events(root_).size();
        sim.fault(fault);
        ASSERT_EQ(san_->RefreshSubSystem(), S_OK) << fault;
        EXPECT_TRUE(notifier_.batches().empty()) << fault << ": a LUN still listed neither departs nor arrives";
        EXPECT_EQ(current().m_lunMap.size(), kLunPaths.size()) << fault;
        LunProperties after;
        ASSERT_EQ(san_->GetLunProperties(kept, after), S_OK) << fault;
        EXPECT_EQ(after.m_strIdentification, before.m_strIdentification);
        EXPECT_EQ(after.m_strUnmaskingList, before.m_strUnmaskingList);
        EXPECT_EQ(after.m_prop.ullSize, before.m_prop.ullSize);
        ASSERT_EQ(current().GetLun(kept, lun), S_OK);
        EXPECT_EQ(lun->GetSerialNumber(), serial);
        EXPECT_EQ(lun->PlexCount(), 1u);
        // The kept LUN and the LUN that shares its volume both still have it.
        for (const GUID& id : {kept, id_of_key(*san_, kLunPaths[0])}) {
            std::vector<GUID> volumes;
            current().QueryAssociatedVolumes(id, volumes);
            ASSERT_EQ(volumes.size(), 1u) << fault;
            ZarvoVolume* volume = nullptr;
            EXPECT_EQ(current().GetVolume(volumes[0], volume), S_OK) << fault;
        }

        const auto reported = events_since(root_, eventsBefore, 0x8004250C);
        if (std::string(fault).find("volume-list-info") != std::string::npos) {
            EXPECT_EQ(reported.size(), kLunPaths.size()) << "every LUN whose volume could not be read";
        } else {
            ASSERT_EQ(reported.size(), 1u) << fault;
            ASSERT_EQ(reported[0].inserts.size(), 3u);
            EXPECT_EQ(reported[0].inserts[0], sim.address());
            EXPECT_EQ(reported[0].inserts[1], kLunPaths[1]);
            EXPECT_NE(reported[0].inserts[2].find("serial"), std::string::npos) << reported[0].inserts[2];
        }
    }
    // The next clean reading reads it again and finds nothing changed.
    notifier_.clear();
    ASSERT_EQ(san_->RefreshSubSystem(), S_OK);
    EXPECT_TRUE(notifier_.batches().empty());
    EXPECT_EQ(current().m_lunMap.size(), kLunPaths.size());
}

TEST_F(FcSubsystem, AListingThatFailsKeepsThePreviousObjectsAndAnEmptyOneDepartsThem) {
    e2e::Appliance sim;
    sim.set(R"({"cluster/enabled": false})");
    ASSERT_EQ(start(sim), S_OK);
    const size_t drives = current().m_driveMap.size();
    const size_t luns = current().m_lunMap.size();
    ASSERT_EQ(luns, kLunPaths.size());
    struct Case {
        const char* request;
        const char* fault;
        uint32_t event;
    };
    const Case cases[] = {
        {"lun-list-info", R"("kind": "drop")", 0x8004250D},
        {"lun-list-info", R"("kind": "errno", "errno": 13001, "reason": "busy")", 0x8004250D},
        {"disk-list-info", R"("kind": "drop")", 0x8004250E},
        {"disk-list-info", R"("kind": "status", "status": 500)", 0x8004250E},
    };
    for (const Case& c : cases) {
        const std::string what = std::string(c.request) + " / " + c.fault;
        notifier_.clear();
        const size_t eventsBefore = events(root_).size();
        sim.fault(std::string("{") + c.fault + R"(, "request": ")" + c.request + R"("})");
        ASSERT_EQ(san_->RefreshSubSystem(), S_OK) << what;
        EXPECT_TRUE(notifier_.batches().empty()) << what;
        EXPECT_EQ(current().m_driveMap.size(), drives) << what;
        EXPECT_EQ(current().m_lunMap.size(), luns) << what;
        const auto reported = events_since(root_, eventsBefore, c.event);
        ASSERT_EQ(reported.size(), 1u) << what;
        EXPECT_EQ(reported[0].inserts.at(0), sim.address());
    }
    // Kept twice in a row, then read again: nothing changed.
    sim.fault(R"({"kind": "drop", "request": "lun-list-info"})");
    ASSERT_EQ(san_->RefreshSubSystem(), S_OK);
    notifier_.clear();
    ASSERT_EQ(san_->RefreshSubSystem(), S_OK);
    EXPECT_TRUE(notifier_.batches().empty());

    // An appliance that answers with no LUN has none left.
    nlohmann::ordered_json s = state(sim);
    s["luns"] = nlohmann::ordered_json::array();
    load_state(sim, s);
    notifier_.clear();
    ASSERT_EQ(san_->RefreshSubSystem(), S_OK);
    EXPECT_TRUE(current().m_lunMap.empty());
    const auto batches = notifier_.batches();
    ASSERT_EQ(batches.size(), 1u);
    EXPECT_EQ(std::count_if(batches[0].begin(), batches[0].end(),
                            [](const Delivered& d) { return d.type == code::LunDepart; }),
              static_cast<std::ptrdiff_t>(luns));
}

TEST_F(FcSubsystem, APathIsPresentOnlyThroughAControllerOfTheAdaptersName) {
    e2e::Appliance sim;
    sim.set(R"({"cluster/enabled": false})");
    ASSERT_EQ(start(sim), S_OK);
    const BYTE host[8] = {0x10, 0x00, 0x00, 0x00, 0xc9, 0x6b, 0x3d, 0x1a};
    const BYTE stranger[8] = {0x10, 0x00, 0x00, 0x00, 0xc9, 0x6b, 0x3d, 0xff};
    EXPECT_TRUE(current().IsPathPresent(host, "0c"));
    EXPECT_FALSE(current().IsPathPresent(stranger, "0c"));
    EXPECT_FALSE(current().IsPathPresent(host, "9z")) << "no controller of that name";
}

TEST_F(FcSubsystem, DriveValidationTellsWhetherTheDrivesARefreshWouldBuildChanged) {
    e2e::Appliance sim;
    sim.set(R"({"cluster/enabled": false})");
    ASSERT_EQ(start(sim), S_OK);
    const struct {
        const char* what;
        const char* disk;
        const char* raidState;
        bool changed;
    } cases[] = {
        {"nothing changed", nullptr, nullptr, false},
        {"a spare went to the partner", "0a.28", "partner", true},
        {"a spare broke: same drive, other state", "0a.27", "broken", false},
    };
    const auto fixture = state(sim);
    for (const auto& c : cases) {
        auto s = fixture;
        for (auto& disk : s["disks"])
            if (c.disk && disk["name"] == c.disk) disk["raid-state"] = c.raidState;
        load_state(sim, s);
        bool changed = !c.changed;
        EXPECT_EQ(current().ValidateDrives(changed), S_OK) << c.what;
        EXPECT_EQ(changed, c.changed) << c.what;
    }
    sim.fault(R"({"kind": "status", "status": 500, "request": "disk-list-info"})");
    bool changed = true;
    EXPECT_TRUE(FAILED(current().ValidateDrives(changed)));
    EXPECT_FALSE(changed);
}

}  // namespace
