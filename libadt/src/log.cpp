#include <adt/log.h>
#include <adt/path.h>
#include <adt/pool.h>
#include <adt/str.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "log_event.h"

namespace {

// Never set in this system: lines and file names use the fallback identity.
const char* const g_identity = nullptr;
constexpr const char* kFallbackIdentity = "application";
constexpr mode_t kLogMode = 0600;
std::atomic<bool> g_consoleEcho{true};

constexpr const char* kLevelNames[8] = {"EMERG", "ALERT", " CRIT", "ERROR", " WARN", "NOTIC", " INFO", "DEBUG"};

const char* identity() { return g_identity ? g_identity : kFallbackIdentity; }

// "<dir><name>-<n>.log"; the number is zero-filled to the width of the largest one.
std::string old_file(const char* dir, const char* name, int number) {
    const int width = static_cast<int>(std::to_string(LOG_OLD_FILES - 1).size());
    char digits[16];
    std::snprintf(digits, sizeof digits, "%0*d", width, number);
    return std::string(dir) + name + "-" + digits + ".log";
}

void rotate_when_full(const char* path, const char* dir, const char* name, long limit) {
    struct stat st{};
    if (::stat(path, &st) != 0 || st.st_size < limit) return;
    for (int k = LOG_OLD_FILES - 2; k >= 0; --k) {
        const std::string newer = old_file(dir, name, k);
        const std::string older = old_file(dir, name, k + 1);
        ::unlink(older.c_str());
        ::rename(newer.c_str(), older.c_str());
    }
    const std::string newest = old_file(dir, name, 0);
    ::unlink(newest.c_str());
    ::rename(path, newest.c_str());
}

std::string line_for(int level, const char* message) {
    char stamp[32] = {};
    const time_t now = std::time(nullptr);
    struct tm local{};
    localtime_r(&now, &local);
    std::strftime(stamp, sizeof stamp, "%b %d %H:%M:%S", &local);
    std::string line = std::string(stamp) + " [" + identity() + ":" + log_level_name(level) + "]: " + message;
    if (line.empty() || line.back() != '\n') line += '\n';
    return line;
}

int write_line(const char* name, int level, const char* message) {
    const char* logName = name ? name : identity();
    const long limit = name ? LOG_NAMED_LIMIT : LOG_DEFAULT_LIMIT;
    const char* dir = path_get(PATH_LOG_DIR);
    const std::string path = std::string(dir) + logName + ".log";
    rotate_when_full(path.c_str(), dir, logName, limit);
    const std::string line = line_for(level, message);
    const int fd = ::open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, kLogMode);
    if (fd < 0) return -1;
    for (size_t done = 0; done < line.size();) {
        const ssize_t n = ::write(fd, line.data() + done, line.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    ::close(fd);
    ::chmod(path.c_str(), kLogMode);
    return 0;
}

ADT_PRINTF(1, 0) char* format_message(const char* format, va_list args) { return string_vprintf(format, args); }

// Owns a formatted message; empty text when formatting fails.
struct Message {
    char* text;
    explicit Message(char* formatted) : text(formatted) {}
    ~Message() { std::free(text); }
    Message(const Message&) = delete;
    Message& operator=(const Message&) = delete;
    const char* c_str() const { return text ? text : ""; }
};

void echo(int level, const char* message) {
    if (!g_consoleEcho.load(std::memory_order_relaxed)) return;
    const int low = level & 7;
    FILE* stream = (low == LOG_LEVEL_NOTICE || low == LOG_LEVEL_INFO) ? stdout : stderr;
    if (!::isatty(::fileno(stream))) {
        g_consoleEcho.store(false, std::memory_order_relaxed);
        return;
    }
    std::fputs(message, stream);
    const size_t n = std::strlen(message);
    if (n == 0 || message[n - 1] != '\n') std::fputc('\n', stream);
    std::fflush(stream);
}

}  // namespace

const char* log_level_name(int level) { return kLevelNames[level & 7]; }

int log_write(const char* name, int level, const char* format, ...) {
    va_list ap;
    va_start(ap, format);
    const Message message(format_message(format, ap));
    va_end(ap);
    return write_line(name, level, message.c_str());
}

void log_report(int level, const char* format, ...) {
    va_list ap;
    va_start(ap, format);
    const Message message(format_message(format, ap));
    va_end(ap);
    write_line(nullptr, level, message.c_str());
    if ((level & 7) != LOG_LEVEL_DEBUG) log_event_copy(g_identity, level & 7, message.c_str());
}

void log_console(int level, const char* format, ...) {
    va_list ap;
    va_start(ap, format);
    const Message message(format_message(format, ap));
    va_end(ap);
    write_line(nullptr, level, message.c_str());
    echo(level, message.c_str());
}

void log_nomem(const char* what) { log_console(LOG_LEVEL_DEBUG, "Error: Unable to allocate memory for %s.", what); }
