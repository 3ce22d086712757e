// vdsctl loads both providers in its process and drives them against
// simulated appliances kept in the stored appliance list.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "appliance.h"
#include "host.h"

#include <model/filer_record_list.h>
#include <platform/text.h>

namespace fs = std::filesystem;

namespace {

constexpr const char* kIscsiInitiator = "iqn.1994-05.com.example:vdsctl-e2e";

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
    nlohmann::json Json() const { return nlohmann::json::parse(out, nullptr, false); }
};

class VdsctlTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/vdsctl-e2e-XXXXXX";
        m_root = ::mkdtemp(pattern);
        setenv("SANPROV_ROOT", m_root.c_str(), 1);
        // The host's own initiator name (if it has one) must not decide what the tests see.
        const fs::path nameFile = m_root / "initiatorname.iscsi";
        std::ofstream(nameFile) << "InitiatorName=" << kIscsiInitiator << "\n";
        setenv("SANPROV_ISCSI_INITIATOR_NAME_FILE", nameFile.c_str(), 1);
        process_filer_record_list().Clear();
    }
    void TearDown() override {
        m_host.reset();
        e2e::SimulatedHost::Unexport();
        unsetenv("SANPROV_ISCSI_INITIATOR_NAME_FILE");
        process_filer_record_list().Clear();
        std::error_code ignored;
        fs::remove_all(m_root, ignored);
    }

    Outcome Vdsctl(const std::string& arguments) {
        const fs::path err = m_root / "stderr";
        const std::string command = std::string(VDSCTL) + " " + arguments + " 2>" + err.string();
        Outcome run;
        FILE* pipe = ::popen(command.c_str(), "r");
        if (!pipe) return run;
        char buffer[4096];
        for (size_t n; (n = std::fread(buffer, 1, sizeof(buffer), pipe)) > 0;) run.out.append(buffer, n);
        const int status = ::pclose(pipe);
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        std::ifstream in(err);
        std::stringstream text;
        text << in.rdbuf();
        run.err = text.str();
        return run;
    }

    // Stores an appliance as the applet would.
    void Store(const std::string& address, int32_t type, const std::string& password = e2e::Appliance::kPassword) {
        filer_record_list& list = process_filer_record_list();
        list.Add(u"", platform::utf8_to_wide_lossy(address), u"root",
                 platform::utf8_to_wide_lossy(password).c_str(), type);
        ASSERT_EQ(S_OK, list.Save());
    }

    // The JSON documents of the output, one per line.
    static std::vector<nlohmann::json> Documents(const std::string& out) {
        std::vector<nlohmann::json> documents;
        std::istringstream lines(out);
        for (std::string line; std::getline(lines, line);)
            if (!line.empty()) documents.push_back(nlohmann::json::parse(line, nullptr, false));
        return documents;
    }
    // The notifications ("object event") in the output, in order.
    static std::vector<std::string> Notifications(const std::string& out) {
        std::vector<std::string> events;
        for (const auto& document : Documents(out))
            if (document.is_object() && document.contains("event"))
                events.push_back(document["object"].get<std::string>() + " " + document["event"].get<std::string>());
        return events;
    }
    static bool Contains(const std::vector<std::string>& events, const std::string& event) {
        return std::find(events.begin(), events.end(), event) != events.end();
    }
    // Registers the providers; skips the test while the model cannot bring up
    // a subsystem of a reachable appliance.
    void RegisterAndRequireSubsystems() {
        ASSERT_EQ(0, Vdsctl("register").status);
        const Outcome providers = Vdsctl("--json providers");
        if (providers.out.find("0x80004001") != std::string::npos)
            GTEST_SKIP() << "the SAN model does not bring up subsystems yet";
    }

    // A simulated host that follows the appliances: what the test starts
    // rescans it, never the real machine.
    void FollowWithHost(std::initializer_list<const e2e::Appliance*> appliances) {
        std::vector<std::string> addresses;
        for (const e2e::Appliance* a : appliances) addresses.push_back(a->address() + ":" + std::to_string(a->port()));
        m_host = std::make_unique<e2e::SimulatedHost>(addresses, kIscsiInitiator);
        m_host->Export();
    }

    // The name of the registered provider of that type ("FC", "iSCSI").
    std::string ProviderOfType(const std::string& type) {
        for (const auto& row : Vdsctl("--json providers").Json())
            if (row["type"] == type) return row["name"];
        return "";
    }

    // The one LUN of a create-lun's output (its row), or null.
    static nlohmann::json CreatedLun(const Outcome& created) {
        const auto documents = Documents(created.out);
        if (documents.empty() || !documents[0].is_array() || documents[0].size() != 1) return nullptr;
        return documents[0][0];
    }

    fs::path m_root;
    std::unique_ptr<e2e::SimulatedHost> m_host;
};

using Clock = std::chrono::steady_clock;
double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

TEST_F(VdsctlTest, RegistrationsAreKeptAndTheRegisteredProvidersLoad) {
    const Outcome registered = Vdsctl("register");
    ASSERT_EQ(0, registered.status) << registered.err;
    const Outcome again = Vdsctl("register");
    EXPECT_EQ(1, again.status);
    EXPECT_NE(std::string::npos, again.err.find("0x80042403")) << again.err;

    const Outcome providers = Vdsctl("--json providers");
    ASSERT_EQ(0, providers.status) << providers.err;
    const auto list = providers.Json();
    ASSERT_EQ(2u, list.size()) << providers.out;
    std::set<std::string> types;
    for (const auto& provider : list) types.insert(provider["type"].get<std::string>());
    EXPECT_EQ((std::set<std::string>{"FC", "iSCSI"}), types);

    EXPECT_EQ(0, Vdsctl("unregister").status);
    EXPECT_EQ("[]\n", Vdsctl("--json providers").out);
    const Outcome unknown = Vdsctl("no-such-command");
    EXPECT_EQ(2, unknown.status);
    EXPECT_NE(std::string::npos, unknown.err.find("usage:"));
}

TEST_F(VdsctlTest, BothProvidersListTheirSubsystemsAndObjects) {
    e2e::Appliance fc({"--partner-address", e2e::Appliance::unused_address()});
    e2e::Appliance iscsi;
    Store(fc.address(), 2);
    Store(iscsi.address(), 3);
    RegisterAndRequireSubsystems();
    if (IsSkipped()) return;

    const auto fcSubsystems = Vdsctl("--json --provider fc subsystems").Json();
    const auto iscsiSubsystems = Vdsctl("--json --provider iscsi subsystems").Json();
    ASSERT_EQ(1u, fcSubsystems.size());
    ASSERT_EQ(1u, iscsiSubsystems.size());
    EXPECT_EQ("online", fcSubsystems[0]["status"]);
    EXPECT_FALSE(Vdsctl("--json --provider fc drives").Json().empty());
    EXPECT_FALSE(Vdsctl("--json --provider fc controllers").Json().empty());
    EXPECT_FALSE(Vdsctl("--json --provider fc luns").Json().empty());
    EXPECT_FALSE(Vdsctl("--json --provider iscsi portals").Json().empty());
    EXPECT_FALSE(Vdsctl("--json --provider iscsi portal-groups").Json().empty());
    for (const char* what : {"ports", "plexes", "extents", "targets"}) {
        const Outcome list = Vdsctl(std::string("--json ") + what);
        EXPECT_EQ(0, list.status) << what << ": " << list.err;
        EXPECT_TRUE(list.Json().is_array()) << what << ": " << list.out;
    }
}

TEST_F(VdsctlTest, LunIsCreatedExtendedRenamedMaskedAndDeletedWithItsNotifications) {
    e2e::Appliance fc({"--partner-address", e2e::Appliance::unused_address()});
    FollowWithHost({&fc});
    Store(fc.address(), 2);
    RegisterAndRequireSubsystems();
    if (IsSkipped()) return;

    const Outcome created = Vdsctl(std::string("--json --provider fc create-lun --size 64M --mask ") +
                                   e2e::SimulatedHost::kFcInitiator);
    ASSERT_EQ(0, created.status) << created.err;
    const auto documents = Documents(created.out);
    ASSERT_FALSE(documents.empty());
    ASSERT_TRUE(documents[0].is_array() && documents[0].size() == 1) << created.out;
    // Ids hold for the life of one process: later commands name the LUN.
    const std::string lun = documents[0][0]["name"];
    EXPECT_EQ(64u << 20, documents[0][0]["size"].get<uint64_t>());
    // The listed form of a WWN reaches the provider as its 16 digits.
    EXPECT_EQ("210000e08b050504", documents[0][0]["mask"]);
    ASSERT_FALSE(Notifications(created.out).empty());
    EXPECT_EQ("lun arrive", Notifications(created.out).front());
    // A later process reads the mask back from the LUN's maps on the appliance.
    bool listed = false;
    for (const auto& row : Vdsctl("--json --provider fc luns").Json())
        if (row["name"] == lun) {
            listed = true;
            EXPECT_EQ("21:00:00:e0:8b:05:05:04", row["mask"]) << row.dump();
        }
    EXPECT_TRUE(listed) << lun;

    const Outcome extended = Vdsctl("--json extend-lun " + lun + " --size 32M");
    EXPECT_EQ(0, extended.status) << extended.err;
    EXPECT_TRUE(Contains(Notifications(extended.out), "lun modify")) << extended.out;
    const Outcome renamed = Vdsctl("--json rename-lun " + lun + " renamed");
    EXPECT_EQ(0, renamed.status) << renamed.err;
    EXPECT_EQ(std::vector<std::string>{"lun modify"}, Notifications(renamed.out));
    const Outcome masked = Vdsctl("--json mask-lun renamed 21:00:00:e0:8b:05:05:05");
    EXPECT_EQ(0, masked.status) << masked.err;

    const auto luns = Vdsctl("--json luns").Json();
    bool found = false;
    for (const auto& row : luns)
        if (row["name"] == "renamed") {
            found = true;
            EXPECT_EQ((96u << 20), row["size"].get<uint64_t>());
            // A mapped LUN keeps its maps when it is given another list.
            EXPECT_EQ("21:00:00:e0:8b:05:05:04", row["mask"]);
        }
    EXPECT_TRUE(found) << luns.dump();

    const Outcome deleted = Vdsctl("--json delete-lun renamed");
    EXPECT_EQ(0, deleted.status) << deleted.err;
    EXPECT_TRUE(Contains(Notifications(deleted.out), "lun depart")) << deleted.out;
    const Outcome gone = Vdsctl("delete-lun renamed");
    EXPECT_EQ(1, gone.status);
    EXPECT_NE(std::string::npos, gone.err.find("0x80042405")) << gone.err;
}

TEST_F(VdsctlTest, StoredListChangesReachARunningProviderAtItsNextReenumeration) {
    e2e::Appliance first;
    e2e::Appliance second;
    Store(first.address(), 3);
    RegisterAndRequireSubsystems();
    if (IsSkipped()) return;

    // watch re-reads the stored list and re-enumerates every two seconds.
    const fs::path out = m_root / "watch.out";
    const std::string command = std::string(VDSCTL) + " --json --provider iscsi watch 24 >" + out.string() + " 2>&1 &";
    ASSERT_EQ(0, std::system(command.c_str()));
    // Time for watch's first pass, which announces nothing, even on a loaded host.
    std::this_thread::sleep_for(std::chrono::seconds(5));
    Store(second.address(), 3);                      // added: arrives
    std::this_thread::sleep_for(std::chrono::seconds(4));
    first.set(R"({"auth/password": "changed"})");     // the login corrected in the applet
    filer_record_list& list = process_filer_record_list();
    for (auto& [key, record] : list.m_map)
        if (record->m_strDnsName == platform::utf8_to_wide_lossy(first.address())) {
            record->m_strPassword = u"changed";
            record->m_iFlags |= FILER_RECORD_CHANGED;
        }
    ASSERT_EQ(S_OK, list.Save());
    std::this_thread::sleep_for(std::chrono::seconds(4));
    for (auto& [key, record] : list.m_map)
        if (record->m_strDnsName == platform::utf8_to_wide_lossy(second.address())) record->m_iFlags |= FILER_RECORD_DELETE;
    ASSERT_EQ(S_OK, list.Save());                     // removed: departs
    std::this_thread::sleep_for(std::chrono::seconds(13));

    std::ifstream in(out);
    std::stringstream text;
    text << in.rdbuf();
    const auto events = Notifications(text.str());
    const std::vector<std::string> expected = {"subsystem arrive", "subsystem depart", "subsystem arrive",
                                               "subsystem depart"};
    EXPECT_EQ(expected, events) << text.str();
    EXPECT_EQ(1u, Vdsctl("--json --provider iscsi subsystems").Json().size());
}

TEST_F(VdsctlTest, QueryLunFindsTheLunOfAHostDiskBySysfsIdentification) {
    e2e::Appliance fc;
    Store(fc.address(), 2);
    RegisterAndRequireSubsystems();
    if (IsSkipped()) return;

    // Two disks as sysfs shows them: one carries the serial of the appliance's
    // /vol/vol1/q1/lun0 in its unit serial number page, the other a stranger's.
    const fs::path sysfs = m_root / "sysfs";
    for (const auto& [disk, serial] : {std::pair<std::string, std::string>{"sdq", "HnS4cJ4Kx8iB"}, {"sdr", "NOTOURS00000"}}) {
        const fs::path device = sysfs / "block" / disk / "device";
        fs::create_directories(device);
        std::ofstream(device / "vendor") << "ZARVO   \n";
        std::ofstream(device / "model") << "LUN             \n";
        std::ofstream(device / "rev") << "0.2 \n";
        std::ofstream page(device / "vpd_pg80", std::ios::binary);
        page << std::string{'\0', '\x80', '\0', static_cast<char>(serial.size())} << serial;
    }
    setenv("SANPROV_SYSFS_ROOT", sysfs.c_str(), 1);
    const Outcome found = Vdsctl("--json query-lun /dev/sdq");
    const Outcome stranger = Vdsctl("--json query-lun /dev/sdr");
    unsetenv("SANPROV_SYSFS_ROOT");
    ASSERT_EQ(0, found.status) << found.err;
    const auto rows = found.Json();
    ASSERT_EQ(1u, rows.size());
    EXPECT_EQ("/dev/sdq", rows[0]["device"]);
    EXPECT_FALSE(rows[0]["lun"].get<std::string>().empty());
    EXPECT_EQ(1, stranger.status);
}

TEST_F(VdsctlTest, IscsiTargetTakesAnAliasAndAPortalMovesIntoANewPortalGroup) {
    e2e::Appliance iscsi;
    Store(iscsi.address(), 3);
    RegisterAndRequireSubsystems();
    if (IsSkipped()) return;

    const Outcome aliased = Vdsctl("--json --provider iscsi set-alias backup-target");
    ASSERT_EQ(0, aliased.status) << aliased.err;
    EXPECT_EQ(std::vector<std::string>{"target modify"}, Notifications(aliased.out));
    const auto targets = Vdsctl("--json --provider iscsi targets").Json();
    ASSERT_EQ(1u, targets.size()) << targets.dump();
    EXPECT_EQ("backup-target", targets[0]["alias"]);
    const Outcome chap = Vdsctl("--provider iscsi set-chap chap-secret-12");
    EXPECT_EQ(0, chap.status) << chap.err;

    const Outcome created = Vdsctl("--json --provider iscsi create-portal-group");
    ASSERT_EQ(0, created.status) << created.err;
    const auto documents = Documents(created.out);
    ASSERT_FALSE(documents.empty());
    ASSERT_TRUE(documents[0].is_array() && documents[0].size() == 1) << created.out;
    const std::string tag = std::to_string(documents[0][0]["tag"].get<int>());
    EXPECT_TRUE(Contains(Notifications(created.out), "portal-group arrive")) << created.out;

    const auto portals = Vdsctl("--json --provider iscsi portals").Json();
    ASSERT_FALSE(portals.empty());
    const std::string address = portals[0]["address"];
    const Outcome moved = Vdsctl("--provider iscsi move-portal " + address + " " + tag);
    ASSERT_EQ(0, moved.status) << moved.err;
    bool found = false;
    for (const auto& group : Vdsctl("--json --provider iscsi portal-groups").Json())
        if (std::to_string(group["tag"].get<int>()) == tag) {
            found = true;
            EXPECT_EQ(address, group["portals"]);
        }
    EXPECT_TRUE(found);
}

// The host side end to end over Fibre Channel: the new disk is on the host
// after the first rescan pass, carries the LUN's identification and leads
// query-lun to the LUN; it grows with the LUN and vanishes with it. LUNs that
// the appliance maps to another host's ports never show here.
TEST_F(VdsctlTest, FibreChannelLunIsADiskOfTheHostFromItsFirstRescanUntilItsDeletion) {
    e2e::Appliance fc;
    FollowWithHost({&fc});
    Store(fc.address(), 2);
    RegisterAndRequireSubsystems();
    if (IsSkipped()) return;
    ASSERT_TRUE(m_host->Disks().empty()) << "the fixture maps its LUNs to " << e2e::SimulatedHost::kOtherFcInitiator;

    auto start = Clock::now();
    const Outcome created = Vdsctl(std::string("--json --provider fc create-lun --size 64M --mask ") +
                                   e2e::SimulatedHost::kFcInitiator);
    const double createSeconds = SecondsSince(start);
    ASSERT_EQ(0, created.status) << created.err;
    const auto lun = CreatedLun(created);
    ASSERT_FALSE(lun.is_null()) << created.out;
    // The first pass of the rescan loop saw the disk come: one five-second wait, not three.
    EXPECT_LT(createSeconds, 12.0);
    EXPECT_TRUE(Contains(Notifications(created.out), "lun arrive")) << created.out;

    const auto disks = m_host->Disks();
    ASSERT_EQ(1u, disks.size());
    const e2e::SimulatedHost::Disk disk = disks[0];
    EXPECT_EQ(e2e::SimulatedHost::kFcHost, disk.host);
    EXPECT_EQ(lun["identification"].get<std::string>(), disk.path);
    EXPECT_EQ(64u << 20, disk.size);
    const Outcome found = Vdsctl("--json query-lun /dev/" + disk.name);
    ASSERT_EQ(0, found.status) << found.err;
    ASSERT_EQ(1u, found.Json().size()) << found.out;
    EXPECT_EQ(ProviderOfType("FC"), found.Json()[0]["provider"]) << found.out;

    // Ids hold for one process: later commands name the LUN.
    const std::string name = lun["name"];
    ASSERT_EQ(0, Vdsctl("extend-lun " + name + " --size 32M").status);
    ASSERT_TRUE(m_host->Rescan(e2e::SimulatedHost::kFcHost));
    EXPECT_EQ(96u << 20, m_host->DiskWithSerial(disk.serial).size);

    start = Clock::now();
    const Outcome deleted = Vdsctl("--json delete-lun " + name);
    const double deleteSeconds = SecondsSince(start);
    EXPECT_EQ(0, deleted.status) << deleted.err;
    EXPECT_TRUE(Contains(Notifications(deleted.out), "lun depart")) << deleted.out;
    EXPECT_LT(deleteSeconds, 12.0);
    EXPECT_TRUE(m_host->Disks().empty());
    EXPECT_EQ(1, Vdsctl("query-lun /dev/" + disk.name).status);
    std::cout << "create with mask: " << createSeconds << " s, mapped delete: " << deleteSeconds << " s\n";
}

// The same over iSCSI, where the provider leaves rescans to the host's
// initiator: the host's rescan finds the LUN unmasked to its node name and
// loses it once unmasked; the deletion of the unmasked LUN waits for nothing.
TEST_F(VdsctlTest, IscsiLunIsADiskOfTheHostWhileItIsUnmaskedToTheHostsInitiator) {
    e2e::Appliance iscsi;
    FollowWithHost({&iscsi});
    Store(iscsi.address(), 3);
    RegisterAndRequireSubsystems();
    if (IsSkipped()) return;
    const auto before = m_host->Disks().size();

    const Outcome created = Vdsctl(std::string("--json --provider iscsi create-lun --size 64M --mask ") + kIscsiInitiator);
    ASSERT_EQ(0, created.status) << created.err;
    const auto lun = CreatedLun(created);
    ASSERT_FALSE(lun.is_null()) << created.out;
    ASSERT_TRUE(m_host->Rescan(e2e::SimulatedHost::kIscsiHost));
    ASSERT_EQ(before + 1, m_host->Disks().size());
    e2e::SimulatedHost::Disk disk;
    for (const auto& d : m_host->Disks())
        if (d.path == lun["identification"].get<std::string>()) disk = d;
    ASSERT_FALSE(disk.name.empty());
    EXPECT_EQ(e2e::SimulatedHost::kIscsiHost, disk.host);
    const Outcome found = Vdsctl("--json query-lun /dev/" + disk.name);
    ASSERT_EQ(0, found.status) << found.err;
    EXPECT_EQ(ProviderOfType("iSCSI"), found.Json()[0]["provider"]) << found.out;

    const std::string id = lun["name"];
    ASSERT_EQ(0, Vdsctl("mask-lun " + id + " ''").status);
    ASSERT_TRUE(m_host->Rescan(e2e::SimulatedHost::kIscsiHost));
    EXPECT_TRUE(m_host->DiskWithSerial(disk.serial).name.empty());
    const auto start = Clock::now();
    const Outcome deleted = Vdsctl("--json delete-lun " + id);
    EXPECT_EQ(0, deleted.status) << deleted.err;
    EXPECT_TRUE(Contains(Notifications(deleted.out), "lun depart")) << deleted.out;
    EXPECT_LT(SecondsSince(start), 5.0);
}

// A host whose paths to an appliance are down keeps the appliance's disks
// through a rescan, as a real host keeps its devices until they are removed.
TEST_F(VdsctlTest, ARescanWhileTheApplianceIsUnreachableLeavesTheHostsDisksAsTheyWere) {
    e2e::Appliance fc;
    // The fixture's group of two LUNs becomes this host's.
    fc.set(std::string(R"({"igroups/ig_host1_fc/initiators": [")") + e2e::SimulatedHost::kFcInitiator + "\"]}");
    FollowWithHost({&fc});
    const auto disks = m_host->Disks();
    ASSERT_EQ(2u, disks.size());
    EXPECT_EQ("0:0:0:0", disks[0].address);
    fc.control("POST", "/sim/shutdown");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ASSERT_TRUE(m_host->Rescan(e2e::SimulatedHost::kFcHost));
    const auto after = m_host->Disks();
    ASSERT_EQ(2u, after.size());
    for (size_t i = 0; i < after.size(); ++i)
        EXPECT_EQ(disks[i].name + " " + disks[i].serial, after[i].name + " " + after[i].serial);
}
