#pragma once
// Memory probes for the argument checks at COM boundaries. Nothing can be
// probed on this platform beyond what the rules below decide: a size of 0 is
// always good (NULL included), NULL with a size above 0 is bad, and any other
// pointer counts as good. A NULL string is bad.
#include <platform/guid.h>
#include <platform/types.h>

BOOL IsBadReadPtr(const void* pointer, ULONG_PTR bytes);
BOOL IsBadWritePtr(void* pointer, ULONG_PTR bytes);
BOOL IsBadStringPtrW(const WCHAR* text, ULONG_PTR maxChars);

// The nil UUID (all zero); 87 (invalid argument) without a place to put it.
constexpr RPC_STATUS RPC_S_INVALID_ARG_VALUE = 87;
RPC_STATUS UuidCreateNil(UUID* uuid);

namespace platform {
// A counted array: a negative count is bad; otherwise count x element size.
inline bool is_bad_array_read(const void* array, LONG count, size_t elementSize) {
    return count < 0 || IsBadReadPtr(array, static_cast<ULONG_PTR>(count) * elementSize);
}
}  // namespace platform
