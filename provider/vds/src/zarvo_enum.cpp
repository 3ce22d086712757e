#include <vds/zarvo_enum.h>

#include <algorithm>
#include <exception>

#include <hostlib/autolock.h>
#include <hostlib/trace.h>
#include <vds/zarvo_provider.h>

namespace {
// The four IEnumVdsObject methods trace nothing but an escaping exception.
template <typename Body>
HRESULT Guarded(const char* name, Body&& body) {
    try {
        return body();
    } catch (...) {
        return trace_unexpected_exception(name, E_FAIL);
    }
}
}  // namespace

CZarvoEnum::CZarvoEnum() { InitializeCriticalSection(&m_cs); }

CZarvoEnum::~CZarvoEnum() {
    if (m_pProvider) m_pProvider->Release();
    DeleteCriticalSection(&m_cs);
}

HRESULT CZarvoEnum::Initialize(CZarvoProvider* provider, VDS_OBJECT_TYPE type) {
    try {
        AutoLock lock(&m_cs);
        if (provider) provider->AddRef();
        if (m_pProvider) m_pProvider->Release();
        m_pProvider = provider;
        m_type = type;
        m_ids.clear();
        m_cursor = 0;
        return S_OK;
    } catch (const std::exception& e) {
        trace_printf("CZarvoEnum::Initialize: caught exception: %s", e.what());
        return E_UNEXPECTED;
    }
}

HRESULT CZarvoEnum::AppendObjects(const std::vector<GUID>& ids) {
    if (!m_pProvider || m_type == VDS_OT_UNKNOWN) return E_FAIL;
    try {
        AutoLock lock(&m_cs);
        m_ids.insert(m_ids.end(), ids.begin(), ids.end());
        m_cursor = 0;
        return S_OK;
    } catch (const std::exception& e) {
        trace_printf("CZarvoEnum::AppendObjects: caught exception: %s", e.what());
        return E_UNEXPECTED;
    }
}

HRESULT CZarvoEnum::AppendObject(const GUID& id) {
    if (!m_pProvider || m_type == VDS_OT_UNKNOWN) return E_FAIL;
    try {
        AutoLock lock(&m_cs);
        m_ids.push_back(id);
        m_cursor = 0;
        return S_OK;
    } catch (const std::exception& e) {
        trace_printf("CZarvoEnum::AppendObject: caught exception: %s", e.what());
        return E_UNEXPECTED;
    }
}

STDMETHODIMP CZarvoEnum::Next(ULONG celt, IUnknown** ppObjectArray, ULONG* pcFetched) {
    return Guarded("CZarvoEnum::Next", [&]() -> HRESULT {
        if (!ppObjectArray || !pcFetched) return E_POINTER;
        AutoLock lock(&m_cs);
        ULONG fetched = 0;
        while (fetched < celt && m_cursor < m_ids.size()) {
            IUnknown* object = nullptr;
            const HRESULT hr = m_pProvider->GetObject(m_ids[m_cursor], m_type, &object);
            if (hr == VDS_E_OBJECT_NOT_FOUND) {
                ++m_cursor;
                continue;
            }
            if (FAILED(hr)) {
                for (ULONG i = 0; i < fetched; ++i) {
                    ppObjectArray[i]->Release();
                    ppObjectArray[i] = nullptr;
                }
                *pcFetched = 0;
                return hr;
            }
            ppObjectArray[fetched++] = object;
            ++m_cursor;
        }
        *pcFetched = fetched;
        return fetched < celt ? S_FALSE : S_OK;
    });
}

STDMETHODIMP CZarvoEnum::Skip(ULONG celt) {
    return Guarded("CZarvoEnum::Skip", [&]() -> HRESULT {
        AutoLock lock(&m_cs);
        const size_t left = m_ids.size() - m_cursor;
        if (celt > left) {
            m_cursor = m_ids.size();
            return S_FALSE;
        }
        m_cursor += celt;
        return S_OK;
    });
}

STDMETHODIMP CZarvoEnum::Reset() {
    return Guarded("CZarvoEnum::Reset", [&]() -> HRESULT {
        AutoLock lock(&m_cs);
        m_cursor = 0;
        return S_OK;
    });
}

STDMETHODIMP CZarvoEnum::Clone(IEnumVdsObject** ppEnum) {
    return Guarded("CZarvoEnum::Clone", [&]() -> HRESULT {
        if (!ppEnum) return E_POINTER;
        CZarvoEnum* clone = NewComObject<CZarvoEnum>();
        if (!clone) return E_OUTOFMEMORY;
        AutoLock lock(&m_cs);
        HRESULT hr = clone->Initialize(m_pProvider, m_type);
        if (SUCCEEDED(hr)) hr = clone->AppendObjects(m_ids);
        if (SUCCEEDED(hr)) clone->m_cursor = m_cursor;  // Skip to this enumerator's position
        if (FAILED(hr)) {
            clone->Release();
            return hr;
        }
        *ppEnum = clone;
        return S_OK;
    });
}
