#pragma once
// Owning reference to a COM object for the platform's own bookkeeping.
#include <utility>

#include <platform/unknown.h>

namespace platform {

template <typename T>
class ComRef {
public:
    ComRef() = default;
    // Takes over a reference the caller already holds.
    static ComRef adopt(T* p) { return ComRef(p); }
    // Takes a reference of its own.
    static ComRef retain(T* p) {
        if (p) p->AddRef();
        return ComRef(p);
    }
    ComRef(const ComRef& other) : p_(other.p_) {
        if (p_) p_->AddRef();
    }
    ComRef(ComRef&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    ComRef& operator=(ComRef other) noexcept {
        std::swap(p_, other.p_);
        return *this;
    }
    ~ComRef() {
        if (p_) p_->Release();
    }

    T* get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    // Hands the reference to the caller.
    T* detach() { return std::exchange(p_, nullptr); }

private:
    explicit ComRef(T* p) : p_(p) {}
    T* p_ = nullptr;
};

}  // namespace platform
