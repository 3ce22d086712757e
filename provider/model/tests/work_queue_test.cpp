#include <model/work_queue.h>
#include <model/zarvo_san.h>

#include <gtest/gtest.h>

#include <platform/clock.h>
#include <platform/event.h>
#include <platform/handle.h>
#include <platform/thread.h>
#include <platform/vds.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <vector>

#include "container_test_support.h"

namespace {

// A completion object that only counts its references.
class CountingAsync : public Async {
public:
    HRESULT Cancel() override { return S_OK; }
    HRESULT Wait(HRESULT*, GUID*) override { return S_OK; }
    HRESULT QueryStatus(HRESULT*, ULONG*) override { return S_OK; }
    void AddRef() override { ++refs; }
    void Release() override { --refs; }
    std::atomic<int> refs{1};
};

// Work whose body the test gives; it completes its async as the work objects do.
class TestWork : public ZarvoWork {
public:
    explicit TestWork(std::function<HRESULT(int32_t)> body) : m_body(std::move(body)) {}
    HRESULT DoWork(int32_t type, int32_t /*value*/, Async* async) override {
        const HRESULT result = m_body(type);
        if (auto* zarvo = dynamic_cast<ZarvoAsync*>(async)) {
            zarvo->SetResult(result);
            zarvo->WakeUp();
            zarvo->Release();
        }
        return result;
    }

private:
    std::function<HRESULT(int32_t)> m_body;
};

// Runs each item straight on its work, as a San does for a live object.
class DirectOwner : public WorkOwner {
public:
    HRESULT DoWork(WorkItem& item) override { return item.work->DoWork(item.type, item.value, item.async); }
};

HRESULT wait_result(ZarvoAsync* async) {
    HRESULT result = S_OK;
    GUID id{};
    async->Wait(&result, &id);
    return result;
}

struct Gate {
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ~Gate() { CloseHandle(event); }
    void open() { SetEvent(event); }
    void wait() { WaitForSingleObject(event, INFINITE); }
};

class WorkQueueTest : public ::testing::Test {
protected:
    platform::ScopedFakeClock clock;  // the 200 ms polls cost nothing
    DirectOwner owner;
};

}  // namespace

TEST_F(WorkQueueTest, ItemsRunOneAtATimeInQueueOrderAndStayQueuedWhileTheyRun) {
    std::mutex lock;
    std::vector<int32_t> order;
    Gate firstStarted, releaseFirst;
    TestWork work([&](int32_t type) {
        if (type == LUN_CREATE) {
            firstStarted.open();
            releaseFirst.wait();
        }
        std::lock_guard hold(lock);
        order.push_back(type);
        return S_OK;
    });
    ZarvoWorkerThread worker(&owner);
    ASSERT_EQ(worker.Init(), S_OK);
    ASSERT_EQ(worker.QueueWork(LUN_CREATE, 3000, &work, nullptr), S_OK);
    firstStarted.wait();
    ASSERT_EQ(worker.QueueWork(LUN_ATTACH_STORAGE, 3000, &work, nullptr), S_OK);
    ASSERT_EQ(worker.QueueWork(LUN_EXTEND, 3000, &work, nullptr), S_OK);
    EXPECT_EQ(worker.GetCount(), 3u);  // the running item is still counted
    {
        std::lock_guard hold(lock);
        EXPECT_TRUE(order.empty());
    }
    releaseFirst.open();
    worker.Drain();
    EXPECT_EQ(worker.GetCount(), 0u);
    std::lock_guard hold(lock);
    EXPECT_EQ(order, (std::vector<int32_t>{LUN_CREATE, LUN_ATTACH_STORAGE, LUN_EXTEND}));
}

TEST_F(WorkQueueTest, QueueingTakesAReferenceThatTheWorkGivesBack) {
    ZarvoWorkerThread worker(&owner);
    ASSERT_EQ(worker.Init(), S_OK);
    auto* async = new ZarvoAsync;
    TestWork work([](int32_t) { return VDS_E_NOT_ENOUGH_SPACE; });
    ASSERT_EQ(worker.QueueWork(LUN_EXTEND, 3000, &work, async), S_OK);
    EXPECT_EQ(wait_result(async), VDS_E_NOT_ENOUGH_SPACE);
    worker.Drain();
    async->Release();  // the last reference: ASan sees a leak or a double free otherwise
}

TEST_F(WorkQueueTest, AWorkerThatIsNotRunningRefusesWorkAndKeepsNoReference) {
    CountingAsync async;
    TestWork work([](int32_t) { return S_OK; });
    {
        ZarvoWorkerThread notStarted(&owner);
        EXPECT_EQ(notStarted.QueueWork(DELAY, 3000, &work, &async), E_UNEXPECTED);
        EXPECT_EQ(async.refs, 1);
        notStarted.Drain();  // nothing to wait for
    }
    struct Case {
        std::function<void()> failThreadCreation;
        HRESULT init;
    };
    const Case cases[] = {
        {[] { platform::fail_next_thread_creation(ERROR_NOT_ENOUGH_MEMORY); },
         HRESULT_FROM_WIN32(ERROR_NOT_ENOUGH_MEMORY)},
        {[] { platform::fail_next_thread_creation_without_error(); }, E_FAIL},
    };
    for (const Case& c : cases) {
        ZarvoWorkerThread worker(&owner);
        c.failThreadCreation();
        EXPECT_EQ(worker.Init(), c.init);
        EXPECT_EQ(worker.GetState(), ZarvoWorkerThread::Stopped);
        EXPECT_EQ(worker.QueueWork(DELAY, 3000, &work, &async, GUID_NULL), E_UNEXPECTED);
        EXPECT_EQ(async.refs, 1);
    }
}

TEST_F(WorkQueueTest, AnItemThatThrowsCompletesWithEUnexpectedAndTheWorkerGoesOn) {
    ZarvoWorkerThread worker(&owner);
    ASSERT_EQ(worker.Init(), S_OK);
    auto* failing = new ZarvoAsync;
    auto* next = new ZarvoAsync;
    TestWork thrower([](int32_t) -> HRESULT { throw std::runtime_error("appliance gone"); });
    TestWork fine([](int32_t) { return S_OK; });
    ASSERT_EQ(worker.QueueWork(LUN_CREATE, 3000, &thrower, failing), S_OK);
    ASSERT_EQ(worker.QueueWork(DELAY, 3000, &fine, next), S_OK);
    EXPECT_EQ(wait_result(failing), E_UNEXPECTED);
    EXPECT_EQ(wait_result(next), S_OK);
    worker.Drain();
    EXPECT_EQ(worker.GetState(), ZarvoWorkerThread::Running);
    failing->Release();
    next->Release();
}

TEST_F(WorkQueueTest, DestroyingTheWorkerRunsWhatIsQueuedFirstThenJoinsIt) {
    std::atomic<int> ran{0};
    TestWork work([&](int32_t) {
        ++ran;
        return S_OK;
    });
    auto* async = new ZarvoAsync;
    {
        ZarvoWorkerThread worker(&owner);
        ASSERT_EQ(worker.Init(), S_OK);
        for (int i = 0; i < 5; ++i) ASSERT_EQ(worker.QueueWork(DELAY, 3000, &work, i == 4 ? async : nullptr), S_OK);
    }
    EXPECT_EQ(ran, 5);
    EXPECT_EQ(wait_result(async), S_OK);
    async->Release();
}

TEST_F(WorkQueueTest, QueueingFromManyThreadsLosesNothing) {
    std::atomic<int> ran{0};
    TestWork work([&](int32_t) {
        ++ran;
        return S_OK;
    });
    ZarvoWorkerThread worker(&owner);
    ASSERT_EQ(worker.Init(), S_OK);
    std::vector<std::thread> producers;
    for (int t = 0; t < 4; ++t)
        producers.emplace_back([&] {
            for (int i = 0; i < 25; ++i) worker.QueueWork(DELAY, 3000, &work, nullptr);
        });
    for (auto& p : producers) p.join();
    worker.Drain();
    EXPECT_EQ(ran, 100);
}

// The San runs an item only while its object lives.
TEST_F(WorkQueueTest, TheSanCompletesAnItemWhoseObjectIsGoneWithoutRunningIt) {
    ZarvoSan san;
    bool ran = false;
    TestWork work([&](int32_t) {
        ran = true;
        return S_OK;
    });
    EXPECT_EQ(san.QueueWork(LUN_DELETE_DETACHED, 3000, &work, nullptr), E_UNEXPECTED);  // no worker before a refresh

    auto* async = new ZarvoAsync;
    async->AddRef();  // the queue's reference
    WorkItem gone{LUN_DELETE_DETACHED, 3000, &work, async, GUID{1, 2, 3, {4}}};
    EXPECT_EQ(san.DoWork(gone), VDS_E_OBJECT_DELETED);
    EXPECT_FALSE(ran);
    EXPECT_EQ(gone.async, nullptr);
    EXPECT_EQ(wait_result(async), VDS_E_OBJECT_DELETED);
    async->Release();

    // Creating a portal group names no object and is not validated.
    WorkItem create{TARGET_CREATE_PORTALGROUP, 3000, &work, nullptr, GUID_NULL};
    EXPECT_EQ(san.DoWork(create), S_OK);
    EXPECT_TRUE(ran);
}

// A failure code reads in the trace as its eight hexadecimal digits.
TEST_F(WorkQueueTest, ReturnedFailureCodesAreTracedAsThirtyTwoBits) {
    container_test::TraceCapture trace;
    TestWork work([](int32_t) { return VDS_E_NOT_ENOUGH_SPACE; });
    {
        ZarvoWorkerThread worker(&owner);
        ASSERT_EQ(worker.Init(), S_OK);
        ASSERT_EQ(worker.QueueWork(LUN_EXTEND, 3000, &work, nullptr), S_OK);
    }
    ZarvoSan san;
    WorkItem gone{LUN_DELETE_DETACHED, 3000, &work, nullptr, GUID{1, 2, 3, {4}}};
    EXPECT_EQ(san.DoWork(gone), VDS_E_OBJECT_DELETED);

    const struct {
        const char* prefix;
        const char* line;
    } cases[] = {
        {"ZarvoWorkerThread::Worker(): returning", "ZarvoWorkerThread::Worker(): returning 8004240F"},
        {"ZarvoSan::DoWork(): returning", "ZarvoSan::DoWork(): returning 8004241F"},
    };
    for (const auto& c : cases) EXPECT_EQ(trace.starting(c.prefix), std::vector<std::string>{c.line});
}
