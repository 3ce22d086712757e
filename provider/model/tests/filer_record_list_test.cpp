// The stored appliance list: registry layout and bytes, protected passwords,
// load and save rules.
#include <model/filer_record_list.h>
#include <model/password_protection.h>

#include <platform/comalloc.h>
#include <platform/registry.h>

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

class FilerList : public ::testing::Test {
protected:
    void SetUp() override {
        m_root = fs::temp_directory_path() / ("filer-list-" + std::to_string(::getpid()) + "-" +
                                              ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(m_root);
        fs::create_directories(m_root);
        ::setenv("SANPROV_ROOT", m_root.c_str(), 1);
    }
    void TearDown() override {
        ::unsetenv("SANPROV_ROOT");
        fs::remove_all(m_root);
    }

    struct Value {
        DWORD type = REG_NONE;
        std::vector<BYTE> bytes;
    };
    static Value value(const std::u16string& key, const WCHAR* name) {
        const std::u16string path = std::u16string(kFilersKey) + u"\\" + key;
        HKEY h = nullptr;
        Value v;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS) return v;
        v.bytes.resize(65536);
        DWORD size = static_cast<DWORD>(v.bytes.size());
        if (RegQueryValueExW(h, name, nullptr, &v.type, v.bytes.data(), &size) != ERROR_SUCCESS) v.type = REG_NONE;
        v.bytes.resize(v.type == REG_NONE ? 0 : size);
        RegCloseKey(h);
        return v;
    }
    static void set_value(const std::u16string& key, const WCHAR* name, DWORD type, const void* data, DWORD size) {
        const std::u16string path = std::u16string(kFilersKey) + u"\\" + key;
        HKEY h = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueExW(h, name, 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS);
        RegCloseKey(h);
    }
    static void set_text(const std::u16string& key, const WCHAR* name, const std::u16string& text) {
        set_value(key, name, REG_SZ, text.c_str(), DWORD((text.size() + 1) * 2));
    }
    static void set_dword(const std::u16string& key, const WCHAR* name, DWORD v) {
        set_value(key, name, REG_DWORD, &v, 4);
    }
    static std::string hex(const std::vector<BYTE>& bytes) {
        static const char* digits = "0123456789abcdef";
        std::string s;
        for (BYTE b : bytes) s += {digits[b >> 4], digits[b & 15]};
        return s;
    }
    static std::vector<std::u16string> stored_keys() {
        std::vector<std::u16string> keys;
        HKEY h = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kFilersKey, 0, KEY_READ, &h) != ERROR_SUCCESS) return keys;
        for (DWORD i = 0;; ++i) {
            WCHAR name[256];
            DWORD n = 256;
            if (RegEnumKeyExW(h, i, name, &n, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
            keys.emplace_back(name);
        }
        RegCloseKey(h);
        return keys;
    }

    std::string hive_text() const {
        std::ifstream in(m_root / "registry" / "HKLM.reg", std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    fs::path m_root;
};

constexpr const WCHAR* kKey1 = u"6ba7b810-9dad-11d1-80b4-00c04fd430c8";
constexpr const WCHAR* kKey2 = u"9a2ef80f-58ee-4571-b499-8d7c4093f6de";

}  // namespace

TEST_F(FilerList, SavedRecordsHaveTheirValuesAndProtectedPasswordsAndLoadBack) {
    filer_record_list list;
    EXPECT_EQ(list.Load(), S_FALSE) << "no Filers key is an empty list";
    list.Add(kKey1, u"filer1.example", u"root", u"secret", 2);
    // This password's ciphertext holds a zero unit inside its length.
    list.Add(kKey2, u"10.0.0.7", u"admin", u"abedefgh", 3);
    ASSERT_EQ(list.Save(), S_OK);
    for (auto& [key, record] : list.m_map) EXPECT_EQ(record->m_iFlags, 0) << "saved records are no longer marked";

    const Value password1 = value(kKey1, u"password");
    EXPECT_EQ(password1.type, REG_SZ);
    EXPECT_EQ(hex(password1.bytes), "813a01361524bf688d2a930d0fdbd4cb66390de0b60ca3c7eab854dc69f79f54" "0000");
    const Value password2 = value(kKey2, u"password");
    EXPECT_EQ(password2.type, REG_BINARY) << "stored whole, so it does not reload cut short";
    EXPECT_EQ(password2.bytes.size(), 32u);

    const Value name = value(kKey1, u"name");
    EXPECT_EQ(name.type, REG_SZ);
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(name.bytes.data())), u"filer1.example");
    const Value type = value(kKey2, u"type");
    EXPECT_EQ(type.type, REG_DWORD);
    EXPECT_EQ(hex(type.bytes), "03000000");
    EXPECT_EQ(value(kKey2, u"username").type, REG_SZ);

    filer_record_list reloaded;
    ASSERT_EQ(reloaded.Load(), S_OK);
    ASSERT_EQ(reloaded.m_map.size(), 2u);
    const CFilerRecord& r1 = *reloaded.m_map.at(kKey1);
    EXPECT_EQ(r1.m_strKey, kKey1);
    EXPECT_EQ(r1.m_strDnsName, u"filer1.example");
    EXPECT_EQ(r1.m_strUserName, u"root");
    EXPECT_EQ(r1.m_strPassword, u"secret");
    EXPECT_EQ(r1.m_iType, 2);
    EXPECT_EQ(r1.m_iFlags, 0);
    EXPECT_EQ(reloaded.m_map.at(kKey2)->m_strPassword, u"abedefgh");
    EXPECT_EQ(reloaded.Load(), S_FALSE) << "a list that holds records is not read again";

    // Nothing of either password is in the registry in clear.
    std::ifstream hive(m_root / "registry" / "HKLM.reg", std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(hive)), {});
    using namespace std::string_literals;
    for (const std::string& clear : {"secret"s, "abedefgh"s, "s\0e\0c\0r\0e\0t"s})
        EXPECT_EQ(text.find(clear), std::string::npos);
}

TEST_F(FilerList, StoredPasswordLengthFollowsThePaddingRule) {
    struct Case {
        std::u16string password;
        size_t units;  // stored units without the terminator
    };
    const Case cases[] = {{u"", 16}, {std::u16string(15, u'p'), 16}, {std::u16string(16, u'p'), 16},
                          {std::u16string(40, u'q'), 40}};
    for (const auto& c : cases) {
        std::vector<WCHAR> cipher;
        ASSERT_TRUE(ensure_crypto_keys());
        ASSERT_TRUE(EncryptString(kKey1, c.password, cipher));
        EXPECT_EQ(cipher.size(), c.units) << c.password.size();
        std::u16string back;
        ASSERT_TRUE(DecryptString(kKey1, cipher, back));
        EXPECT_EQ(back, c.password);
    }
}

TEST_F(FilerList, LoadKeepsWhatItCanReadAndSkipsRecordsMissingAValue) {
    // A full record, a password written in clear by hand, an unknown type, a
    // name of the wrong type; then records left half written: no password,
    // a name and type only, a key with no values.
    set_text(u"a", u"name", u"filer-a");
    set_dword(u"a", u"type", 2);
    set_text(u"a", u"username", u"root");
    set_text(u"a", u"password", u"handwritten");
    set_text(u"b", u"name", u"filer-b");
    set_dword(u"b", u"type", 5);
    set_text(u"b", u"username", u"u");
    set_text(u"b", u"password", u"pw");
    set_dword(u"c", u"name", 7);
    set_text(u"d", u"name", u"filer-d");
    set_dword(u"d", u"type", 3);
    set_text(u"e", u"name", u"filer-e");
    set_dword(u"e", u"type", 3);
    set_text(u"e", u"username", u"u");
    HKEY empty = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, (std::u16string(kFilersKey) + u"\\f").c_str(), 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &empty, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(empty);

    filer_record_list list;
    ASSERT_EQ(list.Load(), S_OK);
    std::vector<std::u16string> loaded;
    for (auto& [key, record] : list.m_map) loaded.push_back(key);
    EXPECT_EQ(loaded, (std::vector<std::u16string>{u"a", u"b", u"c"}));
    const CFilerRecord& a = *list.m_map.at(u"a");
    EXPECT_EQ(a.m_iType, 2);
    EXPECT_NE(a.m_strPassword, u"handwritten") << "stored text is decrypted like any other value";
    EXPECT_EQ(list.m_map.at(u"b")->m_iType, 0) << "a type above 3 is not a known type";
    EXPECT_EQ(list.m_map.at(u"c")->m_strDnsName, u"") << "a value of the wrong kind keeps the record";
    EXPECT_EQ(list.m_map.at(u"c")->m_strKey, u"c");
    for (auto& [key, record] : list.m_map) EXPECT_EQ(record->m_iFlags, 0);

    // Each skipped record is reported once, however often the list is read.
    list.Clear();
    ASSERT_EQ(list.Load(), S_OK);
    std::vector<std::string> reported;
    std::ifstream log(m_root / "eventlog" / "SanProvD.jsonl");
    for (std::string line; std::getline(log, line);) {
        const auto at = line.find("The stored subsystem record \\\"");
        if (at != std::string::npos) reported.push_back(line.substr(at + 30, 1));
    }
    EXPECT_EQ(reported, (std::vector<std::string>{"d", "e", "f"}));

    CFilerRecord direct;
    HKEY filers = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kFilersKey, 0, KEY_READ, &filers), ERROR_SUCCESS);
    EXPECT_EQ(direct.LoadFromRegistry(filers, u"c"), ERROR_INVALID_DATA);
    EXPECT_EQ(direct.LoadFromRegistry(filers, u"d"), DWORD(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(direct.LoadFromRegistry(filers, u"a"), 0u);
    RegCloseKey(filers);
}

TEST_F(FilerList, AtMost250RecordsAreLoaded) {
    platform::RegistryTransaction transaction;  // one hive write for them all
    HKEY filers = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kFilersKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &filers, nullptr),
              ERROR_SUCCESS);
    for (int i = 0; i < 251; ++i) {
        const std::string name = "k" + std::string(i < 10 ? "00" : i < 100 ? "0" : "") + std::to_string(i);
        HKEY sub = nullptr;
        ASSERT_EQ(RegCreateKeyExW(filers, std::u16string(name.begin(), name.end()).c_str(), 0, nullptr, 0,
                                  KEY_ALL_ACCESS, nullptr, &sub, nullptr),
                  ERROR_SUCCESS);
        const DWORD type = 2;
        for (const WCHAR* text : {u"name", u"username", u"password"})
            RegSetValueExW(sub, text, 0, REG_SZ, reinterpret_cast<const BYTE*>(u"x"), 4);
        RegSetValueExW(sub, u"type", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&type), 4);
        RegCloseKey(sub);
    }
    RegCloseKey(filers);
    ASSERT_EQ(transaction.Commit(), ERROR_SUCCESS);
    filer_record_list list;
    ASSERT_EQ(list.Load(), S_OK);
    EXPECT_EQ(list.m_map.size(), 250u);
    EXPECT_EQ(list.m_map.count(u"k250"), 0u) << "the first 250 in enumeration order";
}

TEST_F(FilerList, SaveDeletesMarkedRecordsAndAFailureWritesNothing) {
    filer_record_list list;
    list.Add(kKey1, u"one", u"u", nullptr, 2);
    list.Add(kKey2, u"two", u"u", u"pw", 3);
    ASSERT_EQ(list.Save(), S_OK);
    EXPECT_EQ(list.m_map.at(kKey1)->m_strPassword, u"") << "a NULL password is empty";

    list.m_map.at(kKey1)->m_iFlags = FILER_RECORD_DELETE;
    list.m_map.at(kKey2)->m_strDnsName = u"two-changed";
    list.m_map.at(kKey2)->m_iFlags = FILER_RECORD_CHANGED;
    const CFilerRecord* added = list.Add(u"", u"three", u"u", u"", 2);
    EXPECT_EQ(added->m_strKey.size(), 36u) << "an empty key gets a new one";
    list.m_map.erase(added->m_strKey);
    // A record whose key could not be made cannot be written.
    auto keyless = std::make_unique<CFilerRecord>();
    keyless->m_strDnsName = u"three";
    keyless->m_iFlags = FILER_RECORD_CHANGED;
    list.m_map[u""] = std::move(keyless);

    const std::string before = hive_text();
    EXPECT_EQ(list.Save(), E_INVALIDARG) << "a record that could not be written fails the save";
    EXPECT_EQ(hive_text(), before) << "and nothing of the save reaches the registry";
    ASSERT_EQ(list.m_map.size(), 3u) << "the deletion waits for the next save";
    EXPECT_EQ(list.m_map.at(u"")->m_iFlags, FILER_RECORD_CHANGED);
    EXPECT_EQ(list.m_map.at(kKey1)->m_iFlags, FILER_RECORD_DELETE);
    EXPECT_EQ(list.m_map.at(kKey2)->m_iFlags, FILER_RECORD_CHANGED) << "written before the failure, still marked";

    list.m_map.at(u"")->m_iFlags = FILER_RECORD_DELETE;
    EXPECT_EQ(list.Save(), S_OK);
    EXPECT_EQ(stored_keys(), std::vector<std::u16string>{kKey2});
    EXPECT_EQ(value(kKey2, u"name").bytes.size(), sizeof(u"two-changed"));

    list.m_map.at(kKey2)->m_iFlags = FILER_RECORD_DELETE;
    EXPECT_EQ(list.Save(), S_OK);
    EXPECT_TRUE(list.m_map.empty());
    EXPECT_TRUE(stored_keys().empty());
    HKEY filers = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kFilersKey, 0, KEY_READ, &filers), ERROR_SUCCESS)
        << "an empty Filers key stays";
    RegCloseKey(filers);
}

namespace {

// Two lists a commit moves between: three records deleted, three changed and
// three added, each with its own password.
struct Entry {
    std::u16string key, name, password;
};
std::vector<Entry> list_entries(char which) {
    const int first = which == 'A' ? 0 : 3;
    std::vector<Entry> entries;
    for (int i = first; i < first + 6; ++i) {
        const std::u16string n(1, static_cast<char16_t>(u'0' + i));
        const std::u16string w(1, static_cast<char16_t>(which));
        entries.push_back({u"00000000-0000-0000-0000-00000000000" + n, w + u"-filer-" + n, w + u"-pw-" + n});
    }
    return entries;
}

// Turns the list in memory into the other one and saves it, forever; says
// so on `saved` after each save.
[[noreturn]] void commit_forever(int saved) {
    filer_record_list list;
    list.Load();
    for (;;) {
        const char to = list.m_map.at(list_entries('B').front().key)->m_strDnsName[0] == u'A' ? 'B' : 'A';
        for (auto& [key, record] : list.m_map) record->m_iFlags = FILER_RECORD_DELETE;
        for (const Entry& e : list_entries(to)) {
            auto it = list.m_map.find(e.key);
            if (it == list.m_map.end()) {
                list.Add(e.key, e.name, u"root", e.password.c_str(), 2);
                continue;
            }
            it->second->m_strDnsName = e.name;
            it->second->m_strPassword = e.password;
            it->second->m_iFlags = FILER_RECORD_CHANGED;
        }
        list.Save();
        (void)!::write(saved, "s", 1);
    }
}

}  // namespace

TEST_F(FilerList, AWriterKilledAnywhereInASaveLeavesTheOldListOrTheNew) {
    std::chrono::microseconds save{};
    {
        filer_record_list list;
        for (const Entry& e : list_entries('A')) list.Add(e.key, e.name, u"root", e.password.c_str(), 2);
        const auto start = std::chrono::steady_clock::now();
        ASSERT_EQ(list.Save(), S_OK);
        save = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start);
    }
    std::mt19937 random(20240229);
    std::set<char> seen;
    for (int round = 0; round < 40; ++round) {
        int saved[2];
        ASSERT_EQ(::pipe(saved), 0);
        const pid_t child = ::fork();
        if (child == 0) {
            ::close(saved[0]);
            commit_forever(saved[1]);
        }
        ::close(saved[1]);
        // Once the writer is under way, anywhere within its next saves.
        char first;
        ASSERT_EQ(::read(saved[0], &first, 1), 1);
        std::this_thread::sleep_for(std::chrono::microseconds(random() % (2 * save.count() + 1000)));
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
        ::close(saved[0]);

        filer_record_list list;
        ASSERT_EQ(list.Load(), S_OK);
        std::vector<std::u16string> loaded;
        for (auto& [key, record] : list.m_map) loaded.push_back(key);
        ASSERT_EQ(stored_keys(), loaded) << "round " << round << ": no record is left half written";
        ASSERT_FALSE(list.m_map.empty());
        const char which = static_cast<char>(list.m_map.begin()->second->m_strDnsName[0]);
        seen.insert(which);
        std::vector<Entry> got;
        for (auto& [key, record] : list.m_map) got.push_back({key, record->m_strDnsName, record->m_strPassword});
        const std::vector<Entry> want = list_entries(which);
        ASSERT_EQ(got.size(), want.size()) << "round " << round;
        for (size_t i = 0; i < want.size(); ++i) {
            EXPECT_EQ(got[i].key, want[i].key) << "round " << round;
            EXPECT_EQ(got[i].name, want[i].name) << "round " << round << ": one list, not a mix";
            EXPECT_EQ(got[i].password, want[i].password) << "round " << round;
        }
    }
    EXPECT_EQ(seen.size(), 2u) << "the kills fell on both sides of a save";
}

TEST_F(FilerList, AFailedKeyContainerCheckReadsAndWritesNothing) {
    filer_record_list list;
    list.Add(kKey1, u"one", u"u", u"pw", 2);
    std::ofstream(m_root / "crypto") << "not a directory";
    EXPECT_TRUE(FAILED(list.Save()));
    EXPECT_TRUE(stored_keys().empty());
    filer_record_list other;
    EXPECT_TRUE(FAILED(other.Load()));
}

TEST(FilerRecordExchange, RecordChecksAndCopies) {
    struct Case {
        const char* what;
        FILER_RECORD record;
        bool entryBad;
        bool commitBad;
    };
    const std::u16string longKey(255, u'k');
    const Case cases[] = {
        {"complete", {nullptr, (LPWSTR)u"f", (LPWSTR)u"u", nullptr, 2, 0}, false, false},
        {"no DNS name", {nullptr, nullptr, (LPWSTR)u"u", nullptr, 2, 0}, true, true},
        {"no user name", {nullptr, (LPWSTR)u"f", nullptr, nullptr, 3, 0}, true, true},
        {"unknown type, unchanged", {nullptr, (LPWSTR)u"f", (LPWSTR)u"u", nullptr, 0, 1}, true, false},
        {"unknown type, changed", {nullptr, (LPWSTR)u"f", (LPWSTR)u"u", nullptr, 5, 2}, true, true},
        {"other flag bits", {nullptr, (LPWSTR)u"f", (LPWSTR)u"u", nullptr, 2, 4}, true, true},
        {"key with a separator", {(LPWSTR)u"a\\b", (LPWSTR)u"f", (LPWSTR)u"u", nullptr, 2, 2}, false, true},
        {"key with a slash", {(LPWSTR)u"a/b", (LPWSTR)u"f", (LPWSTR)u"u", nullptr, 2, 2}, false, true},
        {"key too long", {(LPWSTR)longKey.c_str(), (LPWSTR)u"f", (LPWSTR)u"u", nullptr, 2, 2}, false, true},
        {"unreadable password", {nullptr, (LPWSTR)u"f", (LPWSTR)u"u", reinterpret_cast<LPWSTR>(8), 2, 2}, true,
         true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IsBadFilerRecReadPtr(&c.record), c.entryBad) << c.what;
        EXPECT_EQ(IsBadFilerRecForCommit(&c.record), c.commitBad) << c.what;
    }
    EXPECT_TRUE(IsBadFilerRecReadPtr(nullptr));

    CFilerRecord r;
    r.m_strKey = u"k";
    r.m_strDnsName = u"f";
    r.m_iType = 3;
    r.m_iFlags = FILER_RECORD_CHANGED;
    FILER_RECORD* out = r.CopyOut();
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(std::u16string(out->wszKey), u"k");
    EXPECT_EQ(std::u16string(out->wszUserName), u"") << "an empty string is a block holding the terminator";
    EXPECT_EQ(std::u16string(out->wszPassword), u"");
    EXPECT_EQ(out->hwpType, 3);
    EXPECT_EQ(out->dwUpdateFlags, FILER_RECORD_CHANGED);
    free_filer_record(out);
    free_filer_record(nullptr);
}
