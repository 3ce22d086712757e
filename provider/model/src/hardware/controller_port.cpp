// ZarvoControllerPort: a host HBA port logged in to a target adapter, and its path.
#include <model/controller_port.h>

#include <cstring>

#include <hostlib/conversions.h>
#include <hostlib/trace.h>
#include <model/controller.h>
#include <model/filer_object_container.h>
#include <model/properties.h>
#include <model/zarvo_san.h>

#include <platform/comalloc.h>
#include <platform/text.h>

namespace {

constexpr LONG kStoredPortStatuses[] = {VDS_PRS_UNKNOWN, VDS_PRS_ONLINE, VDS_PRS_NOT_READY, VDS_PRS_OFFLINE,
                                        VDS_PRS_FAILED};

void FreeString(LPWSTR& text) {
    CoTaskMemFree(text);
    text = nullptr;
}

std::u16string Text(const WCHAR* text) { return text ? std::u16string(text) : std::u16string(); }

std::string Narrow(const WCHAR* text) { return platform::wide_to_utf8_lossy(Text(text)); }

bool SameWwn(const VDS_WWN& a, const VDS_WWN& b) { return std::memcmp(a.rguchWwn, b.rguchWwn, sizeof a.rguchWwn) == 0; }

// Dumps the paths first, as every path operation does; the dump's result starts the operation.
HRESULT DumpFirst(const std::vector<ZarvoPath>& paths, const char* qualifiedName) {
    const HRESULT hr = DumpPaths(paths);
    if (FAILED(hr)) trace_printf("%s, ERROR: Dump m_paths failed.", qualifiedName);
    return hr;
}

}  // namespace

ZarvoControllerPort::ZarvoControllerPort(FilerObjectContainer* container, const GUID& id,
                                         const fapi_fcp_adapter_info_t* adapter, const std::string& name)
    : m_pContainer(container) {
    m_properties.id = id;
    trace_printf("ZarvoControllerPort::ZarvoControllerPort, GUID=%s", GuidToString(id).c_str());
    SetDefaults(adapter, name);
}

ZarvoControllerPort::~ZarvoControllerPort() {
    m_paths.clear();
    try {
        if (m_pContainer) {
            m_pContainer->RemovePortObject(m_properties.id);
        } else {
            trace_printf("ZarvoControllerPort::~ZarvoControllerPort, pFOContainer is NULL! ");
        }
    } catch (...) {
        trace_printf("ZarvoControllerPort::~ZarvoControllerPort(): %s", "caught exception");
    }
    FreeString(m_properties.pwszFriendlyName);
    FreeString(m_properties.pwszIdentification);
}

void ZarvoControllerPort::SetDefaults(const fapi_fcp_adapter_info_t* adapter, const std::string& name) {
    FreeString(m_properties.pwszFriendlyName);
    FreeString(m_properties.pwszIdentification);
    if (adapter) {
        m_properties.pwszFriendlyName = CoTaskMemWString(platform::utf8_to_wide_lossy(name));
        trace_printf("ZarvoControllerPort::SetDefaults, adapter=%s type=%s status=%s", adapter->adapter.c_str(),
                     adapter->adapter_type.c_str(), adapter->state.c_str());
        m_properties.status = static_cast<VDS_PORT_STATUS>(AdapterStatus(*adapter));
        m_properties.pwszIdentification = CoTaskMemWString(platform::utf8_to_wide_lossy(adapter->node_name));
    } else {
        m_properties.pwszFriendlyName = CoTaskMemWString(u"ZarvoControllerPort");
        m_properties.status = VDS_PRS_ONLINE;
        m_properties.pwszIdentification = CoTaskMemWString(u"");
    }
    trace_printf("ZarvoControllerPort::SetDefaults, VDS_PORT_PROP  Identification = %s FriendlyName = %s",
                 Narrow(m_properties.pwszIdentification).c_str(), Narrow(m_properties.pwszFriendlyName).c_str());
}

HRESULT ZarvoControllerPort::GetProperties(VDS_PORT_PROP& properties) {
    properties = m_properties;
    trace_printf("ZarvoControllerPort::GetProperties, hr=%lx ", trace_code(S_OK));
    return S_OK;
}

HRESULT ZarvoControllerPort::SetStatus(LONG status) {
    for (LONG stored : kStoredPortStatuses)
        if (status == stored) m_properties.status = static_cast<VDS_PORT_STATUS>(status);
    trace_printf("ZarvoControllerPort::SetStatus, hr=%lx status = %x", trace_code(VDS_E_NOT_SUPPORTED),
                 static_cast<unsigned>(status));
    return VDS_E_NOT_SUPPORTED;
}

HRESULT ZarvoControllerPort::CreatePath(const VDS_HBAPORT_PROP& hbaPort, const fapi_fcp_adapter_info_t& adapter,
                                        ULONG index) {
    const HRESULT hr = AddPathOnAdapterFiler(hbaPort, adapter, index);
    trace_printf("ZarvoControllerPort::CreatePath, hr=%lx", trace_code(hr));
    return hr;
}

// The path is asked for on the appliance that owns the adapter; the facade is
// back on the container's own appliance when this returns.
HRESULT ZarvoControllerPort::AddPathOnAdapterFiler(const VDS_HBAPORT_PROP& hbaPort,
                                                   const fapi_fcp_adapter_info_t& adapter, ULONG index) {
    PartnerFacadeSwitch facade(*m_pContainer, "ZarvoControllerPort::CreatePath");
    bool usable = true;
    if (adapter.adapter_type == "Local") {
        trace_printf("ZarvoControllerPort::CreatePath, Local Filer");
    } else if (adapter.adapter_type == "Partner" && m_pContainer->m_partnerUp) {
        facade.SwitchToPartner();
    } else {
        trace_printf("ZarvoControllerPort::CreatePath, ERROR: invalid partner type");
        usable = false;
    }
    try {
        if (usable && m_pContainer->IsPathPresent(hbaPort.wwnPort.rguchWwn, adapter.adapter)) {
            const std::string key = adapter.adapter + std::to_string(index);
            trace_printf("ZarvoControllerPort::CreatePath: key=%s", key.c_str());
            GUID pathId{};
            m_pContainer->m_pSan->CheckCreateGuid(key, pathId);
            ZarvoPath path(m_pContainer, pathId, hbaPort);
            path.SetHbaPortProperties(hbaPort);
            trace_printf("ZarvoControllerPort::CreatePath, SAVE to m_path");
            m_paths.push_back(path);
        } else if (usable) {
            trace_printf("ZarvoControllerPort::CreatePath, no path present!");
        }
    } catch (...) {
        trace_printf("ZarvoControllerPort::CreatePath(): %s", "caught exception");
    }
    return DumpFirst(m_paths, "ZarvoControllerPort::CreatePath");
}

HRESULT ZarvoControllerPort::GetPathInfo(ULONG pathNumber, VDS_PATH_INFO& pathInfo) {
    HRESULT hr = DumpFirst(m_paths, "ZarvoControllerPort::GetPathInfo");
    try {
        // Only the record of the path handed out keeps its HBA port copy.
        VDS_HBAPORT_PROP* ownCopy = nullptr;
        ULONG counter = 0;
        for (auto path = m_paths.begin(); SUCCEEDED(hr) && path != m_paths.end(); ++path, ++counter) {
            hr = path->GetPathInfo(pathInfo);
            CoTaskMemFree(ownCopy);
            ownCopy = pathInfo.pHbaPortProp;
            if (SUCCEEDED(hr)) pathInfo.controllerPortId = m_properties.id;
            if (counter == pathNumber) {
                trace_printf("ZarvoControllerPort::GetPathInfo, Got PathInfo for Path Number %d",
                             static_cast<int>(pathNumber));
                break;
            }
        }
    } catch (...) {
        trace_printf("ZarvoControllerPort::GetPathInfo(): %s", "caught exception");
        return E_FAIL;
    }
    trace_printf("ZarvoControllerPort::GetPathInfo, hr=%lx pathNumber = %d", trace_code(hr),
                 static_cast<int>(pathNumber));
    return hr;
}

HRESULT ZarvoControllerPort::GetPathPolicy(ULONG pathNumber, VDS_PATH_POLICY& pathPolicy) {
    HRESULT hr = DumpFirst(m_paths, "ZarvoControllerPort::GetPathPolicy");
    try {
        ULONG counter = 0;
        for (auto path = m_paths.begin(); SUCCEEDED(hr) && path != m_paths.end(); ++path, ++counter) {
            hr = path->GetPathPolicy(pathPolicy);
            if (counter == pathNumber) {
                trace_printf("ZarvoControllerPort::GetPathPolicy, Got PathPolicy for Path Number %d",
                             static_cast<int>(pathNumber));
                break;
            }
        }
    } catch (...) {
        trace_printf("ZarvoControllerPort::GetPathPolicy(): %s", "caught exception");
        return E_FAIL;
    }
    trace_printf("ZarvoControllerPort::GetPathPolicy, hr=%lx pathNumber = %d", trace_code(hr),
                 static_cast<int>(pathNumber));
    return hr;
}

HRESULT ZarvoControllerPort::SetPathPolicy(const VDS_PATH_POLICY& pathPolicy) {
    HRESULT hr = DumpFirst(m_paths, "ZarvoControllerPort::SetPathPolicy");
    try {
        if (!m_paths.empty()) hr = m_paths.front().SetPathPolicy(pathPolicy);
    } catch (...) {
        trace_printf("ZarvoControllerPort::SetPathPolicy(): %s", "caught exception");
        return E_FAIL;
    }
    trace_printf("ZarvoControllerPort::SetPathPolicy, hr=%lx", trace_code(hr));
    return hr;
}

HRESULT ZarvoControllerPort::SetPathStatus(const VDS_HBAPORT_PROP& hbaPort, VDS_PATH_STATUS status) {
    HRESULT hr = DumpFirst(m_paths, "ZarvoControllerPort::SetPathStatus");
    try {
        for (ZarvoPath& path : m_paths) {
            VDS_HBAPORT_PROP own{};
            path.GetHbaPortProperties(own);
            if (!SameWwn(own.wwnNode, hbaPort.wwnNode) || !SameWwn(own.wwnPort, hbaPort.wwnPort)) continue;
            const HRESULT pathResult = path.SetStatus(status);
            if (FAILED(pathResult) && SUCCEEDED(hr)) hr = pathResult;
        }
    } catch (...) {
        trace_printf("ZarvoControllerPort::SetPathStatus(): %s", "caught exception");
        return E_FAIL;
    }
    trace_printf("ZarvoControllerPort::SetPathStatus, hr=%lx status = %d", trace_code(hr),
                 static_cast<int>(status));
    return hr;
}

HRESULT ZarvoControllerPort::IsEqual(SanHelper* other) {
    auto* that = dynamic_cast<ZarvoControllerPort*>(other);
    if (!that) {
        trace_printf("Invalid IsEqual object in ZarvoControllerPort.");
        return E_FAIL;
    }
    const VDS_PORT_PROP& a = m_properties;
    const VDS_PORT_PROP& b = that->m_properties;
    const bool equal = a.id == b.id && Text(a.pwszFriendlyName) == Text(b.pwszFriendlyName) &&
                       Text(a.pwszIdentification) == Text(b.pwszIdentification) && a.status == b.status;
    return equal ? 0 : 1;
}

NotificationType ZarvoControllerPort::GetArriveType() { return notification_code::PortArrive; }
NotificationType ZarvoControllerPort::GetDepartType() { return notification_code::PortDepart; }

NotificationType ZarvoControllerPort::GetModifyType() {
    trace_printf("ZarvoPort returns NotificationSet::InvalidType ");
    return NotificationSet::InvalidType;
}
