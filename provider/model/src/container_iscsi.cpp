// Stub: the container's iSCSI operations are built by their own owner, who
// replaces this file.
#include <model/filer_object_container.h>

namespace {
HRESULT NotQueued(ZarvoAsync** async) {
    if (async) *async = nullptr;
    return E_NOTIMPL;
}
}  // namespace

HRESULT FilerObjectContainer::GetPortalProperties(const GUID& /*portalId*/, VDS_ISCSI_PORTAL_PROP& /*properties*/) {
    return E_NOTIMPL;
}
HRESULT FilerObjectContainer::QueryAssociatedPortalGroups(const GUID& /*portalId*/,
                                                          std::vector<GUID>& /*portalGroupIds*/) {
    return E_NOTIMPL;
}
HRESULT FilerObjectContainer::GetPortalIpsecSecurity(const GUID& /*portalId*/, ULONGLONG /*securityFlags*/,
                                                     ULONGLONG /*securityMask*/) {
    return E_NOTIMPL;
}
HRESULT FilerObjectContainer::GetPortalGroupProperties(const GUID& /*portalGroupId*/,
                                                       VDS_ISCSI_PORTALGROUP_PROP& /*properties*/) {
    return E_NOTIMPL;
}
HRESULT FilerObjectContainer::QueryAssociatedPortals(const GUID& /*portalGroupId*/, std::vector<GUID>& /*portalIds*/) {
    return E_NOTIMPL;
}
HRESULT FilerObjectContainer::GetAssociatedTargets(const GUID& /*portalGroupId*/, GUID& /*targetId*/) {
    return E_NOTIMPL;
}
HRESULT FilerObjectContainer::QueryPortalGroups(const GUID& /*targetId*/, std::vector<GUID>& /*portalGroupIds*/) {
    return E_NOTIMPL;
}
HRESULT FilerObjectContainer::AddPortal(const GUID& /*portalId*/, const GUID& /*portalGroupId*/, ZarvoAsync** async) {
    return NotQueued(async);
}
HRESULT FilerObjectContainer::RemovePortal(const GUID& /*portalId*/, const GUID& /*portalGroupId*/,
                                           ZarvoAsync** async) {
    return NotQueued(async);
}
HRESULT FilerObjectContainer::CreatePortalGroup(const GUID& /*targetId*/, ZarvoAsync** async) {
    return NotQueued(async);
}
HRESULT FilerObjectContainer::SetTargetName(const GUID& /*targetId*/, const std::u16string& /*alias*/) {
    return E_NOTIMPL;
}
HRESULT FilerObjectContainer::SetTargetSharedSecret(const GUID& /*targetId*/, const VDS_ISCSI_SHARED_SECRET* /*secret*/,
                                                    const std::u16string& /*initiatorName*/) {
    return E_NOTIMPL;
}
HRESULT FilerObjectContainer::SetInitiatorSharedSecret(const GUID& /*targetId*/,
                                                       const VDS_ISCSI_SHARED_SECRET* /*secret*/,
                                                       const std::u16string& /*initiatorName*/) {
    return E_NOTIMPL;
}
HRESULT FilerObjectContainer::GetConnectedInitiators(const GUID& /*targetId*/, WCHAR*** names, LONG* count) {
    if (names) *names = nullptr;
    if (count) *count = 0;
    return E_NOTIMPL;
}
