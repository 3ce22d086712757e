#include "host.h"

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace e2e {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

nlohmann::json Status(const std::string& directory) {
    std::ifstream in(fs::path(directory) / "host.json");
    return nlohmann::json::parse(in, nullptr, false);
}

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace

SimulatedHost::SimulatedHost(const std::vector<std::string>& appliances, const std::string& iscsiInitiatorName) {
    char pattern[] = "/tmp/sanprov-host-XXXXXX";
    directory_ = ::mkdtemp(pattern) ? pattern : "";
    if (directory_.empty()) {
        ADD_FAILURE() << "no directory for the simulated host";
        return;
    }
    const fs::path dir(directory_);
    initiatorNameFile_ = (dir / "initiatorname.iscsi").string();
    std::ofstream(initiatorNameFile_) << "InitiatorName=" << iscsiInitiatorName << "\n";
    const fs::path ready = dir / "ready", output = dir / "host.out";
    std::vector<std::string> args = {HOST_SIM_PYTHON, HOST_SIM_SCRIPT, "--root", (dir / "host").string(),
                                     "--hba-fixture", HOST_SIM_HBA_FIXTURE, "--initiator-name-file",
                                     initiatorNameFile_, "--ready-file", ready.string()};
    for (const std::string& appliance : appliances) args.insert(args.end(), {"--appliance", appliance});
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    if (::posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    const auto until = std::chrono::steady_clock::now() + 20s;
    while (pid_ > 0 && !fs::exists(ready) && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(20ms);
    if (!fs::exists(ready)) {
        ADD_FAILURE() << "the simulated host did not start:\n" << ReadAll(output);
        return;
    }
    sysfs_ = (dir / "host" / "sys").string();
}

SimulatedHost::~SimulatedHost() {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
    }
    std::error_code ignored;
    if (!directory_.empty()) fs::remove_all(directory_, ignored);
}

void SimulatedHost::Export() const {
    ::setenv("SANPROV_SYSFS_ROOT", sysfs_.c_str(), 1);
    ::setenv("SANPROV_FORBID_REAL_SYSFS", "1", 1);
    ::setenv("SANPROV_LIB_HBAAPI", FAKE_HBAAPI_LIBRARY, 1);
    ::setenv("SANPROV_HBA_FIXTURE", HOST_SIM_HBA_FIXTURE, 1);
    ::setenv("SANPROV_ISCSI_INITIATOR_NAME_FILE", initiatorNameFile_.c_str(), 1);
}

void SimulatedHost::Unexport() {
    for (const char* name : {"SANPROV_SYSFS_ROOT", "SANPROV_LIB_HBAAPI", "SANPROV_HBA_FIXTURE",
                             "SANPROV_ISCSI_INITIATOR_NAME_FILE"})
        ::unsetenv(name);
}

std::vector<SimulatedHost::Disk> SimulatedHost::Disks() const {
    std::vector<Disk> disks;
    const auto status = Status(directory_ + "/host");
    if (!status.is_object()) return disks;
    for (const auto& d : status["disks"])
        disks.push_back({d["name"], d["address"], d["serial"], d["path"], d["size"].get<uint64_t>(), d["host"]});
    return disks;
}

SimulatedHost::Disk SimulatedHost::DiskWithSerial(const std::string& serial) const {
    for (const Disk& disk : Disks())
        if (disk.serial == serial) return disk;
    return {};
}

int SimulatedHost::Scans(int host) const {
    const auto status = Status(directory_ + "/host");
    const std::string key = "host" + std::to_string(host);
    return status.is_object() && status["scans"].contains(key) ? status["scans"][key].get<int>() : -1;
}

bool SimulatedHost::Rescan(int host, std::chrono::milliseconds patience) const {
    const int before = Scans(host);
    std::ofstream(fs::path(sysfs_) / "class/scsi_host" / ("host" + std::to_string(host)) / "scan") << "- - -";
    const auto until = std::chrono::steady_clock::now() + patience;
    while (Scans(host) <= before) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

}  // namespace e2e
