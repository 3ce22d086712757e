#pragma once
// Shared by the host adapter tests: environment settings that undo
// themselves, and the trace log written to a file the test reads.
#include <hostlib/trace.h>

#include <platform/registry.h>
#include <platform/text.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "test_root.h"

namespace host_adapter_test {

class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value) : m_name(name) {
        if (const char* old = std::getenv(name)) m_old = old;
        setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv() {
        if (m_old) {
            setenv(m_name, m_old->c_str(), 1);
        } else {
            unsetenv(m_name);
        }
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* m_name;
    std::optional<std::string> m_old;
};

// A fresh directory under the state root for one test.
inline std::filesystem::path test_dir(const std::string& name) {
    const std::filesystem::path dir = test_root::path() / name;
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir;
}

inline void write_file(const std::filesystem::path& file, const std::string& text) { std::ofstream(file) << text; }

// Sends the trace log to a file of the test for its lifetime.
class TraceCapture {
public:
    explicit TraceCapture(const std::filesystem::path& file) : m_file(file) {
        HKEY key = nullptr;
        RegCreateKeyExW(HKEY_LOCAL_MACHINE, kParameters, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
        const std::u16string path = platform::utf8_to_wide_lossy(file.string());
        RegSetValueExW(key, u"LogFile", 0, REG_SZ, reinterpret_cast<const BYTE*>(path.c_str()),
                       static_cast<DWORD>((path.size() + 1) * sizeof(WCHAR)));
        RegCloseKey(key);
        trace_close();
        trace_open();
    }
    ~TraceCapture() {
        trace_close();
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kParameters, 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) {
            RegDeleteValueW(key, u"LogFile");
            RegCloseKey(key);
        }
    }
    TraceCapture(const TraceCapture&) = delete;
    TraceCapture& operator=(const TraceCapture&) = delete;

    // The text of each line after its "]: ".
    std::vector<std::string> texts() const {
        std::vector<std::string> texts;
        for (const std::string& line : test_root::read_lines(m_file)) {
            const size_t at = line.find("]: ");
            texts.push_back(at == std::string::npos ? line : line.substr(at + 3));
        }
        return texts;
    }
    bool has(const std::string& text) const {
        for (const std::string& line : texts())
            if (line == text) return true;
        return false;
    }

private:
    static constexpr const WCHAR* kParameters = u"SYSTEM\\CurrentControlSet\\Services\\sanprovd\\Parameters";
    std::filesystem::path m_file;
};

}  // namespace host_adapter_test
