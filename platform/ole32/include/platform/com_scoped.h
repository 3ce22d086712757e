#pragma once
// Scoped owners of COM references, BSTRs and VARIANTs for callers that hold
// one for the length of a call: released on scope exit, also while unwinding.
#include <memory>
#include <string_view>

#include <platform/bstr.h>
#include <platform/unknown.h>
#include <platform/variant.h>

namespace platform {

struct ComRelease {
    void operator()(IUnknown* p) const {
        if (p) p->Release();
    }
};

// Takes over the reference the caller holds.
template <typename T>
using com_unique_ptr = std::unique_ptr<T, ComRelease>;

class ScopedBstr {
public:
    explicit ScopedBstr(std::u16string_view text)
        : m_text(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
    ~ScopedBstr() { SysFreeString(m_text); }
    ScopedBstr(const ScopedBstr&) = delete;
    ScopedBstr& operator=(const ScopedBstr&) = delete;
    operator BSTR() const { return m_text; }

private:
    BSTR m_text;
};

struct ScopedVariant {
    ScopedVariant() { VariantInit(&v); }
    ~ScopedVariant() { VariantClear(&v); }
    ScopedVariant(const ScopedVariant&) = delete;
    ScopedVariant& operator=(const ScopedVariant&) = delete;
    VARIANT v;
};

}  // namespace platform
