#include <platform/safearray.h>
#include <platform/variant.h>

#include "vartype.h"

namespace {
IUnknown* interface_of(const VARIANT& v) {
    if (v.vt == VT_DISPATCH) return v.pdispVal;
    return v.vt == VT_UNKNOWN ? v.punkVal : nullptr;
}
}  // namespace

void VariantInit(VARIANTARG* pvarg) {
    if (!pvarg) return;
    pvarg->vt = VT_EMPTY;
    pvarg->wReserved1 = pvarg->wReserved2 = pvarg->wReserved3 = 0;
}

HRESULT VariantClear(VARIANTARG* pvarg) {
    if (!pvarg) return E_INVALIDARG;
    if (!platform::is_valid_variant_type(pvarg->vt)) return DISP_E_BADVARTYPE;
    if (!(pvarg->vt & VT_BYREF)) {
        if (pvarg->vt & VT_ARRAY) {
            const HRESULT hr = SafeArrayDestroy(pvarg->parray);
            if (FAILED(hr)) return hr;
        } else if (pvarg->vt == VT_BSTR) {
            SysFreeString(pvarg->bstrVal);
        } else if (IUnknown* object = interface_of(*pvarg)) {
            object->Release();
        }
    }
    VariantInit(pvarg);
    pvarg->recordSlots[0] = pvarg->recordSlots[1] = nullptr;
    return S_OK;
}

HRESULT VariantCopy(VARIANTARG* pvargDest, const VARIANTARG* pvargSrc) {
    if (!pvargDest || !pvargSrc) return E_INVALIDARG;
    if (pvargDest == pvargSrc) return S_OK;
    if (!platform::is_valid_variant_type(pvargSrc->vt)) return DISP_E_BADVARTYPE;
    HRESULT hr = VariantClear(pvargDest);
    if (FAILED(hr)) return hr;
    const VARIANT src = *pvargSrc;
    if (!(src.vt & VT_BYREF)) {
        if ((src.vt & VT_ARRAY) && src.parray) {
            SAFEARRAY* copy = nullptr;
            hr = SafeArrayCopy(src.parray, &copy);
            if (FAILED(hr)) return hr;
            *pvargDest = src;
            pvargDest->parray = copy;
            return S_OK;
        }
        if (src.vt == VT_BSTR && src.bstrVal) {
            BSTR copy = SysAllocStringLen(src.bstrVal, SysStringLen(src.bstrVal));
            if (!copy) return E_OUTOFMEMORY;
            *pvargDest = src;
            pvargDest->bstrVal = copy;
            return S_OK;
        }
        if (IUnknown* object = interface_of(src)) object->AddRef();
    }
    *pvargDest = src;
    return S_OK;
}
