#pragma once
// IVdsAsync over the model's completion object; hands the disk-management
// service the object that the operation created.
#include <model/async.h>
#include <platform/vds.h>
#include <vds/com_object.h>

class CZarvoProvider;

// What an operation waits for now, in words ("" when nothing in particular),
// for a caller that shows more than the percentage.
struct IZarvoAsyncStage : IUnknown {
    // The text is the caller's to free with CoTaskMemFree.
    virtual HRESULT STDMETHODCALLTYPE GetStage(LPWSTR* ppwszStage) = 0;
};
DEFINE_GUID(IID_IZarvoAsyncStage, 0x5b0e61d2, 0x3c47, 0x4f18, 0x9a, 0x2e, 0x71, 0xd4, 0x0c, 0x8b, 0x56, 0x13);
PLATFORM_INTERFACE_ID(IZarvoAsyncStage, IID_IZarvoAsyncStage);

class CVdsAsyncObject final : public ComObject<IVdsAsync, IZarvoAsyncStage> {
public:
    CVdsAsyncObject() = default;
    ~CVdsAsyncObject() override;

    // Takes a reference on the provider; `async` comes with the reference that
    // this object now owns.
    void Init(CZarvoProvider* provider, VDS_ASYNC_OUTPUT_TYPE outputType, VDS_OBJECT_TYPE objectType, Async* async);

    STDMETHODIMP Cancel() override;
    STDMETHODIMP Wait(HRESULT* pHrResult, VDS_ASYNC_OUTPUT* pAsyncOut) override;
    STDMETHODIMP QueryStatus(HRESULT* pHrResult, ULONG* pulPercentCompleted) override;
    STDMETHODIMP GetStage(LPWSTR* ppwszStage) override;

private:
    CZarvoProvider* m_pProvider = nullptr;
    VDS_OBJECT_TYPE m_objectType = VDS_OT_UNKNOWN;
    VDS_ASYNC_OUTPUT_TYPE m_outputType = VDS_ASYNCOUT_UNKNOWN;
    Async* m_pAsync = nullptr;
};
