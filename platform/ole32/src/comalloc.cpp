#include <platform/comalloc.h>

#include <atomic>
#include <cstdlib>

namespace {
// Test tool: allocations to let pass before failing, and how many then fail.
std::atomic<int> g_passBeforeFailing{0};
std::atomic<int> g_failing{0};
std::atomic<SIZE_T> g_largest{0};
std::atomic<long> g_live{0};

void note_size(SIZE_T cb) {
    SIZE_T seen = g_largest.load(std::memory_order_relaxed);
    while (cb > seen && !g_largest.compare_exchange_weak(seen, cb, std::memory_order_relaxed)) {
    }
}

bool injected_failure() {
    if (g_failing.load() == 0) return false;
    if (g_passBeforeFailing.fetch_sub(1) > 0) return false;
    return g_failing.fetch_sub(1) > 0;
}
}  // namespace

void platform::fail_task_allocations(int pass, int fail) {
    g_passBeforeFailing = pass;
    g_failing = fail;
}

SIZE_T platform::take_largest_task_allocation() { return g_largest.exchange(0); }

long platform::live_task_allocations() { return g_live.load(); }

LPVOID CoTaskMemAlloc(SIZE_T cb) {
    note_size(cb);
    void* p = injected_failure() ? nullptr : std::malloc(cb ? cb : 1);
    if (p) ++g_live;
    return p;
}

LPVOID CoTaskMemRealloc(LPVOID pv, SIZE_T cb) {
    if (!pv) return CoTaskMemAlloc(cb);
    if (cb == 0) {
        CoTaskMemFree(pv);
        return nullptr;
    }
    note_size(cb);
    return std::realloc(pv, cb);
}

void CoTaskMemFree(LPVOID pv) {
    if (pv) --g_live;
    std::free(pv);
}
