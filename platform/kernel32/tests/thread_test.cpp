#include <platform/event.h>
#include <platform/handle.h>
#include <platform/thread.h>

#include <gtest/gtest.h>

#include <atomic>

#include <unistd.h>

#include "test_thread.h"

namespace {

struct GatedRun {
    HANDLE gate;
    DWORD seenId = 0;
    std::atomic<int>* ended = nullptr;  // counts procedures that have returned
};

DWORD gated_procedure(LPVOID parameter) {
    auto* run = static_cast<GatedRun*>(parameter);
    run->seenId = GetCurrentThreadId();
    WaitForSingleObject(run->gate, INFINITE);
    if (run->ended) ++*run->ended;
    return 42;
}

unsigned gated_runtime_procedure(void* parameter) { return gated_procedure(parameter); }

using Starter = HANDLE (*)(GatedRun& run, DWORD& id);

HANDLE start_with_create_thread(GatedRun& run, DWORD& id) { return CreateThread(nullptr, 0, gated_procedure, &run, 0, &id); }

HANDLE start_with_beginthreadex(GatedRun& run, DWORD& id) {
    unsigned runtimeId = 0;
    const uintptr_t thread = _beginthreadex(nullptr, 0, gated_runtime_procedure, &run, 0, &runtimeId);
    id = runtimeId;
    return reinterpret_cast<HANDLE>(thread);
}

}  // namespace

TEST(Thread, HandleIsSignalledAtExitWithTheExitCode) {
    for (Starter start : {start_with_create_thread, start_with_beginthreadex}) {
        GatedRun run{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
        DWORD id = 0;
        HANDLE thread = start(run, id);
        ASSERT_NE(thread, nullptr);
        EXPECT_NE(id, 0u);
        EXPECT_NE(id, GetCurrentThreadId());

        DWORD code = 0;
        ASSERT_TRUE(GetExitCodeThread(thread, &code));
        EXPECT_EQ(code, STILL_ACTIVE);
        EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_TIMEOUT);

        SetEvent(run.gate);
        ASSERT_EQ(WaitForSingleObject(thread, 5000), WAIT_OBJECT_0);
        EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_OBJECT_0) << "a thread handle stays signalled";
        ASSERT_TRUE(GetExitCodeThread(thread, &code));
        EXPECT_EQ(code, 42u);
        EXPECT_EQ(run.seenId, id) << "the id handed out is the one the thread sees";
        CloseHandle(thread);
        CloseHandle(run.gate);
    }
    EXPECT_EQ(GetCurrentProcessId(), static_cast<DWORD>(getpid()));
}

TEST(Thread, ClosingTheHandleBeforeTheThreadEndsIsSafe) {
    // The threads outlive every handle on them; each ends on its own.
    HANDLE gate = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::atomic<int> ended{0};
    HANDLE threads[20];
    GatedRun runs[20];
    for (int i = 0; i < 20; ++i) {
        runs[i].gate = gate;
        runs[i].ended = &ended;
        threads[i] = CreateThread(nullptr, 0, gated_procedure, &runs[i], 0, nullptr);
        ASSERT_NE(threads[i], nullptr);
    }
    // Half the handles go while their threads still run, half after.
    for (int i = 0; i < 20; i += 2) ASSERT_TRUE(CloseHandle(threads[i]));
    SetEvent(gate);
    for (int i = 1; i < 20; i += 2) {
        EXPECT_EQ(WaitForSingleObject(threads[i], 5000), WAIT_OBJECT_0);
        CloseHandle(threads[i]);
    }
    ASSERT_TRUE(eventually([&] { return ended == 20; }));
    SetLastError(0);
    DWORD code = 0;
    EXPECT_FALSE(GetExitCodeThread(threads[0], &code));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    CloseHandle(gate);
}

TEST(Thread, CreationFailuresReportTheirError) {
    GatedRun run{CreateEventW(nullptr, TRUE, TRUE, nullptr)};
    SetLastError(0);
    EXPECT_EQ(CreateThread(nullptr, 0, gated_procedure, &run, CREATE_SUSPENDED, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);

    platform::fail_next_thread_creation(ERROR_NOT_ENOUGH_MEMORY);
    SetLastError(0);
    unsigned id = 7;
    EXPECT_EQ(_beginthreadex(nullptr, 0, gated_runtime_procedure, &run, 0, &id), 0u);
    EXPECT_EQ(GetLastError(), ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(id, 7u) << "a failed start leaves the id alone";

    HANDLE thread = CreateThread(nullptr, 0, gated_procedure, &run, 0, nullptr);
    ASSERT_NE(thread, nullptr) << "the failure is one shot";
    EXPECT_EQ(WaitForSingleObject(thread, 5000), WAIT_OBJECT_0);
    CloseHandle(thread);
    CloseHandle(run.gate);
}
