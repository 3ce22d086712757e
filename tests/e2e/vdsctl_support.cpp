#include "vdsctl_support.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include <model/filer_record_list.h>
#include <platform/apartment.h>
#include <platform/text.h>

namespace vdsctl_e2e {

namespace {

int ExitStatus(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : -1; }

}  // namespace

std::string ReadFile(const fs::path& file) {
    std::ifstream in(file);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

bool WaitUntil(const std::function<bool()>& done, std::chrono::seconds limit, std::chrono::milliseconds every) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::sleep_for(every);
    }
    return true;
}

int Quiet(const std::string& command) { return ExitStatus(std::system((command + " >/dev/null 2>&1").c_str())); }

std::string ServiceState() {
    FILE* pipe = ::popen((std::string(SCM) + " query SanProvD 2>/dev/null").c_str(), "r");
    char line[256] = {};
    std::string state;
    if (pipe && std::fgets(line, sizeof line, pipe)) state = line;
    if (pipe) ::pclose(pipe);
    return state;
}

Outcome Vdsctl(const std::string& arguments, const fs::path& err, const std::optional<std::string>& input,
               const fs::path& in) {
    if (input) std::ofstream(in) << *input;
    const std::string command = std::string(VDSCTL) + " " + arguments + " <" + (input ? in.string() : "/dev/null") +
                                " 2>" + err.string();
    Outcome run;
    const auto start = std::chrono::steady_clock::now();
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return run;
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof(buffer), pipe)) > 0;) run.out.append(buffer, n);
    const int status = ::pclose(pipe);
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.status = ExitStatus(status);
    run.err = ReadFile(err);
    return run;
}

std::vector<nlohmann::json> Documents(const std::string& out) {
    std::vector<nlohmann::json> documents;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);)
        if (!line.empty() && (line[0] == '[' || line[0] == '{'))
            documents.push_back(nlohmann::json::parse(line, nullptr, false));
    return documents;
}

std::vector<std::string> Notifications(const std::string& out) {
    std::vector<std::string> events;
    for (const auto& document : Documents(out))
        if (document.is_object() && document.contains("event"))
            events.push_back(document["object"].get<std::string>() + " " + document["event"].get<std::string>());
    return events;
}

size_t Requests(const e2e::Appliance& appliance) {
    const auto log = nlohmann::json::parse(appliance.control("GET", "/sim/log").body, nullptr, false);
    return log.is_array() ? log.size() : 0;
}

Background::Background(const std::string& arguments, const fs::path& out, Errors errors)
    : m_out(out), m_err(errors == Errors::merged ? out : fs::path(out.string() + ".err")) {
    const std::string command = "exec " + std::string(VDSCTL) + " " + arguments + " >" + m_out.string() +
                                (errors == Errors::merged ? " 2>&1" : " 2>" + m_err.string());
    m_pid = ::fork();
    if (m_pid == 0) {
        ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
}

Background::~Background() {
    if (m_pid > 0) {
        ::kill(m_pid, SIGKILL);
        Wait();
    }
}

bool Background::WaitFor(const std::string& text, std::chrono::seconds limit) const {
    return WaitUntil([&] { return Output().find(text) != std::string::npos; }, limit);
}

bool Background::Running() const {
    siginfo_t info{};
    return m_pid > 0 && ::waitid(P_PID, m_pid, &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == 0;
}

void Background::Kill() { ::kill(m_pid, SIGKILL); }

int Background::Wait() {
    int status = 0;
    if (m_pid > 0) ::waitpid(m_pid, &status, 0);
    m_pid = -1;
    return ExitStatus(status);
}

void ServiceTest::SetUp() {
    std::string pattern = "/tmp/" + m_setup.rootPrefix + "-XXXXXX";
    m_root = ::mkdtemp(pattern.data());
    setenv("SANPROV_ROOT", m_root.c_str(), 1);
    if (m_setup.initiator) {
        // The host's own initiator name (if it has one) must not decide what the tests see.
        const fs::path nameFile = m_root / "initiatorname.iscsi";
        std::ofstream(nameFile) << "InitiatorName=" << *m_setup.initiator << "\n";
        setenv("SANPROV_ISCSI_INITIATOR_NAME_FILE", nameFile.c_str(), 1);
    }
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    process_filer_record_list().Clear();
    // Installing registers both providers; the first vdsctl starts the service.
    ASSERT_EQ(0, Quiet(std::string(SANPROVD) + " -Service"));
}

void ServiceTest::TearDown() {
    StopService();
    Quiet(std::string(SANPROVD) + " -UnregServer");
    m_host.reset();
    e2e::SimulatedHost::Unexport();
    if (m_setup.initiator) unsetenv("SANPROV_ISCSI_INITIATOR_NAME_FILE");
    process_filer_record_list().Clear();
    CoUninitialize();
    std::error_code ignored;
    fs::remove_all(m_root, ignored);
}

void ServiceTest::StopService() {
    const auto stopped = [] { return ServiceState().find("STOPPED") != std::string::npos; };
    if (m_setup.stopOnlyIfRunning && stopped()) return;
    Quiet(std::string(SCM) + " stop SanProvD");
    if (m_setup.stopLimit.count() == 0 || WaitUntil(stopped, m_setup.stopLimit, m_setup.stopPoll)) return;
    if (!m_setup.killIfStuck) return;
    std::ifstream status(m_root / "run" / "scm" / "SanProvD.status");
    long state = 0, exit = 0, specific = 0, pid = 0;
    if (status >> state >> exit >> specific >> pid && pid > 0) ::kill(static_cast<pid_t>(pid), SIGKILL);
    ADD_FAILURE() << "sanprovd did not stop";
}

void ServiceTest::Store(const std::string& address, int32_t type, const std::string& password,
                        const std::string& key) {
    filer_record_list& list = process_filer_record_list();
    list.Add(platform::utf8_to_wide_lossy(key), platform::utf8_to_wide_lossy(address), u"root",
             platform::utf8_to_wide_lossy(password).c_str(), type);
    ASSERT_EQ(S_OK, list.Save());
}

}  // namespace vdsctl_e2e
