#include "state_root.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace model_test {
namespace {

std::filesystem::path g_root;

class StateRootEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        std::string pattern = (std::filesystem::temp_directory_path() / "model-test-XXXXXX").string();
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

std::filesystem::path state_root() { return g_root; }

}  // namespace model_test
