#pragma once
// Kernel objects behind HANDLE values, CloseHandle, and the waits on them.
//
// Every waitable object (events, threads, and whatever later kinds need it)
// derives from platform::KernelObject. A handle holds one reference; a wait
// holds its own references for as long as it waits, so closing a handle that
// another thread waits on leaves the object alive until that wait ends.
//
// Signalled states are read and changed under one process-wide lock
// (platform::wait_lock()). That makes WaitForMultipleObjects with wait-all
// atomic: it acquires all objects at once or none, so a failed wait-all never
// consumes an auto-reset event.
//
// Timed waits measure their time-out on the replaceable clock (clock.h): with
// the system clock that is real monotonic time; under a FakeClock a wait ends
// when the object is signalled or when virtual time, moved by Sleep or by
// FakeClock::advance, passes its deadline.
#include <memory>
#include <mutex>

#include <platform/errors.h>
#include <platform/types.h>

constexpr DWORD WAIT_OBJECT_0 = 0;
constexpr DWORD WAIT_ABANDONED_0 = 0x80;
constexpr DWORD WAIT_FAILED = 0xFFFFFFFFu;
constexpr DWORD MAXIMUM_WAIT_OBJECTS = 64;

BOOL CloseHandle(HANDLE handle);

// WAIT_OBJECT_0, WAIT_TIMEOUT, or WAIT_FAILED with the last error set
// (ERROR_INVALID_HANDLE for a handle that is not open).
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);
// Wait-any returns WAIT_OBJECT_0 + the lowest signalled index. Wait-all
// acquires every object in one step. A count of 0 or above
// MAXIMUM_WAIT_OBJECTS, and a handle given twice to wait-all, fail with
// ERROR_INVALID_PARAMETER.
DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds);

namespace platform {

// Base of every object a HANDLE can name. signalled() and acquired() are
// called with the wait lock held; a kind that changes its state does so under
// that lock and then calls notify_waiters().
class KernelObject {
public:
    KernelObject() = default;
    KernelObject(const KernelObject&) = delete;
    KernelObject& operator=(const KernelObject&) = delete;
    virtual ~KernelObject() = default;

    virtual bool signalled() const { return false; }
    // A wait succeeded on this object (an auto-reset event resets here).
    virtual void acquired() {}
};

// Opens a new handle on the object; the handle keeps it alive until CloseHandle.
HANDLE make_handle(std::shared_ptr<KernelObject> object);
// The object a handle names, or null with ERROR_INVALID_HANDLE.
std::shared_ptr<KernelObject> object_from_handle(HANDLE handle);
template <typename T>
std::shared_ptr<T> object_from_handle_as(HANDLE handle) {
    auto object = std::dynamic_pointer_cast<T>(object_from_handle(handle));
    if (!object) SetLastError(ERROR_INVALID_HANDLE);
    return object;
}

// The lock that guards every signalled state, and the wake-up of all waits
// (call it with the lock held, after a change).
std::unique_lock<std::mutex> wait_lock();
void notify_waiters();

}  // namespace platform
