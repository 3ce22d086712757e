// The portal groups and portals that the target builds from the appliance's
// lists, and the creation of a portal group on the appliance.
#include <model/iscsi_target.h>

#include <model/filer_object_container.h>
#include <model/iscsi_portal.h>
#include <model/iscsi_portal_group.h>
#include <model/properties.h>
#include <model/zarvo_san.h>

#include <hostlib/event_log.h>
#include <hostlib/trace.h>

#include <memory>
#include <new>

#include "iscsi_request.h"

HRESULT ZarvoIscsiTarget::RefreshTargetPortalGroups() {
    std::vector<fapi_iscsi_tpgroup_info_t> groups;
    HRESULT hr = GetTPGroups(groups);
    if (!groups.empty()) m_strFirstPortalGroupName = groups.front().tpgroup_name;
    if (FAILED(hr)) return hr;
    for (const fapi_iscsi_tpgroup_info_t& group : groups) {
        GUID id{};
        hr = CreateTargetPortalGroup(group.tpgroup_name, group.tpgroup_tag, group.interfaces, id);
        if (FAILED(hr)) break;
    }
    return hr;
}

HRESULT ZarvoIscsiTarget::CreateTargetPortalGroup(const std::u16string& name, int32_t tag,
                                                  const std::vector<std::u16string>& interfaces, GUID& portalGroupId) {
    m_pContainer->m_pSan->CheckCreateGuid(NarrowFromWide(name), portalGroupId);
    std::unique_ptr<ZarvoIscsiPortalGroup> group;
    try {
        group = std::make_unique<ZarvoIscsiPortalGroup>(m_pContainer, this, portalGroupId, name, tag, interfaces);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        process_event_reporter().LogEvent(u"" __FILE__, __LINE__);
        return E_OUTOFMEMORY;
    }
    m_portalGroupNames[name] = portalGroupId;
    // The container owns the group from here, whatever it answers.
    const HRESULT hr = m_pContainer->AddPortalGroupObject(portalGroupId, group.release());
    m_portalGroupTags.emplace(tag, portalGroupId);
    return hr;
}

HRESULT ZarvoIscsiTarget::CreateNewFilerTPG(const std::u16string& name, uint32_t& tag) {
    return ISCSI_REQUEST(m_pContainer, [&](CFiler& filer) { filer.fapi_iscsi_tpgroup_create(name.c_str(), &tag); });
}

HRESULT ZarvoIscsiTarget::RefreshPortals() {
    std::vector<fapi_iscsi_portal_info_t> portals;
    HRESULT hr = GetPortals(portals);
    if (FAILED(hr)) return hr;
    for (const fapi_iscsi_portal_info_t& portal : portals) {
        int32_t status = VDS_IPS_UNKNOWN;
        if (const auto netInterface = m_netInterfaces.find(portal.interface_name); netInterface != m_netInterfaces.end())
            status = netInterface->second->m_bEnabled ? VDS_IPS_ONLINE : VDS_IPS_OFFLINE;
        GUID groupId{};  // a tag without a group: the null id
        if (const auto group = m_portalGroupTags.find(portal.tpgroup_tag); group != m_portalGroupTags.end())
            groupId = group->second;
        hr = CreatePortal(portal.tpgroup_tag, groupId, portal.ip_address, static_cast<uint32_t>(portal.ip_port),
                          portal.interface_name, portal.interface_name, status);
        if (FAILED(hr)) break;
    }
    return hr;
}

HRESULT ZarvoIscsiTarget::CreatePortal(int32_t tag, const GUID& portalGroupId, const std::u16string& address,
                                       uint32_t port, const std::u16string& portalName,
                                       const std::u16string& interfaceName, int32_t status) {
    GUID portalId{};
    m_pContainer->m_pSan->CheckCreateGuid(NarrowFromWide(portalName), portalId);
    std::unique_ptr<ZarvoIscsiPortal> portal;
    try {
        portal = std::make_unique<ZarvoIscsiPortal>(m_pContainer, portalId, portalName, address, port, portalGroupId,
                                                    tag, interfaceName, status);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    // The container owns the portal from here.
    HRESULT hr = m_pContainer->AddPortalObject(portalId, portal.release());
    if (FAILED(hr)) return hr;
    hr = m_pContainer->AssociatePortalToPortalGroup(portalId, portalGroupId);
    if (FAILED(hr)) return hr;
    ZarvoIscsiPortalGroup* group = nullptr;
    if (SUCCEEDED(m_pContainer->GetPortalGroup(portalGroupId, group)) && group) group->AddPortalId(portalId, interfaceName);
    m_portalIds.push_back(portalId);
    m_interfacePortals[interfaceName].push_back(portalId);
    return hr;
}
