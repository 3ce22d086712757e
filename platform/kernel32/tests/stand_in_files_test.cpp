// The stand-ins' files named by the environment: made absolute for a process
// started from here, and checked as they will be loaded.
#include <platform/errors.h>
#include <platform/stand_in_files.h>

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

class StandInFiles : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/stand-in-files-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        m_dir = pattern;
        m_previous = fs::current_path();
        fs::current_path(m_dir);
    }
    void TearDown() override {
        fs::current_path(m_previous);
        for (const char* name : kVariables) ::unsetenv(name);
        fs::remove_all(m_dir);
    }
    static std::string value_in(const std::vector<std::string>& environment, const std::string& name) {
        for (const auto& e : environment)
            if (e.starts_with(name + "=")) return e.substr(name.size() + 1);
        return "<none>";
    }
    static constexpr const char* kVariables[] = {"SANPROV_LIB_HBAAPI", "SANPROV_LIB_KVXADMIN", "SANPROV_LIB_ISCSIDSC",
                                                 "SANPROV_HBA_FIXTURE", "SANPROV_WMI_FIXTURE"};
    fs::path m_dir, m_previous;
};

TEST_F(StandInFiles, RelativePathsAreMadeAbsoluteForTheStartedProcessAndNothingElseChanges) {
    ::setenv("SANPROV_LIB_HBAAPI", "build/../lib/libfake.so", 1);
    ::setenv("SANPROV_LIB_KVXADMIN", "libsanprov_kvxadmin.so", 1);  // a name the loader searches for
    ::setenv("SANPROV_HBA_FIXTURE", "fixtures/hba.json", 1);
    ::setenv("SANPROV_WMI_FIXTURE", "/etc/wmi.json", 1);
    const auto environment = platform::environment_with_absolute_stand_in_paths();
    EXPECT_EQ(value_in(environment, "SANPROV_LIB_HBAAPI"), (m_dir / "lib/libfake.so").string());
    EXPECT_EQ(value_in(environment, "SANPROV_LIB_KVXADMIN"), "libsanprov_kvxadmin.so");
    EXPECT_EQ(value_in(environment, "SANPROV_HBA_FIXTURE"), (m_dir / "fixtures/hba.json").string());
    EXPECT_EQ(value_in(environment, "SANPROV_WMI_FIXTURE"), "/etc/wmi.json");
    EXPECT_EQ(value_in(environment, "PATH"), ::getenv("PATH") ? ::getenv("PATH") : "<none>");
    EXPECT_STREQ(::getenv("SANPROV_HBA_FIXTURE"), "fixtures/hba.json") << "this process's own environment stays";
}

TEST_F(StandInFiles, EachFileIsCheckedAsItWillBeLoaded) {
    Dl_info libc{};
    ASSERT_NE(::dladdr(reinterpret_cast<void*>(&std::fopen), &libc), 0);
    std::ofstream("text.so") << "not a library";
    std::ofstream("good.json") << R"({"adapters": []})";
    std::ofstream("list.json") << "[1, 2]";
    std::ofstream("broken.json") << "{\"adapters\": [";
    struct Case {
        const char* variable;
        std::string path;
        DWORD error;
    };
    const Case cases[] = {
        {"SANPROV_LIB_HBAAPI", libc.dli_fname, ERROR_SUCCESS},
        {"SANPROV_LIB_HBAAPI", (m_dir / "missing.so").string(), ERROR_MOD_NOT_FOUND},
        {"SANPROV_LIB_HBAAPI", (m_dir / "text.so").string(), ERROR_MOD_NOT_FOUND},
        {"SANPROV_HBA_FIXTURE", (m_dir / "good.json").string(), ERROR_SUCCESS},
        {"SANPROV_HBA_FIXTURE", (m_dir / "missing.json").string(), ERROR_FILE_NOT_FOUND},
        {"SANPROV_WMI_FIXTURE", (m_dir / "list.json").string(), ERROR_INVALID_DATA},
        {"SANPROV_WMI_FIXTURE", (m_dir / "broken.json").string(), ERROR_INVALID_DATA},
    };
    for (const Case& c : cases) {
        ::setenv(c.variable, c.path.c_str(), 1);
        const auto files = platform::configured_stand_in_files();
        const auto it = std::find_if(files.begin(), files.end(), [&](const auto& f) { return f.variable == c.variable; });
        ASSERT_NE(it, files.end()) << c.variable;
        EXPECT_EQ(it->path, c.path);
        EXPECT_EQ(platform::check_stand_in_file(*it), c.error) << c.path;
        ::unsetenv(c.variable);
    }
    const platform::StandInFile missing{"SANPROV_LIB_HBAAPI", "/nowhere/libHBAAPI.so", true};
    EXPECT_EQ(platform::describe_stand_in_problem(missing, ERROR_MOD_NOT_FOUND),
              "/nowhere/libHBAAPI.so (SANPROV_LIB_HBAAPI): The specified module could not be found.");
}

}  // namespace
