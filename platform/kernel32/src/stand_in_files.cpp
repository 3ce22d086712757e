#include <platform/stand_in_files.h>

#include <platform/errors.h>
#include <platform/message.h>
#include <platform/text.h>

#include <dlfcn.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>
#include <fstream>

extern char** environ;

namespace platform {
namespace {

constexpr std::string_view kLibraryPrefix = "SANPROV_LIB_";
constexpr std::string_view kFixtures[] = {"SANPROV_HBA_FIXTURE", "SANPROV_WMI_FIXTURE"};

bool is_fixture(std::string_view variable) {
    return std::find(std::begin(kFixtures), std::end(kFixtures), variable) != std::end(kFixtures);
}

// The system's text of a Win32 error, on one line.
std::string error_text(DWORD error) {
    WCHAR text[512] = {};
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, text,
                                   512, nullptr);
    std::string said = wide_to_utf8_lossy(std::u16string(text, n));
    while (!said.empty() && (said.back() == '\n' || said.back() == '\r' || said.back() == ' ')) said.pop_back();
    return said.empty() ? "error " + std::to_string(error) : said;
}

}  // namespace

std::vector<StandInFile> configured_stand_in_files() {
    std::vector<StandInFile> files;
    for (char** entry = environ; entry && *entry; ++entry) {
        const std::string_view text(*entry);
        const auto equals = text.find('=');
        if (equals == std::string_view::npos || equals + 1 == text.size()) continue;
        const std::string_view variable = text.substr(0, equals);
        const bool library = variable.starts_with(kLibraryPrefix) && variable.size() > kLibraryPrefix.size();
        if (library || is_fixture(variable))
            files.push_back({std::string(variable), std::string(text.substr(equals + 1)), library});
    }
    std::sort(files.begin(), files.end(), [](const auto& a, const auto& b) { return a.variable < b.variable; });
    return files;
}

std::vector<std::string> environment_with_absolute_stand_in_paths() {
    std::vector<std::string> entries;
    for (char** entry = environ; entry && *entry; ++entry) entries.emplace_back(*entry);
    for (const StandInFile& file : configured_stand_in_files()) {
        const std::filesystem::path path(file.path);
        // A bare library name is the loader's to search for, not a path.
        if (path.is_absolute() || (file.library && file.path.find('/') == std::string::npos)) continue;
        std::error_code ec;
        const auto absolute = std::filesystem::absolute(path, ec).lexically_normal();
        if (ec) continue;
        const std::string prefix = file.variable + "=";
        for (std::string& e : entries)
            if (e.starts_with(prefix)) e = prefix + absolute.string();
    }
    return entries;
}

DWORD check_stand_in_file(const StandInFile& file) {
    if (file.library) {
        void* handle = ::dlopen(file.path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handle) return ERROR_MOD_NOT_FOUND;
        ::dlclose(handle);
        return ERROR_SUCCESS;
    }
    std::ifstream in(file.path);
    if (!in) return ERROR_FILE_NOT_FOUND;
    const auto json = nlohmann::json::parse(in, nullptr, false);
    return json.is_object() ? ERROR_SUCCESS : ERROR_INVALID_DATA;
}

std::string describe_stand_in_problem(const StandInFile& file, DWORD error) {
    return file.path + " (" + file.variable + "): " + error_text(error);
}

}  // namespace platform
