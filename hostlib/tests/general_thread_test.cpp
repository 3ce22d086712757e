#include <hostlib/autolock.h>
#include <hostlib/general_thread.h>
#include <hostlib/owned_ptr.h>
#include <hostlib/trace.h>

#include <platform/clock.h>
#include <platform/handle.h>
#include <platform/thread.h>

#include <gtest/gtest.h>

#include <atomic>

namespace {

// An owner as the provider and each subsystem are: its thread waits for the
// stop event, then clears the running flag.
struct Owner {
    CGeneralThread thread;
    std::atomic<int> passes{0};
    std::atomic<DWORD> lastWait{WAIT_FAILED};

    static unsigned Entry(void* argument) {
        auto* self = static_cast<Owner*>(argument);
        self->passes++;
        self->lastWait = WaitForSingleObject(self->thread.m_hStopEvent, INFINITE);
        self->thread.ThreadFinished();
        return 0;
    }

    // Signal, then poll the flag as the owners do.
    bool Stop() {
        thread.SignalStop();
        for (int i = 0; i < 300; ++i) {
            if (!thread.IsRunning()) return true;
            Sleep(10);
        }
        return false;
    }
};

}  // namespace

TEST(GeneralThread, RestartAfterStopGetsAFreshUnsignalledEvent) {
    Owner owner;
    ASSERT_EQ(owner.thread.Start(&Owner::Entry, &owner, u"restart-event"), S_OK);
    ASSERT_TRUE(owner.Stop());
    EXPECT_EQ(owner.lastWait.load(), WAIT_OBJECT_0);

    owner.lastWait = WAIT_FAILED;
    ASSERT_EQ(owner.thread.Start(&Owner::Entry, &owner, u"restart-event"), S_OK);
    while (owner.passes.load() < 2) Sleep(1);
    // The new thread is waiting, not ended by the old stop signal.
    EXPECT_EQ(WaitForSingleObject(owner.thread.m_hThread.get(), 100), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_TRUE(owner.thread.IsRunning());
    ASSERT_TRUE(owner.Stop());
}

TEST(GeneralThread, StartWhileRunningReusesTheThread) {
    Owner owner;
    ASSERT_EQ(owner.thread.Start(&Owner::Entry, &owner, u"reuse-event"), S_OK);
    const HANDLE event = owner.thread.m_hStopEvent;
    const DWORD id = owner.thread.m_dwThreadId;
    EXPECT_EQ(owner.thread.Start(&Owner::Entry, &owner, u"reuse-event"), S_OK);
    EXPECT_EQ(owner.thread.m_hStopEvent, event);
    EXPECT_EQ(owner.thread.m_dwThreadId, id);
    ASSERT_TRUE(owner.Stop());
    EXPECT_EQ(owner.passes.load(), 1);
}

TEST(GeneralThread, FailedThreadCreationIsAFailure) {
    const struct {
        DWORD error;  // 0: the failure leaves no error code
        HRESULT expected;
    } cases[] = {{ERROR_NOT_ENOUGH_MEMORY, static_cast<HRESULT>(0x80070008)}, {0, E_FAIL}};
    for (const auto& c : cases) {
        Owner owner;
        if (c.error) platform::fail_next_thread_creation(c.error);
        else platform::fail_next_thread_creation_without_error();
        EXPECT_EQ(owner.thread.Start(&Owner::Entry, &owner, u"failing-event"), c.expected) << c.error;
        EXPECT_FALSE(owner.thread.IsRunning());
        EXPECT_EQ(owner.passes.load(), 0);
    }
}

TEST(GeneralThread, DestructionJoinsAThreadTheOwnerStoppedWaitingFor) {
    std::atomic<bool> finished{false};
    struct Slow {
        CGeneralThread* thread;
        std::atomic<bool>* finished;
        static unsigned Entry(void* argument) {
            auto* self = static_cast<Slow*>(argument);
            WaitForSingleObject(self->thread->m_hStopEvent, INFINITE);
            Sleep(50);  // still finishing when the owner gives up
            self->thread->ThreadFinished();
            *self->finished = true;
            return 0;
        }
    };
    {
        CGeneralThread thread;
        Slow slow{&thread, &finished};
        ASSERT_EQ(thread.Start(&Slow::Entry, &slow, nullptr), S_OK);
        thread.SignalStop();
    }
    EXPECT_TRUE(finished.load());
}

TEST(AutoLock, LockAndUnlockTraceMisuseAndNeverNest) {
    CRITICAL_SECTION section;
    InitializeCriticalSection(&section);
    {
        AutoLock lock(&section);
        lock.Lock();  // traced, not entered again
        lock.Unlock();
        // One Unlock freed it: another thread can take it now.
        std::atomic<bool> taken{false};
        std::pair<CRITICAL_SECTION*, std::atomic<bool>*> args{&section, &taken};
        HANDLE other = reinterpret_cast<HANDLE>(_beginthreadex(
            nullptr, 0,
            [](void* p) -> unsigned {
                auto* pair = static_cast<std::pair<CRITICAL_SECTION*, std::atomic<bool>*>*>(p);
                CCriticalSectionHolder hold(pair->first);
                *pair->second = true;
                return 0;
            },
            &args, 0, nullptr));
        ASSERT_NE(other, nullptr);
        EXPECT_EQ(WaitForSingleObject(other, 5000), WAIT_OBJECT_0);
        CloseHandle(other);
        EXPECT_TRUE(taken.load());
        lock.Unlock();  // traced only
    }
    DeleteCriticalSection(&section);
}

TEST(OwnedPtr, ReleaseHandsOverAndEmptyUseIsAsserted) {
    struct Counted {
        explicit Counted(int* c) : count(c) {}
        virtual ~Counted() { ++*count; }
        int* count;
    };
    int deleted = 0;
    Counted* raw = nullptr;
    {
        owned_ptr<Counted> p(new Counted(&deleted));
        raw = p.release();
        EXPECT_FALSE(p);
        EXPECT_TRUE(!p);
    }
    EXPECT_EQ(deleted, 0);
    { owned_ptr<Counted> p(raw); }
    EXPECT_EQ(deleted, 1);

    owned_buffer<char> buffer(static_cast<char*>(std::malloc(16)));
    EXPECT_TRUE(buffer);
    owned_ptr<Counted> empty;
    EXPECT_EQ(empty.operator->(), nullptr);

    // Moving one holder into another frees what the target held, once.
    owned_ptr<Counted> a(new Counted(&deleted)), b(new Counted(&deleted));
    a = std::move(b);
    EXPECT_EQ(deleted, 2);
#if defined(__clang__)
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wself-move"  // moving a holder into itself is the case tested
#endif
    a = std::move(a);
#if defined(__clang__)
#pragma clang diagnostic pop
#endif
    EXPECT_TRUE(a);
}
