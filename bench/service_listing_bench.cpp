// The user's view of an appliance with many LUNs: sanprovd installed in a
// fresh state root, one Fibre Channel appliance stored, then
//   - the first reading: the first vdsctl command, which starts the service,
//     loads the providers and reads the appliance;
//   - `vdsctl luns`, `vdsctl --json luns` and `vdsctl subsystems` repeated
//     against the running service;
//   - `vdsctl luns` while a masked `create-lun` waits for the host (a
//     simulated host, which the service rescans) and while the deletion of
//     that mapped LUN is in its rescan passes: both hold the subsystem (on an
//     appliance of one LUN fewer, where the provider has a LUN number free).
// For each it prints the wall time, the client's and the service's CPU time
// and the appliance requests it caused.
//   service_listing_bench [LUN counts...]   (default: 1024 2048)
#include <model/filer_record_list.h>
#include <platform/text.h>

#include "bench_appliance.h"
#include "host.h"

#include <sys/resource.h>
#include <sys/wait.h>

#include <fcntl.h>
#include <spawn.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>
#include <iterator>
#include <sstream>
#include <cstdlib>

namespace {

using namespace bench;
namespace fs = std::filesystem;
using json = nlohmann::ordered_json;
constexpr int kRepeats = 5;

double seconds(const timeval& tv) { return static_cast<double>(tv.tv_sec) + static_cast<double>(tv.tv_usec) / 1e6; }

struct Run {
    int status = -1;
    double wall = 0;
    double cpu = 0;  // the child's user and system time
};

// Runs a program with its output thrown away.
Run run(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    std::vector<std::string> copy = args;
    for (auto& a : copy) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    Run result;
    const auto begin = std::chrono::steady_clock::now();
    pid_t pid = -1;
    if (::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
        int status = 0;
        rusage usage{};
        ::wait4(pid, &status, 0, &usage);
        result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        result.cpu = seconds(usage.ru_utime) + seconds(usage.ru_stime);
    }
    result.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    posix_spawn_file_actions_destroy(&actions);
    return result;
}

// The service's pid, as the service-manager stand-in records it.
long service_pid(const fs::path& root) {
    std::ifstream in(root / "run" / "scm" / "SanProvD.status");
    long state = 0, exit = 0, specific = 0, pid = 0;
    in >> state >> exit >> specific >> pid;
    return pid;
}

double process_cpu(long pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const size_t close = text.rfind(')');
    if (close == std::string::npos) return 0;
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int i = 3; fields >> field; ++i) {
        if (i == 14) utime = std::stoull(field);
        if (i == 15) {
            stime = std::stoull(field);
            break;
        }
    }
    return static_cast<double>(utime + stime) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

// A program started in the background, its output (both streams) in a file.
class Started {
public:
    Started(const std::vector<std::string>& args, const fs::path& out) : m_out(out) {
        std::vector<std::string> copy = args;
        std::vector<char*> argv;
        for (auto& a : copy) argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);  // progress records come on standard error
        if (::posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~Started() { Wait(); }
    // Waits up to a minute for the output to hold `text`.
    bool Shows(const std::string& text) const {
        std::string out;
        for (int i = 0; i < 600; ++i) {
            std::ifstream in(m_out);
            out.assign((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            if (out.find(text) != std::string::npos) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        std::fprintf(stderr, "no \"%s\" in:\n%s\n", text.c_str(), out.c_str());
        return false;
    }
    int Wait() {
        int status = 0;
        if (m_pid > 0) ::waitpid(m_pid, &status, 0);
        m_pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    fs::path m_out;
    pid_t m_pid = -1;
};

size_t requests(const Simulator& sim) {
    const auto log = nlohmann::json::parse(sim.control("GET", "/sim/log"), nullptr, false);
    sim.control("POST", "/sim/log/clear");
    return log.is_array() ? log.size() : 0;
}

// One `vdsctl luns` while the work holds the subsystem (its rescan pass shown).
int listing_while(const char* work, int count, const Simulator& sim, double firstReading) {
    sim.control("POST", "/sim/log/clear");
    const Run listing = run({VDSCTL, "luns"});
    const size_t asked = requests(sim);
    std::printf("%5d LUNs: vdsctl luns while %-38s wall %.3f s (%.1f%% of the first reading), "
                "client CPU %.3f s, %zu requests (exit %d)\n",
                count, work, listing.wall, 100.0 * listing.wall / firstReading, listing.cpu, asked, listing.status);
    return listing.status != 0;
}

// The id of the first LUN of a --json listing or create-lun output in a file.
std::string first_lun(const fs::path& out) {
    std::ifstream in(out);
    for (std::string line; std::getline(in, line);) {
        const auto rows = nlohmann::json::parse(line, nullptr, false);
        if (rows.is_array() && !rows.empty() && rows[0].contains("id")) return rows[0]["id"];
    }
    return "";
}

// A masked create, then the deletion of that LUN (mapped to the host, so its
// rescan passes end when the disk goes).
int during_lun_work(int count, const Simulator& sim, const fs::path& root, double firstReading) {
    int failures = 0;
    const fs::path out = root / "work.out";
    {
        Started create({VDSCTL, "--json", "--provider", "fc", "create-lun", "--size", "64M", "--mask",
                        e2e::SimulatedHost::kFcInitiator},
                       out);
        if (!create.Shows("host rescan pass")) return 1;
        failures += listing_while("a masked create-lun waits for the host", count, sim, firstReading);
        failures += create.Wait() != 0;
    }
    const std::string created = first_lun(out);
    if (created.empty()) return failures + 1;
    Started deletion({VDSCTL, "--json", "delete-lun", created}, out);
    if (!deletion.Shows("host rescan pass")) return failures + 1;
    failures += listing_while("an FC delete is in its rescan passes", count, sim, firstReading);
    return failures + (deletion.Wait() != 0);
}

// With `work`, the appliance holds one LUN less (the provider's LUN numbers
// run out at 1,024) and the listings run during the LUN work only.
int measure(int count, const fs::path& root, bool work) {
    auto state = appliance_with_luns(count);
    if (work && !state["luns"].empty()) state["luns"].erase(state["luns"].size() - 1);
    Simulator sim(state);
    if (!sim.running()) {
        std::fprintf(stderr, "the simulated appliance did not start\n");
        return 1;
    }
    // The host that the create and the delete rescan: never the real machine.
    const e2e::SimulatedHost host({appliance_address() + ":80"}, "iqn.1994-05.com.example:listing-bench");
    host.Export();
    filer_record_list& list = process_filer_record_list();
    list.Clear();
    list.Add(u"", platform::utf8_to_wide_lossy(appliance_address()), u"root", u"zarvo123", 2);
    if (FAILED(list.Save()) || run({SANPROVD, "-Service"}).status != 0) {
        std::fprintf(stderr, "sanprovd did not install\n");
        return 1;
    }
    sim.control("POST", "/sim/log/clear");
    const Run first = run({VDSCTL, "--provider", "fc", "subsystems"});
    const long pid = service_pid(root);
    std::printf("%5d LUNs: first reading (service start, providers, appliance) wall %.2f s, client CPU %.3f s, "
                "service CPU %.2f s, %zu requests (exit %d)\n",
                count, first.wall, first.cpu, process_cpu(pid), requests(sim), first.status);
    int failures = first.status != 0;
    const std::vector<std::pair<const char*, std::vector<std::string>>> listings = {
        {"luns", {VDSCTL, "luns"}},
        {"--json luns", {VDSCTL, "--json", "luns"}},
        {"subsystems", {VDSCTL, "subsystems"}},
    };
    for (const auto& [name, args] : work ? decltype(listings){} : listings) {
        double wall = 0, client = 0, service = 0;
        size_t asked = 0;
        for (int i = 0; i < kRepeats; ++i) {
            const double before = process_cpu(pid);
            const Run listing = run(args);
            service += process_cpu(pid) - before;
            wall += listing.wall;
            client += listing.cpu;
            asked += requests(sim);
            failures += listing.status != 0;
        }
        std::printf("%5d LUNs: vdsctl %-12s wall %.3f s (%.1f%% of the first reading), client CPU %.3f s, "
                    "service CPU %.3f s, %.1f requests per listing\n",
                    count, name, wall / kRepeats, 100.0 * wall / kRepeats / first.wall, client / kRepeats,
                    service / kRepeats, static_cast<double>(asked) / kRepeats);
    }
    if (work) failures += during_lun_work(count, sim, root, first.wall);
    run({SCM, "stop", "SanProvD"});
    for (int i = 0; i < 600 && ::kill(static_cast<pid_t>(pid), 0) == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    run({SANPROVD, "-UnregServer"});
    list.Clear();
    return failures;
}

}  // namespace

int main(int argc, char** argv) {
    const bench::StateRoot root;
    if (!root.valid()) return 1;
    std::vector<int> counts;
    for (int i = 1; i < argc; ++i) counts.push_back(std::atoi(argv[i]));
    if (counts.empty()) counts = {1024, 2048};
    int failures = 0;
    for (int count : counts) failures += measure(count, root.path(), false) + measure(count, root.path(), true);
    return failures == 0 ? 0 : 1;
}
