// Every test process keeps its registry, event log and named state in a fresh
// state root of its own.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

namespace {

class StateRootEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        std::string pattern = (std::filesystem::temp_directory_path() / "vds-test-XXXXXX").string();
        m_root = mkdtemp(pattern.data());
        setenv("SANPROV_ROOT", m_root.c_str(), 1);
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(m_root, ignored);
    }

private:
    std::filesystem::path m_root;
};

const auto* const g_environment = ::testing::AddGlobalTestEnvironment(new StateRootEnvironment);

}  // namespace
