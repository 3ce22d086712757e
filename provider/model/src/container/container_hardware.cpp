// Controllers, controller ports and the host's HBA adapters: what the
// container reads of the host and the controller-side associations.
#include <model/filer_object_container.h>

#include <cstdio>
#include <cstring>
#include <set>

#include <hostlib/conversions.h>
#include <hostlib/hbaapi_wrapper.h>
#include <hostlib/trace.h>
#include <model/controller.h>
#include <model/controller_port.h>
#include <model/drive.h>

#include <platform/text.h>

#include "container_maps.h"

namespace {

std::string HexWwn(const HBA_WWN& wwn) {
    char text[17];
    for (int i = 0; i < 8; ++i) std::snprintf(text + 2 * i, 3, "%02X", wwn.wwn[i]);
    return text;
}

std::string VdsWwnText(const VDS_WWN& wwn) {
    char text[24];
    const UCHAR* b = wwn.rguchWwn;
    std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x:%02x:%02x", b[0], b[1], b[2], b[3], b[4], b[5],
                  b[6], b[7]);
    return text;
}

// A fixed text field of an HBA record, which need not end in a terminator.
template <size_t N>
std::string Field(const char (&text)[N]) {
    return std::string(text, strnlen(text, N));
}

void TraceAdapterAttributes(const HBA_ADAPTERATTRIBUTES& a) {
    constexpr const char* kPrefix = "FilerObjectContainer::GetHBAPortAttributes, ";
    trace_printf("%s\tManufacturer:                   %s", kPrefix, Field(a.Manufacturer).c_str());
    trace_printf("%s\tSerialNumber:                   %s", kPrefix, Field(a.SerialNumber).c_str());
    trace_printf("%s\tModel:                          %s", kPrefix, Field(a.Model).c_str());
    trace_printf("%s\tModelDescription:               %s", kPrefix, Field(a.ModelDescription).c_str());
    trace_printf("%s\tNodeWWN:                        %s", kPrefix, HexWwn(a.NodeWWN).c_str());
    trace_printf("%s\tNodeSymbolicName:               %s", kPrefix, Field(a.NodeSymbolicName).c_str());
    trace_printf("%s\tHardwareVersion:                %s", kPrefix, Field(a.HardwareVersion).c_str());
    trace_printf("%s\tDriverVersion:                  %s", kPrefix, Field(a.DriverVersion).c_str());
    trace_printf("%s\tOptionROMVersion:               %s", kPrefix, Field(a.OptionROMVersion).c_str());
    trace_printf("%s\tFirmwareVersion:                %s", kPrefix, Field(a.FirmwareVersion).c_str());
    trace_printf("%s\tNumberOfPorts:                  %u", kPrefix, static_cast<unsigned>(a.NumberOfPorts));
    trace_printf("%s\tDriverName:                     %s", kPrefix, Field(a.DriverName).c_str());
}

void Store(HbaPortPropertiesMap& ports, ULONG index, ULONG portNumber, const HBA_PORTATTRIBUTES& attributes) {
    VDS_HBAPORT_PROP port{};
    std::memcpy(port.wwnNode.rguchWwn, attributes.NodeWWN.wwn, 8);
    std::memcpy(port.wwnPort.rguchWwn, attributes.PortWWN.wwn, 8);
    port.type = static_cast<VDS_HBAPORT_TYPE>(attributes.PortType);
    port.status = static_cast<VDS_HBAPORT_STATUS>(attributes.PortState);
    port.ulPortSpeed = attributes.PortSpeed;
    port.ulSupportedPortSpeed = attributes.PortSupportedSpeed;
    trace_printf("FilerObjectContainer::GetHBAPortAttributes, \tVDS_HBAPORT_PROP.wwnNode = %s",
                 VdsWwnText(port.wwnNode).c_str());
    trace_printf("FilerObjectContainer::GetHBAPortAttributes, \tVDS_HBAPORT_PROP.wwnPort= %s",
                 VdsWwnText(port.wwnPort).c_str());
    trace_printf("FilerObjectContainer::GetHBAPortAttributes, SAVE HBA Port Property(iport=%d,ulPortIndex=%d)",
                 static_cast<int>(portNumber), static_cast<int>(index));
    ports.emplace(index, port);
}

void Store(HbaPortAttributesMap& ports, ULONG index, ULONG /*portNumber*/, const HBA_PORTATTRIBUTES& attributes) {
    trace_printf("FilerObjectContainer::GetHBAPortAttributes, \thbaPortAttrib.OSDeviceName = %s",
                 Field(attributes.OSDeviceName).c_str());
    ports.emplace(index, attributes);
}

// Reads every port of every adapter, numbering the ports across adapters.
// The first failing adapter ends the walk; what was stored before stays.
template <typename PortMap>
HRESULT ReadHostPorts(PortMap& ports, bool traceAdapters) {
    HBAAPIWrapper hba;
    if (hba.GetLoadStatus() != 0) return E_FAIL;
    const HBA_UINT32 adapters = hba.GetNumberOfAdapters();
    ULONG portIndex = 0;
    HRESULT hr = S_OK;
    for (HBA_UINT32 a = 0; a < adapters && SUCCEEDED(hr); ++a) {
        char name[256] = {};  // a failed call leaves no stale name behind
        if (hba.GetAdapterName(a, name) != HBA_STATUS_OK) {
            trace_printf("FilerObjectContainer::GetHBAPortAttributes, HBA_GetAdapterName() failed");
            hr = E_FAIL;
        }
        name[sizeof name - 1] = '\0';
        trace_printf("FilerObjectContainer::GetHBAPortAttributes, FOUND Local HBA Adapter[%d]=%s", static_cast<int>(a),
                     name);
        if (FAILED(hr)) break;

        const HBA_HANDLE handle = hba.OpenAdapter(name);
        if (handle == 0) {
            trace_printf("FilerObjectContainer::GetHBAPortAttributes, HBA_OpenAdapter() failed");
            hr = E_FAIL;
            continue;
        }
        HBA_ADAPTERATTRIBUTES attributes{};
        if (hba.GetAdapterAttributes(handle, &attributes) != HBA_STATUS_OK) {
            trace_printf("FilerObjectContainer::GetHBAPortAttributes, HBA_GetAdapterAttributes() failed");
            hr = E_FAIL;
        } else {
            if (traceAdapters) TraceAdapterAttributes(attributes);
            for (HBA_UINT32 p = 0; p < attributes.NumberOfPorts && SUCCEEDED(hr); ++p) {
                HBA_PORTATTRIBUTES port{};
                if (hba.GetAdapterPortAttributes(handle, p, &port) != HBA_STATUS_OK) {
                    trace_printf("ZarvoSan::GetHBAPortAttributes, HBA_GetAdapterPortAttributes() failed");
                    hr = E_FAIL;
                    break;
                }
                trace_printf("\tPort Index:                     %d", static_cast<int>(portIndex));
                Store(ports, portIndex, p, port);
                ++portIndex;
            }
        }
        hba.CloseAdapter(handle);
    }
    trace_printf("FilerObjectContainer::GetHBAPortAttributes(): returning %08lX", trace_code(hr));
    return hr;
}

// Every object of `map` named exactly once across the two lists; the lookup's
// failure for an unknown id.
template <typename T, typename Lookup>
HRESULT CheckCompleteLists(const ObjectMap<T>& map, const std::vector<GUID>& first, const std::vector<GUID>& second,
                           Lookup&& lookup) {
    std::set<GUID, GuidLess> distinct;
    for (const std::vector<GUID>* list : {&first, &second}) {
        for (const GUID& id : *list) {
            const HRESULT hr = lookup(id);
            if (FAILED(hr)) return hr;
            distinct.insert(id);
        }
    }
    if (distinct.size() != map.size() || first.size() + second.size() != map.size()) return E_INVALIDARG;
    return S_OK;
}

}  // namespace

HRESULT FilerObjectContainer::GetHBAPortAttributes(HbaPortPropertiesMap& ports) { return ReadHostPorts(ports, true); }

HRESULT FilerObjectContainer::GetHBAPortAttributes(HbaPortAttributesMap& ports) { return ReadHostPorts(ports, false); }

HRESULT FilerObjectContainer::GetFCPAdapter(const std::string& adapterName, std::u16string& friendlyName) {
    try {
        for (const auto& [id, controller] : m_controllerMap) {
            VDS_CONTROLLER_PROP properties{};
            controller->GetProperties(properties);
            friendlyName = properties.pwszFriendlyName ? properties.pwszFriendlyName : u"";
            if (NarrowFromWide(friendlyName) == adapterName) {
                trace_printf("FilerObjectContainer::GetFCPAdapter, return controller <%s,%s>", adapterName.c_str(),
                             GuidToString(id).c_str());
                break;
            }
        }
        return S_OK;
    } catch (...) {
        trace_printf("FilerObjectContainer::GetFCPAdapter(): %s", "caught exception");
        return E_UNEXPECTED;
    }
}

HRESULT FilerObjectContainer::AssociateControllerPorts(const GUID& lunId, const std::vector<GUID>& activePortIds,
                                                       const std::vector<GUID>& inactivePortIds) {
    TraceScope scope("FilerObjectContainer::AssociateControllerPorts");
    HRESULT hr = S_OK;
    try {
        ZarvoLun* lun = nullptr;
        hr = GetLun(lunId, lun);
        if (SUCCEEDED(hr))
            hr = CheckCompleteLists(m_portsMap, activePortIds, inactivePortIds, [this](const GUID& id) {
                ZarvoControllerPort* port = nullptr;
                return GetControllerPort(id, port);
            });
        if (SUCCEEDED(hr)) {
            m_lunPortAssoc.Remove(lunId);
            for (const GUID& portId : activePortIds) m_lunPortAssoc.Add(lunId, portId);
        }
    } catch (...) {
        trace_printf("FilerObjectContainer::AssociateControllerPorts(): %s", "caught exception");
        hr = E_FAIL;
    }
    trace_printf("FilerObjectContainer::AssociateControllerPorts(): returning %08lX", trace_code(hr));
    return hr;
}

HRESULT FilerObjectContainer::SetControllerStatus(const std::vector<GUID>& onlineControllerIds,
                                                  const std::vector<GUID>& offlineControllerIds) {
    TraceScope scope("FilerObjectContainer::SetControllerStatus");
    try {
        const HRESULT hr =
            CheckCompleteLists(m_controllerMap, onlineControllerIds, offlineControllerIds, [this](const GUID& id) {
                ZarvoController* controller = nullptr;
                return GetController(id, controller);
            });
        if (FAILED(hr)) return hr;
        for (const GUID& id : onlineControllerIds) m_controllerMap.at(id)->SetStatus(VDS_CS_ONLINE);
        for (const GUID& id : offlineControllerIds) m_controllerMap.at(id)->SetStatus(VDS_CS_OFFLINE);
        return S_OK;
    } catch (...) {
        trace_printf("FilerObjectContainer::SetControllerStatus(): %s", "caught exception");
        return E_UNEXPECTED;
    }
}

HRESULT FilerObjectContainer::QueryAssociatedController(const GUID& portId, GUID& controllerId) {
    TraceScope scope("FilerObjectContainer::QueryAssociatedController");
    try {
        ZarvoControllerPort* port = nullptr;
        const HRESULT hr = GetControllerPort(portId, port);
        if (FAILED(hr)) return hr;
        const std::vector<GUID> controllers = m_controllerPortAssoc.Query(portId);
        if (controllers.size() != 1) {
            trace_printf("FilerObjectContainer::QueryAssociatedController(): %s", "no associated controller!");
            return E_FAIL;
        }
        controllerId = controllers.front();
        return S_OK;
    } catch (...) {
        trace_printf("FilerObjectContainer::QueryAssociatedController(): %s", "caught exception");
        return E_FAIL;
    }
}

HRESULT FilerObjectContainer::QueryAssociatedVolumes(const GUID& lunId, std::vector<GUID>& volumeIds) {
    try {
        ZarvoLun* lun = nullptr;
        const HRESULT hr = GetLun(lunId, lun);
        if (FAILED(hr)) return hr;
        volumeIds = m_lunVolumeAssoc.Query(lunId);
        return S_OK;
    } catch (...) {
        trace_printf("FilerObjectContainer::QueryAssociatedVolumes(): %s", "caught exception");
        return E_FAIL;
    }
}

HRESULT FilerObjectContainer::QueryAssociatedQtrees(const GUID& lunId, std::vector<GUID>& qtreeIds) {
    try {
        ZarvoLun* lun = nullptr;
        const HRESULT hr = GetLun(lunId, lun);
        if (FAILED(hr)) return hr;
        qtreeIds = m_lunQtreeAssoc.Query(lunId);
        return S_OK;
    } catch (...) {
        trace_printf("FilerObjectContainer::QueryAssociatedQtrees(): %s", "caught exception");
        return E_FAIL;
    }
}

HRESULT FilerObjectContainer::QueryAssociatedLuns(const GUID& targetId, std::vector<GUID>& lunIds) {
    try {
        if (!m_targetMap.contains(targetId)) return VDS_E_OBJECT_NOT_FOUND;
        lunIds = m_lunTargetAssoc.Query(targetId);
        trace_printf("FilerObjectContainer::QueryAssociatedLuns, # of luns associated : %d ",
                     static_cast<int>(lunIds.size()));
        return S_OK;
    } catch (...) {
        trace_printf("FilerObjectContainer::QueryAssociatedLuns Exception caught");
        return E_FAIL;
    }
}

HRESULT FilerObjectContainer::GetDriveProperties(const GUID& driveId, DriveProperties& properties) {
    ZarvoDrive* drive = nullptr;
    const HRESULT hr = GetDrive(driveId, drive);
    if (FAILED(hr)) return hr;
    drive->GetProperties(properties);
    return S_OK;
}
