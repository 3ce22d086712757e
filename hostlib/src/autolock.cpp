#include <hostlib/autolock.h>

#include <hostlib/trace.h>

AutoLock::AutoLock(CRITICAL_SECTION* section) : m_section(section) {
    EnterCriticalSection(m_section);
    m_held = true;
}

AutoLock::~AutoLock() {
    if (m_held) LeaveCriticalSection(m_section);
}

void AutoLock::Lock() {
    if (m_held) {
        trace_printf("AutoLock::Lock(): blocked");
        return;
    }
    EnterCriticalSection(m_section);
    m_held = true;
}

void AutoLock::Unlock() {
    if (!m_held) {
        trace_printf("AutoLock::Unlock(): not blocked");
        return;
    }
    LeaveCriticalSection(m_section);
    m_held = false;
}
