#include "bench_appliance.h"

#include <model/zarvo_san.h>

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
#include <fstream>
#include <thread>
#include <vector>

extern char** environ;

namespace bench {

namespace {

namespace fs = std::filesystem;
using json = nlohmann::ordered_json;

constexpr uint64_t kLunSize = 100ull << 20;
constexpr int kOwnLunNumbers = 1024;

std::string own_path(int n) {
    return "/vol/ZarvoVolume" + std::to_string(n) + "/ZarvoQtree" + std::to_string(n) + "/ZarvoLun" +
           std::to_string(n);
}

}  // namespace

const std::string& appliance_address() {
    static const std::string address = [] {
        const auto pid = static_cast<unsigned>(::getpid());
        return "127.59." + std::to_string(pid / 250 % 250) + "." + std::to_string(pid % 250 + 2);
    }();
    return address;
}

json appliance_with_luns(int count) {
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

Simulator::Simulator(const json& state, bool logRequests) {
    char pattern[] = "/tmp/sanprov-bench-XXXXXX";
    directory_ = ::mkdtemp(pattern);
    std::ofstream(directory_ / "fixture.json") << state.dump();
    const std::string ready = (directory_ / "ready").string();
    const std::string fixturePath = (directory_ / "fixture.json").string();
    std::vector<std::string> args = {SIM_PYTHON, SIM_SCRIPT, "--address", appliance_address(), "--port", "80",
                                     "--fixture", fixturePath, "--ready-file", ready};
    if (logRequests) {
        args.push_back("--log");
        args.push_back(log_file().string());
    }
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (::posix_spawn(&pid_, argv[0], nullptr, nullptr, argv.data(), environ) != 0) pid_ = -1;
    for (int i = 0; i < 1000 && pid_ > 0 && !fs::exists(ready); ++i) {
        // A simulator that could not bind its address has ended: another process holds it.
        if (::waitpid(pid_, nullptr, WNOHANG) == pid_) pid_ = -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

Simulator::~Simulator() {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
    }
    std::error_code ignored;
    fs::remove_all(directory_, ignored);
}

std::string Simulator::control(const std::string& method, const std::string& path) const {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(80);
    ::inet_pton(AF_INET, appliance_address().c_str(), &a.sin_addr);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return {};
    }
    const std::string request = method + " " + path + " HTTP/1.1\r\nHost: " + appliance_address() +
                                "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
    ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    std::string raw;
    char buffer[65536];
    for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;) raw.append(buffer, static_cast<size_t>(n));
    ::close(fd);
    const size_t body = raw.find("\r\n\r\n");
    return body == std::string::npos ? std::string() : raw.substr(body + 4);
}

double cpu_seconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    if (getenv("CPU_USER")) return usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6;
    if (getenv("CPU_SYS")) return usage.ru_stime.tv_sec + usage.ru_stime.tv_usec / 1e6;
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

long peak_rss_kib() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

CFilerRecord appliance_record() {
    CFilerRecord record;
    record.m_strDnsName = std::u16string(appliance_address().begin(), appliance_address().end());
    record.m_strUserName = u"root";
    record.m_strPassword = u"zarvo123";
    record.m_iType = FILER_TYPE_FCP;
    return record;
}

bool start_subsystem(const Simulator& sim, ZarvoSan& san) {
    if (!sim.running()) {
        std::fprintf(stderr, "the simulated appliance did not start\n");
        return false;
    }
    if (FAILED(san.Initialize(appliance_record(), FILER_TYPE_FCP, false))) {
        std::fprintf(stderr, "the subsystem did not start\n");
        return false;
    }
    return true;
}

StateRoot::StateRoot() {
    char pattern[] = "/tmp/sanprov-bench-root-XXXXXX";
    if (!::mkdtemp(pattern)) {
        std::perror("the benchmark's state root");
        return;
    }
    path_ = pattern;
    ::setenv("SANPROV_ROOT", pattern, 1);
}

StateRoot::~StateRoot() {
    if (!valid()) return;
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

}  // namespace bench
