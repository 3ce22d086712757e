#include <adt/log.h>
#include <adt/zthread.h>

#include <new>
#include <sched.h>
#include <sys/syscall.h>
#include <unistd.h>

// A binary semaphore whose uncontended acquire and release stay in user
// space: every string-table lookup of a request takes one, and a release
// that always woke the kernel would cost a system call each time.
// state: 0 free, 1 taken, 2 taken with a thread (possibly) waiting.
struct zthread_mutex_s {
    std::atomic<int> state{0};
    std::atomic<unsigned long> owner{0};

    void acquire() {
        int seen = 0;
        if (state.compare_exchange_strong(seen, 1, std::memory_order_acquire)) return;
        if (seen != 2) seen = state.exchange(2, std::memory_order_acquire);
        while (seen != 0) {
            state.wait(2, std::memory_order_relaxed);
            seen = state.exchange(2, std::memory_order_acquire);
        }
    }
    void release() {
        if (state.exchange(0, std::memory_order_release) == 2) state.notify_one();
    }
};

void zthread_once(zthread_once_rec* gate, void (*fn)()) {
    if (gate->done.load(std::memory_order_acquire)) return;
    if (gate->counter.fetch_add(1, std::memory_order_acq_rel) == 0) {
        fn();
        gate->done.store(1, std::memory_order_release);
        return;
    }
    while (!gate->done.load(std::memory_order_acquire)) sched_yield();
}

namespace {
zthread_once_rec g_initGate;
int g_initResult = 0;
// The module keeps no state of its own here: semaphores need no registry on this platform.
void init_module() { g_initResult = 0; }
}  // namespace

int zthread_init() {
    zthread_once(&g_initGate, init_module);
    return g_initResult;
}

zthread_mutex_s* zthread_mutex_new() {
    if (zthread_init() != 0) {
        log_write(nullptr, LOG_LEVEL_ERROR, "zthread_init failed\n");
        return nullptr;
    }
    auto* mutex = new (std::nothrow) zthread_mutex_s;
    if (!mutex) log_nomem("zthread_mutex_s");
    return mutex;
}

int zthread_mutex_lock(zthread_mutex_s* mutex) {
    if (!mutex) return 1;
    mutex->acquire();
    mutex->owner.store(zthread_self(), std::memory_order_relaxed);
    return 0;
}

void zthread_mutex_unlock(zthread_mutex_s* mutex) {
    if (!mutex || mutex->owner.load(std::memory_order_relaxed) != zthread_self()) return;
    mutex->owner.store(0, std::memory_order_relaxed);
    mutex->release();
}

void zthread_mutex_free(zthread_mutex_s* mutex) { delete mutex; }

// Every table lock asks for the caller's id: ask the kernel once per thread.
unsigned long zthread_self() {
    thread_local const unsigned long id = static_cast<unsigned long>(::syscall(SYS_gettid));
    return id;
}
