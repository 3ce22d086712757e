#include <model/work_queue.h>

#include <hostlib/autolock.h>
#include <hostlib/conversions.h>
#include <hostlib/trace.h>
#include <platform/clock.h>
#include <platform/handle.h>
#include <platform/thread.h>
#include <platform/vds.h>

namespace {

constexpr DWORD kPollMs = 200;

// Completes an item that will never run: its waiter sees `result`.
void complete_unrun(WorkItem& item, HRESULT result) {
    if (!item.async) return;
    if (auto* async = dynamic_cast<ZarvoAsync*>(item.async)) {
        async->SetResult(result);
        async->WakeUp();
    }
    item.async->Release();
    item.async = nullptr;
}

}  // namespace

ZarvoWorkerThread::ZarvoWorkerThread(WorkOwner* owner) : m_pOwner(owner) {
    trace_printf("ZarvoWorkerThread::ZarvoWorkerThread");
    InitializeCriticalSection(&m_lock);
}

ZarvoWorkerThread::~ZarvoWorkerThread() {
    TraceScope scope("ZarvoWorkerThread::~ZarvoWorkerThread");
    if (m_state.load() == Running) {
        Drain();
        AutoLock lock(&m_lock);
        if (m_state.load() == Running) m_state.store(Stopping);
        while (m_state.load() != Stopped) {
            lock.Unlock();
            Sleep(0);
            lock.Lock();
        }
    }
    // The thread is joined before the queue and the lock go.
    if (m_hThread.valid()) WaitForSingleObject(m_hThread.get(), INFINITE);
    // Items left behind by a worker that ended early still owe their waiters a result.
    for (WorkItem& item : m_queue) complete_unrun(item, VDS_E_OBJECT_DELETED);
    m_queue.clear();
    m_count = 0;
    DeleteCriticalSection(&m_lock);
    trace_printf("ZarvoWorkerThread::~ZarvoWorkerThread(): returning %08lX", trace_code(S_OK));
}

HRESULT ZarvoWorkerThread::Init() {
    TraceScope scope("ZarvoWorkerThread::Init");
    try {
        if (m_state.load() == Running) return S_OK;
        if (m_hThread.valid()) WaitForSingleObject(m_hThread.get(), INFINITE);  // a loop that has ended
        m_hThread = INVALID_HANDLE_VALUE;
        m_state.store(Running);
        const uintptr_t thread = _beginthreadex(nullptr, 0, &ZarvoWorkerThread::ThreadEntry, this, 0, nullptr);
        if (!thread) {
            m_state.store(Stopped);
            const DWORD error = GetLastError();
            // A failure without an error code must not read as success.
            return error ? HRESULT_FROM_WIN32(error) : E_FAIL;
        }
        m_hThread = reinterpret_cast<HANDLE>(thread);
        return S_OK;
    } catch (...) {
        trace_printf("ZarvoWorkerThread::Init(): %s", "caught exception");
        m_state.store(Stopped);
        return E_FAIL;
    }
}

HRESULT ZarvoWorkerThread::QueueWork(int32_t type, int32_t value, ZarvoWork* work, Async* async, const GUID& id) {
    TraceScope scope("ZarvoWorkerThread::QueueWork");
    if (async) async->AddRef();
    bool queued = false;
    try {
        trace_printf("A new work added type %d , value(delay) %d", type, value);
        AutoLock lock(&m_lock);
        if (m_state.load() == Running) {
            m_queue.push_back(WorkItem{type, value, work, async, id});
            ++m_count;
            queued = true;
            trace_printf("Items in the work Queue, # of items in queue  %d ", static_cast<int>(m_count));
        } else {
            trace_printf("ZarvoWorkerThread::QueueWork(): %s", "the worker is not running");
        }
    } catch (...) {
        trace_printf("ZarvoWorkerThread::QueueWork(): %s", "caught exception");
    }
    if (queued) return S_OK;
    if (async) async->Release();  // the item that would have held it does not exist
    return E_UNEXPECTED;
}

HRESULT ZarvoWorkerThread::QueueWork(int32_t type, int32_t value, ZarvoWork* work, Async* async) {
    return QueueWork(type, value, work, async, GUID_NULL);
}

void ZarvoWorkerThread::Drain() {
    TraceScope scope("ZarvoWorkerThread::Drain");
    AutoLock lock(&m_lock);
    while (m_state.load() == Running && !m_queue.empty()) {
        lock.Unlock();
        Sleep(0);
        lock.Lock();
    }
    trace_printf("ZarvoWorkerThread::Drain(): returning %08lX", trace_code(S_OK));
}

unsigned ZarvoWorkerThread::ThreadEntry(void* worker) {
    return static_cast<unsigned>(static_cast<ZarvoWorkerThread*>(worker)->Worker());
}

HRESULT ZarvoWorkerThread::Worker() {
    TraceScope scope("ZarvoWorkerThread::Worker");
    AutoLock lock(&m_lock);
    HRESULT result = S_OK;
    while (m_state.load() == Running) {
        while (m_queue.empty() && m_state.load() == Running) {
            lock.Unlock();
            Sleep(kPollMs);
            lock.Lock();
        }
        if (m_state.load() != Running) break;  // stopping: the head of an empty queue is never read

        // The item stays at the head while it runs, so a drain waits for it.
        WorkItem item = m_queue.front();
        lock.Unlock();
        trace_printf("retrieving work  object, operation type %d , Object Id %s", item.type,
                     GuidToString(item.id).c_str());
        result = RunItem(item);
        trace_printf("A work is completed Result %08lx ", trace_code(result));
        lock.Lock();
        m_queue.pop_front();
        --m_count;
    }
    m_state.store(Stopped);
    // Through 32 bits first: a failure code widened with its sign would print 16 digits.
    trace_printf("ZarvoWorkerThread::Worker(): returning %08lX", trace_code(result));
    return result;
}

HRESULT ZarvoWorkerThread::RunItem(WorkItem& item) {
    // A reference of the worker's own keeps the async alive to complete it
    // should the work fail by an exception.
    Async* const async = item.async;
    if (async) async->AddRef();
    HRESULT result;
    {
        // The work tells what it waits for through the item's async, which
        // others find on the board of running work until this scope ends:
        // the worker's own reference outlives its place there.
        const ZarvoAsync::Running running(async, item.id);
        try {
            result = m_pOwner->DoWork(item);
        } catch (...) {
            trace_unexpected_exception("ZarvoWorkerThread::Worker");
            result = E_UNEXPECTED;
            auto* zarvoAsync = dynamic_cast<ZarvoAsync*>(async);
            if (zarvoAsync && !zarvoAsync->IsCompleted()) {
                zarvoAsync->SetResult(E_UNEXPECTED);
                zarvoAsync->WakeUp();
                zarvoAsync->Release();  // the item's reference, which the work never gave up
            }
        }
    }
    if (async) async->Release();
    return result;
}

ZarvoWorkerThread::State ZarvoWorkerThread::GetState() { return static_cast<State>(m_state.load()); }

size_t ZarvoWorkerThread::GetCount() {
    AutoLock lock(&m_lock);
    return m_count;
}
