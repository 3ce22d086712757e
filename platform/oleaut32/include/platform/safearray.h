#pragma once
// SAFEARRAY in the Windows layout. Element types: the integer, floating,
// boolean, error, currency and date types, VT_BSTR, VT_UNKNOWN, VT_DISPATCH
// and VT_VARIANT; the array owns its strings, references and variants.
//
// Dimensions are numbered from 1 as created (rgsabound[0] of SafeArrayCreate
// is dimension 1). The descriptor keeps the bounds in the reverse order, and
// index vectors follow the descriptor: rgIndices[0] indexes the last dimension,
// rgIndices[cDims - 1] dimension 1, which varies fastest in memory.
#include <platform/variant.h>

struct SAFEARRAYBOUND {
    ULONG cElements;
    LONG lLbound;
};
static_assert(sizeof(SAFEARRAYBOUND) == 8);

struct SAFEARRAY {
    USHORT cDims;
    USHORT fFeatures;
    ULONG cbElements;
    ULONG cLocks;
    PVOID pvData;
    SAFEARRAYBOUND rgsabound[1];  // cDims entries
};
static_assert(sizeof(SAFEARRAY) == 32);
static_assert(offsetof(SAFEARRAY, pvData) == 16);

constexpr USHORT FADF_BSTR = 0x0100;
constexpr USHORT FADF_UNKNOWN = 0x0200;
constexpr USHORT FADF_DISPATCH = 0x0400;
constexpr USHORT FADF_VARIANT = 0x0800;

// Zero-filled elements; null for no dimensions, an unsupported type or a size
// beyond memory.
SAFEARRAY* SafeArrayCreate(VARTYPE vt, UINT cDims, SAFEARRAYBOUND* rgsabound);
SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lLbound, ULONG cElements);
// Frees the elements' strings, references and variants, then the array.
// DISP_E_ARRAYISLOCKED while its data is accessed.
HRESULT SafeArrayDestroy(SAFEARRAY* psa);
HRESULT SafeArrayCopy(SAFEARRAY* psa, SAFEARRAY** ppsaOut);
// DISP_E_BADINDEX for a dimension outside 1..cDims.
HRESULT SafeArrayGetLBound(SAFEARRAY* psa, UINT nDim, LONG* plLbound);
HRESULT SafeArrayGetUBound(SAFEARRAY* psa, UINT nDim, LONG* plUbound);
// A copy of one element: a new BSTR, a new reference, a copied VARIANT.
// DISP_E_BADINDEX for an index outside its bounds.
HRESULT SafeArrayGetElement(SAFEARRAY* psa, LONG* rgIndices, void* pv);
// Stores a copy of `pv`, freeing the element's old value. For VT_BSTR,
// VT_UNKNOWN and VT_DISPATCH arrays `pv` is the string or interface pointer
// itself; for the others it points to the value.
HRESULT SafeArrayPutElement(SAFEARRAY* psa, LONG* rgIndices, void* pv);
// Locks the array and gives its data; each access needs its SafeArrayUnaccessData.
HRESULT SafeArrayAccessData(SAFEARRAY* psa, void** ppvData);
HRESULT SafeArrayUnaccessData(SAFEARRAY* psa);
