#include <model/iscsi_portal_group.h>

#include <model/async.h>
#include <model/filer_object_container.h>
#include <model/iscsi_portal.h>

#include <hostlib/trace.h>

#include <algorithm>

#include "iscsi_request.h"

namespace {
// Interfaces of the appliance's own per-interface groups, which are never left.
constexpr std::u16string_view kDefaultGroupPrefix = u"_default";
}  // namespace

ZarvoIscsiPortalGroup::ZarvoIscsiPortalGroup(FilerObjectContainer* container, ZarvoIscsiTarget* target, const GUID& id,
                                             const std::u16string& name, int32_t tag,
                                             const std::vector<std::u16string>& interfaces)
    : m_pContainer(container), m_pTarget(target), m_id(id), m_strName(name), m_interfaces(interfaces), m_tag(tag) {}

NotificationType ZarvoIscsiPortalGroup::GetArriveType() { return notification_code::PortalGroupArrive; }
NotificationType ZarvoIscsiPortalGroup::GetDepartType() { return notification_code::PortalGroupDepart; }
NotificationType ZarvoIscsiPortalGroup::GetModifyType() { return notification_code::PortalGroupModify; }

HRESULT ZarvoIscsiPortalGroup::IsEqual(SanHelper* other) {
    const auto* group = dynamic_cast<ZarvoIscsiPortalGroup*>(other);
    if (!group) {
        trace_printf("Invalid IsEqual object in ZarvoIscsiPortalGroup.");
        return E_FAIL;
    }
    return IsEqualGUID(m_id, group->m_id) && m_tag == group->m_tag ? 0 : 1;
}

HRESULT ZarvoIscsiPortalGroup::AddInterface(const std::u16string& interfaceName) {
    if (std::find(m_interfaces.begin(), m_interfaces.end(), interfaceName) != m_interfaces.end()) return S_OK;
    const HRESULT hr = ISCSI_REQUEST(m_pContainer, [&](CFiler& filer) {
        filer.fapi_iscsi_tpgroup_interface_add(interfaceName.c_str(), static_cast<uint32_t>(m_tag));
    });
    if (SUCCEEDED(hr)) m_interfaces.push_back(interfaceName);
    return hr;
}

HRESULT ZarvoIscsiPortalGroup::RemoveInterface(const std::u16string& interfaceName) {
    const auto entry = std::find(m_interfaces.begin(), m_interfaces.end(), interfaceName);
    if (entry == m_interfaces.end()) return S_OK;
    const HRESULT hr = ISCSI_REQUEST(m_pContainer, [&](CFiler& filer) {
        filer.fapi_iscsi_tpgroup_interface_delete(interfaceName.c_str(), static_cast<uint32_t>(m_tag));
    });
    if (SUCCEEDED(hr)) entry->clear();  // the entry stays, as an empty name
    return hr;
}

void ZarvoIscsiPortalGroup::AddPortalId(const GUID& portalId, const std::u16string& interfaceName) {
    if (std::find(m_interfaces.begin(), m_interfaces.end(), interfaceName) != m_interfaces.end())
        m_portalIds.insert(portalId);
}

void ZarvoIscsiPortalGroup::RemovePortalId(const GUID& portalId) { m_portalIds.erase(portalId); }

void ZarvoIscsiPortalGroup::PortalLeft(const GUID& portalId, const std::u16string& interfaceName) {
    std::erase(m_interfaces, interfaceName);
    m_portalIds.erase(portalId);
}

void ZarvoIscsiPortalGroup::QueryPortals(std::vector<GUID>& portalIds) const {
    portalIds.assign(m_portalIds.begin(), m_portalIds.end());
}

HRESULT ZarvoIscsiPortalGroup::AddPortal(const GUID& portalId) {
    ZarvoIscsiPortal* portal = nullptr;
    HRESULT hr = m_pContainer->GetPortal(portalId, portal);
    if (FAILED(hr)) return hr;
    hr = AddInterface(portal->m_strName);
    if (SUCCEEDED(hr)) {
        // An interface is in one group at a time: adding it here took it out
        // of the one it was in, so a move back asks the appliance again.
        ZarvoIscsiPortalGroup* previous = nullptr;
        if (!IsEqualGUID(portal->m_portalGroupId, m_id) &&
            SUCCEEDED(m_pContainer->GetPortalGroup(portal->m_portalGroupId, previous)) && previous)
            previous->PortalLeft(portalId, portal->m_strName);
        AddPortalId(portalId, portal->m_strName);
        portal->m_portalGroupId = m_id;
        portal->m_portalGroupTag = m_tag;
    }
    return hr;
}

HRESULT ZarvoIscsiPortalGroup::RemovePortal(const GUID& portalId) {
    ZarvoIscsiPortal* portal = nullptr;
    HRESULT hr = m_pContainer->GetPortal(portalId, portal);
    if (FAILED(hr)) return hr;
    const std::u16string& name = portal->m_strName;
    if (name.empty() || name.starts_with(kDefaultGroupPrefix)) return S_OK;
    hr = RemoveInterface(name);
    if (SUCCEEDED(hr)) RemovePortalId(portalId);
    return hr;
}

HRESULT ZarvoIscsiPortalGroup::DoWork(int32_t type, int32_t value, Async* async) {
    auto* completion = dynamic_cast<ZarvoAsync*>(async);
    if (completion) completion->StartAutoPercentage(static_cast<DWORD>(value));
    HRESULT hr = S_OK;
    if (type == PORTALGROUP_ADD_PORTAL)
        hr = VDS_S_ISCSI_PORTAL_GROUP_EXISTS;
    else if (type == DELAY)
        trace_printf("ZarvoTarget::DoWork: DELAY");
    if (completion) {
        completion->SetResult(hr);
        completion->WakeUp();
    }
    if (async) async->Release();
    return hr;
}
