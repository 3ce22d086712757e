#pragma once
// What the benchmarks against the simulated appliance share: an appliance
// with many LUNs, the simulator process serving it, and the process's own
// CPU time and peak memory.
#include <model/filer_record.h>

#include <nlohmann/json.hpp>

#include <sys/types.h>

#include <filesystem>
#include <string>

class ZarvoSan;

namespace bench {

// A state root of the benchmark's own under /tmp, named in SANPROV_ROOT for
// the object's lifetime and removed with it.
class StateRoot {
public:
    StateRoot();
    ~StateRoot();
    StateRoot(const StateRoot&) = delete;
    StateRoot& operator=(const StateRoot&) = delete;

    bool valid() const { return !path_.empty(); }
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

// The appliance's loopback address, derived from the process id so that
// benchmarks started side by side do not collide.
const std::string& appliance_address();

// The default appliance with `count` LUNs, each in a volume of its own, each
// mapped to one host's group: the provider's own LUNs (numbers 0 to 1023)
// and, beyond them, an administrator's.
nlohmann::ordered_json appliance_with_luns(int count);

// The simulated appliance on appliance_address(), port 80, for the object's
// lifetime; with `logRequests` it writes every request's raw bytes to
// log_file().
class Simulator {
public:
    explicit Simulator(const nlohmann::ordered_json& state, bool logRequests = false);
    ~Simulator();
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    bool running() const { return pid_ > 0; }
    std::filesystem::path log_file() const { return directory_ / "requests.log"; }
    // One request of the control API; the reply's body, empty on failure.
    std::string control(const std::string& method, const std::string& path) const;

private:
    pid_t pid_ = -1;
    std::filesystem::path directory_;
};

// The logon record of the simulated appliance, as a Fibre Channel subsystem.
CFilerRecord appliance_record();

// Initializes `san` as that subsystem; false, said on standard error, when
// the simulator or the subsystem did not start.
bool start_subsystem(const Simulator& sim, ZarvoSan& san);

// User and system CPU of the whole process, in seconds.
double cpu_seconds();
// The process's peak resident memory so far, in KiB.
long peak_rss_kib();

}  // namespace bench
