// vdsctl against sanprovd when a stored appliance cannot be read: the others
// still get their subsystems, the failure names the appliance, and one
// command asks the appliance once.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "appliance.h"
#include "vdsctl_support.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

using vdsctl_e2e::Outcome;

class VdsctlTruth : public vdsctl_e2e::ServiceTest {
protected:
    VdsctlTruth() : ServiceTest({.rootPrefix = "vdsctl-truth", .stopLimit = 120s}) {}

    Outcome Vdsctl(const std::string& arguments) { return vdsctl_e2e::Vdsctl(arguments, m_root / "stderr"); }
    // Stores an appliance under a key of the test's choosing: the list is read in key order.
    static void Store(const std::string& key, const std::string& address,
                      const std::string& password = e2e::Appliance::kPassword) {
        ServiceTest::Store(address, 2, password, key);
    }
    // How many events of this id the service reported naming `insert`.
    size_t EventsNaming(uint32_t id, const std::string& insert) const {
        size_t count = 0;
        std::ifstream in(m_root / "eventlog" / "SanProvD.jsonl");
        for (std::string line; std::getline(in, line);) {
            const auto event = nlohmann::json::parse(line, nullptr, false);
            if (event.is_object() && event.value("id", 0u) == id && event.contains("inserts") &&
                !event["inserts"].empty() && event["inserts"][0] == insert)
                ++count;
        }
        return count;
    }
    static size_t Requests(const e2e::Appliance& appliance, const std::string& name) {
        const auto log = nlohmann::json::parse(appliance.control("GET", "/sim/log").body, nullptr, false);
        return log.is_array() ? std::count_if(log.begin(), log.end(),
                                              [&](const auto& entry) { return entry.value("request", "") == name; })
                              : 0;
    }
};

constexpr uint32_t kUnreachable = 0xC0042502;
constexpr uint32_t kLoginRefused = 0xC0042503;

TEST_F(VdsctlTruth, AnUnreachableApplianceFirstInKeyOrderHidesNoOtherAndIsNamed) {
    e2e::Appliance first, second;
    first.set(R"({"cluster/enabled": false, "system-info/system-name": "zarvo-b", "system-info/system-serial-number": "3003521"})");
    second.set(R"({"cluster/enabled": false, "system-info/system-name": "zarvo-c", "system-info/system-serial-number": "3003522"})");
    const std::string gone = e2e::Appliance::unused_address();
    Store("00000000-0000-0000-0000-000000000001", gone);
    Store("00000000-0000-0000-0000-000000000002", first.address());
    Store("00000000-0000-0000-0000-000000000003", second.address());

    const Outcome listed = Vdsctl("--json --provider fc subsystems");
    EXPECT_EQ(1, listed.status);
    EXPECT_NE(std::string::npos, listed.err.find(gone)) << listed.err;
    const auto subsystems = nlohmann::json::parse(listed.out, nullptr, false);
    ASSERT_TRUE(subsystems.is_array()) << listed.out;
    EXPECT_EQ(2u, subsystems.size()) << listed.out;
    EXPECT_EQ(1u, EventsNaming(kUnreachable, gone));

    const Outcome again = Vdsctl("--provider fc reenumerate");
    EXPECT_EQ(1, again.status);
    EXPECT_NE(std::string::npos, again.err.find(gone)) << again.err;
    EXPECT_EQ(2u, EventsNaming(kUnreachable, gone));
}

TEST_F(VdsctlTruth, ARefusedLoginIsTriedOncePerCommand) {
    e2e::Appliance refusing;
    refusing.set(R"({"cluster/enabled": false})");
    Store("00000000-0000-0000-0000-000000000001", refusing.address(), "wrong");

    const Outcome first = Vdsctl("--provider fc subsystems");
    EXPECT_EQ(1, first.status);
    EXPECT_NE(std::string::npos, first.err.find(refusing.address())) << first.err;
    EXPECT_EQ(1u, EventsNaming(kLoginRefused, refusing.address()));
    EXPECT_EQ(1u, Requests(refusing, "system-get-info"));

    // A listing asks nothing; a reenumeration tries it once more.
    const Outcome listed = Vdsctl("--provider fc subsystems");
    EXPECT_EQ(1, listed.status);
    EXPECT_NE(std::string::npos, listed.err.find(refusing.address())) << listed.err;
    EXPECT_EQ(1u, EventsNaming(kLoginRefused, refusing.address()));
    EXPECT_EQ(1, Vdsctl("--provider fc reenumerate").status);
    EXPECT_EQ(2u, EventsNaming(kLoginRefused, refusing.address()));
    EXPECT_EQ(2u, Requests(refusing, "system-get-info"));
}

TEST_F(VdsctlTruth, ARefreshThatCannotReachTheApplianceListsItsSubsystemOffline) {
    e2e::Appliance fc;
    fc.set(R"({"cluster/enabled": false})");
    Store("00000000-0000-0000-0000-000000000001", fc.address());
    const auto status = [&] {
        const auto rows = nlohmann::json::parse(Vdsctl("--json --provider fc subsystems").out, nullptr, false);
        return rows.is_array() && rows.size() == 1 ? rows[0].value("status", "") : "";
    };
    ASSERT_EQ("online", status());
    fc.control("POST", "/sim/shutdown");
    std::this_thread::sleep_for(300ms);
    const Outcome refreshed = Vdsctl("--json --provider fc refresh");
    EXPECT_EQ(1, refreshed.status);
    bool announced = false;
    std::istringstream lines(refreshed.out);
    for (std::string line; std::getline(lines, line);) {
        const auto row = nlohmann::json::parse(line, nullptr, false);
        announced |= row.is_object() && row.value("object", "") == "subsystem" && row.value("event", "") == "modify";
    }
    EXPECT_TRUE(announced) << refreshed.out;
    EXPECT_EQ("offline", status());
}

}  // namespace
