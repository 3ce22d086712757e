// vdsctl's command line as an administrator meets it, against sanprovd and
// simulated appliances: refused lines reach neither the service nor an
// appliance, help and version, provider names, messages that name the
// appliance, an empty CHAP secret, watch and the service going away, and scm
// waiting for the state it asked for.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "appliance.h"
#include "vdsctl_support.h"

#include <model/filer_record_list.h>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

using vdsctl_e2e::Outcome;
using vdsctl_e2e::ReadFile;
using vdsctl_e2e::Requests;

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

class VdsctlCliTest : public vdsctl_e2e::ServiceTest {
protected:
    // TearDown does not wait for the stop it asks for: a test that needs the
    // service stopped waits itself.
    VdsctlCliTest()
        : ServiceTest({.rootPrefix = "vdsctl-cli",
                       .initiator = "iqn.1994-05.com.example:vdsctl-cli",
                       .stopLimit = 0s,
                       .stopOnlyIfRunning = true}) {}

    // One shell command; `input` becomes its standard input.
    Outcome Shell(const std::string& command, const std::string& input = "") {
        const fs::path in = m_root / "stdin", out = m_root / "stdout", err = m_root / "stderr";
        std::ofstream(in) << input;
        const int status = std::system((command + " <" + in.string() + " >" + out.string() + " 2>" + err.string()).c_str());
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFile(out), ReadFile(err)};
    }
    Outcome Vdsctl(const std::string& arguments, const std::string& input = "") {
        return Shell(std::string(VDSCTL) + " " + arguments, input);
    }
    std::string State() { return Shell(std::string(SCM) + " query SanProvD").out; }

    // Brings the service up with its providers loaded; false when the model
    // brings up no subsystem yet.
    bool Loaded() {
        const Outcome providers = Vdsctl("--json providers");
        EXPECT_EQ(0, providers.status) << providers.err;
        return providers.status == 0 && !Has(providers.out, "0x80004001");
    }
};

}  // namespace

// Each kind of bad input, refused by the client: exit 2, the command and the
// value named with the command's usage line, and nothing sent — the service
// is not even started, and the appliances see no request.
TEST_F(VdsctlCliTest, RefusedLinesReachNeitherTheServiceNorTheAppliances) {
    e2e::Appliance fc, iscsi;
    Store(fc.address(), 2);
    Store(iscsi.address(), 3);
    const struct {
        const char* kind;
        std::string line;
        std::vector<std::string> said;
    } cases[] = {
        {"provider", "--provider xyz luns", {"luns: --provider \"xyz\" is not a provider", "usage: vdsctl [OPTIONS] luns"}},
        {"provider", "--provider fcp subsystems", {"--provider \"fcp\""}},
        {"provider", "--provider '' refresh", {"refresh: --provider \"\""}},
        {"size", "create-lun --size 1Gxyz", {"create-lun: --size \"1Gxyz\" is not a size", "usage: vdsctl [OPTIONS] create-lun"}},
        {"size", "create-lun --size 0x10M", {"--size \"0x10M\" is not a size"}},
        {"size", "create-lun --size 1e3M", {"--size \"1e3M\""}},
        {"size", "create-lun --size nan", {"--size \"nan\""}},
        {"size", "create-lun --size=-1G", {"--size \"-1G\" is negative"}},
        {"size", "create-lun --size 0", {"--size \"0\" is zero"}},
        {"size", "extend-lun lun0 --size 16E", {"extend-lun: --size \"16E\" is too large"}},
        {"named value", "create-lun --size 1G --type raid5", {"--type \"raid5\" is not a LUN type", "simple (10)"}},
        {"named value", "set-lb-policy lun0 fastest", {"set-lb-policy: POLICY \"fastest\"", "round-robin (2)"}},
        {"argument", "extend-lun --size 1G", {"extend-lun: LUN is missing", "usage: vdsctl [OPTIONS] extend-lun LUN --size SIZE"}},
        {"argument", "rename-lun lun0", {"rename-lun: NAME is missing"}},
        {"argument", "delete-lun a b", {"delete-lun: unexpected argument \"b\""}},
        {"argument", "luns --frob", {"unknown option \"--frob\""}},
        {"argument", "frobnicate", {"unknown command \"frobnicate\""}},
        {"watch", "watch abc", {"watch: SECONDS \"abc\" is not a whole number", "usage: vdsctl [OPTIONS] watch [SECONDS]"}},
        {"secret file", "--provider iscsi set-chap --secret-file " + (m_root / "no-such-file").string(),
         {"set-chap: cannot read the secret from", "nothing was sent"}},
    };
    for (const auto& c : cases) {
        const Outcome refused = Vdsctl(c.line);
        EXPECT_EQ(2, refused.status) << c.kind << ": " << c.line << "\n" << refused.err;
        EXPECT_EQ("", refused.out) << c.line;
        for (const std::string& part : c.said) EXPECT_TRUE(Has(refused.err, part)) << c.line << "\n" << refused.err;
    }
    EXPECT_TRUE(Has(State(), "STOPPED")) << "a refused line started sanprovd";
    EXPECT_EQ(0u, Requests(fc));
    EXPECT_EQ(0u, Requests(iscsi));

}

TEST_F(VdsctlCliTest, HelpGoesToStandardOutputAndVersionNamesTheProviders) {
    const struct {
        const char* line;
        const char* said;
    } cases[] = {
        {"--help", "Exit status: 0 done"},
        {"-h", "usage: vdsctl [OPTIONS] COMMAND"},
        {"help", "usage: vdsctl [OPTIONS] COMMAND"},
        {"create-lun --help", "usage: vdsctl [OPTIONS] create-lun --size SIZE [--mask INITIATORS] [--type TYPE]"},
        {"help set-chap", "An empty secret clears"},
    };
    for (const auto& c : cases) {
        const Outcome help = Vdsctl(c.line);
        EXPECT_EQ(0, help.status) << c.line;
        EXPECT_EQ("", help.err) << c.line;
        EXPECT_TRUE(Has(help.out, c.said)) << c.line << "\n" << help.out;
    }
    const Outcome version = Vdsctl("--version");
    EXPECT_EQ(0, version.status) << version.err;
    EXPECT_TRUE(Has(version.out, "Zarvo VDS Hardware Provider (FCP) 1.0.")) << version.out;
    EXPECT_TRUE(Has(version.out, "Zarvo VDS Hardware Provider (iSCSI) 1.0.")) << version.out;
}

// --provider takes fc and iscsi in any case, and the names `providers` prints.
TEST_F(VdsctlCliTest, ProvidersAreNamedByKindInAnyCaseOrByTheirListedName) {
    e2e::Appliance fc({"--partner-address", e2e::Appliance::unused_address()});
    Store(fc.address(), 2);
    if (!Loaded()) GTEST_SKIP() << "the SAN model does not bring up subsystems yet";
    std::string fcName;
    for (const auto& row : nlohmann::json::parse(Vdsctl("--json providers").out))
        if (row["type"] == "FC") fcName = row["name"];
    ASSERT_FALSE(fcName.empty());
    const struct {
        std::string option;
        size_t subsystems;
    } cases[] = {{"--provider FC", 1}, {"--provider=fc", 1}, {"--provider '" + fcName + "'", 1},
                 {"--provider iSCSI", 0}, {"--provider=ISCSI", 0}};
    for (const auto& c : cases) {
        const Outcome listed = Vdsctl("--json " + c.option + " subsystems");
        EXPECT_EQ(0, listed.status) << c.option << ": " << listed.err;
        EXPECT_EQ(c.subsystems, nlohmann::json::parse(listed.out, nullptr, false).size()) << c.option;
    }
}

// An appliance the providers cannot read is named in what every command
// prints: at the load, by reenumerate and by refresh.
TEST_F(VdsctlCliTest, AnUnreadableApplianceIsNamedInTheMessage) {
    const std::string unused = e2e::Appliance::unused_address();
    Store(unused, 3);
    const std::string named = "0xC0042502: Subsystem \"" + unused + "\" is offline or unreachable.";
    const Outcome listed = Vdsctl("--provider iscsi subsystems");
    EXPECT_EQ(1, listed.status);
    EXPECT_TRUE(Has(listed.err, "loading Zarvo VDS Hardware Provider (iSCSI) failed: " + named)) << listed.err;
    const Outcome reenumerated = Vdsctl("--provider iscsi reenumerate");
    EXPECT_EQ(1, reenumerated.status);
    EXPECT_TRUE(Has(reenumerated.err, "reenumerate (Zarvo VDS Hardware Provider (iSCSI)) failed: " + named))
        << reenumerated.err;
    // Every later command reports it again, until a pass reads every appliance.
    const Outcome again = Vdsctl("--provider iscsi luns");
    EXPECT_EQ(1, again.status);
    EXPECT_TRUE(Has(again.err, "loading Zarvo VDS Hardware Provider (iSCSI) failed: " + named)) << again.err;

    // A refresh of an appliance that went away.
    ASSERT_EQ(0, Shell(std::string(SCM) + " stop SanProvD").status);
    e2e::Appliance iscsi;
    {
        filer_record_list& list = process_filer_record_list();
        for (auto& [key, record] : list.m_map) record->m_iFlags = FILER_RECORD_DELETE;
        ASSERT_EQ(S_OK, list.Save());
        list.Clear();
    }
    Store(iscsi.address(), 3);
    if (!Loaded()) GTEST_SKIP() << "the SAN model does not bring up subsystems yet";
    iscsi.control("POST", "/sim/shutdown");
    std::this_thread::sleep_for(300ms);
    const Outcome refreshed = Vdsctl("--provider iscsi refresh");
    EXPECT_EQ(1, refreshed.status);
    EXPECT_TRUE(Has(refreshed.err, "refresh (Zarvo VDS Hardware Provider (iSCSI)) failed: ")) << refreshed.err;
    EXPECT_TRUE(Has(refreshed.err, ": Subsystem \"" + iscsi.address() + "\" is offline or unreachable.")) << refreshed.err;
    EXPECT_FALSE(Has(listed.err + reenumerated.err + refreshed.err, "\"\"")) << "an insert left empty";
}

// An empty secret, from standard input or the file, clears the initiator's
// secret; any other sets it.
TEST_F(VdsctlCliTest, AnEmptyChapSecretClearsTheInitiatorsSecret) {
    e2e::Appliance iscsi;
    Store(iscsi.address(), 3);
    if (!Loaded()) GTEST_SKIP() << "the SAN model does not bring up subsystems yet";
    const fs::path secretFile = m_root / "secret", emptyFile = m_root / "empty";
    std::ofstream(secretFile) << "chap-secret-34\n";
    std::ofstream(emptyFile) << "";
    // Each clear follows a set: the appliance refuses to clear what is not set.
    const struct {
        std::string line;
        std::string input;
        const char* request;
        int status;
    } cases[] = {
        {"set-chap", "chap-secret-12\n", "<iscsi-initiator-add-auth>", 0},
        {"set-chap", "", "<iscsi-initiator-delete-auth>", 0},
        {"set-chap --secret-file " + secretFile.string(), "", "<iscsi-initiator-add-auth>", 0},
        {"set-chap --secret-file /dev/null", "ignored\n", "<iscsi-initiator-delete-auth>", 0},
        {"set-chap", "chap-secret-56", "<iscsi-initiator-add-auth>", 0},
        {"set-chap --secret-file=" + emptyFile.string(), "", "<iscsi-initiator-delete-auth>", 0},
        {"set-chap", "\n", "<iscsi-initiator-delete-auth>", 1},
    };
    for (const auto& c : cases) {
        iscsi.control("POST", "/sim/log/clear");
        const Outcome chap = Vdsctl("--provider iscsi " + c.line, c.input);
        EXPECT_EQ(c.status, chap.status) << c.line << ": " << chap.err;
        EXPECT_TRUE(Has(iscsi.last_request(), c.request)) << c.line << "\n" << iscsi.last_request();
    }
    // The appliance's reason for the last refusal reaches the command line.
    EXPECT_TRUE(Has(Vdsctl("--provider iscsi set-chap").err, "No authentication is defined for initiator"));
}

// A named LUN type goes through to a created LUN.
TEST_F(VdsctlCliTest, ANamedTypeAndAUnitSizeCreateTheLun) {
    e2e::Appliance iscsi;
    Store(iscsi.address(), 3);
    if (!Loaded()) GTEST_SKIP() << "the SAN model does not bring up subsystems yet";
    const Outcome created = Vdsctl("--json --bytes --provider iscsi create-lun --size=16MiB --type Default");
    ASSERT_EQ(0, created.status) << created.err;
    std::istringstream lines(created.out);
    std::string first;
    std::getline(lines, first);
    const auto rows = nlohmann::json::parse(first, nullptr, false);
    ASSERT_TRUE(rows.is_array() && rows.size() == 1) << created.out;
    EXPECT_EQ(16u << 20, rows[0]["size"].get<uint64_t>());
}

// A watch whose service stops says so and fails; scm returns from a stop
// only once the service stopped, so a start right after it works.
TEST_F(VdsctlCliTest, AWatchEndsWithAFailureWhenTheServiceStopsAndScmWaitsForTheStateItAskedFor) {
    ASSERT_TRUE(Loaded());
    ASSERT_TRUE(Has(State(), "RUNNING"));
    const fs::path out = m_root / "watch.out";
    const std::string command = std::string(VDSCTL) + " watch >" + out.string() + " 2>&1";
    const pid_t watch = ::fork();
    if (watch == 0) {
        ::execl("/bin/sh", "sh", "-c", ("exec " + command).c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    const auto end = std::chrono::steady_clock::now() + 30s;
    while (!Has(ReadFile(out), "watching") && std::chrono::steady_clock::now() < end) std::this_thread::sleep_for(50ms);

    for (int round = 0; round < 2; ++round) {
        const Outcome stopped = Shell(std::string(SCM) + " stop SanProvD");
        EXPECT_EQ(0, stopped.status) << stopped.err;
        EXPECT_TRUE(Has(State(), "STOPPED")) << "round " << round;
        const Outcome started = Shell(std::string(SCM) + " start SanProvD");
        EXPECT_EQ(0, started.status) << "round " << round << ": " << started.err;
        EXPECT_TRUE(Has(State(), "RUNNING")) << "round " << round;
    }

    int status = 0;
    ASSERT_EQ(watch, ::waitpid(watch, &status, 0));
    EXPECT_EQ(3, WIFEXITED(status) ? WEXITSTATUS(status) : -1) << ReadFile(out);
    EXPECT_TRUE(Has(ReadFile(out), "vdsctl: watch: sanprovd is stopping")) << ReadFile(out);

    const Outcome again = Shell(std::string(SCM) + " start SanProvD");
    EXPECT_EQ(1, again.status);
    EXPECT_TRUE(Has(again.err, "1056")) << again.err;

    // A service that dies under a watch: the client says so and fails alike.
    std::filesystem::remove(out);
    const pid_t second = ::fork();
    if (second == 0) {
        ::execl("/bin/sh", "sh", "-c", ("exec " + command).c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    const auto until = std::chrono::steady_clock::now() + 30s;
    while (!Has(ReadFile(out), "watching") && std::chrono::steady_clock::now() < until) std::this_thread::sleep_for(50ms);
    std::ifstream record(m_root / "run" / "scm" / "SanProvD.status");
    long state = 0, exit = 0, specific = 0, pid = 0;
    ASSERT_TRUE(record >> state >> exit >> specific >> pid && pid > 0);
    ::kill(static_cast<pid_t>(pid), SIGKILL);
    ASSERT_EQ(second, ::waitpid(second, &status, 0));
    EXPECT_EQ(3, WIFEXITED(status) ? WEXITSTATUS(status) : -1) << ReadFile(out);
    EXPECT_TRUE(Has(ReadFile(out), "vdsctl: sanprovd went away before the command ended")) << ReadFile(out);
}
