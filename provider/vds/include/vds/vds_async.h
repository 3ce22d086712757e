#pragma once
// IVdsAsync over the model's completion object; hands the disk-management
// service the object that the operation created.
#include <model/async.h>
#include <platform/vds.h>
#include <vds/com_object.h>

class CZarvoProvider;

class CVdsAsyncObject final : public ComObject<IVdsAsync> {
public:
    CVdsAsyncObject() = default;
    ~CVdsAsyncObject() override;

    // Takes a reference on the provider; `async` comes with the reference that
    // this object now owns.
    void Init(CZarvoProvider* provider, VDS_ASYNC_OUTPUT_TYPE outputType, VDS_OBJECT_TYPE objectType, Async* async);

    STDMETHODIMP Cancel() override;
    STDMETHODIMP Wait(HRESULT* pHrResult, VDS_ASYNC_OUTPUT* pAsyncOut) override;
    STDMETHODIMP QueryStatus(HRESULT* pHrResult, ULONG* pulPercentCompleted) override;

private:
    CZarvoProvider* m_pProvider = nullptr;
    VDS_OBJECT_TYPE m_objectType = VDS_OT_UNKNOWN;
    VDS_ASYNC_OUTPUT_TYPE m_outputType = VDS_ASYNCOUT_UNKNOWN;
    Async* m_pAsync = nullptr;
};
