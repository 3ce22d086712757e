#pragma once
// The test program's task allocator can be told to fail: after `n` more
// successful allocations, every further one fails until reset.
namespace task_memory {
void fail_after(int n);
void never_fail();
}  // namespace task_memory
