#pragma once
// A function object run on a thread of our own CreateThread; joined (waited
// for and closed) when the holder goes.
#include <platform/handle.h>
#include <platform/thread.h>

#include <ctime>
#include <functional>

class TestThread {
public:
    explicit TestThread(std::function<DWORD()> body) : m_body(std::move(body)) {
        m_handle = CreateThread(nullptr, 0, &TestThread::run, &m_body, 0, &m_id);
    }
    ~TestThread() {
        if (!m_handle) return;
        WaitForSingleObject(m_handle, INFINITE);
        CloseHandle(m_handle);
    }
    TestThread(const TestThread&) = delete;
    TestThread& operator=(const TestThread&) = delete;

    HANDLE handle() const { return m_handle; }
    DWORD id() const { return m_id; }

private:
    static DWORD run(LPVOID body) { return (*static_cast<std::function<DWORD()>*>(body))(); }

    std::function<DWORD()> m_body;
    HANDLE m_handle = nullptr;
    DWORD m_id = 0;
};

inline void real_pause(int ms) {
    struct timespec pause{ms / 1000, (ms % 1000) * 1'000'000L};
    nanosleep(&pause, nullptr);
}

// Polls a condition in real time (tests run on the system clock unless they
// install a fake one); true when it held within the limit.
template <typename Condition>
bool eventually(Condition condition, int limitMs = 5000) {
    for (int waited = 0; waited < limitMs; ++waited) {
        if (condition()) return true;
        real_pause(1);
    }
    return condition();
}
