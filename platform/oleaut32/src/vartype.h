#pragma once
// What the platform knows of each value type.
#include <platform/variant.h>

namespace platform {

// Bytes of one value of a base type held in a VARIANT or an array, or 0 for a
// type that cannot be stored by itself (VT_EMPTY, VT_NULL, VT_VARIANT outside
// an array) or is unknown here.
inline ULONG value_size(VARTYPE base) {
    switch (base) {
    case VT_I1: case VT_UI1: return 1;
    case VT_I2: case VT_UI2: case VT_BOOL: return 2;
    case VT_I4: case VT_UI4: case VT_INT: case VT_UINT: case VT_R4: case VT_ERROR: return 4;
    case VT_I8: case VT_UI8: case VT_R8: case VT_CY: case VT_DATE: return 8;
    case VT_BSTR: case VT_UNKNOWN: case VT_DISPATCH: return sizeof(void*);
    default: return 0;
    }
}

// Whether a VARIANT may carry `vt`.
inline bool is_valid_variant_type(VARTYPE vt) {
    const VARTYPE base = vt & VT_TYPEMASK;
    const VARTYPE modifiers = vt & ~VT_TYPEMASK;
    if (modifiers & ~(VT_ARRAY | VT_BYREF)) return false;
    if (base == VT_EMPTY || base == VT_NULL) return modifiers == 0;
    if (base == VT_VARIANT) return modifiers != 0;
    return value_size(base) != 0;
}

}  // namespace platform
