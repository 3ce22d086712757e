#include <vds/vds_async.h>

#include <algorithm>
#include <cstring>

#include <platform/comalloc.h>

#include <hostlib/trace.h>
#include <vds/com_method.h>
#include <vds/zarvo_provider.h>

CVdsAsyncObject::~CVdsAsyncObject() {
    if (m_pAsync) m_pAsync->Release();
    if (m_pProvider) m_pProvider->Release();
}

void CVdsAsyncObject::Init(CZarvoProvider* provider, VDS_ASYNC_OUTPUT_TYPE outputType, VDS_OBJECT_TYPE objectType,
                           Async* async) {
    m_pProvider = provider;
    if (m_pProvider) m_pProvider->AddRef();
    m_outputType = outputType;
    m_objectType = objectType;
    m_pAsync = async;
}

STDMETHODIMP CVdsAsyncObject::Cancel() {
    return RunComMethod("CVdsAsyncObject::Cancel", [&]() -> HRESULT { return m_pAsync->Cancel(); });
}

STDMETHODIMP CVdsAsyncObject::Wait(HRESULT* pHrResult, VDS_ASYNC_OUTPUT* pAsyncOut) {
    return RunComMethod("CVdsAsyncObject::Wait", [&]() -> HRESULT {
        if (!pHrResult || !pAsyncOut) return E_POINTER;
        std::memset(pAsyncOut, 0, sizeof(*pAsyncOut));
        pAsyncOut->type = m_outputType;

        GUID id{};
        const HRESULT waited = m_pAsync->Wait(pHrResult, &id);
        if (FAILED(waited)) return waited;
        if (FAILED(*pHrResult)) return S_OK;

        IUnknown* object = nullptr;
        if (m_objectType == VDS_OT_UNKNOWN || m_outputType == VDS_ASYNCOUT_EXTENDLUN) {
            trace_printf("Async Object NOT created. Object type %d , operation type %d ", static_cast<int>(m_objectType),
                         static_cast<int>(m_outputType));
        } else {
            trace_printf("Object Created Async Object type %d, Oeration  type %d  ", static_cast<int>(m_objectType),
                         static_cast<int>(m_outputType));
            *pHrResult = m_pProvider->GetObject(id, m_objectType, &object);
        }
        if (FAILED(*pHrResult)) return S_OK;

        switch (m_outputType) {
            case VDS_ASYNCOUT_CREATELUN: pAsyncOut->cl.pLunUnk = object; break;
            case VDS_ASYNCOUT_CREATEPORTALGROUP: pAsyncOut->cpg.pPortalGroupUnk = object; break;
            case VDS_ASYNCOUT_EXTENDLUN: break;
            default:
                trace_printf("Warning:Async operation type %d, No Object is passed back to the caller",
                             static_cast<int>(m_outputType));
                if (object) object->Release();
                break;
        }
        return S_OK;
    });
}

STDMETHODIMP CVdsAsyncObject::QueryStatus(HRESULT* pHrResult, ULONG* pulPercentCompleted) {
    return RunComMethod("CVdsAsyncObject::QueryStatus", [&]() -> HRESULT {
        if (!pHrResult || !pulPercentCompleted) return E_POINTER;
        return m_pAsync->QueryStatus(pHrResult, pulPercentCompleted);
    });
}

STDMETHODIMP CVdsAsyncObject::GetStage(LPWSTR* ppwszStage) {
    return RunComMethod("CVdsAsyncObject::GetStage", [&]() -> HRESULT {
        if (!ppwszStage) return E_POINTER;
        const std::u16string stage = m_pAsync->Stage();
        auto* copy = static_cast<LPWSTR>(CoTaskMemAlloc((stage.size() + 1) * sizeof(WCHAR)));
        if (!copy) return E_OUTOFMEMORY;
        std::copy(stage.begin(), stage.end(), copy);
        copy[stage.size()] = u'\0';
        *ppwszStage = copy;
        return S_OK;
    });
}
