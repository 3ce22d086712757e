#include "json_text.h"
#include "message_format.h"
#include "message_table.h"

#include <platform/errors.h>
#include <platform/eventlog.h>
#include <platform/library.h>
#include <platform/registry.h>
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

// The size a log may reach before its oldest events go, as the event log's
// own default; a log's "MaxSize" in the registry overrides it.
constexpr DWORD kDefaultMaxSize = 20 * 1024 * 1024;
constexpr char16_t kEventLogKey[] = u"SYSTEM\\CurrentControlSet\\Services\\EventLog";
constexpr char16_t kDefaultLog[] = u"Application";

struct EventSource {
    std::u16string name;
    std::string fileName;  // <source>.jsonl
    DWORD maxSize;         // of the log the source belongs to
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

// The line after its time: from the source to the line end.
std::string json_rest(const EventSource& source, const TypeInfo& type, WORD category, DWORD id,
                      const platform::MessageArgs& inserts, const std::u16string& text,
                      std::string_view rawData) {
    using platform::detail::append_json_string;
    std::string line = ",\"source\":";
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

std::string json_line(const EventSource& source, const TypeInfo& type, WORD category, DWORD id,
                      const platform::MessageArgs& inserts, const std::u16string& text,
                      std::string_view rawData) {
    std::string line = "{\"time\":";
    platform::detail::append_json_string(line, utc_now_text());
    return line + json_rest(source, type, category, id, inserts, text, rawData);
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

bool write_all(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

// The log is full: the oldest whole events go until the newest, with the new
// line, fill three quarters of it (so that not every later event rewrites
// it), and the file is replaced by rename. Called under the file's lock.
DWORD rotate(const std::filesystem::path& path, int fd, off_t size, const std::string& line, DWORD maxSize) {
    std::string kept(static_cast<size_t>(size), '\0');
    if (::pread(fd, kept.data(), kept.size(), 0) != static_cast<ssize_t>(kept.size())) return ERROR_WRITE_FAULT;
    const size_t room = maxSize - maxSize / 4;
    size_t from = 0;
    while (from < kept.size() && kept.size() - from + line.size() > room) {
        const size_t end = kept.find('\n', from);
        from = end == std::string::npos ? kept.size() : end + 1;
    }
    const std::filesystem::path temp = std::filesystem::path(path) += ".tmp";
    const FileDescriptor out(::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    if (out.get() < 0) return ERROR_WRITE_FAULT;
    const bool written = ::fchmod(out.get(), 0600) == 0 && write_all(out.get(), std::string_view(kept).substr(from)) &&
                         write_all(out.get(), line) && ::fsync(out.get()) == 0;
    if (!written || ::rename(temp.c_str(), path.c_str()) != 0) {
        ::unlink(temp.c_str());
        return ERROR_WRITE_FAULT;
    }
    return ERROR_SUCCESS;
}

// Opens the log and takes its lock; a file that a rotation replaced meanwhile
// is opened again. -1 with errno set on failure.
// Only system calls, so a signal handler may call it too.
int open_locked(const char* path) noexcept {
    for (;;) {
        const int fd = ::open(path, O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
        if (fd < 0) return -1;
        int rc;
        while ((rc = ::flock(fd, LOCK_EX)) != 0 && errno == EINTR) {}
        struct stat held{}, named{};
        if (rc == 0 && ::fstat(fd, &held) == 0 && ::stat(path, &named) == 0 && held.st_ino == named.st_ino &&
            held.st_dev == named.st_dev)
            return fd;
        const int error = rc != 0 ? errno : 0;
        ::close(fd);
        if (rc != 0) {
            errno = error;
            return -1;
        }
    }
}

// Appends the line whole under an exclusive lock; a write that fails midway is
// cut back, so readers never meet half a line. A full log drops its oldest
// events first. Returns 0 or a Win32 error.
DWORD append_line(const std::filesystem::path& path, const std::string& line, DWORD maxSize) {
    const FileDescriptor fd(open_locked(path.c_str()));
    if (fd.get() < 0) return (errno == EACCES || errno == EPERM) ? ERROR_ACCESS_DENIED : ERROR_WRITE_FAULT;
    struct stat before{};
    if (::fstat(fd.get(), &before) != 0) return ERROR_WRITE_FAULT;
    if (static_cast<uint64_t>(before.st_size) + line.size() > maxSize)
        return rotate(path, fd.get(), before.st_size, line, maxSize);
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
    const DWORD error = append_line(platform::state_dir("eventlog") / source->fileName, line, source->maxSize);
    syslog(LOG_USER | info->priority, "%s: %s", platform::wide_to_utf8_lossy(source->name).c_str(),
           one_line(text).c_str());
    return error == ERROR_SUCCESS ? TRUE : fail(error);
}

constexpr size_t kTimeChars = 24;

// "YYYY-MM-DDTHH:MM:SS.mmmZ" of now into `out` (kTimeChars) without the C
// library's time functions, which may lock or allocate.
void utc_now_text_raw(char* out) noexcept {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    const long long secs = now.tv_sec, days = secs / 86400, inDay = secs % 86400;
    // Days since 1970-01-01 to a civil date (proleptic Gregorian).
    const long long z = days + 719468, era = z / 146097, doe = z - era * 146097;
    const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100), mp = (5 * doy + 2) / 153;
    const long long day = doy - (153 * mp + 2) / 5 + 1, month = mp < 10 ? mp + 3 : mp - 9;
    const long long year = yoe + era * 400 + (month <= 2);
    const long long fields[] = {year, month, day, inDay / 3600, inDay / 60 % 60, inDay % 60, now.tv_nsec / 1000000};
    constexpr int widths[] = {4, 2, 2, 2, 2, 2, 3};
    constexpr char after[] = "--T::.Z";
    size_t at = 0;
    for (int f = 0; f < 7; ++f) {
        long long v = fields[f];
        for (int d = widths[f] - 1; d >= 0; --d, v /= 10) out[at + d] = static_cast<char>('0' + v % 10);
        at += widths[f];
        out[at++] = after[f];
    }
}

}  // namespace

namespace platform {

bool prepare_event(HANDLE eventLog, WORD type, DWORD eventId, WORD numStrings, LPCWSTR* strings,
                   PreparedEvent& event) {
    if (numStrings && !strings) return fail(ERROR_INVALID_PARAMETER);
    const auto source = EventSources::instance().get(eventLog);
    if (!source) return fail(ERROR_INVALID_HANDLE);
    const TypeInfo* info = type_info(type);
    if (!info) return fail(ERROR_INVALID_PARAMETER);
    MessageArgs inserts;
    for (WORD i = 0; i < numStrings; ++i) inserts.items.emplace_back(std::u16string(strings[i] ? strings[i] : u""));
    const std::string rest = json_rest(*source, *info, 0, eventId, inserts, render_text(source->name, eventId, inserts), {});
    const std::string path = (platform::state_dir("eventlog") / source->fileName).string();
    if (rest.size() > sizeof event.rest || path.size() >= sizeof event.path) return fail(ERROR_INSUFFICIENT_BUFFER);
    event = PreparedEvent{};
    rest.copy(event.rest, rest.size());
    path.copy(event.path, path.size());
    event.restLength = rest.size();
    return true;
}

bool write_prepared_event(const PreparedEvent& event) noexcept {
    if (!event.restLength) return false;
    char head[40] = "{\"time\":\"";
    constexpr size_t kHead = 9;  // {"time":"
    utc_now_text_raw(head + kHead);
    head[kHead + kTimeChars] = '"';
    const int fd = open_locked(event.path);
    if (fd < 0) return false;
    struct stat before{};
    const bool known = ::fstat(fd, &before) == 0;
    // One write each; a line cut short is cut back, as a report does.
    const bool written = known && write_all(fd, std::string_view(head, kHead + kTimeChars + 1)) &&
                         write_all(fd, std::string_view(event.rest, event.restLength));
    if (!written && known && ::ftruncate(fd, before.st_size) != 0) { /* nothing more can be done */ }
    ::close(fd);
    return written;
}

WORD event_type_of(DWORD eventId) {
    static constexpr WORD kBySeverity[] = {EVENTLOG_SUCCESS, EVENTLOG_INFORMATION_TYPE, EVENTLOG_WARNING_TYPE,
                                           EVENTLOG_ERROR_TYPE};
    return kBySeverity[eventId >> 30];
}

void bind_event_source(std::u16string_view source, HMODULE module) { EventSources::instance().bind(source, module); }

// The log whose key holds the source's key, else the application log; its
// "MaxSize" when that is a non-zero REG_DWORD, else the default.
DWORD event_log_max_size(std::u16string_view source) {
    HKEY logs = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kEventLogKey, 0, KEY_READ, &logs) != ERROR_SUCCESS) return kDefaultMaxSize;
    std::u16string log = kDefaultLog;
    WCHAR name[256];
    for (DWORD i = 0;; ++i) {
        DWORD length = 256;
        if (RegEnumKeyExW(logs, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        const std::u16string candidate(name, length);
        const std::u16string sourceKey = candidate + u"\\" + std::u16string(source);
        HKEY key = nullptr;
        if (RegOpenKeyExW(logs, sourceKey.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS) {
            RegCloseKey(key);
            log = candidate;
            break;
        }
    }
    DWORD value = 0, type = 0, size = sizeof value;
    HKEY logKey = nullptr;
    if (RegOpenKeyExW(logs, log.c_str(), 0, KEY_READ, &logKey) == ERROR_SUCCESS) {
        if (RegQueryValueExW(logKey, u"MaxSize", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) !=
                ERROR_SUCCESS ||
            type != REG_DWORD || size != sizeof value)
            value = 0;
        RegCloseKey(logKey);
    }
    RegCloseKey(logs);
    return value != 0 ? value : kDefaultMaxSize;
}

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
    const DWORD maxSize = platform::event_log_max_size(name);
    return EventSources::instance().add(EventSource{name, std::move(*fileName), maxSize});
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
