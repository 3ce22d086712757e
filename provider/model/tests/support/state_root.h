#pragma once
// Every model test process keeps its registry, event log and named state in
// one fresh state root of its own, made before the first test and removed
// after the last.
#include <filesystem>

namespace model_test {

std::filesystem::path state_root();

}  // namespace model_test
