// The task allocator of the test program, in place of the platform's, so a
// test can make an allocation fail.
#include "task_memory.h"

#include <cstdlib>

#include <platform/comalloc.h>

namespace {
int g_allocationsLeft = -1;  // -1: never fail

bool may_allocate() {
    if (g_allocationsLeft < 0) return true;
    if (g_allocationsLeft == 0) return false;
    --g_allocationsLeft;
    return true;
}
}  // namespace

void task_memory::fail_after(int n) { g_allocationsLeft = n; }
void task_memory::never_fail() { g_allocationsLeft = -1; }

LPVOID CoTaskMemAlloc(SIZE_T cb) { return may_allocate() ? std::malloc(cb ? cb : 1) : nullptr; }

LPVOID CoTaskMemRealloc(LPVOID pv, SIZE_T cb) {
    if (!pv) return CoTaskMemAlloc(cb);
    if (cb == 0) {
        std::free(pv);
        return nullptr;
    }
    return may_allocate() ? std::realloc(pv, cb) : nullptr;
}

void CoTaskMemFree(LPVOID pv) { std::free(pv); }
