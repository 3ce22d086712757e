#include "log_root.h"

#include <adt/path.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

namespace {

std::string g_logDir;

class LogRootEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        char pattern[] = "/tmp/adt-tests-XXXXXX";
        const char* root = ::mkdtemp(pattern);
        ASSERT_NE(root, nullptr);
        root_ = root;
        std::filesystem::create_directories(root_ + "/log");
        ::setenv("KORVEX_DIR", root_.c_str(), 1);
        path_init(nullptr);
        g_logDir = path_get(PATH_LOG_DIR);
    }
    void TearDown() override {
        std::error_code ec;
        std::filesystem::remove_all(root_, ec);
    }

private:
    std::string root_;
};

[[maybe_unused]] auto* const g_environment = ::testing::AddGlobalTestEnvironment(new LogRootEnvironment);

}  // namespace

const std::string& test_log_dir() { return g_logDir; }

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}
