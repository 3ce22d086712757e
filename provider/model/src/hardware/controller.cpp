// ZarvoController: a target adapter of the appliance and the discovery of its ports.
#include <model/controller.h>

#include <cstring>

#include <hostlib/conversions.h>
#include <hostlib/trace.h>
#include <model/controller_port.h>
#include <model/filer_object_container.h>
#include <model/properties.h>
#include <model/zarvo_san.h>

#include <platform/comalloc.h>
#include <platform/text.h>

namespace {

struct StateStatus {
    const char* state;
    VDS_CONTROLLER_STATUS status;
};
// Only these spellings count; any other state reads offline.
constexpr StateStatus kStateStatus[] = {
    {"online", VDS_CS_ONLINE},   {"ONLINE", VDS_CS_ONLINE},     {"offline", VDS_CS_OFFLINE},
    {"OFFLINE", VDS_CS_OFFLINE}, {"startup", VDS_CS_NOT_READY}, {"STARTUP", VDS_CS_NOT_READY},
};

void FreeString(LPWSTR& text) {
    CoTaskMemFree(text);
    text = nullptr;
}

std::u16string Text(const WCHAR* text) { return text ? std::u16string(text) : std::u16string(); }

}  // namespace

VDS_CONTROLLER_STATUS AdapterStatus(const fapi_fcp_adapter_info_t& adapter) {
    if (adapter.adapter_type == "Partner") return VDS_CS_ONLINE;
    for (const StateStatus& entry : kStateStatus)
        if (adapter.state == entry.state) return entry.status;
    return VDS_CS_OFFLINE;
}

std::string ControllerKey(const fapi_fcp_adapter_info_t& adapter) {
    return adapter.adapter_type == "Partner" ? "Partner/" + adapter.adapter : adapter.adapter;
}

ZarvoController::ZarvoController(FilerObjectContainer* container, const GUID& id, SHORT numberOfPorts,
                                 const fapi_fcp_adapter_info_t* adapter)
    : m_pContainer(container) {
    m_properties.id = id;
    trace_printf("ZarvoController::ZarvoController, GUID=%s", GuidToString(id).c_str());
    // Registered first: the ports it builds are associated with its id.
    m_pContainer->AddControllerObject(id, this);
    m_properties.sNumberOfPorts = numberOfPorts;
    SetDefaults(adapter);
}

ZarvoController::~ZarvoController() {
    m_pContainer->RemoveControllerObject(m_properties.id);
    FreeString(m_properties.pwszFriendlyName);
    FreeString(m_properties.pwszIdentification);
}

HRESULT ZarvoController::SetDefaults(const fapi_fcp_adapter_info_t* adapter) {
    FreeString(m_properties.pwszFriendlyName);
    FreeString(m_properties.pwszIdentification);
    if (adapter) {
        trace_printf("ZarvoController::SetDefaults, adapter=%s type=%s status=%s", adapter->adapter.c_str(),
                     adapter->adapter_type.c_str(), adapter->state.c_str());
        m_properties.pwszFriendlyName = CoTaskMemWString(platform::utf8_to_wide_lossy(adapter->adapter));
        m_properties.status = AdapterStatus(*adapter);
    } else {
        trace_printf("ZarvoController::SetDefaults, adapter=ZarvoController type=NEW status=VDS_CS_ONLINE");
        m_properties.pwszFriendlyName = CoTaskMemWString(u"ZarvoController");
        m_properties.status = VDS_CS_ONLINE;
    }
    m_properties.health = VDS_H_HEALTHY;
    m_properties.pwszIdentification = CoTaskMemWString(GuidToWString(m_properties.id));
    if (adapter) CreatePorts(*adapter);
    trace_printf("ZarvoController::SetDefaults, VDS_CONTROLLER_PROP pwszFriendlyName = %s",
                 platform::wide_to_utf8_lossy(Text(m_properties.pwszFriendlyName)).c_str());
    return S_OK;
}

void ZarvoController::CreatePorts(const fapi_fcp_adapter_info_t& adapter) {
    HbaPortPropertiesMap hbaPorts;
    const HRESULT hr = m_pContainer->GetHBAPortAttributes(hbaPorts);
    if (FAILED(hr)) {
        trace_printf("ZarvoController::SetDefaults, ERROR: cannot get hba port attributes hr=%lx",
                     trace_code(hr));
        return;
    }
    const ULONG count = static_cast<ULONG>(hbaPorts.size());
    for (ULONG i = 0; i < count; ++i) {
        const std::string name = adapter.node_name + std::to_string(i);
        // Two adapters may share the appliance's node name: the key names the adapter too.
        const std::string key = ControllerKey(adapter) + "/" + name;
        trace_printf("ZarvoController::SetDefaults: key=%s", key.c_str());
        const auto entry = hbaPorts.find(i % count);
        if (entry == hbaPorts.end()) continue;
        const VDS_HBAPORT_PROP& hbaPort = entry->second;

        ZarvoControllerPort* port = nullptr;
        {
            PartnerFacadeSwitch facade(*m_pContainer, "ZarvoController::SetDefaults");
            if (adapter.adapter_type != "Local") {
                if (adapter.adapter_type != "Partner" || !m_pContainer->m_partnerUp) {
                    trace_printf("ZarvoController::SetDefaults, SKIP: invalid partner type");
                    continue;
                }
                facade.SwitchToPartner();
            } else {
                trace_printf("ZarvoController::SetDefaults, Local Filer");
            }
            if (m_pContainer->IsPathPresent(hbaPort.wwnPort.rguchWwn, adapter.adapter)) {
                GUID portId{};
                m_pContainer->m_pSan->CheckCreateGuid(key, portId);
                trace_printf("ZarvoController::SetDefaults, FOUND AdapterPort[%d/%d] %s, type=%s",
                             static_cast<int>(i), static_cast<int>(count), adapter.adapter.c_str(),
                             adapter.adapter_type.c_str());
                port = new ZarvoControllerPort(m_pContainer, portId, &adapter, name);
                m_pContainer->AddPortObject(portId, port);  // the container owns it from here
                m_pContainer->AssociateControllerToPort(m_properties.id, portId);
            } else {
                trace_printf("ZarvoController::SetDefaults, no path present!");
            }
        }
        if (port) {
            trace_printf("ZarvoController::SetDefaults, CREATE Path[%d] with Adapter %s", static_cast<int>(i),
                         adapter.adapter.c_str());
            port->CreatePath(hbaPort, adapter, i);
        }
    }
}

HRESULT ZarvoController::GetProperties(VDS_CONTROLLER_PROP& properties) {
    properties = m_properties;
    return S_OK;
}

HRESULT ZarvoController::Reset() { return S_OK; }

HRESULT ZarvoController::IsEqual(SanHelper* other) {
    auto* that = dynamic_cast<ZarvoController*>(other);
    if (!that) {
        trace_printf("Invalid IsEqual object in ZarvoController.");
        return E_FAIL;
    }
    const VDS_CONTROLLER_PROP& a = m_properties;
    const VDS_CONTROLLER_PROP& b = that->m_properties;
    const bool equal = a.id == b.id && Text(a.pwszFriendlyName) == Text(b.pwszFriendlyName) &&
                       Text(a.pwszIdentification) == Text(b.pwszIdentification) && a.status == b.status &&
                       a.health == b.health && a.sNumberOfPorts == b.sNumberOfPorts;
    return equal ? 0 : 1;
}

NotificationType ZarvoController::GetArriveType() { return notification_code::ControllerArrive; }
NotificationType ZarvoController::GetDepartType() { return notification_code::ControllerDepart; }

NotificationType ZarvoController::GetModifyType() {
    trace_printf("ZarvoController returns NotificationSet::InvalidType ");
    return NotificationSet::InvalidType;
}
