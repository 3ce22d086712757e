// vdsctl's listings against sanprovd while LUN work runs: they answer from
// the service's picture of the objects at once, the picture follows every
// change a command makes, and a long wait says what it waits for.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "appliance.h"
#include "host.h"
#include "vdsctl_support.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

using vdsctl_e2e::Background;
using vdsctl_e2e::Documents;
using vdsctl_e2e::Outcome;

// This file's waits look again every 50 ms (the shared default is 100 ms).
bool WaitUntil(const std::function<bool()>& done, std::chrono::seconds limit) {
    return vdsctl_e2e::WaitUntil(done, limit, 50ms);
}

class VdsPictureTest : public vdsctl_e2e::ServiceTest {
protected:
    VdsPictureTest()
        : ServiceTest({.rootPrefix = "vds-picture",
                       .initiator = "iqn.1994-05.com.example:vds-picture",
                       .stopLimit = 120s,
                       .stopPoll = 50ms}) {}

    Outcome Vdsctl(const std::string& arguments) { return vdsctl_e2e::Vdsctl(arguments, m_root / "stderr"); }

    // A Fibre Channel appliance, stored, and the simulated host; a host that
    // does not follow the appliance never shows a disk of it.
    void StartFibreChannel(bool followed = true) {
        m_fc = std::make_unique<e2e::Appliance>();
        std::vector<std::string> appliances;
        if (followed) appliances.push_back(m_fc->address() + ":" + std::to_string(m_fc->port()));
        m_host = std::make_unique<e2e::SimulatedHost>(appliances, "iqn.1994-05.com.example:vds-picture");
        m_host->Export();
        Store(m_fc->address(), 2);
        const Outcome subsystems = Vdsctl("--json --provider fc subsystems");
        ASSERT_EQ(0, subsystems.status) << subsystems.err;
        ASSERT_EQ(1u, subsystems.Json().size()) << subsystems.out;
    }

    // The LUN rows of `luns` (in order), by a --json listing.
    std::vector<nlohmann::json> Luns(const std::string& options = "") {
        const Outcome listed = Vdsctl("--json " + options + " luns");
        EXPECT_EQ(0, listed.status) << listed.err;
        const auto rows = listed.Json();
        return rows.is_array() ? std::vector<nlohmann::json>(rows.begin(), rows.end()) : std::vector<nlohmann::json>{};
    }
    nlohmann::json LunWithId(const std::string& id) {
        for (const auto& row : Luns())
            if (row["id"] == id) return row;
        return nullptr;
    }

    std::unique_ptr<e2e::Appliance> m_fc;
};

// The progress records of a --json output that name a pass of the host rescan.
std::vector<nlohmann::json> RescanRecords(const std::string& out) {
    std::vector<nlohmann::json> records;
    for (const auto& document : Documents(out))
        if (document.is_object() && document.contains("stage") &&
            document["stage"].get<std::string>().find("host rescan pass") != std::string::npos)
            records.push_back(document);
    return records;
}

}  // namespace

// While a masked create-lun waits for the host (its subsystem held for the
// whole of the rescan: 15 s where this host's port is in the mask but no disk
// appears, as here), listings of that subsystem answer, and the create says
// which pass it is in and how long it may still wait; `watch` shows the same.
// Once it is done, the next listing holds the new LUN.
TEST_F(VdsPictureTest, ListingsAnswerWhileAMaskedCreateWaitsForTheHostWhichSaysWhatItWaitsFor) {
    StartFibreChannel(false);
    if (HasFatalFailure()) return;
    const size_t before = Luns().size();
    Background watch("--json watch 60", m_root / "watch", Background::Errors::apart);
    Background create(std::string("--json --provider fc create-lun --size 64M --mask ") +
                          e2e::SimulatedHost::kFcInitiator,
                      m_root / "create", Background::Errors::apart);
    ASSERT_TRUE(WaitUntil([&] { return !RescanRecords(create.Err()).empty(); }, 30s)) << create.Output() << create.Err();

    for (const char* listing : {"luns", "subsystems", "plexes", "drives"}) {
        const Outcome listed = Vdsctl(std::string("--json --provider fc ") + listing);
        EXPECT_EQ(0, listed.status) << listing << ": " << listed.err;
        EXPECT_LT(listed.seconds, 5.0) << listing;  // a program start, not a wait for the subsystem
    }
    EXPECT_EQ(before, Luns().size());  // the LUN arrives with the work's completion
    EXPECT_TRUE(create.Running());

    ASSERT_EQ(0, create.Wait()) << create.Err();
    const auto records = RescanRecords(create.Err());
    ASSERT_FALSE(records.empty());
    EXPECT_EQ("host rescan pass 1 of 3, up to 15 s more", records.front()["stage"]) << create.Err();
    // The last pass sleeps no more, so it may end between two looks.
    const std::string last = records.back()["stage"];
    EXPECT_TRUE(last == "host rescan pass 2 of 3, up to 10 s more" || last == "host rescan pass 3 of 3, up to 0 s more")
        << create.Err();
    // Standard output holds the command's documents only: the new LUN first.
    const auto documents = Documents(create.Output());
    ASSERT_FALSE(documents.empty());
    ASSERT_TRUE(documents[0].is_array() && documents[0].size() == 1) << create.Output();
    const auto row = LunWithId(documents[0][0]["id"]);
    ASSERT_FALSE(row.is_null());
    EXPECT_NE(std::string::npos, row["mask"].get<std::string>().find(e2e::SimulatedHost::kFcInitiator)) << row;

    // Another client's watch saw the same progress.
    EXPECT_NE(std::string::npos, watch.Output().find("host rescan pass 2 of 3")) << watch.Output();
    const auto watched = Documents(watch.Output());
    EXPECT_TRUE(std::any_of(watched.begin(), watched.end(), [](const nlohmann::json& d) {
        return d.is_object() && d.value("operation", "") == "create-lun";
    })) << watch.Output();
}

// Each change a command makes is in the very next listing: the LUN commands,
// the subsystem's name, and a deletion that waits for the host's rescan
// passes, during which listings answer at once.
TEST_F(VdsPictureTest, TheNextListingShowsWhatEachChangeDid) {
    StartFibreChannel();
    if (HasFatalFailure()) return;
    const Outcome created = Vdsctl(std::string("--json --provider fc create-lun --size 32M --mask ") +
                                   e2e::SimulatedHost::kFcInitiator);
    ASSERT_EQ(0, created.status) << created.err;
    std::string id;
    for (const auto& document : Documents(created.out))
        if (document.is_array() && document.size() == 1) id = document[0]["id"];
    ASSERT_FALSE(id.empty()) << created.out;

    ASSERT_EQ(0, Vdsctl("rename-lun " + id + " renamed").status);
    EXPECT_EQ("renamed", LunWithId(id)["name"]);
    ASSERT_EQ(0, Vdsctl("extend-lun " + id + " --size 16M").status);
    EXPECT_EQ(48u << 20, LunWithId(id)["size"].get<uint64_t>());
    const std::string twoPorts = std::string(e2e::SimulatedHost::kFcInitiator) + ";" +
                                 e2e::SimulatedHost::kOtherFcInitiator;
    ASSERT_EQ(0, Vdsctl("mask-lun " + id + " \"" + twoPorts + "\"").status);
    const std::string mask = LunWithId(id)["mask"];
    EXPECT_NE(std::string::npos, mask.find(e2e::SimulatedHost::kOtherFcInitiator)) << mask;
    // The table shows the first entry and how many more; --json the whole list.
    const Outcome table = Vdsctl("luns renamed");
    ASSERT_EQ(0, table.status) << table.err;
    EXPECT_NE(std::string::npos, table.out.find("(+1 more)")) << table.out;
    EXPECT_EQ(std::string::npos, table.out.find(mask)) << table.out;

    ASSERT_EQ(0, Vdsctl("--provider fc rename-subsystem picture-sub").status);
    EXPECT_EQ("picture-sub", Vdsctl("--json --provider fc subsystems").Json()[0]["name"]);
    EXPECT_EQ("picture-sub", LunWithId(id)["subsystem"]);

    // A mapped FC LUN's deletion waits out rescan passes with its subsystem held.
    Background deletion("--json delete-lun " + id, m_root / "delete", Background::Errors::apart);
    ASSERT_TRUE(WaitUntil([&] { return !RescanRecords(deletion.Err()).empty(); }, 30s)) << deletion.Output();
    const Outcome during = Vdsctl("--json luns " + id);
    EXPECT_EQ(0, during.status) << during.err;
    EXPECT_LT(during.seconds, 5.0);
    ASSERT_EQ(0, deletion.Wait()) << deletion.Err();
    EXPECT_TRUE(LunWithId(id).is_null());
    const Outcome gone = Vdsctl("luns " + id);
    EXPECT_EQ(1, gone.status);
    EXPECT_NE(std::string::npos, gone.err.find(id)) << gone.err;
}

// Filters name what matched nothing; rows come sorted by subsystem, then name.
TEST_F(VdsPictureTest, FiltersThatMatchNothingFailNamingItAndRowsAreSorted) {
    StartFibreChannel();
    if (HasFatalFailure()) return;
    struct Case {
        const char* arguments;
        int status;
        const char* named;
    };
    const Case cases[] = {
        {"--subsystem nosuch luns", 1, "nosuch"},
        {"--subsystem nosuch plexes", 1, "nosuch"},
        {"luns nosuch-lun", 1, "nosuch-lun"},
        {"targets nosuch-target", 1, "nosuch-target"},
        {"luns one two", 2, "two"},
    };
    for (const Case& c : cases) {
        const Outcome run = Vdsctl(c.arguments);
        EXPECT_EQ(c.status, run.status) << c.arguments;
        EXPECT_NE(std::string::npos, run.err.find(c.named)) << c.arguments << ": " << run.err;
    }

    const auto luns = Luns();
    ASSERT_GE(luns.size(), 2u);
    for (size_t i = 1; i < luns.size(); ++i)
        EXPECT_LE(luns[i - 1]["name"].get<std::string>(), luns[i]["name"].get<std::string>());
    const std::string first = luns.front()["name"];
    const Outcome one = Vdsctl("--json luns " + first);
    ASSERT_EQ(0, one.status) << one.err;
    ASSERT_EQ(1u, one.Json().size());
    EXPECT_EQ(first, one.Json()[0]["name"]);
    // Plexes tell their subsystem and their type by name.
    const Outcome plexes = Vdsctl("--json plexes");
    ASSERT_EQ(0, plexes.status);
    ASSERT_FALSE(plexes.Json().empty()) << plexes.out;
    for (const auto& plex : plexes.Json()) {
        EXPECT_TRUE(plex["type"].is_string()) << plex;
        EXPECT_FALSE(plex["subsystem"].get<std::string>().empty()) << plex;
    }
}
