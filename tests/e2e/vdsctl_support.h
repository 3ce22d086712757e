#pragma once
// vdsctl against sanprovd, the end-to-end tests' side: running vdsctl (at once
// or in the background) and reading what it said, and a fixture that gives each
// test a state root of its own with the service installed there.
#include <gtest/gtest.h>

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "appliance.h"
#include "host.h"

namespace vdsctl_e2e {

namespace fs = std::filesystem;

// What one vdsctl (or shell command) did: its exit status, both streams, and
// how long it took.
struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
    double seconds = 0;
    nlohmann::json Json() const { return nlohmann::json::parse(out, nullptr, false); }
};

std::string ReadFile(const fs::path& file);

// Waits for `done` up to `limit`, looking again every `every`.
bool WaitUntil(const std::function<bool()>& done, std::chrono::seconds limit,
               std::chrono::milliseconds every = std::chrono::milliseconds(100));

// A shell command with its output thrown away; its exit status.
int Quiet(const std::string& command);

// The first line of `scm query SanProvD` ("" when there is none).
std::string ServiceState();

// One vdsctl, its standard error through `err`. Its standard input is `input`
// (by way of the file `in`), or /dev/null without one.
Outcome Vdsctl(const std::string& arguments, const fs::path& err,
               const std::optional<std::string>& input = std::nullopt, const fs::path& in = {});

// The JSON documents of an output, one per line.
std::vector<nlohmann::json> Documents(const std::string& out);
// The notifications ("object event") in an output, in order.
std::vector<std::string> Notifications(const std::string& out);

// The requests an appliance logged since its log was last cleared.
size_t Requests(const e2e::Appliance& appliance);

// A vdsctl running in the background, its standard output in a file and its
// standard error either in the same file or in one of its own (`out`.err).
class Background {
public:
    enum class Errors { merged, apart };
    Background(const std::string& arguments, const fs::path& out, Errors errors);
    ~Background();
    Background(const Background&) = delete;
    Background& operator=(const Background&) = delete;

    std::string Output() const { return ReadFile(m_out); }
    std::string Err() const { return ReadFile(m_err); }
    // Waits for a line holding `text` (up to `limit`).
    bool WaitFor(const std::string& text, std::chrono::seconds limit = std::chrono::seconds(120)) const;
    // Still running (an ended one stays to be waited for).
    bool Running() const;
    void Kill();
    int Wait();

private:
    fs::path m_out, m_err;
    pid_t m_pid = -1;
};

// How a fixture sets up its state root and takes the service down again.
struct ServiceSetup {
    std::string rootPrefix = "vdsctl";                   // the state root is /tmp/<rootPrefix>-XXXXXX
    std::optional<std::string> initiator = std::nullopt;  // the host's iSCSI initiator name, when the test sets one
    std::chrono::seconds stopLimit = std::chrono::seconds(120);  // how long TearDown waits for the service to stop
    std::chrono::milliseconds stopPoll = std::chrono::milliseconds(100);
    bool stopOnlyIfRunning = false;  // ask scm to stop only a service not stopped already
    bool killIfStuck = false;        // a service that does not stop is killed and the test fails
};

// A state root of the test's own (SANPROV_ROOT), an empty stored appliance
// list, and sanprovd installed; TearDown stops and uninstalls the service and
// removes the root.
class ServiceTest : public ::testing::Test {
protected:
    explicit ServiceTest(ServiceSetup setup) : m_setup(std::move(setup)) {}
    void SetUp() override;
    void TearDown() override;

    // Stops the service, waiting as the setup says.
    void StopService();
    // Stores an appliance as the applet would before the service reads the
    // list; a `key` of the test's choosing orders the list (it is read in key order).
    static void Store(const std::string& address, int32_t type,
                      const std::string& password = e2e::Appliance::kPassword, const std::string& key = "");

    fs::path m_root;
    std::unique_ptr<e2e::SimulatedHost> m_host;

private:
    ServiceSetup m_setup;
};

}  // namespace vdsctl_e2e
