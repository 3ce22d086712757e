#pragma once
// The one IEnumVdsObject: object ids of one type, turned into COM objects by
// the provider one by one as Next reaches them.
#include <vector>

#include <platform/critical_section.h>
#include <platform/vds.h>
#include <vds/com_object.h>

class CZarvoProvider;

class CZarvoEnum final : public ComObject<IEnumVdsObject> {
public:
    CZarvoEnum();
    ~CZarvoEnum() override;

    HRESULT Initialize(CZarvoProvider* provider, VDS_OBJECT_TYPE type);
    HRESULT AppendObjects(const std::vector<GUID>& ids);
    HRESULT AppendObject(const GUID& id);

    STDMETHODIMP Next(ULONG celt, IUnknown** ppObjectArray, ULONG* pcFetched) override;
    STDMETHODIMP Skip(ULONG celt) override;
    STDMETHODIMP Reset() override;
    STDMETHODIMP Clone(IEnumVdsObject** ppEnum) override;

private:
    CRITICAL_SECTION m_cs;
    CZarvoProvider* m_pProvider = nullptr;
    VDS_OBJECT_TYPE m_type = VDS_OT_UNKNOWN;
    std::vector<GUID> m_ids;
    size_t m_cursor = 0;
};
