// The task allocator of the test program, in place of the platform's, so a
// test can make an allocation fail.
#include "task_memory.h"

#include <cstdlib>
#include <new>

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

// operator new of the test program, so one allocation of a given size can fail.
namespace {
std::size_t g_failingSize = 0;

bool new_may_allocate(std::size_t size) {
    if (g_failingSize == 0 || size != g_failingSize) return true;
    g_failingSize = 0;
    return false;
}
}  // namespace

void fail_next_new_of_size(std::size_t size) { g_failingSize = size; }

void* operator new(std::size_t size) {
    void* p = new_may_allocate(size) ? std::malloc(size ? size : 1) : nullptr;
    if (!p) throw std::bad_alloc();
    return p;
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return new_may_allocate(size) ? std::malloc(size ? size : 1) : nullptr;
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
