#include <vds/zarvo_iscsi.h>

#include <cstring>

#include <model/async.h>
#include <platform/probe.h>
#include <vds/com_method.h>
#include <vds/vds_status.h>

namespace {
std::u16string TextOrEmpty(const WCHAR* text) { return text ? std::u16string(text) : std::u16string(); }
}  // namespace

// ---- CZarvoIscsiTarget ---------------------------------------------------------------

STDMETHODIMP CZarvoIscsiTarget::GetProperties(VDS_ISCSI_TARGET_PROP* pTargetProp) {
    static constexpr const char* kName = "CZarvoIscsiTarget::GetProperties";
    return RunComMethod(kName, [&]() -> HRESULT {
        if (HRESULT hr = CheckSan(); FAILED(hr)) return hr;
        if (BadWrite(pTargetProp, kName, "bad pTargetProp pointer")) return E_POINTER;
        return m_pSan->GetTargetProperties(m_objectId, *pTargetProp);
    });
}

STDMETHODIMP CZarvoIscsiTarget::GetSubSystem(IVdsSubSystem** ppSubSystem) {
    static constexpr const char* kName = "CZarvoIscsiTarget::GetSubSystem";
    return RunComMethod(kName, [&]() -> HRESULT {
        if (HRESULT hr = CheckSan(); FAILED(hr)) return hr;
        if (BadWrite(ppSubSystem, kName, "bad ppSubSystem pointer")) return E_POINTER;
        return GetOwningSubSystem(ppSubSystem);
    });
}

STDMETHODIMP CZarvoIscsiTarget::QueryPortalGroups(IEnumVdsObject** ppEnum) {
    static constexpr const char* kName = "CZarvoIscsiTarget::QueryPortalGroups";
    return RunComMethod(kName, [&]() -> HRESULT {
        if (HRESULT hr = CheckSan(); FAILED(hr)) return hr;
        if (BadWrite(ppEnum, kName, "bogus ppEnum pointer")) return E_POINTER;
        *ppEnum = nullptr;
        std::vector<GUID> ids;
        const HRESULT hr = m_pSan->QueryPortalGroups(m_objectId, ids);
        if (FAILED(hr)) return hr;
        trace_printf("%s, number of portal groups %d", kName, static_cast<int>(ids.size()));
        return MakeEnum(VDS_OT_PORTAL_GROUP, ids, ppEnum);
    });
}

STDMETHODIMP CZarvoIscsiTarget::QueryAssociatedLuns(IEnumVdsObject** ppEnum) {
    static constexpr const char* kName = "CZarvoIscsiTarget::QueryAssociatedLuns";
    return RunComMethod(kName, [&]() -> HRESULT {
        if (HRESULT hr = CheckSan(); FAILED(hr)) return hr;
        if (BadWrite(ppEnum, kName, "bogus ppEnum pointer")) return E_POINTER;
        *ppEnum = nullptr;
        std::vector<GUID> ids;
        const HRESULT hr = m_pSan->QueryAssociatedLuns(m_objectId, ids);
        if (FAILED(hr)) return hr;
        return MakeEnum(VDS_OT_LUN, ids, ppEnum);
    });
}

STDMETHODIMP CZarvoIscsiTarget::CreatePortalGroup(IVdsAsync** ppAsync) {
    static constexpr const char* kName = "CZarvoIscsiTarget::CreatePortalGroup";
    return RunComMethod(kName, [&]() -> HRESULT {
        if (HRESULT hr = CheckSan(); FAILED(hr)) return hr;
        if (BadWrite(ppAsync, kName, "bogus ppAsync pointer")) return E_POINTER;
        *ppAsync = nullptr;
        return StartAsync(
            VDS_ASYNCOUT_CREATEPORTALGROUP, VDS_OT_PORTAL_GROUP,
            [&](ZarvoAsync** async) { return m_pSan->CreatePortalGroup(m_objectId, async); }, ppAsync);
    });
}

STDMETHODIMP CZarvoIscsiTarget::Delete(IVdsAsync** ppAsync) {
    static constexpr const char* kName = "CZarvoIscsiTarget::Delete";
    return RunComMethod(kName, [&]() -> HRESULT {
        if (HRESULT hr = CheckSan(); FAILED(hr)) return hr;
        if (BadWrite(ppAsync, kName, "bogus ppAsync pointer")) return E_POINTER;
        return NotSupported(kName);
    });
}

STDMETHODIMP CZarvoIscsiTarget::SetFriendlyName(LPWSTR pwszFriendlyName) {
    static constexpr const char* kName = "CZarvoIscsiTarget::SetFriendlyName";
    return RunComMethod(kName, [&]() -> HRESULT {
        if (HRESULT hr = CheckSan(); FAILED(hr)) return hr;
        if (BadString(pwszFriendlyName, kName, "bad pwszFriendlyName")) return E_POINTER;
        return m_pSan->SetTargetName(m_objectId, pwszFriendlyName);
    });
}

STDMETHODIMP CZarvoIscsiTarget::SetSharedSecret(VDS_ISCSI_SHARED_SECRET* pTargetSharedSecret,
                                                LPWSTR pwszInitiatorName) {
    static constexpr const char* kName = "CZarvoIscsiTarget::SetSharedSecret";
    return RunComMethod(kName, [&]() -> HRESULT {
        if (HRESULT hr = CheckSan(); FAILED(hr)) return hr;
        if (pTargetSharedSecret && BadRead(pTargetSharedSecret, kName, "bogus pTargetSharedSecret")) return E_POINTER;
        if (pwszInitiatorName && BadString(pwszInitiatorName, kName, "bad pwszInitiatorName")) return E_POINTER;
        return m_pSan->SetTargetSharedSecret(m_objectId, pTargetSharedSecret, TextOrEmpty(pwszInitiatorName));
    });
}

STDMETHODIMP CZarvoIscsiTarget::RememberInitiatorSharedSecret(LPWSTR pwszInitiatorName,
                                                              VDS_ISCSI_SHARED_SECRET* pInitiatorSharedSecret) {
    static constexpr const char* kName = "CZarvoIscsiTarget::RememberInitiatorSharedSecret";
    return RunComMethod(kName, [&]() -> HRESULT {
        if (HRESULT hr = CheckSan(); FAILED(hr)) return hr;
        if (BadString(pwszInitiatorName, kName, "bad pwszInitiatorName")) return E_POINTER;
        if (BadRead(pInitiatorSharedSecret, kName, "bogus pInitiatorSharedSecret")) return E_POINTER;
        return NotSupported(kName);
    });
}

STDMETHODIMP CZarvoIscsiTarget::GetConnectedInitiators(LPWSTR** pppwszInitiatorList, LONG* plNumberOfInitiators) {
    static constexpr const char* kName = "CZarvoIscsiTarget::GetConnectedInitiators";
    return RunComMethod(kName, [&]() -> HRESULT {
        if (HRESULT hr = CheckSan(); FAILED(hr)) return hr;
        if (BadWrite(pppwszInitiatorList, kName, "bad pppwszInitiatorList")) return E_POINTER;
        if (BadWrite(plNumberOfInitiators, kName, "bad plNumberOfInitiators")) return E_POINTER;
        return m_pSan->GetConnectedInitiators(m_objectId, pppwszInitiatorList, plNumberOfInitiators);
    });
}

// ---- CZarvoIscsiPortal ---------------------------------------------------------------

STDMETHODIMP CZarvoIscsiPortal::GetProperties(VDS_ISCSI_PORTAL_PROP* pPortalProp) {
    static constexpr const char* kName = "CZarvoIscsiPortal::GetProperties";
    return RunComMethod(kName, [&]() -> HRESULT {
        if (HRESULT hr = CheckSan(); FAILED(hr)) return hr;
        if (BadWrite(pPortalProp, kName, "bad pPortalProp pointer")) return E_POINTER;
        return m_pSan->GetPortalProperties(m_objectId, *pPortalProp);
    });
}

STDMETHODIMP CZarvoIscsiPortal::GetSubSystem(IVdsSubSystem** ppSubSystem) {
    static constexpr const char* kName = "CZarvoIscsiPortal::GetSubSystem";
    return RunComMethod(kName, [&]() -> HRESULT {
        if (HRESULT hr = CheckSan(); FAILED(hr)) return hr;
        if (BadWrite(ppSubSystem, kName, "bad ppSubSystem pointer")) return E_POINTER;
        return GetOwningSubSystem(ppSubSystem);
    });
}

STDMETHODIMP CZarvoIscsiPortal::QueryAssociatedPortalGroups(IEnumVdsObject** ppEnum) {
    static constexpr const char* kName = "CZarvoIscsiPortal::QueryAssociatedPortalGroups";
    return RunComMethod(kName, [&]() -> HRESULT {
        if (HRESULT hr = CheckSan(); FAILED(hr)) return hr;
        if (BadWrite(ppEnum, kName, "bogus ppEnum pointer")) return E_POINTER;
        *ppEnum = nullptr;
        std::vector<GUID> ids;
        const HRESULT hr = m_pSan->QueryAssociatedPortalGroups(m_objectId, ids);
        if (FAILED(hr)) return hr;
        return MakeEnum(VDS_OT_PORTAL_GROUP, ids, ppEnum);
    });
}

STDMETHODIMP CZarvoIscsiPortal::SetStatus(VDS_ISCSI_PORTAL_STATUS status) {
    return StatusNotSupported("CZarvoIscsiPortal::SetStatus", status);
}

STDMETHODIMP CZarvoIscsiPortal::SetIpsecTunnelAddress(VDS_IPADDRESS* pTunnelAddress,
                                                      VDS_IPADDRESS* pDestinationAddress) {
    static constexpr const char* kName = "CZarvoIscsiPortal::SetIpsecTunnelAddress";
    return RunComMethod(kName, [&]() -> HRESULT {
        if (BadRead(pTunnelAddress, kName, "bogus pTunnelAddress")) return E_POINTER;
        if (BadRead(pDestinationAddress, kName, "bogus pDestinationAddress")) return E_POINTER;
        return NotSupported(kName);
    });
}

STDMETHODIMP CZarvoIscsiPortal::GetIpsecSecurity(VDS_IPADDRESS* pInitiatorPortalAddress,
                                                 ULONGLONG* pullSecurityFlags) {
    static constexpr const char* kName = "CZarvoIscsiPortal::GetIpsecSecurity";
    return RunComMethod(kName, [&]() -> HRESULT {
        if (HRESULT hr = CheckSan(); FAILED(hr)) return hr;
        if (BadRead(pInitiatorPortalAddress, kName, "bogus pInitiatorPortalAddress")) return E_POINTER;
        if (BadWrite(pullSecurityFlags, kName, "bad pullSecurityFlags pointer")) return E_POINTER;
        return NotSupported(kName);
    });
}

STDMETHODIMP CZarvoIscsiPortal::SetIpsecSecurity(VDS_IPADDRESS* pInitiatorPortalAddress, ULONGLONG ullSecurityFlags,
                                                 VDS_ISCSI_IPSEC_KEY* pIpsecKey) {
    static constexpr const char* kName = "CZarvoIscsiPortal::SetIpsecSecurity";
    return RunComMethod(kName, [&]() -> HRESULT {
        if (BadRead(pInitiatorPortalAddress, kName, "bogus pInitiatorPortalAddress")) return E_POINTER;
        if (ullSecurityFlags & ~VDS_IPSEC_FLAGS_VALID_MASK) {
            TraceBadArgument(kName, "unknown flag(s)");
            return E_INVALIDARG;
        }
        if (pIpsecKey && BadRead(pIpsecKey, kName, "bogus pIpsecKey")) return E_POINTER;
        return NotSupported(kName);
    });
}

// ---- CZarvoIscsiPortalGroup ----------------------------------------------------------

STDMETHODIMP CZarvoIscsiPortalGroup::GetProperties(VDS_ISCSI_PORTALGROUP_PROP* pPortalGroupProp) {
    static constexpr const char* kName = "CZarvoIscsiPortalGroup::GetProperties";
    return RunComMethod(kName, [&]() -> HRESULT {
        if (HRESULT hr = CheckSan(); FAILED(hr)) return hr;
        if (BadWrite(pPortalGroupProp, kName, "bad pPortalGroupProp pointer")) return E_POINTER;
        std::memset(pPortalGroupProp, 0, sizeof(*pPortalGroupProp));
        return m_pSan->GetPortalGroupProperties(m_objectId, *pPortalGroupProp);
    });
}

STDMETHODIMP CZarvoIscsiPortalGroup::GetTarget(IVdsIscsiTarget** ppTarget) {
    static constexpr const char* kName = "CZarvoIscsiPortalGroup::GetTarget";
    return RunComMethod(kName, [&]() -> HRESULT {
        if (HRESULT hr = CheckSan(); FAILED(hr)) return hr;
        if (BadWrite(ppTarget, kName, "bad ppTarget pointer")) return E_POINTER;
        *ppTarget = nullptr;
        GUID targetId{};
        const HRESULT hr = m_pSan->GetTargetFromPortalGroup(m_objectId, targetId);
        if (FAILED(hr)) return hr;
        return GetRelatedObject(targetId, VDS_OT_TARGET, IID_PPV_ARGS(ppTarget));
    });
}

STDMETHODIMP CZarvoIscsiPortalGroup::QueryAssociatedPortals(IEnumVdsObject** ppEnum) {
    static constexpr const char* kName = "CZarvoIscsiPortalGroup::QueryAssociatedPortals";
    return RunComMethod(kName, [&]() -> HRESULT {
        if (HRESULT hr = CheckSan(); FAILED(hr)) return hr;
        if (BadWrite(ppEnum, kName, "bogus ppEnum pointer")) return E_POINTER;
        *ppEnum = nullptr;
        std::vector<GUID> ids;
        const HRESULT hr = m_pSan->QueryAssociatedPortals(m_objectId, ids);
        if (FAILED(hr)) return hr;
        return MakeEnum(VDS_OT_PORTAL, ids, ppEnum);
    });
}

STDMETHODIMP CZarvoIscsiPortalGroup::AddPortal(VDS_OBJECT_ID portalId, IVdsAsync** ppAsync) {
    static constexpr const char* kName = "CZarvoIscsiPortalGroup::AddPortal";
    return RunComMethod(kName, [&]() -> HRESULT {
        if (HRESULT hr = CheckSan(); FAILED(hr)) return hr;
        if (BadWrite(ppAsync, kName, "bogus ppAsync pointer")) return E_POINTER;
        *ppAsync = nullptr;
        return StartAsync(
            VDS_ASYNCOUT_ADDPORTAL, VDS_OT_PORTAL,
            [&](ZarvoAsync** async) { return m_pSan->AddPortal(portalId, m_objectId, async); }, ppAsync);
    });
}

STDMETHODIMP CZarvoIscsiPortalGroup::RemovePortal(VDS_OBJECT_ID, IVdsAsync**) {
    static constexpr const char* kName = "CZarvoIscsiPortalGroup::RemovePortal";
    return RunComMethod(kName, [&]() -> HRESULT { return NotSupported(kName); });
}

STDMETHODIMP CZarvoIscsiPortalGroup::Delete(IVdsAsync** ppAsync) {
    return NotSupportedAfterWriteCheck("CZarvoIscsiPortalGroup::Delete", ppAsync, "bogus ppAsync pointer");
}
