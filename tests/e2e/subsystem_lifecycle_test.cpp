// The start of a subsystem that cannot start, and refreshes that meet a fault
// of the appliance on one of their requests.
#include "subsystem_support.h"

#include <model/filer_object_container.h>
#include <model/zarvo_san.h>

#include <hostlib/conversions.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>

using namespace subsystem_e2e;

namespace {

struct InitializeCase {
    const char* what;
    std::string address;  // empty: the simulator's
    std::string password = e2e::Appliance::kPassword;
    std::string release;  // empty: the fixture's
    int32_t type = FILER_TYPE_FCP;
    uint32_t hr;
    uint32_t event;  // 0: none
    std::vector<std::string> inserts;
};

TEST(SubsystemInitialize, AFailedStartReportsItsEventAndDepartsWithNoAllZeroId) {
    TestRoot root;
    e2e::Appliance sim;
    sim.set(R"({"cluster/enabled": false})");
    const std::string refused = e2e::Appliance::unused_address();
    const InitializeCase cases[] = {
        {"unknown host", "no-such-appliance.invalid", {}, {}, FILER_TYPE_FCP, 0xC0042502, 0xC0042502,
         {"no-such-appliance.invalid"}},
        {"refused port", refused, {}, {}, FILER_TYPE_FCP, 0xC0042502, 0xC0042502, {refused}},
        {"wrong login", "", "wrong", {}, FILER_TYPE_FCP, 0xC0042503, 0xC0042503, {sim.address()}},
        {"release below the Fibre Channel minimum", "", e2e::Appliance::kPassword, "Zarvo Release 7.0.2: Mon Jan 1",
         FILER_TYPE_FCP, 0xC0042504, 0xC0042504, {"zarvo-a", "7.0.2.0"}},
        {"release below the iSCSI minimum", "", e2e::Appliance::kPassword, "Zarvo Release 7.0.3: Mon Jan 1",
         FILER_TYPE_ISCSI, 0xC0042505, 0xC0042505, {"zarvo-a", "7.0.3.0"}},
    };
    for (const InitializeCase& c : cases) {
        sim.set(R"({"version": ")" + (c.release.empty() ? std::string("Zarvo Release 7.2.4: Thu Feb 12") : c.release) +
                R"("})");
        const size_t before = events(root).size();
        RecordingNotifier notifier;
        {
            auto san = std::make_unique<ZarvoSan>();
            san->SetNotifier(&notifier);
            const std::string address = c.address.empty() ? sim.address() : c.address;
            EXPECT_EQ(static_cast<uint32_t>(san->Initialize(record_for(address, c.type, e2e::Appliance::kUser,
                                                                        c.password),
                                                             c.type, true)),
                      c.hr)
                << c.what;
        }
        const auto all = events(root);
        ASSERT_EQ(all.size(), before + 1) << c.what;
        EXPECT_EQ(all.back().id, c.event) << c.what;
        EXPECT_EQ(all.back().inserts, c.inserts) << c.what;
        // It failed before it was announced: neither an arrival nor a departure.
        EXPECT_TRUE(notifier.batches().empty()) << c.what;
    }
}

TEST(SubsystemInitialize, AnApplianceWithoutSerialNumberGetsADifferentIdAtEveryStart) {
    TestRoot root;
    e2e::Appliance sim;
    sim.set(R"({"cluster/enabled": false, "system-info/system-serial-number": ""})");
    GUID first{};
    for (int start = 0; start < 2; ++start) {
        ZarvoSan san;
        ASSERT_EQ(san.Initialize(record_for(sim.address(), FILER_TYPE_FCP), FILER_TYPE_FCP, false), S_OK);
        EXPECT_FALSE(IsEqualGUID(san.GetId(), GUID_NULL));
        if (start == 0)
            first = san.GetId();
        else
            EXPECT_FALSE(IsEqualGUID(san.GetId(), first));
    }
}

// One fault of the appliance on one request of a refresh.
struct RefreshFault {
    const char* request;
    bool endsRefresh;                    // the reading fails and the previous one stays
    std::vector<uint32_t> events;        // one of them reports it
    bool offline = false;                // the subsystem shows offline until the next good reading
};

TEST(SubsystemRefresh, AFaultOnAnyRequestOfTheReadingNeitherHangsNorLosesTheCurrentReading) {
    TestRoot root;
    e2e::Appliance sim;
    sim.set(R"({"cluster/enabled": false})");
    RecordingNotifier notifier;
    ZarvoSan san;
    san.SetNotifier(&notifier);
    ASSERT_EQ(san.Initialize(record_for(sim.address(), FILER_TYPE_FCP), FILER_TYPE_FCP, false), S_OK);
    const size_t drives = san.GetContainer()->m_driveMap.size();
    const size_t controllers = san.GetContainer()->m_controllerMap.size();

    const RefreshFault requests[] = {
        {"system-get-info", true, {0xC0000BC2, 0xC0042502}, true},
        {"cf-status", false, {}},
        {"aggr-get-root-name", false, {}},
        {"disk-list-info", false, {}},
        {"fcp-adapter-list-info", true, {0xC0000BC3}},
        {"fcp-adapter-initiators-list-info", false, {}},
        {"lun-list-info", false, {}},
    };
    const char* faults[] = {
        R"("kind": "status", "status": 500)",      R"("kind": "drop")",
        R"("kind": "malformed", "body": "<korvex")", R"("kind": "empty")",
        R"("kind": "errno", "errno": 13001, "reason": "refused")",
    };
    for (const RefreshFault& r : requests) {
        for (const char* fault : faults) {
            const std::string what = std::string(r.request) + " / " + fault;
            sim.fault(std::string("{") + fault + R"(, "request": ")" + r.request + R"("})");
            const size_t before = events(root).size();
            notifier.clear();
            const auto begin = std::chrono::steady_clock::now();
            const HRESULT hr = san.RefreshSubSystem();
            EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(30)) << what;
            EXPECT_EQ(FAILED(hr), r.endsRefresh) << what;
            if (r.endsRefresh) {
                // Only the subsystem's own change is announced: it went offline.
                const auto batches = notifier.batches();
                if (r.offline)
                    EXPECT_EQ(batches, (std::vector<std::vector<Delivered>>{
                                           {{notification_code::SubSystemModify, san.GetId()}}}))
                        << what;
                else
                    EXPECT_TRUE(batches.empty()) << what;
                EXPECT_EQ(san.GetContainer()->m_driveMap.size(), drives) << what;
                EXPECT_EQ(san.GetContainer()->m_controllerMap.size(), controllers) << what;
                const auto all = events(root);
                const bool reported = std::any_of(all.begin() + static_cast<std::ptrdiff_t>(before), all.end(),
                                                  [&](const Event& e) {
                                                      return std::find(r.events.begin(), r.events.end(), e.id) !=
                                                             r.events.end();
                                                  });
                EXPECT_TRUE(reported) << what;
            }
            sim.control("POST", "/sim/faults/clear");
            // The next clean refresh restores the whole reading.
            ASSERT_EQ(san.RefreshSubSystem(), S_OK) << what;
            EXPECT_EQ(san.GetContainer()->m_driveMap.size(), drives) << what;
        }
    }
    // A request that stalls a while is waited for.
    sim.fault(R"({"kind": "delay", "delay": 1, "request": "disk-list-info"})");
    EXPECT_EQ(san.RefreshSubSystem(), S_OK);
    EXPECT_EQ(san.GetContainer()->m_driveMap.size(), drives);
}

}  // namespace
