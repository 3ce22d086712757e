#include <platform/clock.h>
#include <platform/event.h>

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <ctime>

#include "test_thread.h"

namespace {

ULONGLONG file_time_now() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return (static_cast<ULONGLONG>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

}  // namespace

TEST(FakeClock, SleepReturnsAtOnceAndMovesTheTickAndTheTime) {
    platform::ScopedFakeClock fake;
    const DWORD tick = GetTickCount();
    const ULONGLONG tick64 = GetTickCount64();
    const ULONGLONG time = file_time_now();
    const auto realStart = std::chrono::steady_clock::now();

    Sleep(30000);

    EXPECT_LT(std::chrono::steady_clock::now() - realStart, std::chrono::seconds(1));
    EXPECT_EQ(GetTickCount() - tick, 30000u);
    EXPECT_EQ(GetTickCount64() - tick64, 30000u);
    EXPECT_EQ(file_time_now() - time, 30000u * 10000u);
    fake.clock().advance(500);
    EXPECT_EQ(GetTickCount() - tick, 30500u);
}

TEST(FakeClock, TimeOfDayFollowsTheFakeTime) {
    // 2020-02-29 23:59:59.500 UTC, a leap day.
    platform::ScopedFakeClock fake(std::make_shared<platform::FakeClock>(5000, 132'274'943'995'000'000));
    SYSTEMTIME t;
    GetSystemTime(&t);
    EXPECT_EQ((std::array<WORD, 8>{t.wYear, t.wMonth, t.wDayOfWeek, t.wDay, t.wHour, t.wMinute, t.wSecond,
                                   t.wMilliseconds}),
              (std::array<WORD, 8>{2020, 2, 6, 29, 23, 59, 59, 500}));
    Sleep(700);
    GetSystemTime(&t);
    EXPECT_EQ((std::array<WORD, 8>{t.wYear, t.wMonth, t.wDayOfWeek, t.wDay, t.wHour, t.wMinute, t.wSecond,
                                   t.wMilliseconds}),
              (std::array<WORD, 8>{2020, 3, 0, 1, 0, 0, 0, 200}));
    EXPECT_EQ(GetTickCount(), 5700u);
    SYSTEMTIME local;
    GetLocalTime(&local);
    EXPECT_EQ(local.wMilliseconds, 200);
}

TEST(FakeClock, TimedWaitEndsWhenTheFakeTimePassesItsDeadline) {
    platform::ScopedFakeClock fake;
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    const DWORD start = GetTickCount();
    DWORD endTick = 0;
    TestThread waiter([&] {
        const DWORD result = WaitForSingleObject(event, 60000);
        endTick = GetTickCount();
        return result;
    });
    bool ended = false;
    for (int step = 0; step < 5000 && !ended; ++step) {
        fake.clock().advance(1000);
        ended = WaitForSingleObject(waiter.handle(), 0) == WAIT_OBJECT_0;
        if (!ended) real_pause(1);
    }
    ASSERT_TRUE(ended);
    DWORD result = 0;
    GetExitCodeThread(waiter.handle(), &result);
    EXPECT_EQ(result, WAIT_TIMEOUT);
    EXPECT_GE(endTick - start, 60000u);

    // A signal still ends a wait without moving the fake time.
    const DWORD before = GetTickCount();
    TestThread setter([&] { return static_cast<DWORD>(SetEvent(event)); });
    EXPECT_EQ(WaitForSingleObject(event, 60000), WAIT_OBJECT_0);
    EXPECT_EQ(GetTickCount(), before);
    CloseHandle(event);
}

TEST(SystemClock, IsRealAndComesBackAfterAFakeOne) {
    { platform::ScopedFakeClock fake; fake.clock().advance(1'000'000'000); }
    const DWORD tick = GetTickCount();
    const auto realStart = std::chrono::steady_clock::now();
    Sleep(30);
    EXPECT_GE(std::chrono::steady_clock::now() - realStart, std::chrono::milliseconds(30));
    EXPECT_GE(GetTickCount() - tick, 30u);
    EXPECT_LT(GetTickCount() - tick, 10000u);

    SYSTEMTIME t;
    GetSystemTime(&t);
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    EXPECT_EQ(t.wYear, utc.tm_year + 1900);
    EXPECT_EQ(t.wDay, utc.tm_mday);
}
