#include "sim_appliance.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace {

const std::filesystem::path kSimDir = std::filesystem::path(SANPROV_SOURCE_DIR) / "tools" / "appliance-sim";

std::vector<char*> argv_of(std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    return argv;
}

// Runs a program and returns its standard output; throws when it fails.
std::string run(std::vector<std::string> args) {
    int out[2];
    if (pipe(out) != 0) throw std::runtime_error("pipe failed");
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        close(out[1]);
        auto argv = argv_of(args);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    close(out[1]);
    std::string output;
    char buffer[4096];
    for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;) output.append(buffer, n);
    close(out[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) throw std::runtime_error("failed: " + args[0] + " " + args[1]);
    return output;
}

}  // namespace

sim_appliance::sim_appliance(int host, const std::string& release, const std::string& user,
                             const std::string& password)
    : address_("127.0.0." + std::to_string(host)), name_(address_.begin(), address_.end()) {
    char pattern[] = "/tmp/filer-e2e-XXXXXX";
    if (!mkdtemp(pattern)) throw std::runtime_error("mkdtemp failed");
    dir_ = pattern;
    const auto ready = dir_ / "ready";
    std::vector<std::string> args = {"python3", (kSimDir / "appliance-sim").string(), "--address", address_,
                                     "--port", "80", "--release", release, "--user", user, "--password", password,
                                     "--ready-file", ready.string(), "--log", log_file().string()};
    pid_ = fork();
    if (pid_ == 0) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        auto argv = argv_of(args);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    for (int waited = 0; !std::filesystem::exists(ready); waited += 20) {
        if (waited > 15000 || waitpid(pid_, nullptr, WNOHANG) == pid_) {
            pid_ = -1;
            throw std::runtime_error("the simulated appliance did not start on " + address_);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

sim_appliance::~sim_appliance() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
}

std::string sim_appliance::simctl(const std::vector<std::string>& args) {
    std::vector<std::string> all = {"python3", (kSimDir / "simctl").string(), "-a", address_};
    all.insert(all.end(), args.begin(), args.end());
    return run(all);
}

void sim_appliance::set_release(const std::string& release) { simctl({"set", "version=" + release}); }

void sim_appliance::fail_next(const std::string& request, int error_number, const std::string& reason) {
    simctl({"fault", "errno", "request=" + request, "errno=" + std::to_string(error_number), "reason=" + reason});
}

void sim_appliance::clear_log() { simctl({"clear-log"}); }

void sim_appliance::reset() { simctl({"reset"}); }

void sim_appliance::set(const std::string& assignment) { simctl({"set", assignment}); }

// simctl prints one line per request: sequence, peer, request name, outcome.
std::vector<std::string> sim_appliance::request_names() {
    std::istringstream lines(simctl({"log"}));
    std::vector<std::string> names;
    for (std::string seq, peer, name, rest; lines >> seq >> peer >> name && std::getline(lines, rest);)
        names.push_back(name);
    return names;
}

std::string sim_appliance::last_request_body() { return simctl({"log", "last", "--part", "body"}); }
