#pragma once
// Memory probes for the argument checks of COM methods: TRUE when the memory
// cannot be read (or written) in full. A probe never faults: it asks the kernel
// to copy the bytes, so an unmapped or protected page just answers "bad".
#include <platform/types.h>

BOOL IsBadReadPtr(const void* p, UINT_PTR bytes);
// Writes each probed byte back as it was, as the Windows probe does.
BOOL IsBadWritePtr(LPVOID p, UINT_PTR bytes);
// Readable up to and including its terminator, or for `maxUnits` units.
BOOL IsBadStringPtrW(LPCWSTR p, UINT_PTR maxUnits);

namespace platform {
// A counted array of records: a negative count is bad, else count x record size.
inline bool is_bad_array_read(const void* array, LONG count, size_t recordSize) {
    return count < 0 || IsBadReadPtr(array, static_cast<UINT_PTR>(count) * recordSize);
}
}  // namespace platform
