#pragma once
// Every test program that links this runs against one fresh state root of its
// own (registry store, event log, named state), made before the first test and
// removed after the last.
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace test_root {

std::filesystem::path path();
// The lines of a text file under the root; empty when it does not exist.
std::vector<std::string> read_lines(const std::filesystem::path& file);

}  // namespace test_root
