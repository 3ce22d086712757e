#pragma once
// The thread message queue of a window-less server: posted thread messages,
// thread timers and the message loop. Timers and waits go through the
// platform clock, so a test's fake clock drives them.
#include <platform/types.h>

using HWND = struct HWND__*;
using WPARAM = uintptr_t;
using LPARAM = intptr_t;
using LRESULT = intptr_t;

constexpr UINT WM_QUIT = 0x0012;
constexpr UINT WM_TIMER = 0x0113;

struct MSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD time;
};

using TIMERPROC = void (*)(HWND, UINT, UINT_PTR, DWORD);

// Any thread may post to any thread id; the queue is made on first use.
BOOL PostThreadMessageW(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam);
// Waits for the next message of the calling thread; FALSE for WM_QUIT. Only
// thread messages exist: hwnd and the filter must be null and 0.
BOOL GetMessageW(MSG* msg, HWND hwnd, UINT filterMin, UINT filterMax);
// Runs the timer procedure of a WM_TIMER message; other messages have no window.
LRESULT DispatchMessageW(const MSG* msg);
// A thread timer of the calling thread (hwnd must be null): a new id each time.
UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT elapse, TIMERPROC proc);
BOOL KillTimer(HWND hwnd, UINT_PTR id);
