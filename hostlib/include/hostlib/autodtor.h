#pragma once
// Holder of a handle-like value with an invalid value and a close function. It
// owns the value unless it is the invalid one. A failed close is traced as an
// assertion and otherwise ignored.
#include <hostlib/trace.h>

#include <platform/handle.h>

template <typename Traits>
class autodtor {
public:
    using value_type = typename Traits::value_type;

    autodtor() : m_value(Traits::invalid()) {}
    explicit autodtor(value_type value) : m_value(value) {}
    ~autodtor() { close(); }
    autodtor(const autodtor&) = delete;
    autodtor& operator=(const autodtor&) = delete;

    value_type get() const { return m_value; }
    bool valid() const { return m_value != Traits::invalid(); }

    // Closes the held value first; the new one is stored even when that fails.
    autodtor& operator=(value_type value) {
        close();
        m_value = value;
        return *this;
    }

    // For an out parameter: the holder must hold nothing (a held value is
    // closed rather than lost).
    value_type* operator&() {
        trace_assert(!valid(), "m_value == invalid", "inc\\autodtor", 76);
        close();
        return &m_value;
    }

private:
    void close() {
        if (valid() && !Traits::close(m_value)) trace_assert(false, "FALSE", "inc\\autodtor", 16);
        m_value = Traits::invalid();
    }

    value_type m_value;
};

// Kernel handles whose invalid value is -1, closed with CloseHandle.
struct handle_traits {
    using value_type = HANDLE;
    static HANDLE invalid() { return INVALID_HANDLE_VALUE; }
    static bool close(HANDLE h) { return CloseHandle(h) != FALSE; }
};

using CHandle = autodtor<handle_traits>;
