#include <platform/safearray.h>

#include <cstdlib>
#include <cstring>
#include <limits>

#include "vartype.h"

namespace {

constexpr size_t kMaxDataBytes = std::numeric_limits<LONG>::max();

// The bounds as the descriptor stores them (reversed creation order).
SAFEARRAYBOUND* bounds_of(SAFEARRAY* psa) { return psa->rgsabound; }

USHORT features_for(VARTYPE vt) {
    switch (vt) {
    case VT_BSTR: return FADF_BSTR;
    case VT_UNKNOWN: return FADF_UNKNOWN;
    case VT_DISPATCH: return FADF_DISPATCH;
    case VT_VARIANT: return FADF_VARIANT;
    default: return 0;
    }
}

ULONG element_size(VARTYPE vt) { return vt == VT_VARIANT ? sizeof(VARIANT) : platform::value_size(vt); }

// Element count of the whole array, or false when it does not fit in memory.
bool element_count(UINT cDims, const SAFEARRAYBOUND* bounds, ULONG cbElements, size_t& count) {
    count = 1;
    for (UINT i = 0; i < cDims; ++i) {
        if (bounds[i].cElements != 0 && count > kMaxDataBytes / cbElements / bounds[i].cElements) return false;
        count *= bounds[i].cElements;
    }
    return true;
}

size_t element_count(SAFEARRAY* psa) {
    size_t count = 0;
    element_count(psa->cDims, bounds_of(psa), psa->cbElements, count);
    return count;
}

// A descriptor with its data block. `bounds` come in creation order when
// `reverse` is set, else already in descriptor order.
SAFEARRAY* allocate(UINT cDims, const SAFEARRAYBOUND* bounds, bool reverse, USHORT features, ULONG cbElements) {
    size_t count = 0;
    if (cDims == 0 || cDims > std::numeric_limits<USHORT>::max() || !element_count(cDims, bounds, cbElements, count))
        return nullptr;
    const size_t headerBytes = offsetof(SAFEARRAY, rgsabound) + sizeof(SAFEARRAYBOUND) * cDims;
    auto* psa = static_cast<SAFEARRAY*>(std::calloc(1, headerBytes));
    if (!psa) return nullptr;
    psa->cDims = static_cast<USHORT>(cDims);
    psa->fFeatures = features;
    psa->cbElements = cbElements;
    for (UINT i = 0; i < cDims; ++i) bounds_of(psa)[i] = bounds[reverse ? cDims - 1 - i : i];
    if (count > 0) {
        psa->pvData = std::calloc(count, cbElements);
        if (!psa->pvData) {
            std::free(psa);
            return nullptr;
        }
    }
    return psa;
}

BYTE* element_at(SAFEARRAY* psa, size_t index) { return static_cast<BYTE*>(psa->pvData) + index * psa->cbElements; }

void free_element(SAFEARRAY* psa, BYTE* element) {
    if (psa->fFeatures & FADF_BSTR) {
        BSTR value;
        std::memcpy(&value, element, sizeof value);
        SysFreeString(value);
    } else if (psa->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) {
        IUnknown* value;
        std::memcpy(&value, element, sizeof value);
        if (value) value->Release();
    } else if (psa->fFeatures & FADF_VARIANT) {
        VariantClear(reinterpret_cast<VARIANT*>(element));
    }
    std::memset(element, 0, psa->cbElements);
}

// Copies `value` (given as the array's put/get convention has it) into the
// zeroed or freed element slot `to`.
HRESULT copy_element(SAFEARRAY* psa, void* to, const void* value, bool valueIsPointer) {
    if (psa->fFeatures & FADF_BSTR) {
        BSTR text = valueIsPointer ? static_cast<BSTR>(const_cast<void*>(value)) : *static_cast<const BSTR*>(value);
        BSTR copy = text ? SysAllocStringLen(text, SysStringLen(text)) : nullptr;
        if (text && !copy) return E_OUTOFMEMORY;
        std::memcpy(to, &copy, sizeof copy);
    } else if (psa->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) {
        IUnknown* object = valueIsPointer ? static_cast<IUnknown*>(const_cast<void*>(value))
                                          : *static_cast<IUnknown* const*>(value);
        if (object) object->AddRef();
        std::memcpy(to, &object, sizeof object);
    } else if (psa->fFeatures & FADF_VARIANT) {
        VariantInit(static_cast<VARIANT*>(to));
        return VariantCopy(static_cast<VARIANT*>(to), static_cast<const VARIANT*>(value));
    } else {
        std::memcpy(to, value, psa->cbElements);
    }
    return S_OK;
}

// Position of the element at rgIndices, dimension 1 (rgIndices[cDims - 1])
// varying fastest.
HRESULT element_index(SAFEARRAY* psa, const LONG* rgIndices, size_t& index) {
    index = 0;
    const SAFEARRAYBOUND* bounds = bounds_of(psa);
    for (UINT i = 0; i < psa->cDims; ++i) {
        const int64_t offset = int64_t{rgIndices[i]} - bounds[i].lLbound;
        if (offset < 0 || offset >= int64_t{bounds[i].cElements}) return DISP_E_BADINDEX;
        index = index * bounds[i].cElements + static_cast<size_t>(offset);
    }
    return S_OK;
}

HRESULT bound(SAFEARRAY* psa, UINT nDim, const SAFEARRAYBOUND*& out) {
    if (!psa) return E_INVALIDARG;
    if (nDim == 0 || nDim > psa->cDims) return DISP_E_BADINDEX;
    out = &bounds_of(psa)[psa->cDims - nDim];
    return S_OK;
}

}  // namespace

SAFEARRAY* SafeArrayCreate(VARTYPE vt, UINT cDims, SAFEARRAYBOUND* rgsabound) {
    const ULONG cbElements = element_size(vt);
    if (!rgsabound || cbElements == 0) return nullptr;
    return allocate(cDims, rgsabound, true, features_for(vt), cbElements);
}

SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lLbound, ULONG cElements) {
    SAFEARRAYBOUND bound{cElements, lLbound};
    return SafeArrayCreate(vt, 1, &bound);
}

HRESULT SafeArrayDestroy(SAFEARRAY* psa) {
    if (!psa) return S_OK;
    if (psa->cLocks > 0) return DISP_E_ARRAYISLOCKED;
    if (psa->pvData && (psa->fFeatures & (FADF_BSTR | FADF_UNKNOWN | FADF_DISPATCH | FADF_VARIANT))) {
        const size_t count = element_count(psa);
        for (size_t i = 0; i < count; ++i) free_element(psa, element_at(psa, i));
    }
    std::free(psa->pvData);
    std::free(psa);
    return S_OK;
}

HRESULT SafeArrayCopy(SAFEARRAY* psa, SAFEARRAY** ppsaOut) {
    if (!ppsaOut) return E_INVALIDARG;
    *ppsaOut = nullptr;
    if (!psa) return S_OK;
    SAFEARRAY* copy = allocate(psa->cDims, bounds_of(psa), false, psa->fFeatures, psa->cbElements);
    if (!copy) return E_OUTOFMEMORY;
    const size_t count = element_count(psa);
    for (size_t i = 0; i < count; ++i) {
        const HRESULT hr = copy_element(copy, element_at(copy, i), element_at(psa, i), false);
        if (FAILED(hr)) {
            SafeArrayDestroy(copy);
            return hr;
        }
    }
    *ppsaOut = copy;
    return S_OK;
}

HRESULT SafeArrayGetLBound(SAFEARRAY* psa, UINT nDim, LONG* plLbound) {
    const SAFEARRAYBOUND* b = nullptr;
    if (!plLbound) return E_INVALIDARG;
    const HRESULT hr = bound(psa, nDim, b);
    if (SUCCEEDED(hr)) *plLbound = b->lLbound;
    return hr;
}

HRESULT SafeArrayGetUBound(SAFEARRAY* psa, UINT nDim, LONG* plUbound) {
    const SAFEARRAYBOUND* b = nullptr;
    if (!plUbound) return E_INVALIDARG;
    const HRESULT hr = bound(psa, nDim, b);
    if (SUCCEEDED(hr)) *plUbound = static_cast<LONG>(int64_t{b->lLbound} + b->cElements - 1);
    return hr;
}

HRESULT SafeArrayGetElement(SAFEARRAY* psa, LONG* rgIndices, void* pv) {
    if (!psa || !rgIndices || !pv) return E_INVALIDARG;
    size_t index = 0;
    const HRESULT hr = element_index(psa, rgIndices, index);
    if (FAILED(hr)) return hr;
    return copy_element(psa, pv, element_at(psa, index), false);
}

HRESULT SafeArrayPutElement(SAFEARRAY* psa, LONG* rgIndices, void* pv) {
    if (!psa || !rgIndices) return E_INVALIDARG;
    const bool valueIsPointer = psa->fFeatures & (FADF_BSTR | FADF_UNKNOWN | FADF_DISPATCH);
    if (!pv && !valueIsPointer) return E_INVALIDARG;
    size_t index = 0;
    HRESULT hr = element_index(psa, rgIndices, index);
    if (FAILED(hr)) return hr;
    // Copied aside first so a failed copy leaves the element as it was.
    alignas(VARIANT) BYTE fresh[sizeof(VARIANT)] = {};
    hr = copy_element(psa, fresh, pv, valueIsPointer);
    if (FAILED(hr)) return hr;
    BYTE* element = element_at(psa, index);
    free_element(psa, element);
    std::memcpy(element, fresh, psa->cbElements);
    return S_OK;
}

HRESULT SafeArrayAccessData(SAFEARRAY* psa, void** ppvData) {
    if (!psa || !ppvData) return E_INVALIDARG;
    if (psa->cLocks == std::numeric_limits<USHORT>::max()) return E_UNEXPECTED;
    ++psa->cLocks;
    *ppvData = psa->pvData;
    return S_OK;
}

HRESULT SafeArrayUnaccessData(SAFEARRAY* psa) {
    if (!psa) return E_INVALIDARG;
    if (psa->cLocks == 0) return E_UNEXPECTED;
    --psa->cLocks;
    return S_OK;
}
