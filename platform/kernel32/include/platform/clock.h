#pragma once
// One replaceable clock behind GetTickCount, Sleep, the system and local time,
// and the time-outs of WaitForSingleObject/WaitForMultipleObjects.
//
// The system clock is real: monotonic milliseconds since boot for the tick,
// the wall clock for the time of day. A test installs a FakeClock instead, so
// the system's multi-second delays cost nothing:
//   - Sleep(n) adds n ms to the fake time and returns at once (it only yields
//     the processor);
//   - GetTickCount and the time of day move only with Sleep and advance();
//   - a timed wait ends when its object is signalled or when the fake time
//     passes its deadline. It does not end on its own: under a FakeClock some
//     thread has to Sleep or the test has to advance() for a timed-out wait to
//     return. Waits without a time-out are not affected.
// A thread that polls with Sleep under a FakeClock runs its loop without
// pause and drives the fake time forward as fast as it spins.
//
// Install the clock before the threads that use it start and restore it after
// they have ended; a wait keeps the clock it started with.
#include <atomic>
#include <chrono>
#include <memory>
#include <optional>

#include <platform/types.h>

DWORD GetTickCount();
ULONGLONG GetTickCount64();
// Sleep(0) yields the processor; Sleep(INFINITE) never returns.
void Sleep(DWORD milliseconds);
void GetSystemTime(SYSTEMTIME* time);
void GetLocalTime(SYSTEMTIME* time);
void GetSystemTimeAsFileTime(FILETIME* time);

namespace platform {

class Clock {
public:
    virtual ~Clock() = default;
    // Milliseconds on a monotonic scale (the tick).
    virtual ULONGLONG ticks() = 0;
    // UTC in 100-ns units since 1601-01-01 (FILETIME).
    virtual ULONGLONG system_time() = 0;
    virtual void sleep(DWORD milliseconds) = 0;
    // The real moment a wait for the given tick should end, or none when the
    // clock wakes timed waits itself (it calls notify_waiters() under
    // wait_lock() whenever its time moves).
    virtual std::optional<std::chrono::steady_clock::time_point> real_deadline(ULONGLONG tick) = 0;
};

class FakeClock final : public Clock {
public:
    static constexpr ULONGLONG kDefaultStartTicks = 1'000'000;
    static constexpr ULONGLONG kDefaultStartTime = 133'485'408'000'000'000;  // 2024-01-01 00:00:00 UTC

    explicit FakeClock(ULONGLONG startTicks = kDefaultStartTicks, ULONGLONG startSystemTime = kDefaultStartTime);

    // Moves the time forward and wakes the timed waits that it ends.
    void advance(ULONGLONG milliseconds);

    ULONGLONG ticks() override;
    ULONGLONG system_time() override;
    void sleep(DWORD milliseconds) override;
    std::optional<std::chrono::steady_clock::time_point> real_deadline(ULONGLONG tick) override;

private:
    const ULONGLONG m_startTicks;
    const ULONGLONG m_startSystemTime;
    std::atomic<ULONGLONG> m_elapsedMs{0};
};

std::shared_ptr<Clock> current_clock();
// Installs a clock for the whole process and returns the one it replaces;
// null restores the system clock.
std::shared_ptr<Clock> set_test_clock(std::shared_ptr<Clock> clock);

// Installs a FakeClock for its scope.
class ScopedFakeClock {
public:
    explicit ScopedFakeClock(std::shared_ptr<FakeClock> clock = std::make_shared<FakeClock>());
    ~ScopedFakeClock();
    ScopedFakeClock(const ScopedFakeClock&) = delete;
    ScopedFakeClock& operator=(const ScopedFakeClock&) = delete;

    FakeClock& clock() const { return *m_clock; }

private:
    std::shared_ptr<FakeClock> m_clock;
    std::shared_ptr<Clock> m_previous;
};

}  // namespace platform
