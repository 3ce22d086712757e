#include <hostlib/trace.h>

#include <platform/debug.h>
#include <platform/registry.h>
#include <platform/state_root.h>
#include <platform/clock.h>
#include <platform/computer_name.h>
#include <platform/thread.h>
#include <platform/text.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Set while no other thread runs (static construction, or a test between
// cases), read by every tracing thread.
std::atomic<FILE*> g_traceFile{nullptr};
std::atomic<bool> g_logToDebugger{false};

// The timestamp of the line being built: 23 characters and the NUL.
thread_local char t_timestamp[24];

constexpr size_t kLineBufferSize = 1024;
constexpr DWORD kLogFileValueBytes = 261;  // at most 129 characters and the NUL
constexpr const WCHAR* kParametersKey = u"SYSTEM\\CurrentControlset\\Services\\sanprovd\\Parameters";
constexpr const char* kDefaultLogName = "/system32/$sanprovd$.log";
constexpr const char* kBannerRule =
    "*******************************************************************************";

// A REG_SZ or REG_EXPAND_SZ must end in its NUL; a REG_MULTI_SZ in two NULs.
// Returns the first string, or nothing when the value is not usable.
bool accepted_log_file(DWORD type, const WCHAR* value, DWORD size, std::u16string& path) {
    if (size % 2 != 0) return false;
    const DWORD chars = size / 2;
    switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ:
        if (chars < 1 || value[chars - 1] != 0) return false;
        break;
    case REG_MULTI_SZ:
        if (size < 4 || value[chars - 1] != 0 || value[chars - 2] != 0) return false;
        break;
    default:
        return false;
    }
    path.assign(value);
    return true;
}

// The default trace file: the Windows directory's system32 "$sanprovd$.log".
// Without WINDIR the state root stands in for the Windows directory.
std::string default_log_path() {
    if (const char* windir = std::getenv("WINDIR"); windir && *windir) return std::string(windir) + kDefaultLogName;
    return platform::state_dir("system32").string() + "/$sanprovd$.log";
}

void open_log_file(const std::u16string& value) {
    const std::string path = value.empty() ? default_log_path() : platform::wide_to_utf8_lossy(value);
    // Appending and shared: other processes may read and write the file
    // meanwhile. Owner-only, also when an earlier run left it open: it names
    // the appliances and every call.
    const int fd = ::open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return;
    ::fchmod(fd, 0600);
    FILE* file = ::fdopen(fd, "a+");
    if (!file) {
        ::close(fd);
        return;
    }
    if (FILE* previous = g_traceFile.exchange(file)) std::fclose(previous);
}

}  // namespace

void trace_printf(const char* format, ...) {
    FILE* const file = g_traceFile.load(std::memory_order_relaxed);
    const bool toDebugger = g_logToDebugger.load(std::memory_order_relaxed);
    if (!file && !toDebugger) return;

    char line[kLineBufferSize];
    size_t capacity = kLineBufferSize - 1;
    size_t used = 0;
    if (file) {
        SYSTEMTIME now;
        GetLocalTime(&now);
        if (std::snprintf(t_timestamp, sizeof t_timestamp, "%d-%02d-%02d %02d:%02d:%02d.%03d", now.wYear, now.wMonth,
                          now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds) < 0)
            return;
        const int n = std::snprintf(line, capacity, "%s ", t_timestamp);
        if (n < 0 || static_cast<size_t>(n) >= capacity) return;
        used = static_cast<size_t>(n);
    }
    const size_t debuggerStart = used;
    const int ids = std::snprintf(line + used, capacity - used, "[%X.%X]: ", static_cast<unsigned>(GetCurrentProcessId()),
                                  static_cast<unsigned>(GetCurrentThreadId()));
    if (ids < 0 || static_cast<size_t>(ids) + 2 >= capacity - used) return;
    used += static_cast<size_t>(ids);

    // Two bytes stay free for the line feed and the NUL; text that does not fit
    // drops the whole line.
    const size_t allowed = capacity - used - 2;
    va_list args;
    va_start(args, format);
    const int text = std::vsnprintf(line + used, allowed + 1, format, args);
    va_end(args);
    if (text < 0 || static_cast<size_t>(text) > allowed) return;
    used += static_cast<size_t>(text);
    line[used++] = '\n';
    line[used] = '\0';

    if (file) {
        std::fputs(line, file);
        std::fflush(file);
    }
    if (toDebugger) OutputDebugStringA(line + debuggerStart);
}

bool trace_enabled() {
    return g_traceFile.load(std::memory_order_relaxed) != nullptr || g_logToDebugger.load(std::memory_order_relaxed);
}

void trace_assert(bool condition, const char* expression, const char* file, int line) {
    if (!condition) trace_printf("ASSERTION FAILED: (%s) AT %s(%d)", expression, file, line);
}

void trace_open() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kParametersKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return;

    WCHAR value[kLogFileValueBytes / 2 + 1] = {};
    DWORD type = REG_NONE;
    DWORD size = kLogFileValueBytes;
    std::u16string path;
    if (RegQueryValueExW(key, u"LogFile", nullptr, &type, reinterpret_cast<BYTE*>(value), &size) == ERROR_SUCCESS &&
        accepted_log_file(type, value, size, path))
        open_log_file(path);

    DWORD toDebugger = g_logToDebugger.load() ? 1 : 0;
    DWORD flagSize = sizeof toDebugger;
    if (RegQueryValueExW(key, u"LogToDebugger", nullptr, nullptr, reinterpret_cast<BYTE*>(&toDebugger), &flagSize) ==
            ERROR_SUCCESS &&
        toDebugger != 0)
        g_logToDebugger.store(true);
    RegCloseKey(key);
}

void trace_close() {
    g_logToDebugger.store(false);
    if (FILE* file = g_traceFile.exchange(nullptr)) std::fclose(file);
}

trace_session::trace_session() {
    trace_open();
    char host[512] = {};
    DWORD size = sizeof host;
    const char* hostName = GetComputerNameExA(ComputerNamePhysicalDnsFullyQualified, host, &size) ? host : "<unknown>";
    trace_printf("%s", kBannerRule);
    trace_printf("**** SANPROVD version %s starting on host %s", kSanprovVersion, hostName);
    trace_printf("%s", kBannerRule);
}

trace_session::~trace_session() {
    trace_printf("%s", kBannerRule);
    trace_printf("**** SANPROVD stopped ");
    trace_printf("%s", kBannerRule);
}

TraceScope::TraceScope(const char* qualifiedName) {
    // Every provider call opens scopes: without a trace they cost nothing,
    // and a scope opened before the trace leaves no unmatched "leaving".
    if (!trace_enabled()) return;
    m_name = qualifiedName ? qualifiedName : "";
    m_armed = true;
    trace_printf("%s(): entering.", m_name.c_str());
}

TraceScope::~TraceScope() {
    if (m_armed) trace_printf("%s(): leaving.", m_name.c_str());
}

HRESULT trace_unexpected_exception(const char* function, HRESULT result) {
    trace_printf("Unexpected exception in function: %s , returns: 0x%08lX", function, trace_code(result));
    return result;
}

void trace_unexpected_exception(const char* function) { trace_printf("Unexpected exception in function: %s.", function); }
