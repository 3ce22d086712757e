#pragma once
// VARIANT in the Windows layout, with the value types the system reads and
// writes (WMI property values among them).
#include <platform/bstr.h>
#include <platform/unknown.h>

using VARTYPE = USHORT;
using VARIANT_BOOL = SHORT;
using SCODE = LONG;
using FLOAT = float;
using DOUBLE = double;
using DATE = double;

constexpr VARIANT_BOOL VARIANT_TRUE = -1;
constexpr VARIANT_BOOL VARIANT_FALSE = 0;

enum : VARTYPE {
    VT_EMPTY = 0,
    VT_NULL = 1,
    VT_I2 = 2,
    VT_I4 = 3,
    VT_R4 = 4,
    VT_R8 = 5,
    VT_CY = 6,
    VT_DATE = 7,
    VT_BSTR = 8,
    VT_DISPATCH = 9,
    VT_ERROR = 10,
    VT_BOOL = 11,
    VT_VARIANT = 12,
    VT_UNKNOWN = 13,
    VT_DECIMAL = 14,
    VT_I1 = 16,
    VT_UI1 = 17,
    VT_UI2 = 18,
    VT_UI4 = 19,
    VT_I8 = 20,
    VT_UI8 = 21,
    VT_INT = 22,
    VT_UINT = 23,
    VT_ARRAY = 0x2000,
    VT_BYREF = 0x4000,
    VT_TYPEMASK = 0x0FFF,
};

DEFINE_GUID(IID_IDispatch, 0x00020400, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);

// Only its identity is used here: nothing in the system calls its methods.
struct IDispatch : IUnknown {
protected:
    ~IDispatch() = default;
};
PLATFORM_INTERFACE_ID(IDispatch, IID_IDispatch);

struct SAFEARRAY;

struct VARIANT {
    VARTYPE vt;
    WORD wReserved1;
    WORD wReserved2;
    WORD wReserved3;
    union {
        LONGLONG llVal;
        LONG lVal;
        BYTE bVal;
        SHORT iVal;
        FLOAT fltVal;
        DOUBLE dblVal;
        VARIANT_BOOL boolVal;
        SCODE scode;
        DATE date;
        BSTR bstrVal;
        IUnknown* punkVal;
        IDispatch* pdispVal;
        SAFEARRAY* parray;
        BYTE* pbVal;
        SHORT* piVal;
        LONG* plVal;
        LONGLONG* pllVal;
        FLOAT* pfltVal;
        DOUBLE* pdblVal;
        VARIANT_BOOL* pboolVal;
        SCODE* pscode;
        DATE* pdate;
        BSTR* pbstrVal;
        IUnknown** ppunkVal;
        IDispatch** ppdispVal;
        SAFEARRAY** pparray;
        VARIANT* pvarVal;
        PVOID byref;
        CHAR cVal;
        USHORT uiVal;
        ULONG ulVal;
        ULONGLONG ullVal;
        INT intVal;
        UINT uintVal;
        CHAR* pcVal;
        USHORT* puiVal;
        ULONG* pulVal;
        ULONGLONG* pullVal;
        INT* pintVal;
        UINT* puintVal;
        PVOID recordSlots[2];  // the record form's two pointers; no record type is used
    };
};
using VARIANTARG = VARIANT;
static_assert(sizeof(VARIANT) == 24);
static_assert(offsetof(VARIANT, lVal) == 8);

// vt = VT_EMPTY, whatever the variant held.
void VariantInit(VARIANTARG* pvarg);
// Frees what the variant owns (string, array, interface reference; nothing
// behind VT_BYREF) and leaves it VT_EMPTY. DISP_E_BADVARTYPE for a type this
// platform does not know, DISP_E_ARRAYISLOCKED for a locked array; the
// variant is unchanged then.
HRESULT VariantClear(VARIANTARG* pvarg);
// Clears the destination, then copies: strings and arrays deeply, interfaces
// with a new reference, VT_BYREF values as the same pointer. On failure the
// destination is VT_EMPTY.
HRESULT VariantCopy(VARIANTARG* pvargDest, const VARIANTARG* pvargSrc);
