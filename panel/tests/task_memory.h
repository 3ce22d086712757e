#pragma once
// The test program's task allocator can be told to fail: after `n` more
// successful allocations, every further one fails until reset.
#include <cstddef>

namespace task_memory {
void fail_after(int n);
void never_fail();
}  // namespace task_memory

// The next operator new of exactly this many bytes fails (once).
void fail_next_new_of_size(std::size_t size);
