// vdsctl against sanprovd: the service, installed and started under the
// service-manager stand-in, holds both providers; each vdsctl is a client that
// runs one command there against simulated appliances of the stored list.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "appliance.h"
#include "host.h"
#include "vdsctl_support.h"

#include <model/filer_record_list.h>
#include <platform/apartment.h>
#include <platform/classtable.h>
#include <platform/comalloc.h>
#include <platform/provider_admin.h>
#include <platform/registry.h>
#include <platform/text.h>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

using vdsctl_e2e::Background;
using vdsctl_e2e::Documents;
using vdsctl_e2e::Notifications;
using vdsctl_e2e::Outcome;
using vdsctl_e2e::ReadFile;
using vdsctl_e2e::Requests;
using vdsctl_e2e::WaitUntil;

constexpr const char* kIscsiInitiator = "iqn.1994-05.com.example:vdsctl-e2e";

class VdsctlTest : public vdsctl_e2e::ServiceTest {
protected:
    VdsctlTest()
        : ServiceTest({.rootPrefix = "vdsctl-e2e",
                       .initiator = kIscsiInitiator,
                       .stopLimit = 120s,
                       .stopOnlyIfRunning = true,
                       .killIfStuck = true}) {}

    // One vdsctl; `input` becomes its standard input. Threads that run vdsctl
    // at once give each a `tag` of its own.
    Outcome Vdsctl(const std::string& arguments, const std::string& input = "", const std::string& tag = "") {
        return vdsctl_e2e::Vdsctl(arguments, m_root / ("stderr" + tag), input, m_root / ("stdin" + tag));
    }

    // One commit through the administration class of the running service, as
    // the applet makes it: a record without a key is added; with one it is
    // changed or deleted.
    HRESULT Commit(const std::string& address, int32_t type, const std::string& password, DWORD flags) {
        IZarvoVdsProviderAdmin* admin = nullptr;
        HRESULT hr = CoCreateInstance(CLSID_ZarvoVdsProviderAdmin, nullptr, CLSCTX_LOCAL_SERVER,
                                      IID_IZarvoVdsProviderAdmin, reinterpret_cast<void**>(&admin));
        if (FAILED(hr)) return hr;
        const std::u16string dns = platform::utf8_to_wide_lossy(address), user = u"root",
                             secret = platform::utf8_to_wide_lossy(password);
        std::u16string key;
        ULONG count = 0;
        FILER_RECORD** records = nullptr;
        if (SUCCEEDED(admin->LoadFilerList(0, &count, &records)) && records) {
            for (ULONG i = 0; i < count; ++i) {
                if (records[i]->wszDnsName == dns) key = records[i]->wszKey;
                CoTaskMemFree(records[i]->wszKey);
                CoTaskMemFree(records[i]->wszDnsName);
                CoTaskMemFree(records[i]->wszUserName);
                CoTaskMemFree(records[i]->wszPassword);
                CoTaskMemFree(records[i]);
            }
            CoTaskMemFree(records);
        }
        FILER_RECORD record{key.empty() ? nullptr : key.data(), const_cast<LPWSTR>(dns.c_str()),
                            const_cast<LPWSTR>(user.c_str()), const_cast<LPWSTR>(secret.c_str()), type, flags};
        FILER_RECORD* list[] = {&record};
        hr = admin->CommitFilerList(0, 1, list);
        admin->Release();
        return hr;
    }

    static bool Contains(const std::vector<std::string>& events, const std::string& event) {
        return std::find(events.begin(), events.end(), event) != events.end();
    }
    // The rows of `luns` with this name.
    std::vector<nlohmann::json> LunsNamed(const std::string& name, const std::string& options = "") {
        std::vector<nlohmann::json> rows;
        for (const auto& row : Vdsctl("--json " + options + " luns").Json())
            if (row["name"] == name) rows.push_back(row);
        return rows;
    }
    // Skips the test while the model cannot bring up a subsystem of a reachable appliance.
    void RequireSubsystems() {
        const Outcome providers = Vdsctl("--json providers");
        ASSERT_EQ(0, providers.status) << providers.err;
        if (providers.out.find("0x80004001") != std::string::npos)
            GTEST_SKIP() << "the SAN model does not bring up subsystems yet";
    }
    static void ClearLog(const e2e::Appliance& appliance) { appliance.control("POST", "/sim/log/clear"); }
    // An appliance of its own: every simulator starts with the same serial
    // number, and so the same subsystem id.
    static void MakeDistinct(const e2e::Appliance& appliance, const std::string& name, const std::string& serial) {
        appliance.set(R"({"cluster/enabled": false, "system-info/system-name": ")" + name +
                      R"(", "system-info/system-serial-number": ")" + serial + R"("})");
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
};

using Clock = std::chrono::steady_clock;
double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

TEST_F(VdsctlTest, RegistrationsAreKeptAndTheRegisteredProvidersLoad) {
    const Outcome providers = Vdsctl("--json providers");
    ASSERT_EQ(0, providers.status) << providers.err;
    const auto list = providers.Json();
    ASSERT_EQ(2u, list.size()) << providers.out;
    std::set<std::string> types;
    for (const auto& provider : list) types.insert(provider["type"].get<std::string>());
    EXPECT_EQ((std::set<std::string>{"FC", "iSCSI"}), types);

    // Installing registered them; the running service lets go of them when unregistered.
    const Outcome again = Vdsctl("register");
    EXPECT_EQ(1, again.status);
    EXPECT_NE(std::string::npos, again.err.find("0x80042403")) << again.err;
    EXPECT_EQ(0, Vdsctl("unregister").status);
    EXPECT_EQ("[]\n", Vdsctl("--json providers").out);
    EXPECT_EQ(0, Vdsctl("register").status);
    EXPECT_EQ(2u, Vdsctl("--json providers").Json().size());

    const Outcome unknown = Vdsctl("no-such-command");
    EXPECT_EQ(2, unknown.status);
    EXPECT_NE(std::string::npos, unknown.err.find("usage:"));
}

TEST_F(VdsctlTest, BothProvidersListTheirSubsystemsAndObjectsWithoutAskingTheAppliancesAgain) {
    e2e::Appliance fc({"--partner-address", e2e::Appliance::unused_address()});
    e2e::Appliance iscsi;
    Store(fc.address(), 2);
    Store(iscsi.address(), 3);
    RequireSubsystems();
    if (IsSkipped()) return;

    ClearLog(fc);
    ClearLog(iscsi);
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
    // Listings answer from the service's reading.
    EXPECT_EQ(0u, Requests(fc));
    EXPECT_EQ(0u, Requests(iscsi));
}

// The simulated host's two HBA ports are logged in, one to each node of the
// cluster: each controller has the port its node sees.
TEST_F(VdsctlTest, EachControllerListsThePortTheHostIsLoggedInThrough) {
    e2e::Appliance fc({"--partner-address", e2e::Appliance::unused_address()});
    FollowWithHost({&fc});
    Store(fc.address(), 2);
    RequireSubsystems();
    if (IsSkipped()) return;
    std::multiset<std::string> byController;
    for (const auto& port : Vdsctl("--json --provider fc ports").Json()) byController.insert(port.value("controller", ""));
    EXPECT_EQ((std::multiset<std::string>{"0c", "0d"}), byController);
}

TEST_F(VdsctlTest, AnIdFromTheListingDrivesEveryLaterCommandOnTheLun) {
    e2e::Appliance fc({"--partner-address", e2e::Appliance::unused_address()});
    FollowWithHost({&fc});
    Store(fc.address(), 2);
    RequireSubsystems();
    if (IsSkipped()) return;

    const Outcome created = Vdsctl(std::string("--json --provider fc create-lun --size 64M --mask ") +
                                   e2e::SimulatedHost::kFcInitiator);
    ASSERT_EQ(0, created.status) << created.err;
    const auto documents = Documents(created.out);
    ASSERT_FALSE(documents.empty());
    ASSERT_TRUE(documents[0].is_array() && documents[0].size() == 1) << created.out;
    const std::string id = documents[0][0]["id"];
    const std::string name = documents[0][0]["name"];
    EXPECT_EQ(64u << 20, documents[0][0]["size"].get<uint64_t>());
    // The listed form of a WWN reaches the provider as its 16 digits; the
    // LUN lists it as the appliance holds it.
    EXPECT_EQ("21:00:00:e0:8b:05:05:04", documents[0][0]["mask"]);
    ASSERT_FALSE(Notifications(created.out).empty());
    EXPECT_EQ("lun arrive", Notifications(created.out).front());
    // The listing gives the same id; after a refresh, which reads the
    // appliance again, still the same id and the mask as the LUN's maps hold it.
    const auto listed = LunsNamed(name, "--provider fc");
    ASSERT_EQ(1u, listed.size());
    EXPECT_EQ(id, listed[0]["id"]);
    const Outcome refreshed = Vdsctl("--json refresh");
    EXPECT_EQ(0, refreshed.status) << refreshed.err;
    EXPECT_FALSE(Contains(Notifications(refreshed.out), "lun modify")) << refreshed.out;
    const auto reread = LunsNamed(name, "--provider fc");
    ASSERT_EQ(1u, reread.size());
    EXPECT_EQ(id, reread[0]["id"]);
    EXPECT_EQ("21:00:00:e0:8b:05:05:04", reread[0]["mask"]) << reread[0].dump();

    const Outcome extended = Vdsctl("--json extend-lun " + id + " --size 32M");
    EXPECT_EQ(0, extended.status) << extended.err;
    EXPECT_TRUE(Contains(Notifications(extended.out), "lun modify")) << extended.out;
    const Outcome renamed = Vdsctl("--json rename-lun " + id + " renamed");
    EXPECT_EQ(0, renamed.status) << renamed.err;
    EXPECT_EQ(std::vector<std::string>{"lun modify"}, Notifications(renamed.out));
    const Outcome masked = Vdsctl("--json mask-lun " + id + " 21:00:00:e0:8b:05:05:05");
    EXPECT_EQ(0, masked.status) << masked.err;

    EXPECT_EQ(0, Vdsctl("refresh").status);
    const auto rows = LunsNamed("renamed");
    ASSERT_EQ(1u, rows.size());
    EXPECT_EQ(id, rows[0]["id"]);
    EXPECT_EQ((96u << 20), rows[0]["size"].get<uint64_t>());
    // A mapped LUN given another list is mapped to exactly that list.
    EXPECT_EQ("21:00:00:e0:8b:05:05:05", rows[0]["mask"]);

    const Outcome deleted = Vdsctl("--json delete-lun " + id);
    EXPECT_EQ(0, deleted.status) << deleted.err;
    EXPECT_TRUE(Contains(Notifications(deleted.out), "lun depart")) << deleted.out;
    const Outcome gone = Vdsctl("delete-lun " + id);
    EXPECT_EQ(1, gone.status);
    EXPECT_NE(std::string::npos, gone.err.find("0x80042405")) << gone.err;
}

TEST_F(VdsctlTest, ANameOfTwoLunsIsRefusedWithEachMatchAndChangesNothing) {
    e2e::Appliance fc;
    e2e::Appliance iscsi;
    MakeDistinct(iscsi, "zarvo-i", "3003520");
    Store(fc.address(), 2);
    Store(iscsi.address(), 3);
    RequireSubsystems();
    if (IsSkipped()) return;
    const auto both = LunsNamed("lun0");
    ASSERT_EQ(2u, both.size()) << "both appliances hold a lun0";

    ClearLog(fc);
    ClearLog(iscsi);
    const Outcome refused = Vdsctl("delete-lun lun0");
    EXPECT_EQ(1, refused.status);
    for (const auto& row : both) {
        EXPECT_NE(std::string::npos, refused.err.find(row["id"].get<std::string>())) << refused.err;
        EXPECT_NE(std::string::npos, refused.err.find(row["subsystem"].get<std::string>())) << refused.err;
    }
    EXPECT_EQ(0u, Requests(fc));
    EXPECT_EQ(0u, Requests(iscsi));
    EXPECT_EQ(2u, LunsNamed("lun0").size());

    // --subsystem narrows the name to one.
    const std::string subsystem = Vdsctl("--json --provider iscsi subsystems").Json()[0]["id"];
    const Outcome narrowed = Vdsctl("--subsystem " + subsystem + " rename-lun lun0 lun0-iscsi");
    EXPECT_EQ(0, narrowed.status) << narrowed.err;
    EXPECT_EQ(1u, LunsNamed("lun0").size());
    EXPECT_EQ(1u, LunsNamed("lun0-iscsi").size());
}

TEST_F(VdsctlTest, AClientKilledDuringCreateLunLeavesALunThatArrives) {
    e2e::Appliance iscsi;
    Store(iscsi.address(), 3);
    RequireSubsystems();
    if (IsSkipped()) return;

    Background watch("--json watch", m_root / "watch.out", Background::Errors::merged);
    ASSERT_TRUE(watch.WaitFor("watching for notifications")) << watch.Output();
    iscsi.fault(R"({"kind": "delay", "delay": 4, "request": "lun-create-by-size"})");
    Background creating("--provider iscsi create-lun --size 32M", m_root / "create.out", Background::Errors::merged);
    // The operation is under way once its progress shows; then the client goes.
    ASSERT_TRUE(creating.WaitFor("%")) << creating.Output();
    creating.Kill();
    creating.Wait();
    ASSERT_TRUE(watch.WaitFor("\"arrive\"")) << watch.Output();
    EXPECT_TRUE(Contains(Notifications(watch.Output()), "lun arrive")) << watch.Output();
    const auto events = Documents(watch.Output());
    std::string id;
    for (const auto& event : events)
        if (event.is_object() && event.value("object", "") == "lun") id = event["id"];
    bool listed = false;
    for (const auto& row : Vdsctl("--json luns").Json()) listed |= row["id"] == id;
    EXPECT_TRUE(listed) << id;
}

TEST_F(VdsctlTest, WatchSeesTheAppletsChangesReachTheProvidersAtTheNextReenumeration) {
    e2e::Appliance first;
    e2e::Appliance second;
    MakeDistinct(second, "zarvo-i", "3003520");
    Store(first.address(), 3);
    RequireSubsystems();
    if (IsSkipped()) return;

    Background watch("--json --provider iscsi watch 600", m_root / "watch.out", Background::Errors::merged);
    ASSERT_TRUE(watch.WaitFor("watching for notifications")) << watch.Output();
    auto arrivals = [&](size_t n, const char* event) {
        return WaitUntil(
            [&] {
                const auto events = Notifications(watch.Output());
                return static_cast<size_t>(std::count(events.begin(), events.end(), event)) >= n;
            },
            120s);
    };
    // Added in the applet: nothing changes until a list pass, which another client asks for.
    ASSERT_EQ(S_OK, Commit(second.address(), 3, e2e::Appliance::kPassword, FILER_RECORD_CHANGED));
    EXPECT_EQ(1u, Vdsctl("--json --provider iscsi subsystems").Json().size());
    EXPECT_EQ(0, Vdsctl("reenumerate").status);
    ASSERT_TRUE(arrivals(1, "subsystem arrive")) << watch.Output();
    EXPECT_EQ(2u, Vdsctl("--json --provider iscsi subsystems").Json().size());

    // The login corrected in the applet: the subsystem is made again with it.
    first.set(R"({"auth/password": "changed"})");
    ASSERT_EQ(S_OK, Commit(first.address(), 3, "changed", FILER_RECORD_CHANGED));
    EXPECT_EQ(0, Vdsctl("reenumerate").status);
    ASSERT_TRUE(arrivals(2, "subsystem arrive")) << watch.Output();

    // Removed: it departs.
    ASSERT_EQ(S_OK, Commit(second.address(), 3, e2e::Appliance::kPassword, FILER_RECORD_DELETE));
    EXPECT_EQ(0, Vdsctl("reenumerate").status);
    ASSERT_TRUE(arrivals(2, "subsystem depart")) << watch.Output();

    const std::vector<std::string> expected = {"subsystem arrive", "subsystem depart", "subsystem arrive",
                                               "subsystem depart"};
    EXPECT_EQ(expected, Notifications(watch.Output())) << watch.Output();
    EXPECT_EQ(1u, Vdsctl("--json --provider iscsi subsystems").Json().size());
}

TEST_F(VdsctlTest, TheServicesTraceHoldsTheProvidersDiscovery) {
    const fs::path trace = m_root / "trace.log";
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"SYSTEM\\CurrentControlSet\\Services\\SanProvD\\Parameters",
                                             0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr));
    const std::u16string file = platform::utf8_to_wide_lossy(trace.string());
    RegSetValueExW(key, u"LogFile", 0, REG_SZ, reinterpret_cast<const BYTE*>(file.c_str()),
                   static_cast<DWORD>((file.size() + 1) * sizeof(WCHAR)));
    RegCloseKey(key);
    e2e::Appliance iscsi;
    Store(iscsi.address(), 3);
    RequireSubsystems();
    if (IsSkipped()) return;
    EXPECT_EQ(0, Vdsctl("luns").status);

    const std::string text = ReadFile(trace);
    for (const char* line : {"CZarvoProvider::RefreshSubsystemsList", "ZarvoSan::Initialize", "CZarvoProvider::GetObject"})
        EXPECT_NE(std::string::npos, text.find(line)) << line;
}

TEST_F(VdsctlTest, AnotherUserIsRefusedBeforeAnyCommandRuns) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
    e2e::Appliance iscsi;
    Store(iscsi.address(), 3);
    RequireSubsystems();
    if (IsSkipped()) return;
    // Even with the file modes opened up, the service's own check refuses the peer.
    for (const fs::path& path : {m_root, m_root / "run"}) ::chmod(path.c_str(), 0755);
    ::chmod((m_root / "run" / "sanprovd-vds.sock").c_str(), 0666);
    ClearLog(iscsi);
    const fs::path shared = m_root / "nobody";
    fs::create_directory(shared);
    ::chmod(shared.c_str(), 0777);
    const fs::path err = shared / "err";
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::setuid(65534) != 0) ::_exit(90);
        const std::string command = std::string(VDSCTL) + " --json reenumerate 2>" + err.string();
        ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (code == 126 || code == 127) GTEST_SKIP() << "vdsctl cannot be run by another user here";
    EXPECT_EQ(3, code);
    EXPECT_NE(std::string::npos, ReadFile(err).find("0x80070005")) << ReadFile(err);
    EXPECT_EQ(0u, Requests(iscsi));
}

TEST_F(VdsctlTest, HostileFramesAndTooManyConnectionsLeaveTheServiceServing) {
    RequireSubsystems();
    if (IsSkipped()) return;
    const std::string path = (m_root / "run" / "sanprovd-vds.sock").string();
    auto connect = [&] {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
        EXPECT_EQ(0, ::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr));
        return fd;
    };
    // Each is sent after the greeting; the service closes that connection.
    const std::vector<std::string> hostile = {
        std::string("\xff\xff\xff\xff", 4),                                // a length beyond any bound
        std::string("\x05\x00\x00\x00\x09xxxx", 9),                        // an unknown kind
        std::string("\x05\x00\x00\x00\x02\xe8\x03\x00\x00", 9),            // 1,000 arguments in five bytes
        std::string("\x0a\x00\x00\x00\x02\x01\x00\x00\x00\xff\xff\xff\x7f\x00", 14),  // an argument past the frame
        std::string("\x10\x00\x00\x00\x02", 5),                            // half a frame, then gone
    };
    for (const std::string& bytes : hostile) {
        const int fd = connect();
        char hello[9];
        ASSERT_EQ(9, ::recv(fd, hello, sizeof hello, MSG_WAITALL));
        ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        ::shutdown(fd, SHUT_WR);
        char rest[64];
        EXPECT_LE(::recv(fd, rest, sizeof rest, 0), 0) << "answered a hostile frame";
        ::close(fd);
    }
    // More connections than the service takes at once: the others are told it is busy.
    std::vector<int> held;
    size_t busy = 0;
    for (int i = 0; i < 80; ++i) {
        const int fd = connect();
        char hello[9] = {};
        if (::recv(fd, hello, sizeof hello, MSG_WAITALL) == 9 && std::memcmp(hello + 5, "\xbb\x06\x07\x80", 4) == 0)
            ++busy;
        held.push_back(fd);
    }
    EXPECT_GE(busy, 80u - 64u);
    for (int fd : held) ::close(fd);
    const Outcome after = Vdsctl("--json providers");
    EXPECT_EQ(0, after.status) << after.err;
    EXPECT_EQ(2u, after.Json().size());
}

TEST_F(VdsctlTest, QueryLunFindsTheLunOfAHostDiskBySysfsIdentification) {
    // Two disks as sysfs shows them: one carries the serial of the appliance's
    // /vol/vol1/q1/lun0 in its unit serial number page, the other a stranger's.
    // The service reads them, so it starts with the tree named.
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
    e2e::Appliance fc;
    Store(fc.address(), 2);
    RequireSubsystems();
    unsetenv("SANPROV_SYSFS_ROOT");
    if (IsSkipped()) return;

    const Outcome found = Vdsctl("--json query-lun /dev/sdq");
    const Outcome stranger = Vdsctl("--json query-lun /dev/sdr");
    ASSERT_EQ(0, found.status) << found.err;
    const auto rows = found.Json();
    ASSERT_EQ(1u, rows.size());
    EXPECT_EQ("/dev/sdq", rows[0]["device"]);
    EXPECT_FALSE(rows[0]["lun"].get<std::string>().empty());
    EXPECT_EQ(1, stranger.status);
}

TEST_F(VdsctlTest, IscsiTargetTakesAnAliasASecretFromStandardInputAndAPortalMovesIntoANewGroup) {
    e2e::Appliance iscsi;
    Store(iscsi.address(), 3);
    RequireSubsystems();
    if (IsSkipped()) return;

    const Outcome aliased = Vdsctl("--json --provider iscsi set-alias backup-target");
    ASSERT_EQ(0, aliased.status) << aliased.err;
    EXPECT_EQ(std::vector<std::string>{"target modify"}, Notifications(aliased.out));
    const auto targets = Vdsctl("--json --provider iscsi targets").Json();
    ASSERT_EQ(1u, targets.size()) << targets.dump();
    EXPECT_EQ("backup-target", targets[0]["alias"]);

    // The secret comes from standard input or a file, never the command line.
    const Outcome chap = Vdsctl("--provider iscsi set-chap", "chap-secret-12\n");
    EXPECT_EQ(0, chap.status) << chap.err;
    const std::string fromInput = iscsi.last_request();
    EXPECT_NE(std::string::npos, fromInput.find("<iscsi-initiator-add-auth>")) << fromInput;
    const fs::path secretFile = m_root / "secret";
    std::ofstream(secretFile) << "chap-secret-34";
    const Outcome fromFile = Vdsctl("--provider iscsi set-chap --secret-file " + secretFile.string());
    EXPECT_EQ(0, fromFile.status) << fromFile.err;
    EXPECT_NE(std::string::npos, iscsi.last_request().find("<iscsi-initiator-add-auth>"));
    EXPECT_NE(fromInput, iscsi.last_request()) << "the second secret reached the appliance";

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
    RequireSubsystems();
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

    // Later commands name the LUN by its name, which is unique here.
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
    RequireSubsystems();
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

TEST_F(VdsctlTest, AnUnreachableApplianceOfTheListMakesEveryCommandExitNonZero) {
    e2e::Appliance iscsi;
    Store(iscsi.address(), 3);
    Store(e2e::Appliance::unused_address(), 3);
    const Outcome listed = Vdsctl("--json --provider iscsi subsystems");
    EXPECT_EQ(1, listed.status) << listed.err;
    EXPECT_NE(std::string::npos, listed.err.find("loading")) << listed.err;
    EXPECT_TRUE(listed.Json().is_array()) << listed.out;
}
