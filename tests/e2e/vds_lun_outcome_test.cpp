// vdsctl against sanprovd: a LUN change that fails says why, in the
// appliance's words, and one that is refused changes nothing.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "appliance.h"
#include "host.h"
#include "vdsctl_support.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

using vdsctl_e2e::Outcome;

class LunOutcome : public vdsctl_e2e::ServiceTest {
protected:
    LunOutcome()
        : ServiceTest({.rootPrefix = "vdsctl-outcome",
                       .initiator = "iqn.1994-05.com.example:outcome",
                       .stopLimit = 60s}) {}

    Outcome Vdsctl(const std::string& arguments) { return vdsctl_e2e::Vdsctl(arguments, m_root / "stderr"); }
    void FollowWithHost(const e2e::Appliance& appliance) {
        m_host = std::make_unique<e2e::SimulatedHost>(
            std::vector<std::string>{appliance.address() + ":" + std::to_string(appliance.port())},
            "iqn.1994-05.com.example:outcome");
        m_host->Export();
    }
    // The listed LUN rows of that name.
    std::vector<nlohmann::json> LunsNamed(const std::string& name) {
        std::vector<nlohmann::json> rows;
        const auto all = nlohmann::json::parse(Vdsctl("--json luns").out, nullptr, false);
        if (all.is_array())
            for (const auto& row : all)
                if (row.value("name", "") == name) rows.push_back(row);
        return rows;
    }
};

// The command line shows the appliance's own reason, for queued work and for
// calls made at once, and a subsystem whose appliance does not answer is not
// taken for one without space.
TEST_F(LunOutcome, AFailureShowsTheAppliancesReason) {
    e2e::Appliance fc;
    FollowWithHost(fc);
    Store(fc.address(), 2);
    ASSERT_EQ(0, Vdsctl("--json luns").status);

    const Outcome tiny = Vdsctl("--provider fc create-lun --size 10");
    EXPECT_EQ(1, tiny.status);
    EXPECT_NE(std::string::npos, tiny.err.find("Invalid LUN size 10")) << tiny.err;

    fc.control("POST", "/sim/shutdown");
    const Outcome renamed = Vdsctl("rename-lun lun0 other");
    EXPECT_EQ(1, renamed.status);
    EXPECT_EQ(std::string::npos, renamed.err.find("Unspecified error")) << renamed.err;
    EXPECT_NE(std::string::npos, renamed.err.find(fc.address())) << renamed.err;

    const Outcome created = Vdsctl("--provider fc create-lun --size 64M");
    EXPECT_EQ(1, created.status);
    EXPECT_EQ(std::string::npos, created.err.find("0x8004240F")) << created.err;
    EXPECT_NE(std::string::npos, created.err.find(fc.address())) << created.err;
}

// The host side: a LUN of this host is a disk again after a failed delete,
// and a LUN mapped only to another host's port never makes anything wait.
TEST_F(LunOutcome, AFailedDeleteGivesTheHostItsDiskBackAndOtherHostsLunsCostNoWait) {
    e2e::Appliance fc;
    FollowWithHost(fc);
    Store(fc.address(), 2);
    ASSERT_EQ(0, Vdsctl("--json luns").status);
    const Outcome created =
        Vdsctl(std::string("--provider fc create-lun --size 64M --mask ") + e2e::SimulatedHost::kFcInitiator);
    ASSERT_EQ(0, created.status) << created.err;
    const auto rows = nlohmann::json::parse(Vdsctl("--json luns").out, nullptr, false);
    std::string name;
    for (const auto& row : rows)
        if (row.value("mask", "") == e2e::SimulatedHost::kFcInitiator) name = row["name"];
    ASSERT_FALSE(name.empty()) << rows.dump();
    const auto disks = m_host->Disks();
    ASSERT_EQ(1u, disks.size());

    fc.fault(R"({"kind": "errno", "request": "volume-destroy", "errno": 13041, "reason": "volume has clones"})");
    const Outcome refused = Vdsctl("delete-lun " + name);
    EXPECT_EQ(1, refused.status);
    EXPECT_NE(std::string::npos, refused.err.find("volume has clones")) << refused.err;
    EXPECT_EQ(disks[0].serial, m_host->DiskWithSerial(disks[0].serial).serial) << "the disk is back";
    fc.control("POST", "/sim/faults/clear");
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(0, Vdsctl("delete-lun " + name).status);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 12s);
    EXPECT_TRUE(m_host->Disks().empty());

    ASSERT_EQ(0, Vdsctl(std::string("--provider fc create-lun --size 64M --mask ") +
                        e2e::SimulatedHost::kOtherFcInitiator)
                     .status);
    std::string other;
    for (const auto& row : nlohmann::json::parse(Vdsctl("--json luns").out, nullptr, false))
        if (row.value("mask", "") == e2e::SimulatedHost::kOtherFcInitiator && row.value("name", "").find("ZarvoLun") == 0 &&
            row.value("name", "") != "ZarvoLun1")
            other = row["name"];
    ASSERT_FALSE(other.empty());
    start = std::chrono::steady_clock::now();
    EXPECT_EQ(0, Vdsctl("delete-lun " + other).status);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s) << "nothing on this host to wait for";
}

}  // namespace
