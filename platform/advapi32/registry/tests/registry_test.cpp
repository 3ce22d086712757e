#include <platform/registry.h>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<BYTE>;

Bytes wide_bytes(std::u16string_view text) {
    Bytes out;
    for (char16_t c : text) {
        out.push_back(static_cast<BYTE>(c & 0xFF));
        out.push_back(static_cast<BYTE>(c >> 8));
    }
    return out;
}

Bytes le_bytes(uint64_t v, size_t n) {
    Bytes out;
    for (size_t i = 0; i < n; ++i) out.push_back(static_cast<BYTE>(v >> (8 * i)));
    return out;
}

std::string file_text(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

struct Stored {
    DWORD type;
    Bytes data;
    bool operator==(const Stored&) const = default;
};

// Reads a value the way the system does: size first, then the data.
std::optional<Stored> query(HKEY key, const char16_t* name) {
    DWORD type = 0, size = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return std::nullopt;
    Bytes data(size);
    if (RegQueryValueExW(key, name, nullptr, &type, data.data(), &size) != ERROR_SUCCESS) return std::nullopt;
    data.resize(size);
    return Stored{type, data};
}

LONG set(HKEY key, const char16_t* name, DWORD type, const Bytes& data) {
    return RegSetValueExW(key, name, 0, type, data.data(), static_cast<DWORD>(data.size()));
}

LONG set_dword(HKEY key, const char16_t* name, DWORD v) { return set(key, name, REG_DWORD, le_bytes(v, 4)); }

std::vector<std::u16string> subkeys(HKEY key) {
    std::vector<std::u16string> names;
    WCHAR name[256];
    for (DWORD i = 0;; ++i) {
        DWORD cch = 256;
        const LONG r = RegEnumKeyExW(key, i, name, &cch, nullptr, nullptr, nullptr, nullptr);
        if (r == ERROR_NO_MORE_ITEMS) return names;
        if (r != ERROR_SUCCESS) return {u"<error>"};
        names.emplace_back(name, cch);
    }
}

class Registry : public ::testing::Test {
protected:
    void SetUp() override {
        m_root = make_root();
        ::setenv("SANPROV_ROOT", m_root.c_str(), 1);
    }
    void TearDown() override {
        platform::set_hive_commit_hook(nullptr);
        for (HKEY key : m_open) RegCloseKey(key);
        ::unsetenv("SANPROV_ROOT");
        for (const auto& dir : m_roots) fs::remove_all(dir);
    }

    fs::path make_root() {
        std::string tmpl = (fs::temp_directory_path() / "sanprov-reg-XXXXXX").string();
        EXPECT_NE(::mkdtemp(tmpl.data()), nullptr);
        m_roots.emplace_back(tmpl);
        return tmpl;
    }

    HKEY create(const char16_t* path, REGSAM sam = KEY_ALL_ACCESS, HKEY parent = HKEY_LOCAL_MACHINE) {
        HKEY key = nullptr;
        EXPECT_EQ(RegCreateKeyExW(parent, path, 0, nullptr, REG_OPTION_NON_VOLATILE, sam, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        if (key) m_open.push_back(key);
        return key;
    }
    HKEY open(const char16_t* path, REGSAM sam = KEY_READ, HKEY parent = HKEY_LOCAL_MACHINE) {
        HKEY key = nullptr;
        EXPECT_EQ(RegOpenKeyExW(parent, path, 0, sam, &key), ERROR_SUCCESS);
        if (key) m_open.push_back(key);
        return key;
    }

    fs::path hive() const { return current_root() / "registry" / "HKLM.reg"; }
    static fs::path current_root() { return ::getenv("SANPROV_ROOT"); }

    // Moves to a copy of the store, so the next call parses the hive file
    // afresh instead of using what this process has cached.
    void reread_from_disk() {
        const fs::path copy = make_root();
        fs::copy(current_root() / "registry", copy / "registry");
        ::setenv("SANPROV_ROOT", copy.c_str(), 1);
    }

    fs::path m_root;
    std::vector<fs::path> m_roots;
    std::vector<HKEY> m_open;
};

constexpr const char16_t* kParameters = u"SYSTEM\\CurrentControlSet\\Services\\SanProvD\\Parameters";

TEST_F(Registry, EveryTypeAndAwkwardNameRoundTripsThroughTheHiveFile) {
    const std::u16string loneSurrogates(u"\xD800" u"a" u"\xDC00" u"\0", 4);  // as an RC4 ciphertext may be
    struct Case {
        std::u16string name;
        DWORD type;
        Bytes data;
    };
    const std::vector<Case> cases = {
        {u"LogFile", REG_SZ, wide_bytes(std::u16string(u"C:\\logs\\sanprovd.log\0", 21))},
        {u"Expand", REG_EXPAND_SZ, wide_bytes(std::u16string(u"%WINDIR%\\x\0", 11))},
        {u"MPIOSupportedDeviceList", REG_MULTI_SZ,
         wide_bytes(std::u16string(u"KORVEX  LUN\0MSFT2005iSCSIBusType_0x9\0\0", 38))},
        {u"Binary", REG_BINARY, {0x00, 0x01, 0xFF, '\n', ']', '"'}},
        {u"EmptyBinary", REG_BINARY, {}},
        {u"TypesSupported", REG_DWORD, le_bytes(7, 4)},
        {u"Big", REG_QWORD, le_bytes(0x0123456789ABCDEFull, 8)},
        {u"None", REG_NONE, {}},
        {u"OddSizedString", REG_SZ, {'a', 0, 'b'}},
        {u"OddType", 0x12345678, {1, 2}},
        {u"password", REG_SZ, wide_bytes(loneSurrogates)},
        {u"", REG_SZ, wide_bytes(std::u16string(u"Zarvo VDS Hardware Provider\0", 28))},
        {u"\"quoted\" [x] 100% back\\slash = ; @", REG_DWORD, le_bytes(1, 4)},
        {std::u16string(u"line\nbreak\r\x01\x7f", 14), REG_DWORD, le_bytes(2, 4)},
        {u"\xDC00lone\xD800", REG_DWORD, le_bytes(3, 4)},
        {u"Gr\u00FC\u00DFe \U0001F600", REG_DWORD, le_bytes(4, 4)},
    };
    HKEY key = create(kParameters);
    for (const auto& c : cases) ASSERT_EQ(set(key, c.name.c_str(), c.type, c.data), ERROR_SUCCESS) << c.type;
    const std::u16string oddKey = u"we]ird%key [\x01\xD801]";
    create((std::u16string(kParameters) + u"\\" + oddKey).c_str());

    for (int pass = 0; pass < 2; ++pass) {
        SCOPED_TRACE(pass ? "parsed from the file" : "as written");
        HKEY k = open(kParameters);
        for (const auto& c : cases) EXPECT_EQ(query(k, c.name.c_str()), (Stored{c.type, c.data})) << c.type;
        EXPECT_EQ(subkeys(k), std::vector<std::u16string>{oddKey});
        reread_from_disk();
    }
}

TEST_F(Registry, ValueSizesFollowTheRealCall) {
    HKEY key = create(kParameters);
    const Bytes data = wide_bytes(std::u16string(u"abc\0", 4));
    ASSERT_EQ(set(key, u"LogFile", REG_SZ, data), ERROR_SUCCESS);

    DWORD type = 0, size = 0;
    EXPECT_EQ(RegQueryValueExW(key, u"LogFile", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 8u);

    BYTE small[7];
    std::memset(small, 0xEE, sizeof small);
    type = 0;
    size = sizeof small;
    EXPECT_EQ(RegQueryValueExW(key, u"LogFile", nullptr, &type, small, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 8u);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(small[0], 0xEE);

    BYTE exact[8];
    size = sizeof exact;
    EXPECT_EQ(RegQueryValueExW(key, u"LogFile", nullptr, nullptr, exact, &size), ERROR_SUCCESS);
    EXPECT_EQ(Bytes(exact, exact + 8), data);

    EXPECT_EQ(RegQueryValueExW(key, u"LogFile", nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(RegQueryValueExW(key, u"LogFile", nullptr, nullptr, exact, nullptr), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegSetValueExW(key, u"x", 0, REG_BINARY, nullptr, 4), ERROR_NOACCESS);
}

TEST_F(Registry, FailuresGiveTheRealResults) {
    HKEY params = create(kParameters);
    create(u"SYSTEM\\CurrentControlSet\\Services\\SanProvD\\Parameters\\Filers\\one");
    HKEY readOnly = open(kParameters, KEY_READ);
    HKEY writeOnly = open(kParameters, KEY_WRITE);
    HKEY closed = open(kParameters);
    ASSERT_EQ(RegCloseKey(closed), ERROR_SUCCESS);
    HKEY out = nullptr;
    DWORD size = 0;
    WCHAR name[64];
    DWORD cch = 64;

    struct Case {
        const char* what;
        std::function<LONG()> call;
        DWORD expected;
    };
    const std::vector<Case> cases = {
        {"open a missing key", [&] { return RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SYSTEM\\Nope", 0, KEY_READ, &out); },
         ERROR_FILE_NOT_FOUND},
        {"open below a missing key",
         [&] { return RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SYSTEM\\Nope\\Deeper", 0, KEY_READ, &out); },
         ERROR_FILE_NOT_FOUND},
        {"query a missing value", [&] { return RegQueryValueExW(params, u"Nope", nullptr, nullptr, nullptr, &size); },
         ERROR_FILE_NOT_FOUND},
        {"query an unset default value",
         [&] { return RegQueryValueExW(params, nullptr, nullptr, nullptr, nullptr, &size); }, ERROR_FILE_NOT_FOUND},
        {"delete a missing value", [&] { return RegDeleteValueW(params, u"Nope"); }, ERROR_FILE_NOT_FOUND},
        {"delete a missing key", [&] { return RegDeleteKeyW(params, u"Nope"); }, ERROR_FILE_NOT_FOUND},
        {"delete a missing tree", [&] { return RegDeleteTreeW(params, u"Nope\\Deeper"); }, ERROR_FILE_NOT_FOUND},
        {"delete a key that has subkeys", [&] { return RegDeleteKeyW(params, u"Filers"); }, ERROR_ACCESS_DENIED},
        {"delete a hive's root", [&] { return RegDeleteKeyW(HKEY_LOCAL_MACHINE, u""); }, ERROR_ACCESS_DENIED},
        {"path with a leading backslash",
         [&] { return RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"\\SYSTEM", 0, KEY_READ, &out); }, ERROR_BAD_PATHNAME},
        {"path with a doubled backslash",
         [&] {
             return RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"SYSTEM\\\\x", 0, nullptr, 0, KEY_READ, nullptr, &out,
                                    nullptr);
         },
         ERROR_BAD_PATHNAME},
        {"key name over 255 characters",
         [&] {
             const std::u16string longName(256, u'k');
             return RegCreateKeyExW(params, longName.c_str(), 0, nullptr, 0, KEY_READ, nullptr, &out, nullptr);
         },
         ERROR_INVALID_PARAMETER},
        {"set through a read handle", [&] { return set_dword(readOnly, u"x", 1); }, ERROR_ACCESS_DENIED},
        {"delete a value through a read handle", [&] { return RegDeleteValueW(readOnly, u"x"); },
         ERROR_ACCESS_DENIED},
        {"create a new subkey through a read handle",
         [&] { return RegCreateKeyExW(readOnly, u"New", 0, nullptr, 0, KEY_READ, nullptr, &out, nullptr); },
         ERROR_ACCESS_DENIED},
        {"query through a write handle",
         [&] { return RegQueryValueExW(writeOnly, u"x", nullptr, nullptr, nullptr, &size); }, ERROR_ACCESS_DENIED},
        {"enumerate through a write handle",
         [&] { return RegEnumKeyExW(writeOnly, 0, name, &cch, nullptr, nullptr, nullptr, nullptr); },
         ERROR_ACCESS_DENIED},
        {"use a closed handle", [&] { return set_dword(closed, u"x", 1); }, ERROR_INVALID_HANDLE},
        {"close a closed handle", [&] { return RegCloseKey(closed); }, ERROR_INVALID_HANDLE},
        {"close a predefined key", [&] { return RegCloseKey(HKEY_LOCAL_MACHINE); }, ERROR_SUCCESS},
    };
    for (const auto& c : cases) EXPECT_EQ(c.call(), static_cast<LONG>(c.expected)) << c.what;

    // A read handle still opens an existing subkey through RegCreateKeyEx.
    DWORD disposition = 0;
    ASSERT_EQ(RegCreateKeyExW(readOnly, u"FILERS", 0, nullptr, 0, KEY_READ, nullptr, &out, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
    RegCloseKey(out);
    EXPECT_EQ(subkeys(params), std::vector<std::u16string>{u"Filers"});  // the refused delete left it
}

TEST_F(Registry, HandleToAKeyDeletedByAnotherProcessReportsKeyDeleted) {
    HKEY filer = create(u"SYSTEM\\Filers\\one");
    ASSERT_EQ(set_dword(filer, u"type", 2), ERROR_SUCCESS);
    ASSERT_TRUE(query(filer, u"type"));  // this process has the hive cached

    const pid_t child = ::fork();
    if (child == 0) ::_exit(RegDeleteTreeW(HKEY_LOCAL_MACHINE, u"SYSTEM\\Filers") == ERROR_SUCCESS ? 0 : 1);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    HKEY out = nullptr;
    DWORD size = 0, cch = 8;
    WCHAR name[8];
    EXPECT_EQ(RegQueryValueExW(filer, u"type", nullptr, nullptr, nullptr, &size), ERROR_KEY_DELETED);
    EXPECT_EQ(set_dword(filer, u"type", 3), ERROR_KEY_DELETED);
    EXPECT_EQ(RegEnumKeyExW(filer, 0, name, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_KEY_DELETED);
    EXPECT_EQ(RegCreateKeyExW(filer, u"sub", 0, nullptr, 0, KEY_READ, nullptr, &out, nullptr), ERROR_KEY_DELETED);
    EXPECT_EQ(RegOpenKeyExW(filer, nullptr, 0, KEY_READ, &out), ERROR_KEY_DELETED);
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SYSTEM\\Filers", 0, KEY_READ, &out), ERROR_FILE_NOT_FOUND);
}

TEST_F(Registry, SubkeysEnumerateInRegistryOrderUntilNoMoreItems) {
    HKEY parent = create(u"Order");
    for (const char16_t* name : {u"beta", u"_under", u"gamma", u"ALPHA2", u"Alpha"}) create(name, KEY_READ, parent);
    // By upper-case units, as the registry sorts: '_' comes after the letters.
    EXPECT_EQ(subkeys(parent), (std::vector<std::u16string>{u"Alpha", u"ALPHA2", u"beta", u"gamma", u"_under"}));

    WCHAR name[8];
    DWORD cch = 6;  // "ALPHA2" needs 7 with its NUL
    EXPECT_EQ(RegEnumKeyExW(parent, 1, name, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
    EXPECT_EQ(cch, 6u);
    cch = 7;
    EXPECT_EQ(RegEnumKeyExW(parent, 1, name, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(cch, 6u);
    EXPECT_EQ(std::u16string(name), u"ALPHA2");
    cch = 8;
    EXPECT_EQ(RegEnumKeyExW(parent, 5, name, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);
}

TEST_F(Registry, NamesMatchCaseInsensitivelyAndKeepTheirFirstCase) {
    HKEY key = create(u"Software\\Zarvo");
    HKEY again = nullptr;
    DWORD disposition = 0;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\zarvo\\", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &again, &disposition),
              ERROR_SUCCESS);
    m_open.push_back(again);
    EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
    EXPECT_EQ(subkeys(HKEY_LOCAL_MACHINE), std::vector<std::u16string>{u"Software"});

    ASSERT_EQ(set_dword(key, u"LogToDebugger", 0), ERROR_SUCCESS);
    ASSERT_EQ(set_dword(again, u"LOGTODEBUGGER", 1), ERROR_SUCCESS);
    EXPECT_EQ(query(key, u"logtodebugger"), (Stored{REG_DWORD, le_bytes(1, 4)}));
    const std::string text = file_text(hive());
    EXPECT_NE(text.find("\"LogToDebugger\"=REG_DWORD:01000000"), std::string::npos) << text;
    EXPECT_EQ(text.find("LOGTODEBUGGER"), std::string::npos) << text;
}

TEST_F(Registry, DeleteTreeRemovesASubtreeOrEmptiesAKey) {
    HKEY clsid = create(u"CLSID\\{fc}");
    create(u"LocalServer32", KEY_ALL_ACCESS, clsid);
    ASSERT_EQ(set_dword(clsid, u"AppId", 1), ERROR_SUCCESS);
    ASSERT_EQ(RegDeleteTreeW(clsid, nullptr), ERROR_SUCCESS);
    EXPECT_TRUE(subkeys(clsid).empty());
    EXPECT_FALSE(query(clsid, u"AppId"));

    create(u"CLSID\\{fc}\\ProgID\\deep");
    ASSERT_EQ(RegDeleteTreeW(HKEY_LOCAL_MACHINE, u"clsid\\{FC}"), ERROR_SUCCESS);
    EXPECT_TRUE(subkeys(open(u"CLSID")).empty());
}

TEST_F(Registry, WritersInSeveralProcessesAllSurvive) {
    HKEY key = create(kParameters);
    ASSERT_EQ(set_dword(key, u"before", 0), ERROR_SUCCESS);  // the parent holds a parsed hive
    constexpr int kWriters = 3, kValues = 30;
    std::vector<pid_t> children;
    for (int w = 1; w < kWriters; ++w) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            for (int i = 0; i < kValues; ++i) {
                const std::u16string name = u"w" + std::u16string(1, u'0' + w) + u"-" + std::u16string(1, u'A' + i);
                if (set_dword(key, name.c_str(), static_cast<DWORD>(w * 100 + i)) != ERROR_SUCCESS) ::_exit(1);
            }
            ::_exit(0);
        }
        children.push_back(pid);
    }
    for (int i = 0; i < kValues; ++i) {
        const std::u16string name = u"w0-" + std::u16string(1, u'A' + i);
        ASSERT_EQ(set_dword(key, name.c_str(), static_cast<DWORD>(i)), ERROR_SUCCESS);
    }
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    for (int w = 0; w < kWriters; ++w)
        for (int i = 0; i < kValues; ++i) {
            const std::u16string name = u"w" + std::u16string(1, u'0' + w) + u"-" + std::u16string(1, u'A' + i);
            EXPECT_EQ(query(key, name.c_str()), (Stored{REG_DWORD, le_bytes(w * 100 + i, 4)})) << w << ' ' << i;
        }
}

TEST_F(Registry, ThreadsShareHivesAndHandles) {
    HKEY shared = create(u"Threads");
    std::vector<std::thread> threads;
    std::vector<int> failures(4, 0);
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            const std::u16string sub(1, u'a' + t);
            for (int i = 0; i < 25; ++i) {
                HKEY key = nullptr;
                if (RegCreateKeyExW(shared, sub.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) ||
                    set_dword(key, std::u16string(1, u'A' + i).c_str(), static_cast<DWORD>(i)) ||
                    query(key, std::u16string(1, u'A' + i).c_str()) != Stored{REG_DWORD, le_bytes(i, 4)} ||
                    RegCloseKey(key))
                    ++failures[t];
                subkeys(shared);
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(failures, std::vector<int>(4, 0));
    EXPECT_EQ(subkeys(shared), (std::vector<std::u16string>{u"a", u"b", u"c", u"d"}));
}

TEST_F(Registry, CrashBeforeRenameLeavesTheOldHive) {
    HKEY key = create(kParameters);
    ASSERT_EQ(set_dword(key, u"type", 2), ERROR_SUCCESS);
    const std::string before = file_text(hive());

    const pid_t child = ::fork();
    if (child == 0) {
        platform::set_hive_commit_hook([] { ::raise(SIGKILL); });
        set_dword(key, u"type", 3);
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);

    const fs::path temp = fs::path(hive()) += ".tmp";
    ASSERT_TRUE(fs::exists(temp)) << "the writer died before its new hive was written";
    EXPECT_NE(file_text(temp), before);
    EXPECT_EQ(file_text(hive()), before);
    EXPECT_EQ(query(key, u"type"), (Stored{REG_DWORD, le_bytes(2, 4)}));

    // The next writer goes on from the old hive.
    ASSERT_EQ(set_dword(key, u"name", 1), ERROR_SUCCESS);
    EXPECT_FALSE(fs::exists(temp));
    reread_from_disk();
    HKEY reread = open(kParameters);
    EXPECT_EQ(query(reread, u"type"), (Stored{REG_DWORD, le_bytes(2, 4)}));
    EXPECT_EQ(query(reread, u"name"), (Stored{REG_DWORD, le_bytes(1, 4)}));
}

std::atomic<int> g_replacements{0};

TEST_F(Registry, ATransactionReplacesTheHiveOnceAtItsCommitAndOnlyItsThreadSeesItBefore) {
    HKEY key = create(kParameters);
    ASSERT_EQ(set_dword(key, u"kept", 1), ERROR_SUCCESS);
    const std::string before = file_text(hive());
    platform::set_hive_commit_hook([] { ++g_replacements; });
    std::optional<Stored> otherThreadSaw;
    {
        platform::RegistryTransaction transaction;
        HKEY sub = create(u"Sub", KEY_ALL_ACCESS, key);
        ASSERT_EQ(set_dword(sub, u"a", 1), ERROR_SUCCESS);
        ASSERT_EQ(set_dword(key, u"kept", 2), ERROR_SUCCESS);
        {
            platform::RegistryTransaction inner;  // joins the outer one
            ASSERT_EQ(RegDeleteValueW(key, u"kept"), ERROR_SUCCESS);
            ASSERT_EQ(set_dword(key, u"kept", 3), ERROR_SUCCESS);
            EXPECT_EQ(inner.Commit(), ERROR_SUCCESS);
        }
        EXPECT_EQ(query(sub, u"a"), (Stored{REG_DWORD, le_bytes(1, 4)})) << "its own thread reads its changes";
        EXPECT_EQ(query(key, u"kept"), (Stored{REG_DWORD, le_bytes(3, 4)}));
        std::thread([&] { otherThreadSaw = query(key, u"kept"); }).join();
        EXPECT_EQ(file_text(hive()), before) << "nothing reaches the file before the commit";
        EXPECT_EQ(g_replacements, 0);
        EXPECT_EQ(transaction.Commit(), ERROR_SUCCESS);
    }
    EXPECT_EQ(otherThreadSaw, (Stored{REG_DWORD, le_bytes(1, 4)})) << "other threads read the hive as it was";
    EXPECT_EQ(g_replacements, 1) << "one replacement for the whole transaction";
    reread_from_disk();
    HKEY reread = open(kParameters);
    EXPECT_EQ(query(reread, u"kept"), (Stored{REG_DWORD, le_bytes(3, 4)}));
    EXPECT_EQ(subkeys(reread), std::vector<std::u16string>{u"Sub"});
}

TEST_F(Registry, ATransactionEndedWithoutCommitLeavesTheHiveAndHoldsOffOtherWriters) {
    HKEY key = create(kParameters);
    ASSERT_EQ(set_dword(key, u"v", 1), ERROR_SUCCESS);
    std::atomic<bool> otherWrote{false};
    std::thread other;
    {
        platform::RegistryTransaction transaction;
        ASSERT_EQ(set_dword(key, u"v", 2), ERROR_SUCCESS);
        ASSERT_EQ(RegDeleteTreeW(HKEY_LOCAL_MACHINE, u"SYSTEM"), ERROR_SUCCESS);
        other = std::thread([&] {
            EXPECT_EQ(set_dword(key, u"w", 7), ERROR_SUCCESS);
            otherWrote = true;
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        EXPECT_FALSE(otherWrote) << "a writer waits for the open transaction";
    }
    other.join();
    reread_from_disk();
    HKEY reread = open(kParameters);
    EXPECT_EQ(query(reread, u"v"), (Stored{REG_DWORD, le_bytes(1, 4)})) << "the dropped changes never landed";
    EXPECT_EQ(query(reread, u"w"), (Stored{REG_DWORD, le_bytes(7, 4)}));
}

TEST_F(Registry, StoreFilesAreOwnerOnlyWhateverTheUmask) {
    const mode_t old = ::umask(0277);
    HKEY key = create(kParameters);
    const LONG first = set_dword(key, u"a", 1), second = set_dword(key, u"b", 2);
    ::umask(old);
    ASSERT_EQ(first, ERROR_SUCCESS);
    ASSERT_EQ(second, ERROR_SUCCESS);
    for (const char* file : {"HKLM.reg", "HKLM.lock"}) {
        struct stat st {};
        ASSERT_EQ(::stat((current_root() / "registry" / file).c_str(), &st), 0) << file;
        EXPECT_EQ(st.st_mode & 07777, 0600u) << file;
    }
}

TEST_F(Registry, ReadsAHandWrittenHiveAndLeavesAGarbledOneAlone) {
    fs::create_directories(hive().parent_path());
    {
        std::ofstream out(hive(), std::ios::binary);
        out << "sanprov registry hive 1\r\n"
               "; written by hand\r\n"
               "[SYSTEM\\CurrentControlSet\\Control\\MPDEV]\r\n"
               "\"MPIOSupportedDeviceList\"=REG_MULTI_SZ:51005400580000000000  ; \"QTX\"\r\n";
    }
    HKEY mpdev = open(u"SYSTEM\\CurrentControlSet\\Control\\MPDEV");
    EXPECT_EQ(query(mpdev, u"MPIOSupportedDeviceList"),
              (Stored{REG_MULTI_SZ, wide_bytes(std::u16string(u"QTX\0\0", 5))}));

    const std::string garbled = "sanprov registry hive 1\n[SYSTEM]\n\"half\"=REG_DWORD:0100";
    {
        std::ofstream out(hive(), std::ios::binary | std::ios::trunc);
        out << garbled << "0\n";
    }
    DWORD size = 0;
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(RegQueryValueExW(mpdev, u"MPIOSupportedDeviceList", nullptr, nullptr, nullptr, &size), ERROR_BADDB);
    EXPECT_EQ(set_dword(HKEY_LOCAL_MACHINE, u"x", 1), ERROR_BADDB);
    const std::string said = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(file_text(hive()), garbled + "0\n");
    // Said where an operator sees it, naming the file, once for this state of it.
    const std::string line = "registry hive " + hive().string() + " cannot be read";
    EXPECT_NE(said.find(line), std::string::npos) << said;
    EXPECT_EQ(said.find(line), said.rfind(line)) << said;
}

TEST_F(Registry, ANewEmptyValueOfNoTypeReachesTheFile) {
    HKEY key = create(kParameters);
    ASSERT_EQ(set(key, u"None", REG_NONE, {}), ERROR_SUCCESS);
    reread_from_disk();
    EXPECT_EQ(query(open(kParameters), u"None"), (Stored{REG_NONE, {}}));
}

// Generous: reached only when a reader does wait for the writer.
constexpr auto kWriterHoldsAtMost = std::chrono::seconds(30);

// A one-way signal between threads.
class Gate {
public:
    void open() { m_opened.set_value(); }
    bool opened_within(std::chrono::seconds bound) { return m_future.wait_for(bound) == std::future_status::ready; }

private:
    std::promise<void> m_opened;
    std::shared_future<void> m_future = m_opened.get_future().share();
};

Gate* g_writerOnDisk = nullptr;
Gate* g_readerDone = nullptr;
std::atomic<bool> g_writerHeldUntilReaderDone{false};

TEST_F(Registry, ReadersDoNotWaitForAWriterOfTheirOwnProcess) {
    HKEY key = create(kParameters);
    ASSERT_EQ(set_dword(key, u"type", 2), ERROR_SUCCESS);
    Gate writerOnDisk, readerDone;
    g_writerOnDisk = &writerOnDisk;
    g_readerDone = &readerDone;
    // The writer stalls on its way to the disk, its new hive not yet in place,
    // until the reader has its answer.
    platform::set_hive_commit_hook([] {
        g_writerOnDisk->open();
        g_writerHeldUntilReaderDone = g_readerDone->opened_within(kWriterHoldsAtMost);
    });
    std::thread writer([key] { EXPECT_EQ(set_dword(key, u"type", 3), ERROR_SUCCESS); });
    const bool stalled = writerOnDisk.opened_within(kWriterHoldsAtMost);
    EXPECT_TRUE(stalled);
    if (stalled) {
        EXPECT_EQ(query(key, u"type"), (Stored{REG_DWORD, le_bytes(2, 4)}));
    }
    readerDone.open();
    writer.join();
    EXPECT_TRUE(g_writerHeldUntilReaderDone) << "the reader waited for the writer";
    EXPECT_EQ(query(key, u"type"), (Stored{REG_DWORD, le_bytes(3, 4)}));
}

TEST_F(Registry, ReadersDoNotWaitForAWriter) {
    HKEY key = create(kParameters);
    ASSERT_EQ(set_dword(key, u"type", 2), ERROR_SUCCESS);
    reread_from_disk();
    // Another process's writer holds the hive's lock until the reader has its answer.
    const int lockFd = ::open((current_root() / "registry" / "HKLM.lock").c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(lockFd, 0);
    ASSERT_EQ(::flock(lockFd, LOCK_EX), 0);
    Gate readerDone;
    bool heldUntilReaderDone = false;
    std::thread writer([&] {
        heldUntilReaderDone = readerDone.opened_within(kWriterHoldsAtMost);
        ::close(lockFd);
    });
    HKEY reader = open(kParameters);
    EXPECT_EQ(query(reader, u"type"), (Stored{REG_DWORD, le_bytes(2, 4)}));
    readerDone.open();
    writer.join();
    EXPECT_TRUE(heldUntilReaderDone) << "the reader waited for the writer";
}

}  // namespace
