#include <hostlib/general_thread.h>

#include <hostlib/autolock.h>
#include <hostlib/conversions.h>
#include <hostlib/trace.h>

namespace {

// The last error as an HRESULT; a failure that left no error code is still a failure.
HRESULT last_error_hresult() {
    const HRESULT hr = HRESULT_FROM_WIN32(GetLastError());
    return SUCCEEDED(hr) ? E_FAIL : hr;
}

}  // namespace

CGeneralThread::CGeneralThread() { InitializeCriticalSection(&m_cs); }

CGeneralThread::~CGeneralThread() {
    SignalStop();
    JoinThread();
    CloseStopEvent();
    DeleteCriticalSection(&m_cs);
}

HRESULT CGeneralThread::Start(GeneralThreadProc procedure, void* argument, const WCHAR* eventName) {
    TraceScope scope("CGeneralThread::Start");
    trace_printf("Creating thread %s ", eventName ? WStringToString(eventName).c_str() : "");
    HRESULT hr = S_OK;
    AutoLock lock(&m_cs);
    if (m_iRunning == 1) {
        trace_printf("Already the provider thread is running, using the the existing thread");
        return S_OK;
    }

    // A thread that ended may still be leaving its procedure: join it before
    // its handle goes. Its stop event is still signalled; closing it first
    // makes the name create a fresh, unsignalled event for the new thread.
    JoinThread();
    CloseStopEvent();
    m_hStopEvent = CreateEventW(nullptr, TRUE, FALSE, eventName);
    if (!m_hStopEvent) {
        hr = last_error_hresult();
        m_hStopEvent = INVALID_HANDLE_VALUE;
    } else {
        // Another holder of the same name may still keep the old event open.
        ResetEvent(m_hStopEvent);
        m_iRunning = 1;
        unsigned threadId = 0;
        const uintptr_t thread = _beginthreadex(nullptr, 0, procedure, argument, 0, &threadId);
        if (!thread) {
            m_iRunning = 0;
            hr = last_error_hresult();
        } else {
            m_hThread = reinterpret_cast<HANDLE>(thread);
            m_dwThreadId = threadId;
        }
    }
    trace_printf("CGeneralThread::Start(): returning %08lX", trace_code(hr));
    return hr;
}

void CGeneralThread::ThreadFinished() {
    AutoLock lock(&m_cs);
    m_iRunning = 0;
}

bool CGeneralThread::IsRunning() {
    AutoLock lock(&m_cs);
    return m_iRunning == 1;
}

void CGeneralThread::SignalStop() {
    if (m_hStopEvent != INVALID_HANDLE_VALUE) SetEvent(m_hStopEvent);
}

void CGeneralThread::CloseStopEvent() {
    if (m_hStopEvent != INVALID_HANDLE_VALUE && !CloseHandle(m_hStopEvent))
        trace_assert(false, "FALSE", "inc\\autodtor", 16);
    m_hStopEvent = INVALID_HANDLE_VALUE;
}

void CGeneralThread::JoinThread() {
    if (!m_hThread.valid()) return;
    WaitForSingleObject(m_hThread.get(), INFINITE);
    m_hThread = INVALID_HANDLE_VALUE;
}
