#include "container_test_support.h"
#include "test_root.h"

#include <hostlib/trace.h>

#include <platform/registry.h>
#include <platform/text.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

namespace container_test {
namespace {

constexpr const WCHAR* kParameters = u"SYSTEM\\CurrentControlSet\\Services\\sanprovd\\Parameters";

void set_log_file(const std::u16string& path) {
    HKEY key = nullptr;
    RegCreateKeyExW(HKEY_LOCAL_MACHINE, kParameters, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    if (path.empty()) {
        RegDeleteValueW(key, u"LogFile");
    } else {
        RegSetValueExW(key, u"LogFile", 0, REG_SZ, reinterpret_cast<const BYTE*>(path.c_str()),
                       static_cast<DWORD>((path.size() + 1) * sizeof(WCHAR)));
    }
    RegCloseKey(key);
}

class RecordingSet : public NotificationSet {
public:
    explicit RecordingSet(RecordingNotifier& notifier) : m_notifier(notifier) {}
    void Add(NotificationType type, const GUID& id) override { m_pending.events.push_back({id, type}); }
    void Deliver() override {
        if (m_pending.events.empty()) return;
        m_notifier.record(std::move(m_pending));
        m_pending = {};
    }

private:
    RecordingNotifier& m_notifier;
    Delivery m_pending;
};

}  // namespace

std::filesystem::path state_root() { return test_root::path(); }

std::vector<std::string> read_lines(const std::filesystem::path& file) {
    std::vector<std::string> lines;
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

ScopedEnv::ScopedEnv(const char* name, const std::string& value) : m_name(name) {
    if (const char* old = std::getenv(name)) m_old = old;
    setenv(name, value.c_str(), 1);
}

ScopedEnv::~ScopedEnv() {
    if (m_old) {
        setenv(m_name, m_old->c_str(), 1);
    } else {
        unsetenv(m_name);
    }
}

TraceCapture::TraceCapture() {
    static int serial = 0;
    m_file = test_root::path() / ("trace-" + std::to_string(++serial) + ".log");
    set_log_file(platform::utf8_to_wide_lossy(m_file.string()));
    trace_close();
    trace_open();
}

TraceCapture::~TraceCapture() {
    trace_close();
    set_log_file(u"");
}

std::vector<std::string> TraceCapture::texts() const {
    std::vector<std::string> texts;
    std::ifstream in(m_file);
    for (std::string line; std::getline(in, line);) {
        const size_t at = line.find("]: ");
        texts.push_back(at == std::string::npos ? line : line.substr(at + 3));
    }
    return texts;
}

bool TraceCapture::has(const std::string& text) const {
    for (const std::string& line : texts())
        if (line == text) return true;
    return false;
}

std::vector<std::string> TraceCapture::starting(const std::string& prefix) const {
    std::vector<std::string> found;
    for (const std::string& line : texts())
        if (line.starts_with(prefix)) found.push_back(line);
    return found;
}

NotificationSet* RecordingNotifier::CreateNotificationSet() { return new RecordingSet(*this); }

std::vector<Delivery> RecordingNotifier::deliveries() const {
    std::lock_guard lock(m_lock);
    return m_deliveries;
}

void RecordingNotifier::record(Delivery delivery) {
    std::lock_guard lock(m_lock);
    m_deliveries.push_back(std::move(delivery));
}

GUID id_of(uint8_t first, uint8_t last) {
    GUID id{};
    id.Data1 = first;  // little-endian: the first byte in memory is the lowest
    id.Data1 |= static_cast<uint32_t>(0xF0 - first) << 24;
    id.Data4[7] = last;
    return id;
}

}  // namespace container_test
