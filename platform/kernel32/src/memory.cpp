#include <platform/memory.h>

#include <cstdlib>

namespace {
int g_processHeap;  // its address is the process heap's handle
}

HLOCAL LocalAlloc(UINT flags, SIZE_T bytes) {
    // A zero-byte request still yields a distinct, freeable block.
    return (flags & LMEM_ZEROINIT) ? std::calloc(1, bytes ? bytes : 1) : std::malloc(bytes ? bytes : 1);
}

HLOCAL LocalFree(HLOCAL mem) {
    std::free(mem);
    return nullptr;
}

HANDLE GetProcessHeap() { return &g_processHeap; }

LPVOID HeapAlloc(HANDLE, DWORD flags, SIZE_T bytes) {
    return (flags & HEAP_ZERO_MEMORY) ? std::calloc(1, bytes ? bytes : 1) : std::malloc(bytes ? bytes : 1);
}

BOOL HeapFree(HANDLE, DWORD, LPVOID mem) {
    std::free(mem);
    return TRUE;
}
