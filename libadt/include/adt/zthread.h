#pragma once
// Once-only gates and mutexes of the runtime.
#include <atomic>

// A gate: a counter and a done flag, both zero at load (constant-initialised).
struct zthread_once_rec {
    std::atomic<long> counter{0};
    std::atomic<int> done{0};
};

// Runs fn exactly once per gate. The first caller runs it; every other caller
// yields until it has finished.
void zthread_once(zthread_once_rec* gate, void (*fn)());

// One-time set-up of the module; 0 on success. Run by the first mutex creation.
int zthread_init();

// A binary semaphore with an owner: not recursive (a thread that locks it twice
// waits forever) and only the owner can unlock it.
struct zthread_mutex_s;

zthread_mutex_s* zthread_mutex_new();
// 0, or 1 when the wait fails.
int zthread_mutex_lock(zthread_mutex_s* mutex);
// Does nothing unless the caller owns the mutex.
void zthread_mutex_unlock(zthread_mutex_s* mutex);
void zthread_mutex_free(zthread_mutex_s* mutex);
unsigned long zthread_self();
