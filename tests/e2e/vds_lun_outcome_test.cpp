// vdsctl against sanprovd: a LUN change that fails says why, in the
// appliance's words, and one that is refused changes nothing.
#include <gtest/gtest.h>

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

#include <nlohmann/json.hpp>

#include "appliance.h"
#include "host.h"

#include <model/filer_record_list.h>
#include <platform/apartment.h>
#include <platform/text.h>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

std::string ReadFile(const fs::path& file) {
    std::ifstream in(file);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

bool WaitUntil(const std::function<bool()>& done, std::chrono::seconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::sleep_for(100ms);
    }
    return true;
}

class LunOutcome : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/vdsctl-outcome-XXXXXX";
        m_root = ::mkdtemp(pattern);
        setenv("SANPROV_ROOT", m_root.c_str(), 1);
        const fs::path nameFile = m_root / "initiatorname.iscsi";
        std::ofstream(nameFile) << "InitiatorName=iqn.1994-05.com.example:outcome\n";
        setenv("SANPROV_ISCSI_INITIATOR_NAME_FILE", nameFile.c_str(), 1);
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        process_filer_record_list().Clear();
        ASSERT_EQ(0, Run(std::string(SANPROVD) + " -Service"));
    }
    void TearDown() override {
        Run(std::string(SCM) + " stop SanProvD");
        WaitUntil([&] { return Query().find("STOPPED") != std::string::npos; }, 60s);
        Run(std::string(SANPROVD) + " -UnregServer");
        m_host.reset();
        e2e::SimulatedHost::Unexport();
        unsetenv("SANPROV_ISCSI_INITIATOR_NAME_FILE");
        process_filer_record_list().Clear();
        CoUninitialize();
        std::error_code ignored;
        fs::remove_all(m_root, ignored);
    }

    static int Run(const std::string& command) {
        const int status = std::system((command + " >/dev/null 2>&1").c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    static std::string Query() {
        FILE* pipe = ::popen((std::string(SCM) + " query SanProvD 2>/dev/null").c_str(), "r");
        char line[256] = {};
        std::string state;
        if (pipe && std::fgets(line, sizeof line, pipe)) state = line;
        if (pipe) ::pclose(pipe);
        return state;
    }
    Outcome Vdsctl(const std::string& arguments) {
        const fs::path err = m_root / "stderr";
        Outcome run;
        FILE* pipe = ::popen((std::string(VDSCTL) + " " + arguments + " </dev/null 2>" + err.string()).c_str(), "r");
        if (!pipe) return run;
        char buffer[4096];
        for (size_t n; (n = std::fread(buffer, 1, sizeof(buffer), pipe)) > 0;) run.out.append(buffer, n);
        const int status = ::pclose(pipe);
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        run.err = ReadFile(err);
        return run;
    }
    void Store(const std::string& address, int32_t type) {
        filer_record_list& list = process_filer_record_list();
        list.Add(u"", platform::utf8_to_wide_lossy(address), u"root",
                 platform::utf8_to_wide_lossy(e2e::Appliance::kPassword).c_str(), type);
        ASSERT_EQ(S_OK, list.Save());
    }
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

    fs::path m_root;
    std::unique_ptr<e2e::SimulatedHost> m_host;
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
