#pragma once
// One worker thread with a named manual-reset stop event, a running flag and a
// lock that guards the flag. The owner starts the thread, signals the stop
// event to end it and reads the flag under the lock; the thread procedure
// clears the flag under the lock as it ends (ThreadFinished).
#include <hostlib/autodtor.h>

#include <platform/critical_section.h>
#include <platform/event.h>
#include <platform/thread.h>

using GeneralThreadProc = unsigned (*)(void*);

class CGeneralThread {
public:
    CGeneralThread();
    // Signals the stop event and joins the thread before the lock goes, so a
    // thread still finishing never touches a deleted holder.
    ~CGeneralThread();
    CGeneralThread(const CGeneralThread&) = delete;
    CGeneralThread& operator=(const CGeneralThread&) = delete;

    // Starts the thread unless it runs (then S_OK, nothing changed). The stop
    // event is created afresh, unsignalled, under the given name. Win32
    // failures come back as HRESULTs, never as S_OK.
    HRESULT Start(GeneralThreadProc procedure, void* argument, const WCHAR* eventName);

    // For the thread procedure, as its last step: clears the running flag under the lock.
    void ThreadFinished();
    // Reads the running flag under the lock.
    bool IsRunning();
    // Sets the stop event when there is one.
    void SignalStop();

    LONG m_iRunning = 0;
    CHandle m_hThread;
    HANDLE m_hStopEvent = INVALID_HANDLE_VALUE;
    DWORD m_dwThreadId = 0;
    CRITICAL_SECTION m_cs;

private:
    void CloseStopEvent();
    void JoinThread();
};
