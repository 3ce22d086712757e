#include <platform/clock.h>
#include <platform/errors.h>
#include <platform/event.h>
#include <platform/handle.h>
#include <platform/thread.h>
#include <platform/winuser.h>

#include <deque>
#include <map>
#include <memory>
#include <mutex>

namespace {

struct Timer {
    UINT elapse;
    TIMERPROC proc;
    ULONGLONG due;
};

struct Queue {
    Queue() : wake(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}
    ~Queue() { CloseHandle(wake); }
    std::deque<MSG> messages;
    std::map<UINT_PTR, Timer> timers;
    HANDLE wake;
};

std::mutex g_lock;
UINT_PTR g_nextTimer = 1;

// Never destroyed: threads may post while the process exits.
std::map<DWORD, std::unique_ptr<Queue>>& queues() {
    static auto* q = new std::map<DWORD, std::unique_ptr<Queue>>;
    return *q;
}

Queue& queue_of(DWORD thread) {
    auto& q = queues()[thread];
    if (!q) q = std::make_unique<Queue>();
    return *q;
}

}  // namespace

BOOL PostThreadMessageW(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam) {
    std::lock_guard lock(g_lock);
    Queue& q = queue_of(threadId);
    q.messages.push_back({nullptr, message, wParam, lParam, GetTickCount()});
    SetEvent(q.wake);
    return TRUE;
}

BOOL GetMessageW(MSG* msg, HWND hwnd, UINT filterMin, UINT filterMax) {
    if (!msg || hwnd || filterMin || filterMax) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    for (;;) {
        HANDLE wake = nullptr;
        DWORD wait = INFINITE;
        {
            std::lock_guard lock(g_lock);
            Queue& q = queue_of(GetCurrentThreadId());
            if (!q.messages.empty()) {
                *msg = q.messages.front();
                q.messages.pop_front();
                return msg->message != WM_QUIT;
            }
            const ULONGLONG now = GetTickCount64();
            for (auto& [id, t] : q.timers) {
                if (t.due <= now) {
                    t.due = now + t.elapse;
                    *msg = {nullptr, WM_TIMER, id, reinterpret_cast<LPARAM>(t.proc), static_cast<DWORD>(now)};
                    return TRUE;
                }
                wait = std::min<ULONGLONG>(wait, t.due - now);
            }
            wake = q.wake;
        }
        WaitForSingleObject(wake, wait);
    }
}

LRESULT DispatchMessageW(const MSG* msg) {
    if (msg && msg->message == WM_TIMER && msg->lParam)
        reinterpret_cast<TIMERPROC>(msg->lParam)(nullptr, WM_TIMER, msg->wParam, msg->time);
    return 0;
}

UINT_PTR SetTimer(HWND hwnd, UINT_PTR, UINT elapse, TIMERPROC proc) {
    if (hwnd) return 0;
    std::lock_guard lock(g_lock);
    Queue& q = queue_of(GetCurrentThreadId());
    const UINT_PTR id = g_nextTimer++;
    q.timers[id] = {elapse, proc, GetTickCount64() + elapse};
    SetEvent(q.wake);
    return id;
}

BOOL KillTimer(HWND, UINT_PTR id) {
    std::lock_guard lock(g_lock);
    return queue_of(GetCurrentThreadId()).timers.erase(id) ? TRUE : FALSE;
}
