#pragma once
// The task allocator: everything handed to a COM caller is allocated here and
// freed by the caller with CoTaskMemFree.
#include <platform/types.h>

// A zero-byte request still yields a distinct, freeable block.
LPVOID CoTaskMemAlloc(SIZE_T cb);
// Null `pv` allocates; a zero size with a block frees it and returns null. On
// failure the old block stays valid and null is returned.
LPVOID CoTaskMemRealloc(LPVOID pv, SIZE_T cb);
void CoTaskMemFree(LPVOID pv);

namespace platform {
// Test tool: after `pass` more task allocations, the next `fail` ones return
// null (0, 0 turns it off). The allocator is process-wide.
void fail_task_allocations(int pass, int fail);
// Test tool: the largest single task allocation asked for since the last call.
SIZE_T take_largest_task_allocation();
// Test tool: task blocks allocated and not yet freed, process-wide.
long live_task_allocations();
}  // namespace platform
