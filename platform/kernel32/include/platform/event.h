#pragma once
// Manual- and auto-reset events.
//
// A named event lives in a process-wide table: creating a name that is bound
// opens the same event (the last error is then ERROR_ALREADY_EXISTS and the
// reset mode and initial state given are ignored); the name stays bound while
// any handle (or a wait) keeps the event alive. Names compare exactly, as
// object names do. A null or empty name makes an unnamed event.
#include <platform/handle.h>
#include <platform/types.h>

constexpr DWORD SYNCHRONIZE = 0x00100000;
constexpr DWORD EVENT_MODIFY_STATE = 0x0002;
constexpr DWORD EVENT_ALL_ACCESS = 0x001F0003;

// Success clears the last error or sets ERROR_ALREADY_EXISTS.
HANDLE CreateEventW(LPSECURITY_ATTRIBUTES security, BOOL manualReset, BOOL initialState, LPCWSTR name);
// Null with ERROR_FILE_NOT_FOUND when no event has that name.
HANDLE OpenEventW(DWORD desiredAccess, BOOL inheritHandle, LPCWSTR name);
BOOL SetEvent(HANDLE event);
BOOL ResetEvent(HANDLE event);
