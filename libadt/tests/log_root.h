#pragma once
// Every test process logs under a fresh install root of its own: KORVEX_DIR
// is set and the root discovered before the first test runs.
#include <string>

// <root>/log/
const std::string& test_log_dir();
std::string read_file(const std::string& path);
