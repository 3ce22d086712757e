#pragma once
// Owning pointer of the host library: deletes its object through the object's
// (virtual) destructor, or frees a malloc'd buffer in its memory form.
#include <memory>
#include <cstdlib>
#include <utility>

void ReportAssertion(const char* file, int line, bool condition);

struct owned_delete {
    template <typename T>
    void operator()(T* p) const {
        delete p;
    }
};

struct owned_free {
    void operator()(void* p) const { std::free(p); }
};

template <typename T, typename Deleter = owned_delete>
class owned_ptr {
public:
    owned_ptr() = default;
    explicit owned_ptr(T* p) : m_p(p) {}
    ~owned_ptr() { reset(); }
    owned_ptr(owned_ptr&& that) noexcept : m_p(that.release()) {}
    owned_ptr& operator=(owned_ptr&& that) noexcept {
        if (this != std::addressof(that)) reset(that.release());
        return *this;
    }
    owned_ptr(const owned_ptr&) = delete;
    owned_ptr& operator=(const owned_ptr&) = delete;

    T* get() const { return m_p; }
    // Asserts that a pointer is held, then returns it all the same.
    T* operator->() const {
        ReportAssertion("hostlib\\inc\\utilities", 22, m_p != nullptr);
        return m_p;
    }
    T& operator*() const { return *operator->(); }
    explicit operator bool() const { return m_p != nullptr; }
    bool operator!() const { return m_p == nullptr; }

    T* release() { return std::exchange(m_p, nullptr); }
    void reset(T* p = nullptr) {
        if (T* old = std::exchange(m_p, p)) Deleter()(old);
    }
    // For an out parameter: the holder must be empty (a held object is
    // deleted rather than lost).
    T** operator&() {
        ReportAssertion("hostlib\\inc\\utilities", 22, m_p == nullptr);
        reset();
        return &m_p;
    }

private:
    T* m_p = nullptr;
};

// The memory form: a buffer from malloc, freed with free.
template <typename T>
using owned_buffer = owned_ptr<T, owned_free>;
