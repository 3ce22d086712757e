#pragma once
// The simulated appliance of the benchmarks: the default fixture with
// `count` LUNs (the provider's own numbers 0 to 1023 and, beyond them, an
// administrator's), each in a volume of its own and mapped to one host's group.
#include <nlohmann/json.hpp>

#include <sys/wait.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace bench {

namespace fs = std::filesystem;
using json = nlohmann::ordered_json;

constexpr uint64_t kLunSize = 100ull << 20;
constexpr int kOwnLunNumbers = 1024;

inline std::string own_path(int n) {
    return "/vol/ZarvoVolume" + std::to_string(n) + "/ZarvoQtree" + std::to_string(n) + "/ZarvoLun" +
           std::to_string(n);
}

// The default appliance with `count` LUNs, each in a volume of its own, each
// mapped to one host's group.
inline json fixture(int count) {
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

    std::string address;

    Simulator(const json& state, std::string at) : address(std::move(at)) {
        char pattern[] = "/tmp/sanprov-bench-XXXXXX";
        directory = ::mkdtemp(pattern);
        std::ofstream(directory / "fixture.json") << state.dump();
        const std::string ready = (directory / "ready").string();
        const std::string fixturePath = (directory / "fixture.json").string();
        std::vector<std::string> args = {SIM_PYTHON, SIM_SCRIPT, "--address", address, "--port", "80",
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
        ::inet_pton(AF_INET, address.c_str(), &a.sin_addr);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
            ::close(fd);
            return {};
        }
        const std::string request = method + " " + path + " HTTP/1.1\r\nHost: " + address +
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

}  // namespace bench
