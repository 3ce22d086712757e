#pragma once
// Scoped holders of a critical section.
#include <platform/critical_section.h>

// Enters when built; can be let go and taken again inside its scope; leaves at
// the end of the scope when held.
class AutoLock {
public:
    explicit AutoLock(CRITICAL_SECTION* section);
    ~AutoLock();
    AutoLock(const AutoLock&) = delete;
    AutoLock& operator=(const AutoLock&) = delete;

    // Enters unless held; when held only traces "AutoLock::Lock(): blocked".
    void Lock();
    // Leaves when held; when not held only traces "AutoLock::Unlock(): not blocked".
    void Unlock();

private:
    CRITICAL_SECTION* m_section;
    bool m_held = false;
};

// Holds the section for its whole scope.
class CCriticalSectionHolder {
public:
    explicit CCriticalSectionHolder(CRITICAL_SECTION* section) : m_section(section) { EnterCriticalSection(m_section); }
    virtual ~CCriticalSectionHolder() { LeaveCriticalSection(m_section); }
    CCriticalSectionHolder(const CCriticalSectionHolder&) = delete;
    CCriticalSectionHolder& operator=(const CCriticalSectionHolder&) = delete;

private:
    CRITICAL_SECTION* m_section;
};
