#pragma once
// The work queue of one subsystem: items queued by COM threads (with the San
// lock held) and run one at a time, in queue order, on the worker thread.
#include <model/async.h>
#include <model/zarvo_work.h>

#include <hostlib/autodtor.h>
#include <platform/critical_section.h>
#include <platform/guid.h>

#include <atomic>
#include <list>

// One queued operation.
struct WorkItem {
    int32_t type = 0;            // ZarvoWorkType
    int32_t value = 0;           // the San's delay: expected duration (ms) of the progress estimate
    ZarvoWork* work = nullptr;   // not owned
    Async* async = nullptr;      // one reference held, or null
    GUID id{};                   // the object the work acts on; all zero when none
};

// What the worker runs each item through: the San that owns the queue
// (ZarvoSan::DoWork validates the item's object and runs it under the San lock).
class WorkOwner {
public:
    virtual HRESULT DoWork(WorkItem& item) = 0;

protected:
    ~WorkOwner() = default;
};

class ZarvoWorkerThread {
public:
    enum State : int32_t { Stopped = 0, Running = 1, Stopping = 2 };

    explicit ZarvoWorkerThread(WorkOwner* owner);
    // Drains the queue, stops and joins the thread, and completes every item
    // still queued with 0x8004241F.
    ~ZarvoWorkerThread();
    ZarvoWorkerThread(const ZarvoWorkerThread&) = delete;
    ZarvoWorkerThread& operator=(const ZarvoWorkerThread&) = delete;

    // Starts the thread; the system error as an HRESULT when it cannot.
    HRESULT Init();
    // Appends an item, taking a reference on the async. E_UNEXPECTED (and the
    // reference given back) when the worker does not run or the append fails.
    HRESULT QueueWork(int32_t type, int32_t value, ZarvoWork* work, Async* async, const GUID& id);
    HRESULT QueueWork(int32_t type, int32_t value, ZarvoWork* work, Async* async);
    // Waits until the queue is empty or the worker no longer runs.
    void Drain();

    static unsigned ThreadEntry(void* worker);
    HRESULT Worker();

    State GetState();
    size_t GetCount();

private:
    HRESULT RunItem(WorkItem& item);

    std::atomic<int32_t> m_state{Stopped};
    CRITICAL_SECTION m_lock;
    std::list<WorkItem> m_queue;
    size_t m_count = 0;
    WorkOwner* m_pOwner;
    CHandle m_hThread;
};
