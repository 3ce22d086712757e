// The administration class in process: argument checks, the stored error, and
// the commit rules over the stored list.
#include <service/provider_admin.h>
#include <vds/module_lock.h>

#include <model/filer_record_list.h>
#include <platform/comalloc.h>
#include <platform/registry.h>
#include <platform/text.h>

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr HRESULT kInvalidSubsystemRecord = static_cast<HRESULT>(0xC0042501u);

class AdminClass : public ::testing::Test {
protected:
    void SetUp() override {
        m_root = fs::temp_directory_path() / ("admin-class-" + std::to_string(::getpid()) + "-" +
                                              ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(m_root);
        fs::create_directories(m_root);
        ::setenv("SANPROV_ROOT", m_root.c_str(), 1);
        process_filer_record_list().Clear();
        m_admin = CProviderAdmin::Create();
    }
    void TearDown() override {
        m_admin->Release();
        process_filer_record_list().Clear();
        ::unsetenv("SANPROV_ROOT");
        fs::remove_all(m_root);
    }

    struct Entry {
        std::u16string dns, user, password;
        LONG type;
        DWORD flags;
    };
    // The stored list as a fresh process would read it from the registry.
    static std::map<std::u16string, Entry> stored() {
        filer_record_list list;
        list.Load();
        std::map<std::u16string, Entry> out;
        for (auto& [key, r] : list.m_map)
            out[key] = {r->m_strDnsName, r->m_strUserName, r->m_strPassword, r->m_iType, DWORD(r->m_iFlags)};
        return out;
    }
    std::pair<HRESULT, std::string> last_error() {
        HRESULT hr = 0;
        LPWSTR text = nullptr;
        EXPECT_EQ(m_admin->GetLastError(0, &hr, &text), S_OK);
        std::string s = text ? platform::wide_to_utf8_lossy(text) : "<null>";
        CoTaskMemFree(text);
        return {hr, s};
    }
    static FILER_RECORD record(const WCHAR* key, const WCHAR* dns, LONG type, DWORD flags,
                               const WCHAR* password = u"pw") {
        return {const_cast<LPWSTR>(key), const_cast<LPWSTR>(dns), const_cast<LPWSTR>(u"root"),
                const_cast<LPWSTR>(password), type, flags};
    }
    HRESULT commit(std::vector<FILER_RECORD> records) {
        std::vector<FILER_RECORD*> pointers;
        for (auto& r : records) pointers.push_back(&r);
        return m_admin->CommitFilerList(0, static_cast<ULONG>(pointers.size()), pointers.data());
    }

    fs::path m_root;
    CProviderAdmin* m_admin = nullptr;
};

constexpr const WCHAR* kA = u"aaaaaaaa-0000-0000-0000-000000000001";
constexpr const WCHAR* kB = u"bbbbbbbb-0000-0000-0000-000000000002";

}  // namespace

TEST_F(AdminClass, LoadGivesCopiesOfTheStoredRecordsInKeyOrder) {
    ULONG count = 5;
    FILER_RECORD** records = reinterpret_cast<FILER_RECORD**>(8);
    ASSERT_EQ(m_admin->LoadFilerList(0, &count, &records), S_OK) << "a missing Filers key is an empty list";
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(records, nullptr);

    ASSERT_EQ(commit({record(kB, u"filer-b", 3, FILER_RECORD_CHANGED), record(kA, u"filer-a", 2, FILER_RECORD_CHANGED,
                                                                              nullptr)}),
              S_OK);
    ASSERT_EQ(m_admin->LoadFilerList(0, &count, &records), S_OK);
    ASSERT_EQ(count, 2u);
    EXPECT_EQ(std::u16string(records[0]->wszKey), kA);
    EXPECT_EQ(std::u16string(records[0]->wszPassword), u"");
    EXPECT_EQ(std::u16string(records[1]->wszDnsName), u"filer-b");
    EXPECT_EQ(std::u16string(records[1]->wszPassword), u"pw");
    EXPECT_EQ(records[1]->hwpType, 3);
    EXPECT_EQ(records[1]->dwUpdateFlags, 0u);
    for (ULONG i = 0; i < count; ++i) free_filer_record(records[i]);
    CoTaskMemFree(records);

    const struct {
        DWORD flags;
        bool countOk, arrayOk;
    } bad[] = {{1, true, true}, {0, false, true}, {0, true, false}};
    for (const auto& b : bad) {
        EXPECT_EQ(m_admin->LoadFilerList(b.flags, b.countOk ? &count : nullptr, b.arrayOk ? &records : nullptr),
                  E_INVALIDARG);
    }
}

TEST_F(AdminClass, CommitAppliesEachRecordByItsFlags) {
    ASSERT_EQ(commit({record(kA, u"filer-a", 2, FILER_RECORD_CHANGED), record(kB, u"filer-b", 3, FILER_RECORD_CHANGED)}),
              S_OK);
    struct Case {
        const char* what;
        std::vector<FILER_RECORD> records;
        HRESULT result;
        std::map<std::u16string, std::u16string> names;  // stored key -> DNS name afterwards (new keys as "*")
    };
    const Case cases[] = {
        {"flags 0 change nothing", {record(kA, u"other", 3, 0)}, S_OK, {{kA, u"filer-a"}, {kB, u"filer-b"}}},
        {"update", {record(kA, u"filer-a2", 3, FILER_RECORD_CHANGED)}, S_OK, {{kA, u"filer-a2"}, {kB, u"filer-b"}}},
        {"stale deletion key changes nothing",
         {record(kA, u"changed", 2, FILER_RECORD_CHANGED), record(u"gone", u"x", 2, FILER_RECORD_DELETE)},
         kInvalidSubsystemRecord,
         {{kA, u"filer-a2"}, {kB, u"filer-b"}}},
        {"both bits: the deletion wins", {record(kB, u"x", 2, FILER_RECORD_DELETE | FILER_RECORD_CHANGED)}, S_OK,
         {{kA, u"filer-a2"}}},
        {"add with an empty key", {record(u"", u"filer-c", 2, FILER_RECORD_CHANGED)}, S_OK,
         {{kA, u"filer-a2"}, {u"*", u"filer-c"}}},
        {"unknown type on an unchanged record does not block", {record(kA, u"x", 0, 0)}, S_OK,
         {{kA, u"filer-a2"}, {u"*", u"filer-c"}}},
        {"delete", {record(kA, u"", 2, FILER_RECORD_DELETE)}, S_OK, {{u"*", u"filer-c"}}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(commit(c.records), c.result) << c.what;
        std::map<std::u16string, std::u16string> names;
        for (auto& [key, e] : stored()) names[key == kA || key == kB ? key : u"*"] = e.dns;
        EXPECT_EQ(names, c.names) << c.what;
        if (FAILED(c.result)) {
            EXPECT_EQ(last_error().first, c.result) << "the commit's failure is its last error";
        }
    }
    EXPECT_EQ(commit({}), S_OK) << "a commit of nothing only loads and saves";
}

TEST_F(AdminClass, CommitRefusesBadArgumentsBeforeAnythingChanges) {
    FILER_RECORD good = record(kA, u"filer-a", 2, FILER_RECORD_CHANGED);
    FILER_RECORD badKey = record(u"a\\b", u"filer", 2, FILER_RECORD_CHANGED);
    FILER_RECORD badType = record(kB, u"filer", 9, FILER_RECORD_CHANGED);
    FILER_RECORD* withBadKey[] = {&good, &badKey};
    FILER_RECORD* withBadType[] = {&good, &badType};
    FILER_RECORD* withNull[] = {&good, nullptr};
    EXPECT_EQ(m_admin->CommitFilerList(1, 1, withBadKey), E_INVALIDARG);
    EXPECT_EQ(m_admin->CommitFilerList(0, 2, nullptr), E_INVALIDARG);
    EXPECT_EQ(m_admin->CommitFilerList(0, 2, withBadKey), E_INVALIDARG);
    EXPECT_EQ(m_admin->CommitFilerList(0, 2, withBadType), E_INVALIDARG);
    EXPECT_EQ(m_admin->CommitFilerList(0, 2, withNull), E_INVALIDARG);
    EXPECT_TRUE(stored().empty());
}

TEST_F(AdminClass, AFailedSaveIsTheCommitsResultAndItsLastError) {
    ASSERT_EQ(commit({record(kA, u"filer-a", 2, FILER_RECORD_CHANGED)}), S_OK);
    // A hive that cannot be read is never overwritten.
    std::ofstream(m_root / "registry" / "HKLM.reg", std::ios::trunc) << "garbled\x01";
    const HRESULT hr = commit({record(kA, u"filer-a2", 2, FILER_RECORD_CHANGED)});
    EXPECT_TRUE(FAILED(hr));
    EXPECT_EQ(last_error().first, hr);
    ULONG count = 0;
    FILER_RECORD** records = nullptr;
    ASSERT_EQ(m_admin->LoadFilerList(0, &count, &records), S_OK);
    ASSERT_EQ(count, 1u);
    EXPECT_EQ(records[0]->dwUpdateFlags, FILER_RECORD_CHANGED) << "the record that was not saved shows as changed";
    free_filer_record(records[0]);
    CoTaskMemFree(records);
}

TEST_F(AdminClass, StoredErrorAndItsText) {
    EXPECT_EQ(last_error(), std::make_pair(HRESULT(0), std::string("<null>")));
    HRESULT hr = 1;
    LPWSTR text = nullptr;
    EXPECT_EQ(m_admin->GetLastError(1, &hr, &text), E_INVALIDARG);
    EXPECT_EQ(hr, 1) << "nothing is written";
    EXPECT_EQ(m_admin->GetLastError(0, nullptr, &text), E_INVALIDARG);

    EXPECT_EQ(m_admin->SetLastError(static_cast<HRESULT>(0xC0042505u), u"filer9", u"7.0.3.0"), S_OK);
    auto [code, message] = last_error();
    EXPECT_EQ(code, static_cast<HRESULT>(0xC0042505u));
    EXPECT_EQ(message.rfind("Subsystem \"filer9\" runs Zarvo 7.0.3.0, while iSCSI provider requires Zarvo 7.1 or later.",
                            0),
              0u)
        << message;
    EXPECT_EQ(m_admin->SetLastError(E_INVALIDARG), S_OK);
    EXPECT_EQ(last_error().second.rfind("The parameter is incorrect.", 0), 0u) << "the system's text";
    EXPECT_EQ(m_admin->SetLastError(0), S_OK);
    EXPECT_EQ(last_error(), std::make_pair(HRESULT(0), std::string("<null>")));

    // A bad check stores E_INVALIDARG and hands it out with its text.
    FILER_RECORD r = record(kA, u"filer", 2, 0);
    EXPECT_EQ(m_admin->CheckFilerEntry(1, &r, &hr, &text), E_INVALIDARG);
    EXPECT_EQ(hr, E_INVALIDARG);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(platform::wide_to_utf8_lossy(text).rfind("The parameter is incorrect.", 0), 0u);
    CoTaskMemFree(text);
}

TEST(AdminModule, EveryLiveObjectHoldsAModuleLock) {
    const LONG before = OwnModuleLockCount();
    IZarvoVdsProviderAdmin* admin = nullptr;
    ASSERT_EQ(ProviderAdminClassFactory()->CreateInstance(nullptr, IID_IZarvoVdsProviderAdmin,
                                                          reinterpret_cast<void**>(&admin)),
              S_OK);
    EXPECT_EQ(OwnModuleLockCount(), before + 1);
    admin->Release();
    EXPECT_EQ(OwnModuleLockCount(), before);
}
