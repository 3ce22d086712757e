// Trace dumps of a container's caches: one line per object, so the model's
// state after every refresh can be read from the trace.
#include <model/filer_object_container.h>

#include <hostlib/conversions.h>
#include <hostlib/trace.h>
#include <model/controller.h>
#include <model/controller_port.h>
#include <model/drive.h>

#include <platform/text.h>

namespace {

std::string Narrow(const WCHAR* text) { return text ? platform::wide_to_utf8_lossy(text) : std::string(); }

}  // namespace

HRESULT FilerObjectContainer::DumpAll() {
    struct Section {
        HRESULT (FilerObjectContainer::*dump)();
        const char* failure;
    };
    static constexpr Section kSections[] = {
        {&FilerObjectContainer::DumpLunMap, "Dump(m_lunMap) failed"},
        {&FilerObjectContainer::DumpQtreeMap, "Dump(m_qtreeMap) failed"},
        {&FilerObjectContainer::DumpVolumeMap, "Dump(m_volumeMap) failed"},
        {&FilerObjectContainer::DumpAggregateMap, "Dump(m_aggregateMap) failed"},
        {&FilerObjectContainer::DumpPlexMap, "Dump(m_plexMap) failed"},
        {&FilerObjectContainer::DumpExtents, "Dump(m_extents) failed"},
        {&FilerObjectContainer::DumpDriveMap, "Dump(m_driveMap) failed"},
        {&FilerObjectContainer::DumpControllerMap, "Dump(m_controllerMap) failed"},
        {&FilerObjectContainer::DumpPortsMap, "Dump(m_portsMap) failed"},
        {&FilerObjectContainer::DumpIgroupMap, "Dump(m_igroupMap) failed"},
        {&FilerObjectContainer::DumpPortalMap, "Dump(m_portalMap) failed"},
        {&FilerObjectContainer::DumpTargetMap, "Dump(m_targetMap) failed"},
        {&FilerObjectContainer::DumpPortalGroupMap, "Dump(m_portalGroupMap) failed"},
    };
    // Every section only writes trace lines: with tracing off there is nothing
    // to format, and formatting every object's ids is a large share of a refresh.
    if (!trace_enabled()) return S_OK;
    try {
        for (const Section& section : kSections) {
            if (FAILED((this->*section.dump)())) {
                trace_printf("%s", section.failure);
                return E_FAIL;
            }
        }
        return S_OK;
    } catch (...) {
        trace_printf("FilerObjectContainer::DumpAll, caught exception");
        return E_FAIL;
    }
}

HRESULT FilerObjectContainer::DumpExtents() {
    for (const ExtentRecord& extent : m_extents)
        trace_printf("extent  drive = %s, lun = %s, splex = %s, size = %d  GB ", GuidToString(extent.driveId).c_str(),
                     GuidToString(extent.lunId).c_str(), GuidToString(extent.plexId).c_str(),
                     static_cast<int>(extent.size >> 30));
    return S_OK;
}

HRESULT FilerObjectContainer::DumpDriveMap() {
    HRESULT hr = S_OK;
    for (const auto& [id, drive] : m_driveMap) {
        DriveProperties properties;
        hr = drive->GetProperties(properties);
        trace_printf("drive <%s> = %s", platform::wide_to_utf8_lossy(properties.GetName()).c_str(),
                     GuidToString(id).c_str());
        trace_printf("status  = %d,  Flag = %d ,  IsLiveDataDisk=  %d  Freesize %llu",
                     static_cast<int>(properties.m_status), static_cast<int>(properties.m_ulFlags),
                     drive->IsLiveDataDisk() ? 1 : 0, static_cast<unsigned long long>(drive->m_ullFreeSpace));
    }
    return hr;
}

HRESULT FilerObjectContainer::DumpControllerMap() {
    for (const auto& [id, controller] : m_controllerMap) {
        VDS_CONTROLLER_PROP properties{};
        const HRESULT hr = controller->GetProperties(properties);
        if (FAILED(hr)) return hr;
        trace_printf("controller <%s> = %s", Narrow(properties.pwszFriendlyName).c_str(), GuidToString(id).c_str());
    }
    return S_OK;
}

HRESULT FilerObjectContainer::DumpPortsMap() {
    for (const auto& [id, port] : m_portsMap) {
        VDS_PORT_PROP properties{};
        const HRESULT hr = port->GetProperties(properties);
        if (FAILED(hr)) return hr;
        trace_printf("port <%s> = %s", Narrow(properties.pwszFriendlyName).c_str(), GuidToString(id).c_str());
    }
    return S_OK;
}

HRESULT FilerObjectContainer::DumpPortalMap() {
    for (const auto& entry : m_portalMap) trace_printf("PortalMap  %s", GuidToString(entry.first).c_str());
    return S_OK;
}

HRESULT FilerObjectContainer::DumpPortalGroupMap() {
    for (const auto& entry : m_portalGroupMap) trace_printf("PortalGroup  %s", GuidToString(entry.first).c_str());
    return S_OK;
}
