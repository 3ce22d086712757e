// The applet, headless, against the administration class of the service and
// simulated appliances: appliances are added, verified and removed, and the
// stored list in the registry follows.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include <platform/classtable.h>
#include <platform/local_server.h>
#include <platform/registry.h>
#include <platform/text.h>
#include <service/provider_admin.h>
#include <ui/backend.h>
#include <ui/cpl.h>

#include "appliance.h"

namespace {

constexpr const char16_t* kFilersKey = u"SYSTEM\\CurrentControlSet\\Services\\SanProvD\\Parameters\\Filers";

// The DNS names of the stored appliance list, as the registry holds it.
std::set<std::string> stored_names() {
    std::set<std::string> names;
    HKEY filers = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kFilersKey, 0, KEY_READ, &filers) != ERROR_SUCCESS) return names;
    for (DWORD i = 0;; ++i) {
        WCHAR key[256];
        DWORD length = 256;
        if (RegEnumKeyExW(filers, i, key, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        HKEY record = nullptr;
        if (RegOpenKeyExW(filers, key, 0, KEY_READ, &record) != ERROR_SUCCESS) continue;
        WCHAR name[300] = {};
        DWORD size = sizeof(name);
        DWORD type = 0;
        if (RegQueryValueExW(record, u"name", nullptr, &type, reinterpret_cast<LPBYTE>(name), &size) == ERROR_SUCCESS)
            names.insert(platform::wide_to_utf8_lossy(name));
        RegCloseKey(record);
    }
    RegCloseKey(filers);
    return names;
}

// A fresh state root for each test, removed after it.
class PanelRoot : public ::testing::Test {
protected:
    PanelRoot() {
        char root[] = "/tmp/panel-e2e-XXXXXX";
        EXPECT_NE(mkdtemp(root), nullptr);
        m_root = root;
        setenv("SANPROV_ROOT", root, 1);
    }
    ~PanelRoot() override {
        std::error_code ignored;
        std::filesystem::remove_all(m_root, ignored);
    }

    // The applet as Control Panel runs it: cplhost loads the library in a
    // process of its own, headless on a script; gives the transcript.
    std::string cplhost(const std::string& script) const {
        const std::string scriptFile = m_root + "/script", transcriptFile = m_root + "/transcript";
        std::ofstream(scriptFile) << script;
        const std::string command = std::string(CPLHOST) + " --ui=headless --script " + scriptFile +
                                    " --transcript " + transcriptFile + " " + SANPROVPANEL;
        EXPECT_EQ(std::system(command.c_str()), 0) << command;
        std::ifstream in(transcriptFile);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    std::string m_root;
};

class AppletAgainstService : public PanelRoot {
protected:
    AppletAgainstService() {
        IClassFactory* factory = ProviderAdminClassFactory();
        EXPECT_EQ(CoRegisterClassObject(CLSID_ZarvoVdsProviderAdmin, factory, CLSCTX_INPROC_SERVER,
                                        REGCLS_MULTIPLEUSE, &m_cookie),
                  S_OK);
    }
    ~AppletAgainstService() override { CoRevokeClassObject(m_cookie); }

    std::string run(const std::string& script) {
        std::istringstream in(script);
        std::ostringstream out;
        ui::set_backend(ui::make_headless_backend(in, out));
        CPlApplet(nullptr, CPL_INIT, 0, 0);
        CPlApplet(nullptr, CPL_DBLCLK, 0, 0);
        CPlApplet(nullptr, CPL_EXIT, 0, 0);
        ui::set_backend(nullptr);
        return out.str();
    }

    // Opens the credentials dialog for a new appliance, verifies and cancels.
    std::string verify(const std::string& address, const std::string& password, bool iscsi) {
        return run("click 1009\ntype 1009 " + address + "\ntype 1013 root\ntype 1014 " + password + "\n" +
                   (iscsi ? "click 1012\n" : "") + "click 1018\nclick 2\nclick 2\n");
    }

private:
    DWORD m_cookie = 0;
};

const std::string kBox = "message box \"Zarvo VDS Hardware Provider\" ";

TEST_F(AppletAgainstService, AnApplianceIsAddedVerifiedAndRemovedAndTheStoredListFollows) {
    e2e::Appliance appliance;
    const std::string& address = appliance.address();
    std::string transcript =
        run("click 1009\ntype 1009 " + address + "\ntype 1013 root\ntype 1014 " + e2e::Appliance::kPassword +
            "\nclick 1018\nclick 1\nclick 12321\nshow\n");
    EXPECT_NE(transcript.find(kBox + "[information] \"Subsystem login credentials have been verified.\"\n"),
              std::string::npos)
        << transcript;
    EXPECT_EQ(stored_names(), std::set<std::string>{address});

    // Opened again, the list comes from the service; removing it and OK
    // empties the stored list.
    transcript = run("show\nclick 1008\nclick 1\n");
    EXPECT_NE(transcript.find("    row 0: \"" + address + "\" \"Fibre Channel\" selected focused\n"), std::string::npos)
        << transcript;
    EXPECT_TRUE(stored_names().empty());
}

TEST_F(AppletAgainstService, VerifyShowsTheServicesAnswer) {
    e2e::Appliance appliance;
    e2e::Appliance oldRelease({"--release", "Zarvo Release 7.0.3: Thu Feb 12 03:11:09 PST 2009"});
    const std::string unknown = e2e::Appliance::unused_address();
    struct Case {
        std::string address;
        std::string password;
        bool iscsi;
        std::string box;
    };
    const Case cases[] = {
        {appliance.address(), e2e::Appliance::kPassword, false,
         "[information] \"Subsystem login credentials have been verified.\""},
        {appliance.address(), "wrong", false,
         "[error] \"Invalid login/password combination supplied for subsystem \\\"" + appliance.address() + "\\\"."},
        {unknown, e2e::Appliance::kPassword, false, "[error] \"Subsystem \\\"" + unknown + "\\\" is offline or unreachable."},
        {oldRelease.address(), e2e::Appliance::kPassword, true,
         "[error] \"Subsystem \\\"" + oldRelease.address() + "\\\" runs Zarvo 7.0.3"},
    };
    for (const auto& c : cases) {
        const std::string transcript = verify(c.address, c.password, c.iscsi);
        EXPECT_NE(transcript.find("> click 1018\n" + kBox + c.box), std::string::npos) << transcript;
        if (c.iscsi) {
            EXPECT_NE(transcript.find("while iSCSI provider requires Zarvo 7.1 or later."), std::string::npos);
        }
    }
    EXPECT_TRUE(stored_names().empty());  // verifying stores nothing
}

// cplhost's process reaches the administration class through the local
// server this test process becomes.
class AppletInItsOwnProcess : public PanelRoot {
protected:
    AppletInItsOwnProcess() {
        EXPECT_EQ(CoRegisterClassObject(CLSID_ZarvoVdsProviderAdmin, ProviderAdminClassFactory(), CLSCTX_LOCAL_SERVER,
                                        REGCLS_MULTIPLEUSE, &m_cookie),
                  S_OK);
        EXPECT_TRUE(platform::is_local_server());
    }
    ~AppletInItsOwnProcess() override { CoRevokeClassObject(m_cookie); }

private:
    DWORD m_cookie = 0;
};

TEST_F(AppletInItsOwnProcess, AppletLibraryChangesTheStoredListThroughTheLocalServer) {
    e2e::Appliance appliance;
    const std::string& address = appliance.address();
    std::string transcript = cplhost("click 1009\ntype 1009 " + address + "\ntype 1013 root\ntype 1014 " +
                                     e2e::Appliance::kPassword + "\nclick 1012\nclick 1018\nclick 1\nclick 1\n");
    EXPECT_NE(transcript.find(kBox + "[information] \"Subsystem login credentials have been verified.\"\n"),
              std::string::npos)
        << transcript;
    EXPECT_EQ(stored_names(), std::set<std::string>{address});

    transcript = cplhost("show\nclick 1008\nclick 12321\nclick 2\n");
    EXPECT_NE(transcript.find("    row 0: \"" + address + "\" \"iSCSI\" selected focused\n"), std::string::npos)
        << transcript;
    EXPECT_TRUE(stored_names().empty());
}

// The applet as it is used: sanprovd installed, not running; the applet's
// activation starts it through the service manager, and every answer comes
// from the service's process.
class AppletAgainstInstalledSanprovd : public PanelRoot {
protected:
    AppletAgainstInstalledSanprovd() { EXPECT_EQ(command(std::string(SANPROVD) + " -Service"), 0); }
    ~AppletAgainstInstalledSanprovd() override {
        command(std::string(SCM) + " stop SanProvD >/dev/null 2>&1");
        for (int i = 0; i < 200 && scm_query().find("STOPPED") == std::string::npos; ++i) ::usleep(50'000);
        command(std::string(SANPROVD) + " -UnregServer");
    }

    static int command(const std::string& line) {
        const int status = std::system(line.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    static std::string scm_query() {
        std::string out;
        FILE* p = ::popen((std::string(SCM) + " query SanProvD 2>&1").c_str(), "r");
        char buf[256];
        while (p && std::fgets(buf, sizeof buf, p)) out += buf;
        if (p) ::pclose(p);
        return out;
    }
};

TEST_F(AppletAgainstInstalledSanprovd, StartsTheServiceAndKeepsTheListThroughIt) {
    e2e::Appliance appliance;
    const std::string& address = appliance.address();
    const std::string unknown = e2e::Appliance::unused_address();
    std::string transcript =
        cplhost("click 1009\ntype 1009 " + unknown + "\ntype 1013 root\ntype 1014 x\nclick 1018\nclick 2\n"
                "click 1009\ntype 1009 " + address + "\ntype 1013 root\ntype 1014 wrong\nclick 1018\n"
                "type 1014 " + e2e::Appliance::kPassword + "\nclick 1018\nclick 1\nclick 1\n");
    EXPECT_NE(scm_query().find("RUNNING"), std::string::npos) << "the activation started the service";
    for (const std::string& box :
         {"[error] \"Subsystem \\\"" + unknown + "\\\" is offline or unreachable.",
          "[error] \"Invalid login/password combination supplied for subsystem \\\"" + address + "\\\".",
          std::string("[information] \"Subsystem login credentials have been verified.\"\n")})
        EXPECT_NE(transcript.find(kBox + box), std::string::npos) << box << "\n" << transcript;
    EXPECT_EQ(stored_names(), std::set<std::string>{address});

    transcript = cplhost("show\nclick 1008\nclick 12321\nclick 1\n");
    EXPECT_NE(transcript.find("    row 0: \"" + address + "\" \"Fibre Channel\" selected focused\n"), std::string::npos)
        << transcript;
    EXPECT_TRUE(stored_names().empty());
}

}  // namespace
