#include <model/iscsi_target.h>

#include <model/async.h>
#include <model/filer_object_container.h>
#include <model/iscsi_portal.h>
#include <model/iscsi_portal_group.h>
#include <model/properties.h>
#include <model/zarvo_san.h>

#include <hostlib/event_log.h>
#include <hostlib/trace.h>
#include <platform/clock.h>
#include <platform/computer_name.h>
#include <platform/delayload.h>
#include <platform/iscsidsc.h>
#include <platform/text.h>

#include <cstring>
#include <new>

#include "iscsi_request.h"

namespace {

constexpr const char* kDiscoveryLibrary = "iscsidsc.dll";
// SetInitiatorSharedSecret for an initiator without a stored secret.
constexpr HRESULT kNoStoredInitiatorSecret = hr_of(0x80042705);
constexpr DWORD kInitiatorListChars = 5000;
constexpr DWORD kConnectedInitiatorsWaitMs = 2000;

std::string narrow(const std::u16string& text) { return platform::wide_to_utf8_lossy(text); }
std::u16string widen(const std::string& text) { return platform::utf8_to_wide_lossy(text); }

// An entry of the discovery library, loaded on first use; a missing library or
// entry throws the delay-load error that RegisterStaticTarget's filter examines.
template <typename Fn>
Fn discovery_entry(const char* name) {
    return reinterpret_cast<Fn>(platform::delay_load(kDiscoveryLibrary, name));
}

}  // namespace

ZarvoIscsiTarget::ZarvoIscsiTarget(FilerObjectContainer* container, const std::u16string& filerName, const GUID& id)
    : m_pContainer(container), m_strNodeName(filerName), m_id(id) {}

ZarvoIscsiTarget::~ZarvoIscsiTarget() = default;

NotificationType ZarvoIscsiTarget::GetArriveType() { return notification_code::TargetArrive; }
NotificationType ZarvoIscsiTarget::GetDepartType() { return notification_code::TargetDepart; }
NotificationType ZarvoIscsiTarget::GetModifyType() { return notification_code::TargetModify; }

HRESULT ZarvoIscsiTarget::Initialize() {
    trace_printf("ZarvoIscsiTarget::Initialize(): entering.");
    WCHAR computerName[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    if (GetComputerNameW(computerName, &size))
        m_strComputerName = CharLowerW(computerName);
    else
        trace_printf("ZarvoIscsiTarget::Initialize - Error while retrieving Computer name");

    HRESULT hr = GetTargetName(m_strNodeName);
    if (SUCCEEDED(hr)) hr = RegisterStaticTarget();
    if (SUCCEEDED(hr)) {
        if (FAILED(GetAliasName(m_strAlias))) m_strAlias.clear();
        hr = RefreshTargetPortalGroups();
    }
    if (SUCCEEDED(hr)) hr = RefreshInitiators();
    if (SUCCEEDED(hr)) hr = RefreshNetInterfaces();
    if (SUCCEEDED(hr)) hr = RefreshPortals();
    trace_printf("ZarvoIscsiTarget::Initialize(): returning %08lX", trace_code(hr));
    return hr;
}

HRESULT ZarvoIscsiTarget::GetTargetName(std::u16string& nodeName) {
    std::string name;
    const HRESULT hr = ISCSI_REQUEST(m_pContainer, [&](CFiler& filer) { filer.fapi_iscsi_node_get_name(name); });
    if (FAILED(hr)) return hr;
    if (name.empty()) {
        trace_printf("ZarvoIscsiTarget::GetTargetName(): FAPI library error");
        return E_FAIL;
    }
    nodeName = widen(name);
    return S_OK;
}

HRESULT ZarvoIscsiTarget::GetAliasName(std::u16string& alias) {
    std::u16string answer;
    const HRESULT hr =
        ISCSI_REQUEST(m_pContainer, [&](CFiler& filer) { filer.fapi_iscsi_target_alias_get_alias(answer); });
    if (FAILED(hr)) return hr;
    if (answer.empty()) {
        trace_printf("ZarvoIscsiTarget::GetAliasName(): FAPI library error");
        return E_FAIL;
    }
    alias = answer;
    return S_OK;
}

HRESULT ZarvoIscsiTarget::SetAliasName(const WCHAR* alias) {
    const std::u16string newAlias = alias ? alias : u"";
    const HRESULT hr = ISCSI_REQUEST(m_pContainer, [&](CFiler& filer) {
        if (newAlias.empty())
            filer.fapi_iscsi_target_alias_clear_alias();
        else
            filer.fapi_iscsi_target_alias_set_alias(newAlias.c_str());
    });
    m_strAlias = newAlias;
    return hr;
}

HRESULT ZarvoIscsiTarget::RegisterStaticTarget() {
    try {
        WCHAR nodeName[MAX_ISCSI_NAME_LEN + 1] = {};
        const auto getNodeName = discovery_entry<GetIScsiInitiatorNodeNameW_fn>("GetIScsiInitiatorNodeNameW");
        if (getNodeName(nodeName) == ERROR_SUCCESS) {
            m_strLocalInitiatorName = nodeName;
            trace_printf("ZarvoIscsiTarget::RegisterStaticTarget, local initiator %s",
                         narrow(m_strLocalInitiatorName).c_str());
        }

        std::u16string initiators(kInitiatorListChars, u'\0');
        ULONG listSize = kInitiatorListChars;
        const auto reportInitiators = discovery_entry<ReportIScsiInitiatorListW_fn>("ReportIScsiInitiatorListW");
        if (reportInitiators(&listSize, initiators.data()) == ERROR_SUCCESS && initiators[0] != u'\0') {
            const auto addTarget = discovery_entry<AddIScsiStaticTargetW_fn>("AddIScsiStaticTargetW");
            const ISDSC_STATUS status =
                addTarget(m_strNodeName.c_str(), m_strAlias.c_str(), m_pContainer->m_subSystemProperties.m_prop.ulFlags,
                          FALSE, nullptr, nullptr, nullptr);
            trace_printf("ZarvoIscsiTarget::RegisterStaticTarget, AddIScsiStaticTargetW(%s) returned %08lX",
                         narrow(m_strNodeName).c_str(), trace_code(status));
        }
        return S_OK;
    } catch (const platform::delay_load_error& error) {
        if (DelayLoadFailureReporter(error.pointers()) != EXCEPTION_EXECUTE_HANDLER) throw;
        return E_FAIL;
    }
}

HRESULT ZarvoIscsiTarget::GetTPGroups(std::vector<fapi_iscsi_tpgroup_info_t>& groups) {
    TraceScope scope("ZarvoIscsiTarget::GetTPGroups");
    return ISCSI_REQUEST(m_pContainer, [&](CFiler& filer) { filer.fapi_iscsi_tpgroup_list_info(0, groups); });
}

HRESULT ZarvoIscsiTarget::GetInitiators(std::vector<fapi_iscsi_initiator_info_t>& initiators) {
    TraceScope scope("ZarvoIscsiTarget::GetInitiators");
    return ISCSI_REQUEST(m_pContainer, [&](CFiler& filer) { filer.fapi_iscsi_initiator_list_info(initiators); });
}

HRESULT ZarvoIscsiTarget::GetNetInterfaces(std::vector<fapi_iscsi_interface_info_t>& interfaces) {
    return ISCSI_REQUEST(m_pContainer,
                         [&](CFiler& filer) { filer.fapi_iscsi_interface_list_info(u"", interfaces); });
}

HRESULT ZarvoIscsiTarget::GetPortals(std::vector<fapi_iscsi_portal_info_t>& portals) {
    TraceScope scope("ZarvoIscsiTarget::GetPortals");
    return ISCSI_REQUEST(m_pContainer, [&](CFiler& filer) { filer.fapi_iscsi_portal_list_info(portals); });
}

HRESULT ZarvoIscsiTarget::RefreshInitiators() {
    std::vector<fapi_iscsi_initiator_info_t> sessions;
    HRESULT hr = GetInitiators(sessions);
    if (FAILED(hr)) return hr;
    ClearInitiators();
    for (const fapi_iscsi_initiator_info_t& session : sessions) {
        if (session.initiator_nodename != m_strLocalInitiatorName) continue;  // another host's session
        hr = AddConnectedInitiator(session);
        if (FAILED(hr)) break;
    }
    trace_printf("ZarvoIscsiTarget::RefreshInitiators, Connected Initiators = %d",
                 static_cast<int>(m_connectedInitiators.size()));
    return hr;
}

HRESULT ZarvoIscsiTarget::ClearInitiators() {
    m_connectedInitiators.clear();
    return S_OK;
}

HRESULT ZarvoIscsiTarget::AddConnectedInitiator(const fapi_iscsi_initiator_info_t& session) {
    try {
        auto entry = std::make_unique<InitiatorSession>(
            InitiatorSession{session.initiator_nodename, session.initiator_aliasname, session.isid,
                             session.target_session_id, session.tpgroup_tag, this});
        m_connectedInitiators[session.initiator_nodename] = std::move(entry);
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

HRESULT ZarvoIscsiTarget::RefreshNetInterfaces() {
    std::vector<fapi_iscsi_interface_info_t> interfaces;
    const HRESULT hr = GetNetInterfaces(interfaces);
    if (FAILED(hr)) return hr;
    ClearNetInterfaces();
    try {
        for (const fapi_iscsi_interface_info_t& netInterface : interfaces) {
            m_netInterfaces[netInterface.interface_name] = std::make_unique<NetInterfaceEntry>(NetInterfaceEntry{
                this, netInterface.interface_name, netInterface.is_interface_enabled, netInterface.tpgroup_tag});
        }
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
    return S_OK;
}

HRESULT ZarvoIscsiTarget::ClearNetInterfaces() {
    m_netInterfaces.clear();
    return S_OK;
}

HRESULT ZarvoIscsiTarget::SetSharedSecret(const WCHAR* initiatorName, const VDS_ISCSI_SHARED_SECRET* secret) {
    const std::u16string initiator = initiatorName ? initiatorName : m_strLocalInitiatorName;
    const bool hasSecret = secret && secret->pSharedSecret && secret->ulSharedSecretSize > 0;
    // The secret's bytes go to the filer API only: never to the trace or the event log.
    return ISCSI_REQUEST(m_pContainer, [&](CFiler& filer) {
        if (hasSecret)
            filer.fapi_iscsi_initiator_add_auth(u"CHAP", initiator.c_str(), {}, nullptr,
                                                {secret->pSharedSecret, secret->ulSharedSecretSize},
                                                initiator.c_str());
        else
            filer.fapi_iscsi_initiator_delete_auth(initiator.c_str());
    });
}

HRESULT ZarvoIscsiTarget::SetInitiatorSharedSecret(const WCHAR* initiatorName, const VDS_ISCSI_SHARED_SECRET* secret) {
    const std::u16string initiator = initiatorName ? initiatorName : u"";
    const auto stored = m_initiatorSecrets.find(initiator);
    if (stored == m_initiatorSecrets.end()) return kNoStoredInitiatorSecret;
    std::span<const BYTE> outbound;
    if (secret && secret->pSharedSecret) outbound = {secret->pSharedSecret, secret->ulSharedSecretSize};
    return ISCSI_REQUEST(m_pContainer, [&](CFiler& filer) {
        filer.fapi_iscsi_initiator_add_auth(u"CHAP", initiator.c_str(), outbound, initiator.c_str(),
                                            stored->second.m_bytes, initiator.c_str());
    });
}

HRESULT ZarvoIscsiTarget::QueryCurrentInitiators(std::vector<std::u16string>& initiators) {
    try {
        Sleep(kConnectedInitiatorsWaitMs);
        const HRESULT hr = RefreshInitiators();
        if (FAILED(hr)) return hr;
        initiators.clear();
        for (const auto& [name, session] : m_connectedInitiators) initiators.push_back(name);
        return S_OK;
    } catch (...) {
        return E_FAIL;
    }
}

void ZarvoIscsiTarget::QueryPortalGroups(std::vector<GUID>& portalGroupIds) const {
    portalGroupIds.clear();
    for (const auto& [name, id] : m_portalGroupNames) portalGroupIds.push_back(id);
}

HRESULT ZarvoIscsiTarget::GetProperties(VDS_ISCSI_TARGET_PROP& properties) {
    try {
        properties.id = m_id;
        properties.pwszIscsiName = CoTaskMemWString(m_strNodeName);
        properties.pwszFriendlyName = CoTaskMemWString(m_strAlias);
        properties.bChapEnabled = m_bChapEnabled;
        return S_OK;
    } catch (...) {
        trace_printf("Invalid pointer access in ZarvoIscsiTarget::GetProperties.");
        return E_POINTER;
    }
}

HRESULT ZarvoIscsiTarget::GetPropertiesRecord(IscsiTargetProperties& properties) {
    properties.m_id = m_id;
    properties.m_bChapEnabled = m_bChapEnabled;
    properties.m_strIscsiName = m_strNodeName;
    properties.m_strFriendlyName = m_strAlias;
    return S_OK;
}

HRESULT ZarvoIscsiTarget::IsEqual(SanHelper* other) {
    const auto* target = dynamic_cast<ZarvoIscsiTarget*>(other);
    if (!target) {
        trace_printf("Invalid IsEqual object in ZarvoIscsiTarget.");
        return E_FAIL;
    }
    const bool equal = IsEqualGUID(m_id, target->m_id) && m_strAlias == target->m_strAlias &&
                       m_strNodeName == target->m_strNodeName && m_bChapEnabled == target->m_bChapEnabled;
    return equal ? 0 : 1;
}

HRESULT ZarvoIscsiTarget::DoWork(int32_t type, int32_t value, Async* async) {
    TraceScope scope("ZarvoIscsiTarget::DoWork");
    auto* completion = dynamic_cast<ZarvoAsync*>(async);
    if (completion) completion->StartAutoPercentage(static_cast<DWORD>(value));
    HRESULT hr = S_OK;
    switch (type) {
    case TARGET_CREATE_PORTALGROUP: {
        trace_printf("Worker thread processing ZarvoTarget::TARGET_CREATE_PORTALGROUP");
        GUID groupId{};
        const auto existing = m_portalGroupNames.find(kVdsPortalGroupName);
        if (existing != m_portalGroupNames.end()) {
            groupId = existing->second;
            hr = VDS_S_ISCSI_PORTAL_GROUP_EXISTS;
        } else {
            uint32_t tag = 0;  // the appliance chooses the tag
            hr = CreateNewFilerTPG(kVdsPortalGroupName, tag);
            if (SUCCEEDED(hr)) hr = CreateTargetPortalGroup(kVdsPortalGroupName, static_cast<int32_t>(tag), {}, groupId);
        }
        if (SUCCEEDED(hr) && completion) {
            if (NotificationSet* notifications = m_pContainer->m_pSan->NewNotificationSet()) {
                completion->SetId(groupId);
                notifications->Add(notification_code::PortalGroupArrive, groupId);
                completion->SetNotifications(notifications);
            }
        }
        break;
    }
    case TARGET_DELETE_TARGET:
        trace_printf("Worker thread processing ZarvoTarget::TARGET_DELETE_TARGET");
        hr = VDS_E_NOT_SUPPORTED;
        break;
    case DELAY: trace_printf("ZarvoTarget::DoWork: DELAY"); break;
    default: break;
    }
    if (completion) {
        completion->SetResult(hr);
        completion->WakeUp();
    }
    if (async) async->Release();
    return hr;
}
