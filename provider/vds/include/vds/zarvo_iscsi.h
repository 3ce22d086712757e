#pragma once
// A subsystem's iSCSI target, its portal groups and its portals.
#include <vds/wrapper_base.h>

class CZarvoIscsiTarget final : public VdsObject<IVdsIscsiTarget> {
public:
    CZarvoIscsiTarget() : VdsObject("CZarvoIscsiTarget::InternalRelease") {}

    STDMETHODIMP GetProperties(VDS_ISCSI_TARGET_PROP* pTargetProp) override;
    STDMETHODIMP GetSubSystem(IVdsSubSystem** ppSubSystem) override;
    STDMETHODIMP QueryPortalGroups(IEnumVdsObject** ppEnum) override;
    STDMETHODIMP QueryAssociatedLuns(IEnumVdsObject** ppEnum) override;
    STDMETHODIMP CreatePortalGroup(IVdsAsync** ppAsync) override;
    STDMETHODIMP Delete(IVdsAsync** ppAsync) override;
    STDMETHODIMP SetFriendlyName(LPWSTR pwszFriendlyName) override;
    STDMETHODIMP SetSharedSecret(VDS_ISCSI_SHARED_SECRET* pTargetSharedSecret, LPWSTR pwszInitiatorName) override;
    STDMETHODIMP RememberInitiatorSharedSecret(LPWSTR pwszInitiatorName,
                                               VDS_ISCSI_SHARED_SECRET* pInitiatorSharedSecret) override;
    STDMETHODIMP GetConnectedInitiators(LPWSTR** pppwszInitiatorList, LONG* plNumberOfInitiators) override;
};

class CZarvoIscsiPortal final : public VdsObject<IVdsIscsiPortal> {
public:
    CZarvoIscsiPortal() : VdsObject("CZarvoIscsiPortal::InternalRelease") {}

    STDMETHODIMP GetProperties(VDS_ISCSI_PORTAL_PROP* pPortalProp) override;
    STDMETHODIMP GetSubSystem(IVdsSubSystem** ppSubSystem) override;
    STDMETHODIMP QueryAssociatedPortalGroups(IEnumVdsObject** ppEnum) override;
    STDMETHODIMP SetStatus(VDS_ISCSI_PORTAL_STATUS status) override;
    STDMETHODIMP SetIpsecTunnelAddress(VDS_IPADDRESS* pTunnelAddress, VDS_IPADDRESS* pDestinationAddress) override;
    STDMETHODIMP GetIpsecSecurity(VDS_IPADDRESS* pInitiatorPortalAddress, ULONGLONG* pullSecurityFlags) override;
    STDMETHODIMP SetIpsecSecurity(VDS_IPADDRESS* pInitiatorPortalAddress, ULONGLONG ullSecurityFlags,
                                  VDS_ISCSI_IPSEC_KEY* pIpsecKey) override;
};

class CZarvoIscsiPortalGroup final : public VdsObject<IVdsIscsiPortalGroup> {
public:
    CZarvoIscsiPortalGroup() : VdsObject("CZarvoIscsiPortalGroup::InternalRelease") {}

    STDMETHODIMP GetProperties(VDS_ISCSI_PORTALGROUP_PROP* pPortalGroupProp) override;
    STDMETHODIMP GetTarget(IVdsIscsiTarget** ppTarget) override;
    STDMETHODIMP QueryAssociatedPortals(IEnumVdsObject** ppEnum) override;
    STDMETHODIMP AddPortal(VDS_OBJECT_ID portalId, IVdsAsync** ppAsync) override;
    STDMETHODIMP RemovePortal(VDS_OBJECT_ID portalId, IVdsAsync** ppAsync) override;
    STDMETHODIMP Delete(IVdsAsync** ppAsync) override;
};
