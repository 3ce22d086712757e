// sanprovd as a program: its switches, the registration it leaves in the
// registry store and its events, and its life as a plain COM server.
#include <platform/classtable.h>
#include <platform/comalloc.h>
#include <platform/local_server.h>
#include <platform/provider_admin.h>
#include <platform/registry.h>
#include <platform/text.h>
#include <platform/vds_admin.h>
#include <platform/winsvc.h>

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
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
    for (int i = 0; i < 500 && !platform::is_local_server() && !fs::exists(platform::local_server_socket()); ++i)
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
    for (int i = 0; i < 500 && ::waitpid(server, &status, WNOHANG) == 0; ++i)
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
