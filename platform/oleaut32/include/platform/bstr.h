#pragma once
// BSTR: a wide string preceded by its length in bytes (a 32-bit count just
// before the first character) and followed by a NUL. A null BSTR is the empty
// string.
#include <platform/unknown.h>

using BSTR = OLECHAR*;

// Null in, null out.
BSTR SysAllocString(const OLECHAR* psz);
// `cch` characters copied from `pch` (which may hold NULs), or zero-filled when
// `pch` is null; the terminator is added. Null when out of memory.
BSTR SysAllocStringLen(const OLECHAR* pch, UINT cch);
void SysFreeString(BSTR bstr);
// Characters, without the terminator; 0 for null.
UINT SysStringLen(BSTR bstr);
