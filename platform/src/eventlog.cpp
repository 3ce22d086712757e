#include "json_text.h"
#include "message_format.h"
#include "message_table.h"

#include <platform/errors.h>
#include <platform/eventlog.h>
#include <platform/library.h>
#include <platform/state_root.h>
#include <platform/text.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <cstdio>
#include <ctime>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace {

constexpr DWORD kServerUnavailable = 1722;  // RPC_S_SERVER_UNAVAILABLE: no remote event logs here
constexpr size_t kMaxSourceBytes = 200;     // leaves room for ".jsonl" in a file name

struct EventSource {
    std::u16string name;
    std::string fileName;  // <source>.jsonl
};

// Open sources by handle, and the message table each source name renders from.
class EventSources {
public:
    static EventSources& instance() {
        static EventSources sources;
        return sources;
    }

    HANDLE add(EventSource source) {
        auto owned = std::make_unique<EventSource>(std::move(source));
        const HANDLE h = owned.get();
        std::lock_guard lock(mutex_);
        open_.emplace(h, std::move(owned));
        return h;
    }

    // A copy, so a concurrent DeregisterEventSource cannot pull it away mid-report.
    std::optional<EventSource> get(HANDLE h) const {
        std::lock_guard lock(mutex_);
        const auto it = open_.find(h);
        if (it == open_.end()) return std::nullopt;
        return *it->second;
    }

    bool remove(HANDLE h) {
        std::lock_guard lock(mutex_);
        return open_.erase(h) == 1;
    }

    void bind(std::u16string_view source, HMODULE module) {
        std::lock_guard lock(mutex_);
        for (auto& b : bindings_)
            if (platform::equal_wide_nocase(b.first, source)) {
                b.second = module;
                return;
            }
        bindings_.emplace_back(source, module);
    }

    HMODULE module_of(std::u16string_view source) const {
        std::lock_guard lock(mutex_);
        for (const auto& b : bindings_)
            if (platform::equal_wide_nocase(b.first, source)) return b.second;
        return GetModuleHandleW(nullptr);
    }

private:
    mutable std::mutex mutex_;
    std::unordered_map<HANDLE, std::unique_ptr<EventSource>> open_;
    std::vector<std::pair<std::u16string, HMODULE>> bindings_;
};

std::optional<std::string> file_name_for(std::u16string_view source) {
    const auto utf8 = platform::wide_to_utf8(source);
    if (!utf8 || utf8->empty() || *utf8 == "." || *utf8 == ".." || utf8->size() > kMaxSourceBytes)
        return std::nullopt;
    for (const char c : *utf8)
        if (c == '/' || c == '\\' || (static_cast<unsigned char>(c) < 0x20) || c == 0x7F) return std::nullopt;
    return *utf8 + ".jsonl";
}

struct TypeInfo {
    WORD type;
    const char* name;
    int priority;
};
constexpr TypeInfo kTypes[] = {
    {EVENTLOG_SUCCESS, "success", LOG_NOTICE},
    {EVENTLOG_ERROR_TYPE, "error", LOG_ERR},
    {EVENTLOG_WARNING_TYPE, "warning", LOG_WARNING},
    {EVENTLOG_INFORMATION_TYPE, "information", LOG_INFO},
};

const TypeInfo* type_info(WORD type) {
    for (const auto& t : kTypes)
        if (t.type == type) return &t;
    return nullptr;
}

// What the event viewer shows: the message with the inserts, or, when the
// table has no such message, the inserts under a note that says so.
std::u16string render_text(const std::u16string& source, DWORD id, const platform::MessageArgs& inserts) {
    DWORD error = 0;
    const HMODULE module = EventSources::instance().module_of(source);
    if (const auto message = platform::detail::find_module_message(module, id, error)) {
        std::u16string text;
        if (platform::detail::expand_message(*message, &inserts, {}, text)) return text;
    }
    std::u16string text = platform::utf8_to_wide_lossy("The description for Event ID " + std::to_string(id & 0xFFFF) +
                                                       " from source ") +
                          source + u" cannot be found. The following information was included with the event:\r\n";
    for (const auto& insert : inserts.items) text += std::get<std::u16string>(insert) + u"\r\n";
    return text;
}

std::string utc_now_text() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t secs = std::chrono::system_clock::to_time_t(now);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm tm{};
    gmtime_r(&secs, &tm);
    char buf[80];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", tm.tm_year + 1900, tm.tm_mon + 1,
                  tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<int>(millis));
    return buf;
}

std::string json_line(const EventSource& source, const TypeInfo& type, WORD category, DWORD id,
                      const platform::MessageArgs& inserts, const std::u16string& text,
                      std::string_view rawData) {
    using platform::detail::append_json_string;
    std::string line = "{\"time\":";
    append_json_string(line, utc_now_text());
    line += ",\"source\":";
    append_json_string(line, platform::wide_to_utf8_lossy(source.name));
    line += ",\"id\":" + std::to_string(id) + ",\"type\":";
    append_json_string(line, type.name);
    line += ",\"category\":" + std::to_string(category) + ",\"inserts\":[";
    for (size_t i = 0; i < inserts.items.size(); ++i) {
        if (i) line.push_back(',');
        append_json_string(line, platform::wide_to_utf8_lossy(std::get<std::u16string>(inserts.items[i])));
    }
    line += "],\"text\":";
    append_json_string(line, platform::wide_to_utf8_lossy(text));
    if (!rawData.empty()) {
        static constexpr char kHex[] = "0123456789abcdef";
        line += ",\"data\":\"";
        for (const char b : rawData) {
            line.push_back(kHex[static_cast<unsigned char>(b) >> 4]);
            line.push_back(kHex[static_cast<unsigned char>(b) & 0xF]);
        }
        line.push_back('"');
    }
    line += "}\n";
    return line;
}

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    int get() const { return fd_; }

private:
    int fd_;
};

// Appends the line whole under an exclusive lock; a write that fails midway is
// cut back, so readers never meet half a line. Returns 0 or a Win32 error.
DWORD append_line(const std::filesystem::path& path, const std::string& line) {
    const FileDescriptor fd(::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600));
    if (fd.get() < 0) return (errno == EACCES || errno == EPERM) ? ERROR_ACCESS_DENIED : ERROR_WRITE_FAULT;
    while (::flock(fd.get(), LOCK_EX) != 0)
        if (errno != EINTR) return ERROR_WRITE_FAULT;
    struct stat before{};
    if (::fstat(fd.get(), &before) != 0) return ERROR_WRITE_FAULT;
    for (size_t done = 0; done < line.size();) {
        const ssize_t n = ::write(fd.get(), line.data() + done, line.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (::ftruncate(fd.get(), before.st_size) != 0) { /* nothing more can be done */ }
            return ERROR_WRITE_FAULT;
        }
        done += static_cast<size_t>(n);
    }
    return ERROR_SUCCESS;
}

// syslog gets the text on one line.
std::string one_line(const std::u16string& text) {
    std::string out;
    for (const char c : platform::wide_to_utf8_lossy(text)) {
        if (c == '\r' || c == '\n') {
            if (!out.empty() && out.back() != ' ') out.push_back(' ');
        } else {
            out.push_back(c);
        }
    }
    while (!out.empty() && out.back() == ' ') out.pop_back();
    return out;
}

BOOL fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

BOOL report(HANDLE eventLog, WORD type, WORD category, DWORD eventId, platform::MessageArgs inserts,
            DWORD dataSize, const void* rawData) {
    const auto source = EventSources::instance().get(eventLog);
    if (!source) return fail(ERROR_INVALID_HANDLE);
    const TypeInfo* info = type_info(type);
    if (!info || (dataSize && !rawData)) return fail(ERROR_INVALID_PARAMETER);
    const std::u16string text = render_text(source->name, eventId, inserts);
    const std::string_view data(static_cast<const char*>(rawData), rawData ? dataSize : 0);
    const std::string line = json_line(*source, *info, category, eventId, inserts, text, data);
    const DWORD error = append_line(platform::state_dir("eventlog") / source->fileName, line);
    syslog(LOG_USER | info->priority, "%s: %s", platform::wide_to_utf8_lossy(source->name).c_str(),
           one_line(text).c_str());
    return error == ERROR_SUCCESS ? TRUE : fail(error);
}

}  // namespace

namespace platform {

WORD event_type_of(DWORD eventId) {
    static constexpr WORD kBySeverity[] = {EVENTLOG_SUCCESS, EVENTLOG_INFORMATION_TYPE, EVENTLOG_WARNING_TYPE,
                                           EVENTLOG_ERROR_TYPE};
    return kBySeverity[eventId >> 30];
}

void bind_event_source(std::u16string_view source, HMODULE module) { EventSources::instance().bind(source, module); }

}  // namespace platform

HANDLE RegisterEventSourceW(LPCWSTR serverName, LPCWSTR sourceName) {
    if (serverName && *serverName) {
        SetLastError(kServerUnavailable);
        return nullptr;
    }
    const std::u16string name = sourceName ? sourceName : u"";
    auto fileName = file_name_for(name);
    if (!fileName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return EventSources::instance().add(EventSource{name, std::move(*fileName)});
}

HANDLE RegisterEventSourceA(LPCSTR serverName, LPCSTR sourceName) {
    const std::u16string server = platform::utf8_to_wide_lossy(serverName ? serverName : "");
    const auto source = sourceName ? platform::utf8_to_wide(sourceName) : std::optional<std::u16string>(u"");
    if (!source) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return RegisterEventSourceW(server.c_str(), source->c_str());
}

BOOL ReportEventW(HANDLE eventLog, WORD type, WORD category, DWORD eventId, void*, WORD numStrings, DWORD dataSize,
                  LPCWSTR* strings, LPVOID rawData) {
    if (numStrings && !strings) return fail(ERROR_INVALID_PARAMETER);
    platform::MessageArgs inserts;
    for (WORD i = 0; i < numStrings; ++i) inserts.items.emplace_back(std::u16string(strings[i] ? strings[i] : u""));
    return report(eventLog, type, category, eventId, std::move(inserts), dataSize, rawData);
}

BOOL ReportEventA(HANDLE eventLog, WORD type, WORD category, DWORD eventId, void*, WORD numStrings, DWORD dataSize,
                  LPCSTR* strings, LPVOID rawData) {
    if (numStrings && !strings) return fail(ERROR_INVALID_PARAMETER);
    platform::MessageArgs inserts;
    for (WORD i = 0; i < numStrings; ++i)
        inserts.items.emplace_back(platform::utf8_to_wide_lossy(strings[i] ? strings[i] : ""));
    return report(eventLog, type, category, eventId, std::move(inserts), dataSize, rawData);
}

BOOL DeregisterEventSource(HANDLE eventLog) {
    return EventSources::instance().remove(eventLog) ? TRUE : fail(ERROR_INVALID_HANDLE);
}
