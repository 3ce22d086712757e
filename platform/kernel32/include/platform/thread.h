#pragma once
// Threads. A thread handle is a kernel object (handle.h) that is signalled when
// the thread's procedure has returned; GetExitCodeThread then gives what it
// returned, STILL_ACTIVE before.
//
// The running thread holds a reference on its own object, so closing its last
// handle early is safe: the object then goes with the thread, which is detached
// at that moment. Otherwise the object is freed by whoever drops the last
// handle after the thread has ended, and that joins it first. Either way no
// thread outlives the state it uses, and none is left unjoined or undetached.
//
// Thread ids are the kernel's thread ids (as ps and a debugger show them);
// the process id is getpid().
#include <cstdint>

#include <platform/types.h>

constexpr DWORD STILL_ACTIVE = 259;
constexpr DWORD CREATE_SUSPENDED = 0x00000004;
constexpr DWORD STACK_SIZE_PARAM_IS_A_RESERVATION = 0x00010000;

using LPTHREAD_START_ROUTINE = DWORD (*)(LPVOID parameter);

// The thread runs at once on the default stack (stackSize is accepted and not
// used). CREATE_SUSPENDED is not supported: any flag but
// STACK_SIZE_PARAM_IS_A_RESERVATION fails with ERROR_INVALID_PARAMETER.
// threadId, when given, receives the new thread's id before the call returns.
HANDLE CreateThread(LPSECURITY_ATTRIBUTES security, SIZE_T stackSize, LPTHREAD_START_ROUTINE start, LPVOID parameter,
                    DWORD creationFlags, LPDWORD threadId);
// The runtime's form: 0 on failure, with the last error left as CreateThread set it.
uintptr_t _beginthreadex(void* security, unsigned stackSize, unsigned (*start)(void*), void* argument,
                         unsigned initFlag, unsigned* threadId);

BOOL GetExitCodeThread(HANDLE thread, LPDWORD exitCode);
DWORD GetCurrentThreadId();
DWORD GetCurrentProcessId();

namespace platform {
// Test hook: the next thread creation fails with this Win32 error (one shot),
// as when the system is out of threads.
void fail_next_thread_creation(DWORD error);
// Test hook: the next thread creation fails and leaves the last error 0 (one
// shot), as a failing runtime call may.
void fail_next_thread_creation_without_error();
}  // namespace platform
