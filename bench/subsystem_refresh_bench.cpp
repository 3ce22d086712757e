// A refresh of a Fibre Channel subsystem whose appliance holds many LUNs: the
// provider's own LUNs (numbers 0 to 1023) and, beyond them, an administrator's.
// For each size it prints the refresh's wall time, the requests and reply
// bytes per LUN, the provider's CPU time and the process's peak RSS.
//   subsystem_refresh_bench [LUN counts...]   (default: 1024 2048)
#include <model/filer_object_container.h>
#include <model/zarvo_san.h>

#include <nlohmann/json.hpp>

#include <sys/resource.h>
#include <sys/wait.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using json = nlohmann::ordered_json;

constexpr uint64_t kLunSize = 100ull << 20;
constexpr int kOwnLunNumbers = 1024;
const char* const kAddress = "127.59.0.2";

std::string own_path(int n) {
    return "/vol/ZarvoVolume" + std::to_string(n) + "/ZarvoQtree" + std::to_string(n) + "/ZarvoLun" +
           std::to_string(n);
}

// The default appliance with `count` LUNs, each in a volume of its own, each
// mapped to one host's group.
json fixture(int count) {
    std::ifstream in(DEFAULT_FIXTURE);
    json d = json::parse(in);
    d["cluster"]["enabled"] = false;
    d.erase("tandril");
    json volumes = json::array();
    for (const auto& v : d["volumes"])
        if (v["name"] == "vol0") volumes.push_back(v);
    json luns = json::array();
    for (int n = 0; n < count; ++n) {
        const bool own = n < kOwnLunNumbers;
        const std::string volume = own ? "ZarvoVolume" + std::to_string(n) : "admvol" + std::to_string(n);
        const std::string qtree = own ? "ZarvoQtree" + std::to_string(n) : "q";
        volumes.push_back({{"name", volume}, {"aggregate", "aggr1"}, {"size", 2 * kLunSize},
                           {"space-reserve", "none"}, {"snapshot-reserve-percent", 0},
                           {"qtrees", json::array({{{"name", qtree}, {"id", 1}, {"security-style", "ntfs"},
                                                    {"oplocks", "enabled"}}})}});
        char serial[16];
        std::snprintf(serial, sizeof serial, "Bench%07d", n);
        luns.push_back({{"path", own ? own_path(n) : "/vol/" + volume + "/q/lun" + std::to_string(n)},
                        {"size", kLunSize},
                        {"type", "windows"},
                        {"serial-number", serial},
                        {"maps", {{"ig_host1_fc", n}}}});
    }
    d["volumes"] = volumes;
    d["luns"] = luns;
    return d;
}

struct Simulator {
    pid_t pid = -1;
    fs::path directory;

    explicit Simulator(const json& state) {
        char pattern[] = "/tmp/sanprov-bench-XXXXXX";
        directory = ::mkdtemp(pattern);
        std::ofstream(directory / "fixture.json") << state.dump();
        const std::string ready = (directory / "ready").string();
        const std::string fixturePath = (directory / "fixture.json").string();
        std::vector<std::string> args = {SIM_PYTHON, SIM_SCRIPT, "--address", kAddress, "--port", "80",
                                         "--fixture", fixturePath, "--ready-file", ready};
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        if (::posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) pid = -1;
        for (int i = 0; i < 1000 && pid > 0 && !fs::exists(ready); ++i) {
            // A simulator that could not bind its address has ended: another process holds it.
            if (::waitpid(pid, nullptr, WNOHANG) == pid) pid = -1;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    ~Simulator() {
        if (pid > 0) {
            ::kill(pid, SIGTERM);
            ::waitpid(pid, nullptr, 0);
        }
        std::error_code ignored;
        fs::remove_all(directory, ignored);
    }

    std::string control(const std::string& method, const std::string& path) const {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(80);
        ::inet_pton(AF_INET, kAddress, &a.sin_addr);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
            ::close(fd);
            return {};
        }
        const std::string request = method + " " + path + " HTTP/1.1\r\nHost: " + kAddress +
                                    "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
        ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
        std::string raw;
        char buffer[65536];
        for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;) raw.append(buffer, static_cast<size_t>(n));
        ::close(fd);
        const size_t body = raw.find("\r\n\r\n");
        return body == std::string::npos ? std::string() : raw.substr(body + 4);
    }
};

double cpu_seconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

long peak_rss_kib() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

int run(int count) {
    Simulator sim(fixture(count));
    if (sim.pid <= 0) {
        std::fprintf(stderr, "the simulated appliance did not start\n");
        return 1;
    }
    CFilerRecord record;
    record.m_strDnsName = u"127.59.0.2";
    record.m_strUserName = u"root";
    record.m_strPassword = u"zarvo123";
    record.m_iType = FILER_TYPE_FCP;
    ZarvoSan san;
    if (FAILED(san.Initialize(record, FILER_TYPE_FCP, false))) {
        std::fprintf(stderr, "the subsystem did not start\n");
        return 1;
    }
    sim.control("POST", "/sim/log/clear");
    const double cpuBefore = cpu_seconds();
    const auto begin = std::chrono::steady_clock::now();
    const HRESULT hr = san.RefreshSubSystem();
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    const double cpu = cpu_seconds() - cpuBefore;
    const auto log = nlohmann::json::parse(sim.control("GET", "/sim/log"), nullptr, false);
    size_t bytes = 0;
    for (const auto& entry : log) bytes += entry.value("reply-bytes", 0);
    const size_t luns = san.GetContainer()->m_lunMap.size();
    std::printf("%5d LUNs (%zu loaded, refresh 0x%08X): wall %.2f s, %.2f requests and %.0f reply bytes per LUN, "
                "provider CPU %.2f s (%.0f%% of wall), peak RSS %.1f MiB\n",
                count, luns, static_cast<unsigned>(hr), wall, static_cast<double>(log.size()) / count,
                static_cast<double>(bytes) / count, cpu, 100.0 * cpu / wall, peak_rss_kib() / 1024.0);
    return FAILED(hr) || luns != static_cast<size_t>(count);
}

}  // namespace

int main(int argc, char** argv) {
    char root[] = "/tmp/sanprov-bench-root-XXXXXX";
    ::setenv("SANPROV_ROOT", ::mkdtemp(root), 1);
    std::vector<int> counts;
    for (int i = 1; i < argc; ++i) counts.push_back(std::atoi(argv[i]));
    if (counts.empty()) counts = {1024, 2048};
    int failures = 0;
    for (int count : counts) failures += run(count);
    std::error_code ignored;
    fs::remove_all(root, ignored);
    return failures == 0 ? 0 : 1;
}
