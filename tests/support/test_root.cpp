#include "test_root.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

std::filesystem::path g_root;

class StateRootEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        std::string pattern = (std::filesystem::temp_directory_path() / "sanprov-test-XXXXXX").string();
        g_root = mkdtemp(pattern.data());
        setenv("SANPROV_ROOT", g_root.c_str(), 1);
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(g_root, ignored);
    }
};

const auto* const g_environment = ::testing::AddGlobalTestEnvironment(new StateRootEnvironment);

}  // namespace

namespace test_root {

std::filesystem::path path() { return g_root; }

std::vector<std::string> read_lines(const std::filesystem::path& file) {
    std::vector<std::string> lines;
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

}  // namespace test_root
