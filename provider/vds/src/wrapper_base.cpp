#include <vds/wrapper_base.h>

#include <hostlib/autolock.h>
#include <hostlib/trace.h>
#include <model/async.h>
#include <vds/vds_async.h>
#include <vds/zarvo_provider.h>

void WrapperBase::Init(CZarvoProvider* provider, San* san, const GUID& id) {
    m_pProvider = provider;
    if (m_pProvider) m_pProvider->AddRef();
    m_pSan = san;
    if (m_pSan) m_pSan->AddRef();
    m_objectId = id;
}

void WrapperBase::Clear() {
    if (m_pSan) m_pSan->Release();
    m_pSan = nullptr;
    if (m_pProvider) m_pProvider->Release();
    m_pProvider = nullptr;
}

HRESULT WrapperBase::CheckSan() const {
    if (!m_pSan) {
        trace_printf("m_pSan is NULL! ");
        return E_FAIL;
    }
    if (!m_pSan->IsActive()) {
        trace_printf("m_pSan is not Active! ");
        return VDS_E_OBJECT_DELETED;
    }
    return S_OK;
}

LONG WrapperBase::ProviderType() const { return m_pProvider ? m_pProvider->HwType() : 0; }

HRESULT WrapperBase::GetRelatedObject(const GUID& id, VDS_OBJECT_TYPE type, REFIID riid, void** ppv) const {
    if (!m_pProvider) return E_FAIL;
    IUnknown* object = nullptr;
    HRESULT hr = m_pProvider->GetObject(id, type, &object);
    if (FAILED(hr)) return hr;
    hr = object->QueryInterface(riid, ppv);
    object->Release();
    return hr;
}

HRESULT WrapperBase::GetOwningSubSystem(IVdsSubSystem** ppSubSystem) const {
    *ppSubSystem = nullptr;
    if (!m_pSan) return E_FAIL;
    return GetRelatedObject(m_pSan->GetId(), VDS_OT_SUB_SYSTEM, IID_PPV_ARGS(ppSubSystem));
}

HRESULT WrapperBase::MakeEnum(VDS_OBJECT_TYPE type, const std::vector<GUID>& ids, IEnumVdsObject** ppEnum) const {
    if (!m_pProvider) return E_FAIL;
    return m_pProvider->MakeEnum(type, ids, ppEnum);
}

ULONG WrapperBase::ReleaseUnderProviderLock(std::atomic<ULONG>& refCount, IUnknown* self, const char* name) {
    TraceScope scope(name);
    if (!m_pProvider) return --refCount;
    AutoLock lock(m_pProvider->ProviderLock());
    const ULONG count = --refCount;
    if (count == 0) {
        try {
            m_pProvider->DeleteObject(m_objectId, self);
        } catch (...) {
            trace_unexpected_exception(name);
        }
    }
    return count;
}

HRESULT WrapperBase::StartAsync(VDS_ASYNC_OUTPUT_TYPE outputType, VDS_OBJECT_TYPE objectType,
                                const std::function<HRESULT(ZarvoAsync**)>& start, IVdsAsync** ppAsync) const {
    CVdsAsyncObject* asyncObject = NewComObject<CVdsAsyncObject>();
    if (!asyncObject) return E_OUTOFMEMORY;
    ZarvoAsync* async = nullptr;
    const HRESULT hr = start(&async);
    if (FAILED(hr)) {
        asyncObject->Release();
        if (async) async->Release();
        return hr;
    }
    asyncObject->Init(m_pProvider, outputType, objectType, async);
    *ppAsync = asyncObject;
    return S_OK;
}
