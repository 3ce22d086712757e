#include <platform/clock.h>
#include <platform/critical_section.h>
#include <platform/event.h>
#include <platform/interlocked.h>

#include <gtest/gtest.h>

#include <atomic>
#include <ctime>
#include <memory>
#include <vector>

#include "test_thread.h"

namespace {

struct Handle {
    HANDLE h;
    explicit Handle(HANDLE handle) : h(handle) {}
    ~Handle() {
        if (h) CloseHandle(h);
    }
    operator HANDLE() const { return h; }
};

}  // namespace

TEST(Event, AutoResetWakesExactlyOneWaiterPerSet) {
    Handle event(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    std::atomic<int> woken{0};
    std::vector<std::unique_ptr<TestThread>> waiters;
    for (int i = 0; i < 3; ++i)
        waiters.push_back(std::make_unique<TestThread>([&] {
            const DWORD r = WaitForSingleObject(event, INFINITE);
            ++woken;
            return r;
        }));
    for (int expected = 1; expected <= 3; ++expected) {
        ASSERT_TRUE(SetEvent(event));
        ASSERT_TRUE(eventually([&] { return woken == expected; }));
        real_pause(30);
        EXPECT_EQ(woken, expected) << "one set woke more than one waiter";
        EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT) << "the wake did not reset the event";
    }
    waiters.clear();
}

TEST(Event, ManualResetWakesAllWaitersAndStaysSet) {
    Handle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    std::vector<std::unique_ptr<TestThread>> waiters;
    HANDLE threads[3];
    for (auto& t : threads) {
        waiters.push_back(std::make_unique<TestThread>([&] { return WaitForSingleObject(event, INFINITE); }));
        t = waiters.back()->handle();
    }
    ASSERT_TRUE(SetEvent(event));
    EXPECT_EQ(WaitForMultipleObjects(3, threads, TRUE, 5000), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    ASSERT_TRUE(ResetEvent(event));
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
}

TEST(Wait, TimedWaitReturnsTimeoutAfterItsTime) {
    Handle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    const DWORD start = GetTickCount();
    EXPECT_EQ(WaitForSingleObject(event, 40), WAIT_TIMEOUT);
    EXPECT_GE(GetTickCount() - start, 40u);
    HANDLE both[] = {event, event};
    EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 0), WAIT_TIMEOUT);
}

TEST(Wait, AnyTakesTheLowestSignalledIndex) {
    Handle autoA(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    Handle manualB(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    Handle autoC(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    HANDLE events[] = {autoA, manualB, autoC};
    SetEvent(manualB);
    SetEvent(autoC);
    EXPECT_EQ(WaitForMultipleObjects(3, events, FALSE, 0), WAIT_OBJECT_0 + 1);
    EXPECT_EQ(WaitForMultipleObjects(3, events, FALSE, 0), WAIT_OBJECT_0 + 1) << "manual reset must stay set";
    ResetEvent(manualB);
    EXPECT_EQ(WaitForMultipleObjects(3, events, FALSE, 0), WAIT_OBJECT_0 + 2);
    EXPECT_EQ(WaitForMultipleObjects(3, events, FALSE, 0), WAIT_TIMEOUT) << "auto reset must be consumed";
}

TEST(Wait, AllAcquiresEveryObjectAtOnceOrNone) {
    Handle autoA(CreateEventW(nullptr, FALSE, TRUE, nullptr));
    Handle manualB(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    HANDLE events[] = {autoA, manualB};
    EXPECT_EQ(WaitForMultipleObjects(2, events, TRUE, 0), WAIT_TIMEOUT);
    EXPECT_EQ(WaitForSingleObject(autoA, 0), WAIT_OBJECT_0) << "a failed wait-all consumed an auto-reset event";

    SetEvent(autoA);
    SetEvent(manualB);
    EXPECT_EQ(WaitForMultipleObjects(2, events, TRUE, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(autoA, 0), WAIT_TIMEOUT);
    EXPECT_EQ(WaitForSingleObject(manualB, 0), WAIT_OBJECT_0);
}

TEST(Wait, AllEndsWhenTheLastObjectIsSignalledByAnotherThread) {
    Handle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    Handle gate(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    TestThread thread([&] {
        WaitForSingleObject(gate, INFINITE);
        SetEvent(event);
        return DWORD{0};
    });
    HANDLE both[] = {event, thread.handle()};
    EXPECT_EQ(WaitForMultipleObjects(2, both, TRUE, 20), WAIT_TIMEOUT);
    SetEvent(gate);
    EXPECT_EQ(WaitForMultipleObjects(2, both, TRUE, INFINITE), WAIT_OBJECT_0);
}

TEST(Wait, RefusesBadArguments) {
    Handle event(CreateEventW(nullptr, TRUE, TRUE, nullptr));
    HANDLE closed = CreateEventW(nullptr, TRUE, TRUE, nullptr);
    ASSERT_TRUE(CloseHandle(closed));
    std::vector<HANDLE> many(MAXIMUM_WAIT_OBJECTS + 1, event.h);
    HANDLE twice[] = {event, event};
    HANDLE withClosed[] = {event, closed};
    HANDLE withNull[] = {event, nullptr};
    struct Case {
        const char* what;
        DWORD count;
        const HANDLE* handles;
        BOOL all;
        DWORD error;
    } cases[] = {
        {"no handles", 0, twice, FALSE, ERROR_INVALID_PARAMETER},
        {"too many handles", MAXIMUM_WAIT_OBJECTS + 1, many.data(), FALSE, ERROR_INVALID_PARAMETER},
        {"one handle twice in wait-all", 2, twice, TRUE, ERROR_INVALID_PARAMETER},
        {"a closed handle", 2, withClosed, FALSE, ERROR_INVALID_HANDLE},
        {"a null handle", 2, withNull, TRUE, ERROR_INVALID_HANDLE},
    };
    for (const auto& c : cases) {
        SetLastError(0);
        EXPECT_EQ(WaitForMultipleObjects(c.count, c.handles, c.all, 0), WAIT_FAILED) << c.what;
        EXPECT_EQ(GetLastError(), c.error) << c.what;
    }
    EXPECT_EQ(WaitForMultipleObjects(2, twice, FALSE, 0), WAIT_OBJECT_0) << "wait-any may name a handle twice";

    SetLastError(0);
    EXPECT_FALSE(CloseHandle(closed));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    SetLastError(0);
    EXPECT_FALSE(SetEvent(closed));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST(Event, NamedEventIsSharedWhileAHandleIsOpen) {
    const char16_t* name = u"sanprov-test-shared-event";
    HANDLE first = CreateEventW(nullptr, TRUE, FALSE, name);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);

    HANDLE second = CreateEventW(nullptr, FALSE, TRUE, name);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_NE(second, first);
    EXPECT_EQ(WaitForSingleObject(first, 0), WAIT_TIMEOUT) << "a second create must not change the state";
    SetEvent(second);
    EXPECT_EQ(WaitForSingleObject(first, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(first, 0), WAIT_OBJECT_0) << "the first create's manual reset holds";

    Handle unrelated(CreateEventW(nullptr, TRUE, FALSE, u"sanprov-test-SHARED-event"));
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS) << "names compare exactly";

    CloseHandle(first);
    HANDLE opened = OpenEventW(EVENT_ALL_ACCESS, FALSE, name);
    ASSERT_NE(opened, nullptr) << "the name is bound while a handle is open";
    EXPECT_EQ(WaitForSingleObject(opened, 0), WAIT_OBJECT_0);
    CloseHandle(second);
    CloseHandle(opened);

    SetLastError(0);
    EXPECT_EQ(OpenEventW(EVENT_ALL_ACCESS, FALSE, name), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    Handle fresh(CreateEventW(nullptr, TRUE, FALSE, name));
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    EXPECT_EQ(WaitForSingleObject(fresh, 0), WAIT_TIMEOUT);
}

TEST(Event, ClosingTheHandleAWaitUsesLeavesTheWaitIntact) {
    const char16_t* name = u"sanprov-test-closed-while-waited";
    HANDLE waited = CreateEventW(nullptr, TRUE, FALSE, name);
    Handle other(CreateEventW(nullptr, TRUE, FALSE, name));
    TestThread waiter([&] { return WaitForSingleObject(waited, INFINITE); });
    // Two handles and the probe make three references; the waiter holds a
    // fourth once its wait has begun.
    ASSERT_TRUE(eventually([&] { return platform::object_from_handle(waited).use_count() > 3; }));
    ASSERT_TRUE(CloseHandle(waited));
    SetEvent(other);
    ASSERT_EQ(WaitForSingleObject(waiter.handle(), 5000), WAIT_OBJECT_0);
    DWORD result = 0;
    GetExitCodeThread(waiter.handle(), &result);
    EXPECT_EQ(result, WAIT_OBJECT_0);
}

TEST(CriticalSection, IsRecursiveAndExcludesOtherThreads) {
    CRITICAL_SECTION section;
    InitializeCriticalSection(&section);
    auto triedElsewhere = [&] {
        TestThread other([&] {
            const BOOL got = TryEnterCriticalSection(&section);
            if (got) LeaveCriticalSection(&section);
            return static_cast<DWORD>(got);
        });
        WaitForSingleObject(other.handle(), INFINITE);
        DWORD got = 0;
        GetExitCodeThread(other.handle(), &got);
        return got != 0;
    };
    EnterCriticalSection(&section);
    EXPECT_TRUE(TryEnterCriticalSection(&section));
    EXPECT_FALSE(triedElsewhere());
    LeaveCriticalSection(&section);
    EXPECT_FALSE(triedElsewhere()) << "one leave of two entries freed the section";
    LeaveCriticalSection(&section);
    EXPECT_TRUE(triedElsewhere());
    DeleteCriticalSection(&section);
}

TEST(Interlocked, ChangesAreAtomicAndReturnTheWindowsValues) {
    LONG volatile counter = 0;
    {
        std::vector<std::unique_ptr<TestThread>> threads;
        for (int t = 0; t < 4; ++t)
            threads.push_back(std::make_unique<TestThread>([&] {
                for (int i = 0; i < 10000; ++i) {
                    InterlockedIncrement(&counter);
                    InterlockedIncrement(&counter);
                    InterlockedDecrement(&counter);
                }
                return DWORD{0};
            }));
    }
    EXPECT_EQ(counter, 40000);
    EXPECT_EQ(InterlockedIncrement(&counter), 40001);
    EXPECT_EQ(InterlockedDecrement(&counter), 40000);
    EXPECT_EQ(InterlockedExchange(&counter, 7), 40000);
    EXPECT_EQ(InterlockedCompareExchange(&counter, 9, 8), 7);
    EXPECT_EQ(counter, 7);
    EXPECT_EQ(InterlockedCompareExchange(&counter, 9, 7), 7);
    EXPECT_EQ(counter, 9);
}
