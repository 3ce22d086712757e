#include <platform/errors.h>
#include <platform/handle.h>
#include <platform/thread.h>

#include <atomic>
#include <condition_variable>
#include <system_error>
#include <thread>

#include <sys/syscall.h>
#include <unistd.h>

namespace {

std::atomic<DWORD> g_nextCreationFailure{ERROR_SUCCESS};
std::atomic<bool> g_nextCreationFailsSilently{false};

class ThreadObject final : public platform::KernelObject, public std::enable_shared_from_this<ThreadObject> {
public:
    ~ThreadObject() override {
        if (!m_thread.joinable()) return;
        // The thread drops its own reference last when every handle was closed
        // before it ended: it cannot join itself, and it touches nothing of
        // this object afterwards.
        if (m_thread.get_id() == std::this_thread::get_id())
            m_thread.detach();
        else
            m_thread.join();
    }

    // Starts the thread and waits until it has its id. Throws std::system_error.
    DWORD start(LPTHREAD_START_ROUTINE procedure, LPVOID parameter) {
        m_thread = std::thread(&ThreadObject::run, shared_from_this(), procedure, parameter);
        auto lock = platform::wait_lock();
        while (m_id == 0) m_idKnown.wait(lock);
        return m_id;
    }

    bool signalled() const override { return m_ended; }

    DWORD exit_code() {
        auto lock = platform::wait_lock();
        return m_ended ? m_exitCode : STILL_ACTIVE;
    }

private:
    static void run(std::shared_ptr<ThreadObject> self, LPTHREAD_START_ROUTINE procedure, LPVOID parameter) {
        {
            auto lock = platform::wait_lock();
            self->m_id = GetCurrentThreadId();
            self->m_idKnown.notify_all();
        }
        const DWORD code = procedure(parameter);
        {
            auto lock = platform::wait_lock();
            self->m_exitCode = code;
            self->m_ended = true;
            platform::notify_waiters();
        }
        self.reset();
    }

    std::thread m_thread;
    std::condition_variable m_idKnown;
    // Guarded by the wait lock.
    DWORD m_id = 0;
    DWORD m_exitCode = STILL_ACTIVE;
    bool m_ended = false;
};

}  // namespace

HANDLE CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE start, LPVOID parameter, DWORD creationFlags,
                    LPDWORD threadId) {
    if (!start || (creationFlags & ~STACK_SIZE_PARAM_IS_A_RESERVATION) != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (const DWORD error = g_nextCreationFailure.exchange(ERROR_SUCCESS); error != ERROR_SUCCESS) {
        SetLastError(error);
        return nullptr;
    }
    if (g_nextCreationFailsSilently.exchange(false)) {
        SetLastError(ERROR_SUCCESS);
        return nullptr;
    }
    auto thread = std::make_shared<ThreadObject>();
    DWORD id = 0;
    try {
        id = thread->start(start, parameter);
    } catch (const std::system_error&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    if (threadId) *threadId = id;
    return platform::make_handle(std::move(thread));
}

uintptr_t _beginthreadex(void* security, unsigned stackSize, unsigned (*start)(void*), void* argument,
                         unsigned initFlag, unsigned* threadId) {
    DWORD id = 0;
    HANDLE thread = CreateThread(static_cast<LPSECURITY_ATTRIBUTES>(security), stackSize, start, argument, initFlag, &id);
    if (thread && threadId) *threadId = id;
    return reinterpret_cast<uintptr_t>(thread);
}

BOOL GetExitCodeThread(HANDLE handle, LPDWORD exitCode) {
    const auto thread = platform::object_from_handle_as<ThreadObject>(handle);
    if (!thread) return FALSE;
    if (!exitCode) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *exitCode = thread->exit_code();
    return TRUE;
}

DWORD GetCurrentThreadId() {
    static thread_local const DWORD id = static_cast<DWORD>(syscall(SYS_gettid));
    return id;
}

DWORD GetCurrentProcessId() { return static_cast<DWORD>(getpid()); }

namespace platform {
void fail_next_thread_creation(DWORD error) { g_nextCreationFailure = error; }
void fail_next_thread_creation_without_error() { g_nextCreationFailsSilently = true; }
}  // namespace platform
