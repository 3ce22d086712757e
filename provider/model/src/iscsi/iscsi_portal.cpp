#include <model/iscsi_portal.h>

#include <hostlib/trace.h>

#include <algorithm>
#include <cstring>

namespace {
constexpr size_t kMaxTextAddress = 256;
}  // namespace

ZarvoIscsiPortal::ZarvoIscsiPortal(FilerObjectContainer* container, const GUID& id, const std::u16string& name,
                                   const std::u16string& address, uint32_t port, const GUID& portalGroupId,
                                   int32_t portalGroupTag, const std::u16string& interfaceName, int32_t status)
    : m_pContainer(container),
      m_id(id),
      m_strName(name),
      m_port(port),
      m_portalGroupId(portalGroupId),
      m_portalGroupTag(portalGroupTag),
      m_strInterfaceName(interfaceName),
      m_status(status) {
    SetAddress(address, port);
}

NotificationType ZarvoIscsiPortal::GetArriveType() { return notification_code::PortalArrive; }
NotificationType ZarvoIscsiPortal::GetDepartType() { return notification_code::PortalDepart; }
NotificationType ZarvoIscsiPortal::GetModifyType() { return notification_code::PortalModify; }

void ZarvoIscsiPortal::SetAddress(const std::u16string& text, uint32_t port) {
    m_address = VDS_IPADDRESS{};
    m_address.type = VDS_IPT_TEXT;
    if (!text.empty() && text.size() <= kMaxTextAddress)
        std::copy(text.begin(), text.end(), m_address.wszTextAddress);
    m_address.ulPort = port;
}

HRESULT ZarvoIscsiPortal::GetAddress(VDS_IPADDRESS& address) {
    try {
        address = m_address;
        address.wszTextAddress[kMaxTextAddress] = u'\0';
        return S_OK;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

HRESULT ZarvoIscsiPortal::GetProperties(VDS_ISCSI_PORTAL_PROP& properties) {
    properties.id = m_id;
    const HRESULT hr = GetAddress(properties.address);
    properties.status = static_cast<VDS_ISCSI_PORTAL_STATUS>(m_status);
    return hr;
}

bool ZarvoIscsiPortal::IsSameAddress(const VDS_IPADDRESS& address) const {
    if (address.type != m_address.type) return false;
    switch (address.type) {
    case VDS_IPT_TEXT:
        return std::u16string_view(address.wszTextAddress) == std::u16string_view(m_address.wszTextAddress) &&
               address.ulPort == m_address.ulPort;
    case VDS_IPT_IPV4: return address.ipv4Address == m_address.ipv4Address && address.ulPort == m_address.ulPort;
    case VDS_IPT_IPV6:
        return std::memcmp(address.ipv6Address, m_address.ipv6Address, sizeof address.ipv6Address) == 0 &&
               address.ulIpv6FlowInfo == m_address.ulIpv6FlowInfo &&
               address.ulIpv6ScopeId == m_address.ulIpv6ScopeId && address.ulPort == m_address.ulPort;
    default: return false;
    }
}

HRESULT ZarvoIscsiPortal::IsEqual(SanHelper* other) {
    const auto* portal = dynamic_cast<ZarvoIscsiPortal*>(other);
    if (!portal) {
        trace_printf("Invalid IsEqual object in ZarvoIscsiPortal.");
        return E_FAIL;
    }
    return IsEqualGUID(m_id, portal->m_id) && m_status == portal->m_status && IsSameAddress(portal->m_address) ? 0 : 1;
}
