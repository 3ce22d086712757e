// sanprovd as a program: its switches, the registration it leaves in the
// registry store and its events, and its life as a plain COM server.
#include <platform/apartment.h>
#include <platform/classtable.h>
#include <platform/clock.h>
#include <platform/comalloc.h>
#include <platform/local_server.h>
#include <platform/provider_admin.h>
#include <platform/registry.h>
#include <platform/text.h>
#include <platform/vds_admin.h>
#include <platform/winsvc.h>
#include <platform/winuser.h>
#include <service/core_dumps.h>
#include <service/service_module.h>
#include <vds/provider_ids.h>
#include <vds/zarvo_provider.h>

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

class Sanprovd : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/sanprovd-XXXXXX";
        m_root = ::mkdtemp(pattern);
        ::setenv("SANPROV_ROOT", m_root.c_str(), 1);
    }
    void TearDown() override {
        ::unsetenv("SANPROV_ROOT");
        fs::remove_all(m_root);
    }
    static pid_t spawn(const char* argument) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::execl(SANPROVD, SANPROVD, argument, static_cast<char*>(nullptr));  // a null argument: no switch
            ::_exit(127);
        }
        return pid;
    }
    static int run(const char* argument) {
        int status = 0;
        ::waitpid(spawn(argument), &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::vector<std::string> events() const {
        std::ifstream in(m_root / "eventlog" / "SanProvD.jsonl");
        std::vector<std::string> texts;
        for (std::string line; std::getline(in, line);) {
            const auto at = line.find("\"text\":\"");
            texts.push_back(line.substr(at + 8, line.find("\\r\\n", at) - at - 8));
        }
        return texts;
    }
    static bool key_exists(HKEY root, const std::u16string& path) {
        HKEY key = nullptr;
        if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
        RegCloseKey(key);
        return true;
    }
    static std::u16string text(HKEY root, const std::u16string& path, const WCHAR* name) {
        HKEY key = nullptr;
        if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return u"<none>";
        WCHAR buf[1024] = {};
        DWORD size = sizeof buf;
        const LSTATUS s = RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(buf), &size);
        RegCloseKey(key);
        return s == ERROR_SUCCESS ? buf : u"<none>";
    }

    fs::path m_root;
};

const std::u16string kService = u"SYSTEM\\CurrentControlSet\\Services\\SanProvD";
const std::u16string kEventSource = u"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\SanProvD";

}  // namespace

TEST_F(Sanprovd, InstallReinstallAndUninstallLeaveTheirRegistrationAndEvents) {
    ASSERT_EQ(run("-Service"), 0);
    EXPECT_EQ(text(HKEY_LOCAL_MACHINE, kService, u"ImagePath"), platform::utf8_to_wide_lossy(SANPROVD));
    EXPECT_EQ(text(HKEY_LOCAL_MACHINE, kService, u"DisplayName"), u"Zarvo VDS Hardware Provider");
    EXPECT_EQ(text(HKEY_LOCAL_MACHINE, kService, u"ObjectName"), u"LocalSystem");
    EXPECT_EQ(text(HKEY_LOCAL_MACHINE, kService, u"DependOnService"), u"RPCSS");
    EXPECT_EQ(text(HKEY_LOCAL_MACHINE, kEventSource, u"EventMessageFile"),
              text(HKEY_LOCAL_MACHINE, kService, u"ImagePath"));
    EXPECT_EQ(text(HKEY_CLASSES_ROOT, u"Zarvo.VdsProviderAdmin\\CurVer", nullptr), u"Zarvo.VdsProviderAdmin.1");
    const std::u16string adminClsid = text(HKEY_CLASSES_ROOT, u"Zarvo.VdsProviderAdmin.1\\CLSID", nullptr);
    const std::u16string appId = text(HKEY_CLASSES_ROOT, u"CLSID\\" + adminClsid, u"AppId");
    EXPECT_EQ(text(HKEY_CLASSES_ROOT, u"AppID\\" + appId, u"LocalService"), u"SanProvD");
    EXPECT_EQ(text(HKEY_CLASSES_ROOT, u"AppID\\SanProvD.EXE", u"AppId"), appId);
    EXPECT_EQ(text(HKEY_CLASSES_ROOT, u"CLSID\\" + adminClsid + u"\\LocalServer32", nullptr),
              text(HKEY_LOCAL_MACHINE, kService, u"ImagePath"));
    for (const auto* progId : {u"Zarvo.VdsProviderFC.1", u"Zarvo.VdsProviderIscsi.1"})
        EXPECT_TRUE(key_exists(HKEY_CLASSES_ROOT, progId)) << "ProgID";
    const auto providers = platform::vds_registered_providers();
    ASSERT_EQ(providers.size(), 2u);
    for (const auto& p : providers) {
        EXPECT_EQ(p.version, u"1.0.1094.0");
        EXPECT_EQ(p.type, VDS_PT_HARDWARE);
    }

    ASSERT_EQ(run("/service"), 0) << "a second install changes the record and registers the providers again";
    EXPECT_EQ(platform::vds_registered_providers().size(), 2u);

    ASSERT_EQ(run("-UnregServer"), 0);
    EXPECT_FALSE(key_exists(HKEY_LOCAL_MACHINE, kService)) << "the key goes with its subkeys";
    EXPECT_FALSE(key_exists(HKEY_LOCAL_MACHINE, kEventSource));
    EXPECT_FALSE(key_exists(HKEY_CLASSES_ROOT, u"CLSID\\" + adminClsid));
    EXPECT_FALSE(key_exists(HKEY_CLASSES_ROOT, u"AppID\\" + appId));
    EXPECT_TRUE(key_exists(HKEY_CLASSES_ROOT, u"CLSID")) << "never removed";
    EXPECT_TRUE(platform::vds_registered_providers().empty());
    EXPECT_EQ(events(), (std::vector<std::string>{"Service installed.", "Provider version 1.0.1094.0 installed.",
                                                   "Service configuration has been modified.",
                                                   "Provider version 1.0.1094.0 installed.", "Service removed.",
                                                   "Provider uninstalled."}));
}

TEST_F(Sanprovd, WithoutTheServiceManagerItServesAsAPlainComServerUntilItsLastObjectGoes) {
    const pid_t server = spawn(nullptr);
    // Generous bounds: a loaded machine can take seconds to start a process.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline && !platform::is_local_server() &&
           !fs::exists(platform::local_server_socket()))
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    IZarvoVdsProviderAdmin* admin = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_ZarvoVdsProviderAdmin, nullptr, CLSCTX_LOCAL_SERVER, IID_IZarvoVdsProviderAdmin,
                               reinterpret_cast<void**>(&admin)),
              S_OK);
    ULONG count = 1;
    FILER_RECORD** records = nullptr;
    EXPECT_EQ(admin->LoadFilerList(0, &count, &records), S_OK);
    EXPECT_EQ(count, 0u);
    admin->Release();

    int status = -1;
    const auto ending = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < ending && ::waitpid(server, &status, WNOHANG) == 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (!WIFEXITED(status)) {
        ::kill(server, SIGKILL);
        ::waitpid(server, &status, 0);
        FAIL() << "the server did not end with its last object";
    }
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(events(), std::vector<std::string>{"Service stopped."}) << "no start event outside the service manager";
    EXPECT_FALSE(fs::exists(platform::local_server_socket()));
}

namespace {
std::string scm(const std::string& arguments) {
    std::string out;
    FILE* p = ::popen((std::string(SCM) + " " + arguments + " 2>&1").c_str(), "r");
    char buf[256];
    while (p && std::fgets(buf, sizeof buf, p)) out += buf;
    if (p) ::pclose(p);
    return out;
}
bool wait_for_state(const std::string& state) {
    for (int i = 0; i < 200; ++i) {
        if (scm("query SanProvD").find(state) != std::string::npos) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}
}  // namespace

TEST_F(Sanprovd, RunsUnderTheServiceManagerAndAnActivationStartsIt) {
    ASSERT_EQ(run("-Service"), 0);
    EXPECT_NE(scm("query SanProvD").find("STOPPED"), std::string::npos);

    // Nothing listens: the activation starts the service through its AppID and retries.
    IZarvoVdsProviderAdmin* admin = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_ZarvoVdsProviderAdmin, nullptr, 23, IID_IZarvoVdsProviderAdmin,
                               reinterpret_cast<void**>(&admin)),
              S_OK);
    EXPECT_TRUE(wait_for_state("RUNNING"));
    ULONG count = 1;
    FILER_RECORD** records = nullptr;
    EXPECT_EQ(admin->LoadFilerList(0, &count, &records), S_OK);
    admin->Release();
    EXPECT_TRUE(wait_for_state("RUNNING")) << "under the service manager the last object does not end it";

    EXPECT_EQ(scm("stop SanProvD"), "");
    EXPECT_TRUE(wait_for_state("STOPPED"));
    EXPECT_NE(scm("stop SanProvD").find("1062"), std::string::npos) << "a stopped service takes no control";
    EXPECT_EQ(scm("start SanProvD"), "");
    EXPECT_TRUE(wait_for_state("RUNNING"));
    EXPECT_EQ(scm("stop SanProvD"), "");
    EXPECT_TRUE(wait_for_state("STOPPED"));
    const auto texts = events();
    const std::vector<std::string> tail(texts.end() - 4, texts.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"Service started.", "Service stopped.", "Service started.",
                                              "Service stopped."}));
    EXPECT_EQ(run("-UnregServer"), 0);
    EXPECT_NE(scm("query SanProvD").find("1060"), std::string::npos) << "the record is gone";
}

namespace {

int g_childCommands = -1;

// Posted to the service's message-loop thread: the two ticks of an idle
// period, then the loop is held (before it can take the WM_QUIT that the
// stop posted) until the test releases it.
void idle_ticks_then_hold(HWND, UINT, UINT_PTR, DWORD) {
    _Module().IdleTick();
    _Module().IdleTick();
    char release;
    (void)!::read(g_childCommands, &release, 1);
}

// The service module in a child process, started as the service manager
// starts its image, under a clock that nothing moves: only the test's
// commands tick. `prepare` runs in the child before the module.
class ServiceChild {
public:
    explicit ServiceChild(const std::function<void()>& prepare = {}) {
        int commands[2];
        EXPECT_EQ(::pipe(commands), 0);
        m_pid = ::fork();
        if (m_pid == 0) {
            ::close(commands[1]);
            g_childCommands = commands[0];
            ::setenv("SANPROV_SCM_SERVICE", "SanProvD", 1);
            platform::ScopedFakeClock clock;
            if (prepare) prepare();
            std::thread([] {
                char command;
                if (::read(g_childCommands, &command, 1) != 1) return;
                if (command == 'h')
                    PostThreadMessageW(_Module().m_dwThreadID, WM_TIMER, 0,
                                       reinterpret_cast<LPARAM>(&idle_ticks_then_hold));
                // As a thread that cannot be started is reported: nothing catches it.
                if (command == 't')
                    throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again),
                                            "thread start");
            }).detach();
            CServiceModule& module = _Module();
            module.Init();
            ::_exit(module.WinMain(u"sanprovd") == 0 ? 0 : 1);
        }
        ::close(commands[0]);
        m_commands = commands[1];
    }
    ~ServiceChild() {
        ::close(m_commands);
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
    }
    void send(char command) { EXPECT_EQ(::write(m_commands, &command, 1), 1); }
    void signal(int number) { ::kill(m_pid, number); }
    int wait() {
        int status = 0;
        ::waitpid(std::exchange(m_pid, -1), &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
    }

private:
    pid_t m_pid = -1;
    int m_commands = -1;
};

// An activation in frames, so the test sees the server's own answer.
HRESULT create_over_the_socket() {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, platform::local_server_socket().c_str(), sizeof addr.sun_path - 1);
    // Frames are a length and the payload; the creation is method 0 and the interface id.
    const uint32_t head[2] = {4 + sizeof(GUID), 0};
    std::vector<uint8_t> create(reinterpret_cast<const uint8_t*>(head), reinterpret_cast<const uint8_t*>(head + 2));
    const auto* iid = reinterpret_cast<const uint8_t*>(&IID_IZarvoVdsProviderAdmin);
    create.insert(create.end(), iid, iid + sizeof(GUID));
    uint32_t answer[2] = {};  // length 4, HRESULT
    const bool ok = ::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0 &&
                    ::recv(fd, answer, 8, MSG_WAITALL) == 8 && answer[1] == 0 &&
                    ::send(fd, create.data(), create.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(create.size()) &&
                    ::recv(fd, answer, 8, MSG_WAITALL) == 8;
    ::close(fd);
    return ok ? static_cast<HRESULT>(answer[1]) : RPC_E_DISCONNECTED;
}

}  // namespace

TEST_F(Sanprovd, AnActivationRacingTheIdleStopIsRefusedAndItsRetryReachesAFreshService) {
    ASSERT_EQ(run("-Service"), 0);
    ServiceChild stopping;
    ASSERT_TRUE(wait_for_state("RUNNING"));
    stopping.send('h');
    ASSERT_TRUE(wait_for_state("STOP_PENDING"));
    EXPECT_EQ(create_over_the_socket(), CO_E_SERVER_STOPPING) << "the stopping service makes no object";

    std::atomic<bool> done{false};
    HRESULT hr = E_FAIL;
    IZarvoVdsProviderAdmin* admin = nullptr;
    std::thread client([&] {
        hr = CoCreateInstance(CLSID_ZarvoVdsProviderAdmin, nullptr, CLSCTX_LOCAL_SERVER, IID_IZarvoVdsProviderAdmin,
                              reinterpret_cast<void**>(&admin));
        done = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_FALSE(done) << "while the service stops, the activation is refused and retried";
    stopping.send('r');
    client.join();
    ASSERT_EQ(hr, S_OK);
    EXPECT_EQ(stopping.wait(), 0);
    ASSERT_TRUE(wait_for_state("RUNNING")) << "the retry started a fresh service";
    ULONG count = 1;
    FILER_RECORD** records = nullptr;
    EXPECT_EQ(admin->LoadFilerList(0, &count, &records), S_OK);
    admin->Release();

    auto texts = events();
    ASSERT_GE(texts.size(), 4u);
    std::vector<std::string> tail(texts.end() - 4, texts.end());
    EXPECT_LT(std::find(tail.begin(), tail.end(), "Service stopping due to inactivity."),
              std::find(tail.begin(), tail.end(), "Service stopped."));
    std::sort(tail.begin(), tail.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"Service started.", "Service started.", "Service stopped.",
                                              "Service stopping due to inactivity."}));
    EXPECT_EQ(scm("stop SanProvD"), "");
    EXPECT_TRUE(wait_for_state("STOPPED"));
    EXPECT_EQ(run("-UnregServer"), 0);
}

TEST_F(Sanprovd, AStartThatFailsLeavesItsFailureCodeForTheServiceManagerAndNoStopEvent) {
    ASSERT_EQ(run("-Service"), 0);
    struct Case {
        const char* step;
        std::function<void()> prepare;
        HRESULT code;
        std::string event;
    };
    const Case cases[] = {
        {"security", [] { CoInitializeSecurity(nullptr, -1, nullptr, nullptr, 0, 0, nullptr, 0, nullptr); },
         RPC_E_TOO_LATE, "Failed to initialize the security descriptor"},
        {"class objects",
         [] {
             IUnknown* other = nullptr;
             DWORD cookie = 0;
             GetProviderClassObject(CLSID_ZarvoVdsProviderFC, IID_IUnknown, reinterpret_cast<void**>(&other));
             CoRegisterClassObject(CLSID_ZarvoVdsProviderFC, other, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie);
         },
         CO_E_OBJISREG, "Failed to register the class objects"},
    };
    for (const Case& c : cases) {
        const size_t before = events().size();
        ServiceChild child(c.prepare);
        EXPECT_NE(child.wait(), 0) << c.step;
        const std::string query = scm("query SanProvD");
        EXPECT_NE(query.find("STOPPED"), std::string::npos) << query;
        EXPECT_NE(query.find("WIN32_EXIT_CODE 1066 "), std::string::npos) << c.step << ": " << query;
        EXPECT_NE(query.find("SERVICE_EXIT_CODE " + std::to_string(static_cast<uint32_t>(c.code)) + " "),
                  std::string::npos)
            << c.step << ": " << query;
        const auto texts = events();
        EXPECT_EQ(std::vector<std::string>(texts.begin() + before, texts.end()), std::vector<std::string>{c.event})
            << c.step << ": no start, and no stop event for a start that failed";
    }
    EXPECT_EQ(run("-UnregServer"), 0);
}

TEST_F(Sanprovd, AServiceThatDiesShowsAsStoppedWithAFailureCode) {
    ASSERT_EQ(run("-Service"), 0);
    struct Case {
        const char* how;
        char command;  // or 0: the signal
        int signal;
        std::string event;
    };
    const Case cases[] = {
        {"an exception nothing caught", 't', 0,
         "Service terminated unexpectedly: thread start: Resource temporarily unavailable"},
        {"a segmentation fault", 0, SIGSEGV, "Service terminated unexpectedly: signal 11 (SIGSEGV)"},
        {"an abort", 0, SIGABRT, "Service terminated unexpectedly: signal 6 (SIGABRT)"},
        {"terminated", 0, SIGTERM, "Service terminated unexpectedly: signal 15 (SIGTERM)"},
        {"killed (nothing in the process sees it)", 0, SIGKILL, ""},
    };
    for (const Case& c : cases) {
        const size_t before = events().size();
        ServiceChild child([] { ForbidCoreDumps(); });
        ASSERT_TRUE(wait_for_state("RUNNING")) << c.how;
        if (c.command) child.send(c.command);
        else child.signal(c.signal);
        const int ended = child.wait();
        EXPECT_NE(ended, 0) << c.how;
        if (c.signal) {
            EXPECT_EQ(ended, 100 + c.signal) << c.how << ": it still ends by its signal";
        }
        const std::string query = scm("query SanProvD");
        EXPECT_NE(query.find("STOPPED"), std::string::npos) << c.how << ": " << query;
        EXPECT_NE(query.find("WIN32_EXIT_CODE 1067 "), std::string::npos) << c.how << ": " << query;
        const auto texts = events();
        std::vector<std::string> added(texts.begin() + before, texts.end());
        std::vector<std::string> expected = {"Service started."};
        if (!c.event.empty()) expected.push_back(c.event);
        EXPECT_EQ(added, expected) << c.how;
    }
    EXPECT_EQ(run("-UnregServer"), 0);
}

TEST_F(Sanprovd, TheServiceManagerToolTellsAnUnreadableRegistryFromAMissingService) {
    ASSERT_EQ(run("-Service"), 0);
    const fs::path hive = m_root / "registry" / "HKLM.reg";
    {
        std::ofstream out(hive, std::ios::binary | std::ios::trunc);
        out << "not a hive\n";
    }
    for (const char* command : {"query SanProvD", "start SanProvD", "stop SanProvD", "list"}) {
        const std::string said = scm(command);
        EXPECT_EQ(said.find("1060"), std::string::npos) << command << ": " << said;
        EXPECT_NE(said.find("failed: 1009 (The configuration registry database is corrupt.)"), std::string::npos)
            << command << ": " << said;
    }
}

TEST_F(Sanprovd, ItsMemoryNeverReachesACoreFile) {
    const pid_t server = spawn(nullptr);
    std::string limit;
    for (int i = 0; i < 500 && limit.empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (!fs::exists(platform::local_server_socket())) continue;
        std::ifstream in("/proc/" + std::to_string(server) + "/limits");
        for (std::string line; std::getline(in, line);)
            if (line.rfind("Max core file size", 0) == 0) limit = line;
    }
    ::kill(server, SIGKILL);
    ::waitpid(server, nullptr, 0);
    std::istringstream fields(limit.substr(std::string("Max core file size").size()));
    std::string soft, hard;
    fields >> soft >> hard;
    EXPECT_EQ(soft, "0") << limit;
    EXPECT_EQ(hard, "0") << limit << ": nothing the process loads can raise it again";
}

namespace {
std::string vdsctl_errors(const std::string& arguments, int& status) {
    std::string out;
    FILE* p = ::popen((std::string(VDSCTL) + " " + arguments + " 2>&1 >/dev/null").c_str(), "r");
    char buf[512];
    while (p && std::fgets(buf, sizeof buf, p)) out += buf;
    const int raw = p ? ::pclose(p) : -1;
    status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return out;
}
}  // namespace

// A stand-in's file given relative to the starter's directory is read there,
// and one that cannot be loaded is said: an event naming it, and vdsctl.
TEST_F(Sanprovd, AStandInFileThatCannotBeLoadedIsNamedInAnEventAndByVdsctl) {
    ASSERT_EQ(run("-Service"), 0);
    const fs::path starter = m_root / "starter";
    fs::create_directories(starter / "fixtures");
    std::ofstream(starter / "fixtures" / "hba.json") << R"({"adapters": []})";
    const fs::path before = fs::current_path();
    fs::current_path(starter);
    ::setenv("SANPROV_LIB_HBAAPI", "lib/libHBAAPI.so", 1);  // not there
    ::setenv("SANPROV_HBA_FIXTURE", "fixtures/hba.json", 1);
    const std::string started = scm("start SanProvD");
    fs::current_path(before);  // the service keeps what the start resolved
    const bool running = wait_for_state("RUNNING");
    int status = 0;
    const std::string said = vdsctl_errors("providers", status);
    ::unsetenv("SANPROV_LIB_HBAAPI");
    ::unsetenv("SANPROV_HBA_FIXTURE");
    ASSERT_EQ(started, "");
    ASSERT_TRUE(running);
    const std::string library = (starter / "lib" / "libHBAAPI.so").string();
    const auto texts = events();
    EXPECT_EQ(std::count(texts.begin(), texts.end(),
                         "Failed to load " + library +
                             " (SANPROV_LIB_HBAAPI): The specified module could not be found."),
              1)
        << "the fixture is found where the starter meant it; the library is named as the service looked for it";
    EXPECT_EQ(std::count_if(texts.begin(), texts.end(), [](const std::string& t) { return t.starts_with("Failed to load"); }), 1);
    EXPECT_NE(said.find("vdsctl: loading " + library + " (SANPROV_LIB_HBAAPI) failed: "), std::string::npos) << said;
    EXPECT_EQ(said.find("SANPROV_HBA_FIXTURE"), std::string::npos) << said;
    EXPECT_NE(status, 0);
    EXPECT_EQ(scm("stop SanProvD"), "");
    EXPECT_TRUE(wait_for_state("STOPPED"));
    EXPECT_EQ(run("-UnregServer"), 0);
}
