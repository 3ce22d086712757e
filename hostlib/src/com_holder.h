#pragma once
// Owning holder of one COM interface pointer: released when the holder goes,
// also while an exception unwinds; attaching a new pointer releases the old.
#include <platform/unknown.h>

template <typename T>
class com_holder {
public:
    com_holder() = default;
    explicit com_holder(T* p) : m_p(p) {}
    ~com_holder() { reset(); }
    com_holder(const com_holder&) = delete;
    com_holder& operator=(const com_holder&) = delete;

    void reset(T* p = nullptr) {
        if (m_p) m_p->Release();
        m_p = p;
    }
    // For an out parameter: the old pointer is released first.
    T** receive() {
        reset();
        return &m_p;
    }
    T* get() const { return m_p; }
    T* operator->() const { return m_p; }
    explicit operator bool() const { return m_p != nullptr; }
    T* detach() {
        T* p = m_p;
        m_p = nullptr;
        return p;
    }

private:
    T* m_p = nullptr;
};
