#pragma once
// Shared by the container and San tests: a fresh state root, the trace log
// written to a file the test reads, a notifier that records what it delivers,
// and ids whose byte order differs from their text order.
#include <model/notification.h>

#include <platform/guid.h>

#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace container_test {

std::filesystem::path state_root();
// The lines of a text file; empty when it does not exist.
std::vector<std::string> read_lines(const std::filesystem::path& file);

// Sets an environment variable for the life of the object.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* m_name;
    std::optional<std::string> m_old;
};

// Sends the trace log to a file for the life of the object.
class TraceCapture {
public:
    TraceCapture();
    ~TraceCapture();
    TraceCapture(const TraceCapture&) = delete;
    TraceCapture& operator=(const TraceCapture&) = delete;

    // The text of each line after its "]: ".
    std::vector<std::string> texts() const;
    bool has(const std::string& text) const;
    // The lines that begin with `prefix`, in order.
    std::vector<std::string> starting(const std::string& prefix) const;

private:
    std::filesystem::path m_file;
};

struct Delivery {
    std::vector<NotificationEntry> events;
};

// Every Deliver of a non-empty set becomes one delivery, events in order.
class RecordingNotifier : public Notifier {
public:
    NotificationSet* CreateNotificationSet() override;
    std::vector<Delivery> deliveries() const;
    void record(Delivery delivery);

private:
    mutable std::mutex m_lock;
    std::vector<Delivery> m_deliveries;
};

// An id whose first byte is `first` and whose text starts with `text` (the
// first field is little-endian, so byte order and text order disagree).
GUID id_of(uint8_t first, uint8_t last = 0);

}  // namespace container_test
