#include <platform/clock.h>
#include <platform/handle.h>

#include <algorithm>
#include <condition_variable>
#include <unordered_map>
#include <vector>

namespace platform {
namespace {

// Process-wide state is never destroyed: threads that are still blocked when
// the process exits must not find their lock or table gone.
struct WaitState {
    std::mutex mutex;
    std::condition_variable changed;
};
WaitState& wait_state() {
    static auto* state = new WaitState;
    return *state;
}

class HandleTable {
public:
    HANDLE insert(std::shared_ptr<KernelObject> object) {
        std::lock_guard lock(m_mutex);
        // Values grow and are never reused, so a stale handle cannot name a
        // newer object; they stay clear of null and INVALID_HANDLE_VALUE.
        m_next += 4;
        m_objects.emplace(m_next, std::move(object));
        return reinterpret_cast<HANDLE>(m_next);
    }

    std::shared_ptr<KernelObject> find(HANDLE handle) {
        std::lock_guard lock(m_mutex);
        const auto it = m_objects.find(reinterpret_cast<uintptr_t>(handle));
        return it == m_objects.end() ? nullptr : it->second;
    }

    std::shared_ptr<KernelObject> remove(HANDLE handle) {
        std::lock_guard lock(m_mutex);
        const auto it = m_objects.find(reinterpret_cast<uintptr_t>(handle));
        if (it == m_objects.end()) return nullptr;
        auto object = std::move(it->second);
        m_objects.erase(it);
        return object;  // released by the caller, outside the table's lock
    }

private:
    std::mutex m_mutex;
    uintptr_t m_next = 0;
    std::unordered_map<uintptr_t, std::shared_ptr<KernelObject>> m_objects;
};
HandleTable& handles() {
    static auto* table = new HandleTable;
    return *table;
}

using Objects = std::vector<std::shared_ptr<KernelObject>>;

// Under the wait lock: WAIT_OBJECT_0 + index when the wait is satisfied (and
// the objects acquired), WAIT_TIMEOUT otherwise.
DWORD try_acquire(const Objects& objects, bool waitAll) {
    if (waitAll) {
        if (!std::all_of(objects.begin(), objects.end(), [](const auto& o) { return o->signalled(); }))
            return WAIT_TIMEOUT;
        for (const auto& o : objects) o->acquired();
        return WAIT_OBJECT_0;
    }
    for (size_t i = 0; i < objects.size(); ++i) {
        if (objects[i]->signalled()) {
            objects[i]->acquired();
            return WAIT_OBJECT_0 + static_cast<DWORD>(i);
        }
    }
    return WAIT_TIMEOUT;
}

DWORD wait_for(const Objects& objects, bool waitAll, DWORD milliseconds) {
    const auto clock = current_clock();
    const bool timed = milliseconds != INFINITE;
    const ULONGLONG deadline = timed ? clock->ticks() + milliseconds : 0;
    auto lock = wait_lock();
    for (;;) {
        const DWORD result = try_acquire(objects, waitAll);
        if (result != WAIT_TIMEOUT) return result;
        if (!timed) {
            wait_state().changed.wait(lock);
            continue;
        }
        if (clock->ticks() >= deadline) return WAIT_TIMEOUT;
        if (const auto real = clock->real_deadline(deadline))
            wait_state().changed.wait_until(lock, *real);
        else
            wait_state().changed.wait(lock);
    }
}

}  // namespace

std::unique_lock<std::mutex> wait_lock() { return std::unique_lock(wait_state().mutex); }

void notify_waiters() { wait_state().changed.notify_all(); }

HANDLE make_handle(std::shared_ptr<KernelObject> object) { return handles().insert(std::move(object)); }

std::shared_ptr<KernelObject> object_from_handle(HANDLE handle) {
    auto object = handles().find(handle);
    if (!object) SetLastError(ERROR_INVALID_HANDLE);
    return object;
}

}  // namespace platform

BOOL CloseHandle(HANDLE handle) {
    if (!platform::handles().remove(handle)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) { return WaitForMultipleObjects(1, &handle, FALSE, milliseconds); }

DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds) {
    if (count == 0 || count > MAXIMUM_WAIT_OBJECTS || !handles) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    // Declared before the wait takes its lock, so the references (and any
    // object whose last one this is) go after the lock is released.
    platform::Objects objects;
    objects.reserve(count);
    for (DWORD i = 0; i < count; ++i) {
        auto object = platform::object_from_handle(handles[i]);
        if (!object) return WAIT_FAILED;
        // Acquiring one auto-reset object twice in one wait-all cannot succeed.
        if (waitAll && std::find(objects.begin(), objects.end(), object) != objects.end()) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return WAIT_FAILED;
        }
        objects.push_back(std::move(object));
    }
    return platform::wait_for(objects, waitAll != FALSE, milliseconds);
}
