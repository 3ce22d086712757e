#include <platform/clock.h>
#include <platform/handle.h>

#include <ctime>
#include <mutex>
#include <thread>
#include <utility>

namespace platform {
namespace {

constexpr ULONGLONG kUnixEpochAsFileTime = 116'444'736'000'000'000;  // 1970-01-01 in 100-ns units since 1601
constexpr ULONGLONG kFileTimePerMs = 10'000;

[[noreturn]] void sleep_forever() {
    for (;;) std::this_thread::sleep_for(std::chrono::hours(24));
}

class SystemClock final : public Clock {
public:
    ULONGLONG ticks() override {
        return static_cast<ULONGLONG>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
    }

    ULONGLONG system_time() override {
        const auto since1970 = std::chrono::duration_cast<std::chrono::microseconds>(
            std::chrono::system_clock::now().time_since_epoch());
        return kUnixEpochAsFileTime + static_cast<ULONGLONG>(since1970.count()) * 10;
    }

    void sleep(DWORD milliseconds) override {
        if (milliseconds == INFINITE) sleep_forever();
        if (milliseconds == 0)
            std::this_thread::yield();
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    }

    std::optional<std::chrono::steady_clock::time_point> real_deadline(ULONGLONG tick) override {
        return std::chrono::steady_clock::time_point(std::chrono::milliseconds(tick));
    }
};

// The installed clock; never destroyed, so threads still running at exit find it.
struct ClockSlot {
    std::mutex mutex;
    std::shared_ptr<Clock> system = std::make_shared<SystemClock>();
    std::shared_ptr<Clock> current = system;
};
ClockSlot& slot() {
    static auto* s = new ClockSlot;
    return *s;
}

SYSTEMTIME to_system_time(ULONGLONG fileTime, bool local) {
    const ULONGLONG sinceUnix = fileTime - kUnixEpochAsFileTime;
    const auto seconds = static_cast<time_t>(sinceUnix / 10'000'000);
    std::tm parts{};
    if (local)
        localtime_r(&seconds, &parts);
    else
        gmtime_r(&seconds, &parts);
    return SYSTEMTIME{static_cast<WORD>(parts.tm_year + 1900), static_cast<WORD>(parts.tm_mon + 1),
                      static_cast<WORD>(parts.tm_wday),        static_cast<WORD>(parts.tm_mday),
                      static_cast<WORD>(parts.tm_hour),        static_cast<WORD>(parts.tm_min),
                      static_cast<WORD>(parts.tm_sec),         static_cast<WORD>(sinceUnix / kFileTimePerMs % 1000)};
}

}  // namespace

FakeClock::FakeClock(ULONGLONG startTicks, ULONGLONG startSystemTime)
    : m_startTicks(startTicks), m_startSystemTime(startSystemTime) {}

void FakeClock::advance(ULONGLONG milliseconds) {
    // Moved under the wait lock, so a wait that has just read the old time is
    // already blocked when the wake-up comes.
    auto lock = wait_lock();
    m_elapsedMs += milliseconds;
    notify_waiters();
}

ULONGLONG FakeClock::ticks() { return m_startTicks + m_elapsedMs; }

ULONGLONG FakeClock::system_time() { return m_startSystemTime + m_elapsedMs * kFileTimePerMs; }

void FakeClock::sleep(DWORD milliseconds) {
    if (milliseconds == INFINITE) sleep_forever();
    if (milliseconds != 0) advance(milliseconds);
    std::this_thread::yield();
}

std::optional<std::chrono::steady_clock::time_point> FakeClock::real_deadline(ULONGLONG) { return std::nullopt; }

std::shared_ptr<Clock> current_clock() {
    std::lock_guard lock(slot().mutex);
    return slot().current;
}

std::shared_ptr<Clock> set_test_clock(std::shared_ptr<Clock> clock) {
    std::lock_guard lock(slot().mutex);
    return std::exchange(slot().current, clock ? std::move(clock) : slot().system);
}

ScopedFakeClock::ScopedFakeClock(std::shared_ptr<FakeClock> clock)
    : m_clock(std::move(clock)), m_previous(set_test_clock(m_clock)) {}

ScopedFakeClock::~ScopedFakeClock() { set_test_clock(std::move(m_previous)); }

}  // namespace platform

DWORD GetTickCount() { return static_cast<DWORD>(platform::current_clock()->ticks()); }
ULONGLONG GetTickCount64() { return platform::current_clock()->ticks(); }
void Sleep(DWORD milliseconds) { platform::current_clock()->sleep(milliseconds); }

void GetSystemTimeAsFileTime(FILETIME* time) {
    const ULONGLONG now = platform::current_clock()->system_time();
    time->dwLowDateTime = static_cast<DWORD>(now);
    time->dwHighDateTime = static_cast<DWORD>(now >> 32);
}

void GetSystemTime(SYSTEMTIME* time) { *time = platform::to_system_time(platform::current_clock()->system_time(), false); }
void GetLocalTime(SYSTEMTIME* time) { *time = platform::to_system_time(platform::current_clock()->system_time(), true); }
