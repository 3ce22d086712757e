#include "appliance.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace e2e {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

constexpr int kAddressSlots = 3;

// Loopback addresses from the process id: tests of other programs and other
// developers use 127.0.0.x, and concurrent test processes never share a pid.
std::string slot_address(int slot) {
    const unsigned pid = static_cast<unsigned>(::getpid());
    return "127." + std::to_string(64 + ((pid >> 16) & 63) + 64 * slot) + "." + std::to_string((pid >> 8) & 255) + "." +
           std::to_string(pid & 255);
}

std::string read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

bool exited(pid_t pid) {
    int status = 0;
    return ::waitpid(pid, &status, WNOHANG) == pid;
}

void stop(pid_t pid) {
    if (pid <= 0) return;
    ::kill(pid, SIGTERM);
    for (int i = 0; i < 100; ++i) {
        if (exited(pid)) return;
        std::this_thread::sleep_for(50ms);
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
}

pid_t spawn(const std::vector<std::string>& args, const fs::path& output) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int rc = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? pid : -1;
}

// The partner's address beside slot_address(slot): second octet 61 - slot.
std::string partner_address(int slot) {
    const unsigned pid = static_cast<unsigned>(::getpid());
    return "127." + std::to_string(61 - slot) + "." + std::to_string((pid >> 8) & 255) + "." + std::to_string(pid & 255);
}

}  // namespace

Appliance::Appliance(std::initializer_list<std::string> options) { start(options, false); }

Appliance::Appliance(WithPartner, std::initializer_list<std::string> options) { start(options, true); }

// A view of the partner that one simulator serves: no process of its own.
Appliance::Appliance(std::string address, int port) : address_(std::move(address)), port_(port), directory_("/tmp") {}

void Appliance::start(std::initializer_list<std::string> options, bool withPartner) {
    char pattern[] = "/tmp/sanprov-e2e-XXXXXX";
    directory_ = ::mkdtemp(pattern) ? pattern : "/tmp";
    const fs::path ready = fs::path(directory_) / "ready";
    const fs::path output = fs::path(directory_) / "sim.out";
    const bool root = ::geteuid() == 0;
    std::string partnerAddress;
    for (int slot = 0; slot < kAddressSlots && pid_ < 0; ++slot) {
        address_ = slot_address(slot);
        std::vector<std::string> args = {SIM_PYTHON, SIM_SCRIPT, "--address", address_, "--port", root ? "80" : "0",
                                         "--ready-file", ready.string()};
        if (withPartner) {
            partnerAddress = partner_address(slot);
            args.insert(args.end(), {"--partner-address", partnerAddress});
        }
        args.insert(args.end(), options.begin(), options.end());
        pid_ = spawn(args, output);
        const auto until = std::chrono::steady_clock::now() + 20s;
        while (pid_ > 0 && !fs::exists(ready)) {
            if (exited(pid_) || std::chrono::steady_clock::now() > until) {
                if (!exited(pid_)) stop(pid_);
                pid_ = -1;  // the address is taken, or the simulator could not start: try the next one
                break;
            }
            std::this_thread::sleep_for(20ms);
        }
    }
    if (pid_ < 0) {
        ADD_FAILURE() << "the simulated appliance did not start:\n" << read_file(output);
        return;
    }
    // One "address:port" line per instance: the appliance first, then its partner.
    std::istringstream lines(read_file(ready));
    std::string line;
    std::getline(lines, line);
    port_ = std::atoi(line.substr(line.find(':') + 1).c_str());
    if (withPartner && std::getline(lines, line))
        partner_.reset(new Appliance(partnerAddress, std::atoi(line.substr(line.find(':') + 1).c_str())));
}

Appliance::~Appliance() {
    stop(pid_);
    std::error_code ignored;
    if (directory_ != "/tmp") fs::remove_all(directory_, ignored);
}

HttpAnswer Appliance::control(const std::string& method, const std::string& path, const std::string& json) const {
    HttpAnswer answer;
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port_));
    ::inet_pton(AF_INET, address_.c_str(), &a.sin_addr);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        ADD_FAILURE() << "control API of " << address_ << " unreachable: " << std::strerror(errno);
        return answer;
    }
    const std::string request = method + " " + path + " HTTP/1.1\r\nHost: " + address_ +
                                "\r\nContent-Type: application/json\r\nContent-Length: " + std::to_string(json.size()) +
                                "\r\nConnection: close\r\n\r\n" + json;
    ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    std::string raw;
    char buffer[8192];
    for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;) raw.append(buffer, static_cast<size_t>(n));
    ::close(fd);
    std::sscanf(raw.c_str(), "%*s %d", &answer.status);
    if (const size_t body = raw.find("\r\n\r\n"); body != std::string::npos) answer.body = raw.substr(body + 4);
    return answer;
}

void Appliance::fault(const std::string& json) const {
    const HttpAnswer a = control("POST", "/sim/faults", json);
    EXPECT_EQ(a.status, 200) << json << ": " << a.body;
}

void Appliance::set(const std::string& json) const {
    const HttpAnswer a = control("POST", "/sim/set", json);
    EXPECT_EQ(a.status, 200) << json << ": " << a.body;
}

std::string Appliance::last_request() const {
    const HttpAnswer a = control("GET", "/sim/log/last?part=all");
    EXPECT_EQ(a.status, 200) << a.body;
    return a.body;
}

std::string Appliance::unused_address() {
    const unsigned pid = static_cast<unsigned>(::getpid());
    return "127.63." + std::to_string((pid >> 8) & 255) + "." + std::to_string(pid & 255);
}

}  // namespace e2e
