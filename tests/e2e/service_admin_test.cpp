// The administration class checks logins against the simulated appliance and
// serves another process through the run socket; no password reaches the
// trace, the event log or the registry in clear.
#include <appliance.h>

#include <hostlib/trace.h>
#include <model/filer_record_list.h>
#include <platform/classtable.h>
#include <platform/comalloc.h>
#include <platform/local_server.h>
#include <platform/registry.h>
#include <platform/text.h>
#include <service/provider_admin.h>
#include <vds/module_lock.h>

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace fs = std::filesystem;

namespace {

constexpr const char* kSecret = "Pw-that-must-not-show";

std::string read_all(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::u16string wide(const std::string& s) { return platform::utf8_to_wide_lossy(s); }

// A state root of its own with the trace log switched on into it.
class ServiceAdmin : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/service-admin-XXXXXX";
        m_root = ::mkdtemp(pattern);
        ::setenv("SANPROV_ROOT", m_root.c_str(), 1);
        HKEY key = nullptr;
        RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"SYSTEM\\CurrentControlSet\\Services\\SanProvD\\Parameters", 0, nullptr,
                        0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
        const std::u16string file = wide((m_root / "trace.log").string());
        RegSetValueExW(key, u"LogFile", 0, REG_SZ, reinterpret_cast<const BYTE*>(file.c_str()),
                       static_cast<DWORD>((file.size() + 1) * sizeof(WCHAR)));
        RegCloseKey(key);
        trace_open();
        process_filer_record_list().Clear();
    }
    void TearDown() override {
        trace_close();
        process_filer_record_list().Clear();
        ::unsetenv("SANPROV_ROOT");
        fs::remove_all(m_root);
    }
    // Everything the service leaves behind that a password could leak into.
    std::string traces() const {
        std::string all = read_all(m_root / "trace.log");
        for (const auto& entry : fs::recursive_directory_iterator(m_root))
            if (entry.is_regular_file()) all += read_all(entry.path());
        return all;
    }

    struct Check {
        HRESULT result;
        HRESULT stored;
        std::string text;
    };
    static Check check(IZarvoVdsProviderAdmin* admin, const std::string& dns, const std::string& password,
                       LONG type) {
        const std::u16string d = wide(dns), u = u"root", p = wide(password);
        FILER_RECORD r{nullptr, const_cast<LPWSTR>(d.c_str()), const_cast<LPWSTR>(u.c_str()),
                       const_cast<LPWSTR>(p.c_str()), type, 0};
        Check c{};
        LPWSTR text = nullptr;
        c.result = admin->CheckFilerEntry(0, &r, &c.stored, &text);
        c.text = text ? platform::wide_to_utf8_lossy(text) : "<null>";
        CoTaskMemFree(text);
        return c;
    }

    fs::path m_root;
};

bool starts_with(const std::string& text, const std::string& prefix) { return text.rfind(prefix, 0) == 0; }

}  // namespace

TEST_F(ServiceAdmin, CheckFilerEntryAnswersForEachKindOfAppliance) {
    const e2e::Appliance current({"--release", "Zarvo Release 7.3.1: Mon Jan 12 10:00:00 PST 2009"});
    const e2e::Appliance old({"--release", "Zarvo Release 6.5:"});
    const e2e::Appliance fcOnly({"--release", "Zarvo Release 7.0.3:"});
    const std::string refused = e2e::Appliance::unused_address();
    const std::string pw = e2e::Appliance::kPassword;
    struct Case {
        const char* what;
        std::string dns, password;
        LONG type;
        HRESULT result, stored;
        std::string text;  // the stored text begins so
    };
    const Case cases[] = {
        {"login passes", current.address(), pw, 2, S_OK, S_OK, "<null>"},
        {"login refused (401)", current.address(), kSecret, 3, S_FALSE, static_cast<HRESULT>(0xC0042503u),
         "Invalid login/password combination supplied for subsystem \"" + current.address() + "\"."},
        {"unknown host", "no-such-host.invalid", pw, 2, S_FALSE, static_cast<HRESULT>(0xC0042502u),
         "Subsystem \"no-such-host.invalid\" is offline or unreachable."},
        {"refused port", refused, pw, 2, S_FALSE, static_cast<HRESULT>(0xC0042502u),
         "Subsystem \"" + refused + "\" is offline or unreachable."},
        {"release 6.5", old.address(), pw, 2, S_FALSE, static_cast<HRESULT>(0xC00402E3u), "The \"Zarvo Release 6.5:\" version of Zarvo running on \"" + old.address() + "\" filer is not supported."},
        {"7.0.3 as Fibre Channel", fcOnly.address(), pw, 2, S_OK, S_OK, "<null>"},
        {"7.0.3 as iSCSI", fcOnly.address(), pw, 3, S_FALSE, static_cast<HRESULT>(0xC0042505u),
         "Subsystem \"" + fcOnly.address() + "\" runs Zarvo 7.0.3.0, while iSCSI provider requires Zarvo 7.1 or later."},
    };
    for (const auto& c : cases) {
        CProviderAdmin* admin = CProviderAdmin::Create();
        const Check got = check(admin, c.dns, c.password, c.type);
        EXPECT_EQ(got.result, c.result) << c.what;
        EXPECT_EQ(got.stored, c.stored) << c.what;
        EXPECT_TRUE(starts_with(got.text, c.text)) << c.what << ": " << got.text;
        // GetLastError after the check gives the same error.
        HRESULT hr = 1;
        LPWSTR text = nullptr;
        EXPECT_EQ(admin->GetLastError(0, &hr, &text), S_OK);
        EXPECT_EQ(hr, c.stored) << c.what;
        CoTaskMemFree(text);
        admin->Release();
    }
    EXPECT_EQ(traces().find(kSecret), std::string::npos);
}

TEST_F(ServiceAdmin, AnotherProcessUsesEveryMethodThroughTheSocket) {
    const e2e::Appliance sim({"--release", "Zarvo Release 7.3.1:"});
    int ready[2], stop[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(stop), 0);
    const pid_t server = ::fork();
    if (server == 0) {
        ::close(ready[0]);
        ::close(stop[1]);
        // The service's side: the class object registered for other processes.
        DWORD cookie = 0;
        if (FAILED(CoRegisterClassObject(CLSID_ZarvoVdsProviderAdmin, ProviderAdminClassFactory(),
                                         CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE, &cookie)))
            ::_exit(2);
        (void)!::write(ready[1], "r", 1);
        char c;
        (void)!::read(stop[0], &c, 1);
        CoRevokeClassObject(cookie);
        ::_exit(OwnModuleLockCount() == 0 ? 0 : 3);
    }
    ::close(stop[0]);
    ::close(ready[1]);
    char c = 0;
    ASSERT_EQ(::read(ready[0], &c, 1), 1);

    const auto create = [] {
        IZarvoVdsProviderAdmin* admin = nullptr;
        EXPECT_EQ(CoCreateInstance(CLSID_ZarvoVdsProviderAdmin, nullptr, 23, IID_IZarvoVdsProviderAdmin,
                                   reinterpret_cast<void**>(&admin)),
                  S_OK);
        return admin;
    };
    const std::u16string dns = wide(sim.address()), user = u"root", pw = wide(kSecret);
    FILER_RECORD add{nullptr, const_cast<LPWSTR>(dns.c_str()), const_cast<LPWSTR>(user.c_str()),
                     const_cast<LPWSTR>(pw.c_str()), 2, FILER_RECORD_CHANGED};
    FILER_RECORD* records[] = {&add};
    IZarvoVdsProviderAdmin* admin = create();
    ASSERT_NE(admin, nullptr);
    EXPECT_EQ(admin->CommitFilerList(0, 1, records), S_OK);
    admin->Release();

    admin = create();
    ULONG count = 0;
    FILER_RECORD** loaded = nullptr;
    ASSERT_EQ(admin->LoadFilerList(0, &count, &loaded), S_OK);
    ASSERT_EQ(count, 1u);
    EXPECT_EQ(std::u16string(loaded[0]->wszKey).size(), 36u) << "the service gave the new record its key";
    EXPECT_EQ(std::u16string(loaded[0]->wszPassword), pw) << "the password crosses in clear to the allowed peer";
    admin->Release();

    admin = create();
    const Check refused = check(admin, sim.address(), kSecret, 2);
    EXPECT_EQ(refused.result, S_FALSE);
    EXPECT_EQ(refused.stored, static_cast<HRESULT>(0xC0042503u));
    HRESULT hr = 0;
    LPWSTR text = nullptr;
    EXPECT_EQ(admin->GetLastError(0, &hr, &text), S_OK);
    EXPECT_EQ(hr, static_cast<HRESULT>(0xC0042503u));
    EXPECT_NE(text, nullptr);
    CoTaskMemFree(text);
    admin->Release();

    admin = create();
    loaded[0]->dwUpdateFlags = FILER_RECORD_DELETE;
    EXPECT_EQ(admin->CommitFilerList(0, 1, loaded), S_OK);
    loaded[0]->dwUpdateFlags = FILER_RECORD_DELETE;
    EXPECT_EQ(admin->CommitFilerList(0, 1, loaded), static_cast<HRESULT>(0xC0042501u)) << "a stale key";
    admin->Release();
    free_filer_record(loaded[0]);
    CoTaskMemFree(loaded);

    ::close(stop[1]);
    int status = 0;
    ::waitpid(server, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the server released every object";
    EXPECT_EQ(traces().find(kSecret), std::string::npos) << "no password in the trace, event log or registry";
}
