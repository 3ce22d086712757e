#include <platform/bstr.h>
#include <platform/text.h>

#include <cstdlib>
#include <cstring>
#include <limits>

namespace {

// The block is [byte count][characters][NUL]; the BSTR points at the characters.
using Prefix = DWORD;

constexpr UINT kMaxChars = (std::numeric_limits<DWORD>::max() - sizeof(Prefix) - sizeof(OLECHAR)) / sizeof(OLECHAR);

Prefix* prefix_of(BSTR bstr) { return reinterpret_cast<Prefix*>(bstr) - 1; }

}  // namespace

BSTR SysAllocStringLen(const OLECHAR* pch, UINT cch) {
    if (cch > kMaxChars) return nullptr;
    const size_t bytes = size_t{cch} * sizeof(OLECHAR);
    auto* block = static_cast<Prefix*>(std::malloc(sizeof(Prefix) + bytes + sizeof(OLECHAR)));
    if (!block) return nullptr;
    *block = static_cast<Prefix>(bytes);
    auto* text = reinterpret_cast<OLECHAR*>(block + 1);
    if (pch) std::memcpy(text, pch, bytes);
    else std::memset(text, 0, bytes);
    text[cch] = 0;
    return text;
}

BSTR SysAllocString(const OLECHAR* psz) {
    if (!psz) return nullptr;
    const size_t len = platform::wide_length(psz);
    if (len > kMaxChars) return nullptr;
    return SysAllocStringLen(psz, static_cast<UINT>(len));
}

void SysFreeString(BSTR bstr) {
    if (bstr) std::free(prefix_of(bstr));
}

UINT SysStringLen(BSTR bstr) { return bstr ? *prefix_of(bstr) / sizeof(OLECHAR) : 0; }
