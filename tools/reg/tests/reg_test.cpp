// reg against the registry library: what it writes the service reads, and
// what the library holds it prints.
#include <platform/registry.h>
#include <platform/text.h>

#include <gtest/gtest.h>

#include <stdlib.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include "reg_command.h"

namespace fs = std::filesystem;

namespace {

constexpr char16_t kParameters[] = u"SYSTEM\\CurrentControlSet\\Services\\SanProvD\\Parameters";
constexpr char kParametersKey[] = "HKLM\\SYSTEM\\CurrentControlSet\\Services\\SanProvD\\Parameters";

class Reg : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/reg-test-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        m_root = pattern;
        ::setenv("SANPROV_ROOT", pattern, 1);
    }
    void TearDown() override {
        ::unsetenv("SANPROV_ROOT");
        fs::remove_all(m_root);
    }
    static int reg(std::vector<std::string> args, RegOutput* output = nullptr) {
        RegOutput local;
        return RunReg(args, output ? *output : local);
    }
    // A value as the service reads it: its type and bytes, or nothing.
    static std::optional<std::pair<DWORD, std::vector<BYTE>>> read(const char16_t* name) {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kParameters, 0, KEY_READ, &key) != ERROR_SUCCESS) return std::nullopt;
        DWORD type = 0, size = 256;
        std::vector<BYTE> data(size);
        const LSTATUS s = RegQueryValueExW(key, name, nullptr, &type, data.data(), &size);
        RegCloseKey(key);
        if (s != ERROR_SUCCESS) return std::nullopt;
        data.resize(size);
        return std::make_pair(type, data);
    }
    static std::vector<BYTE> wide(const std::u16string& s) {
        const auto* p = reinterpret_cast<const BYTE*>(s.data());
        return {p, p + s.size() * 2};
    }
    fs::path m_root;
};

TEST_F(Reg, AddedValuesAreWhatTheRegistryLibraryReadsAndQueryPrintsThemBack) {
    struct Case {
        const char* name;
        const char* type;  // nullptr: the default, REG_SZ
        const char* data;
        DWORD stored;
        std::vector<BYTE> bytes;
        const char* printed;
    };
    const Case cases[] = {
        {"LogFile", nullptr, "/tmp/sanprovd.log", REG_SZ, wide(std::u16string(u"/tmp/sanprovd.log") + u'\0'),
         "    LogFile    REG_SZ    /tmp/sanprovd.log\n"},
        {"LogToDebugger", "REG_DWORD", "1", REG_DWORD, {1, 0, 0, 0}, "    LogToDebugger    REG_DWORD    0x1\n"},
        {"Big", "reg_qword", "0x100000000", REG_QWORD, {0, 0, 0, 0, 1, 0, 0, 0},
         "    Big    REG_QWORD    0x100000000\n"},
        {"Raw", "REG_BINARY", "0aff", REG_BINARY, {0x0a, 0xff}, "    Raw    REG_BINARY    0AFF\n"},
        {"List", "REG_MULTI_SZ", "a\\0bc", REG_MULTI_SZ, wide(std::u16string(u"a\0bc\0\0", 6)),
         "    List    REG_MULTI_SZ    a\\0bc\n"},
        {"Unicode", nullptr, "caf\xc3\xa9", REG_SZ, wide(std::u16string(u"caf\u00e9") + u'\0'),
         "    Unicode    REG_SZ    caf\xc3\xa9\n"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {"add", kParametersKey, "/v", c.name, "/d", c.data, "/f"};
        if (c.type) args.insert(args.end(), {"/t", c.type});
        ASSERT_EQ(reg(args), 0) << c.name;
        const auto value = read(platform::utf8_to_wide_lossy(c.name).c_str());
        ASSERT_TRUE(value) << c.name;
        EXPECT_EQ(value->first, c.stored) << c.name;
        EXPECT_EQ(value->second, c.bytes) << c.name;
        RegOutput said;
        ASSERT_EQ(reg({"query", kParametersKey, "/v", c.name}, &said), 0) << c.name;
        EXPECT_EQ(said.out, std::string(kParametersKey) + "\n" + c.printed) << c.name;
    }
    // Without /v, every value by name, then the subkeys.
    ASSERT_EQ(reg({"add", "HKLM\\SYSTEM\\CurrentControlSet\\Services\\SanProvD\\Parameters\\Sub"}), 0);
    RegOutput all;
    ASSERT_EQ(reg({"query", kParametersKey}, &all), 0);
    std::string expected = std::string(kParametersKey) + "\n";
    std::vector<std::pair<std::string, std::string>> byName;
    for (const Case& c : cases) byName.emplace_back(c.name, c.printed);
    std::sort(byName.begin(), byName.end());
    for (const auto& [name, printed] : byName) expected += printed;
    expected += std::string(kParametersKey) + "\\Sub\n";
    EXPECT_EQ(all.out, expected);

    // The hive stays a file of the store's own, private.
    EXPECT_EQ(fs::status(m_root / "registry" / "HKLM.reg").permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
}

TEST_F(Reg, DeleteRemovesAValueOrAKeyAndMissingOnesFailWithTheSystemsText) {
    ASSERT_EQ(reg({"add", kParametersKey, "/v", "LogFile", "/d", "x"}), 0);
    ASSERT_EQ(reg({"add", kParametersKey, "/v", "Keep", "/d", "y"}), 0);
    ASSERT_EQ(reg({"delete", kParametersKey, "/v", "LogFile", "/f"}), 0);
    EXPECT_FALSE(read(u"LogFile"));
    EXPECT_TRUE(read(u"Keep"));
    RegOutput missing;
    EXPECT_EQ(reg({"query", kParametersKey, "/v", "LogFile"}, &missing), 1);
    EXPECT_NE(missing.err.find("failed: 2 ("), std::string::npos) << missing.err;
    ASSERT_EQ(reg({"delete", "HKLM\\SYSTEM\\CurrentControlSet\\Services\\SanProvD"}), 0);
    EXPECT_FALSE(read(u"Keep"));
    EXPECT_EQ(reg({"delete", "HKLM\\SYSTEM\\CurrentControlSet\\Services\\SanProvD"}), 1);
}

TEST_F(Reg, MalformedCommandsChangeNothing) {
    const std::vector<std::vector<std::string>> cases = {
        {"add"},
        {"frob", kParametersKey},
        {"add", "HKXX\\Software"},
        {"add", kParametersKey, "/v", "N", "/t", "REG_WHATEVER", "/d", "1"},
        {"add", kParametersKey, "/v", "N", "/t", "REG_DWORD", "/d", "4294967296"},
        {"add", kParametersKey, "/v", "N", "/t", "REG_DWORD", "/d", "-1"},
        {"add", kParametersKey, "/v", "N", "/t", "REG_BINARY", "/d", "abc"},
        {"add", kParametersKey, "/d", "no name"},
        {"query", kParametersKey, "/d", "x"},
        {"delete", "HKLM"},
    };
    for (const auto& args : cases) {
        RegOutput said;
        EXPECT_NE(reg(args, &said), 0) << args[0] << " " << (args.size() > 1 ? args[1] : "");
        EXPECT_FALSE(said.err.empty());
    }
    EXPECT_FALSE(fs::exists(m_root / "registry" / "HKLM.reg")) << "nothing was written";
}

}  // namespace
