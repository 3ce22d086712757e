// The container's operations on one LUN, plex, drive, controller or
// controller port, for the San operations of the same names.
#include <model/filer_object_container.h>

#include <model/async.h>
#include <model/controller.h>
#include <model/controller_port.h>
#include <model/drive.h>
#include <model/lun.h>
#include <model/plex.h>
#include <model/zarvo_san.h>

#include <hostlib/conversions.h>
#include <hostlib/trace.h>

#include <cstring>
#include <new>

namespace {

bool IsSettableStatus(LONG status) { return status == 1 || status == 4; }

// A completion object for the caller, with the id of the object it acts on.
ZarvoAsync* NewAsync(const GUID& id) {
    auto* async = new (std::nothrow) ZarvoAsync();
    if (async) async->SetId(id);
    return async;
}

}  // namespace

HRESULT FilerObjectContainer::OfflineLun(const std::u16string& path) { return m_filerControl.FilerOfflineLun(path); }

HRESULT FilerObjectContainer::DeleteLun(const GUID& lunId, ZarvoAsync** async) {
    trace_printf("FilerObjectContainer::DeleteLun, GUID=%s", GuidToString(lunId).c_str());
    *async = nullptr;
    ZarvoLun* lun = nullptr;
    HRESULT hr = GetLun(lunId, lun);
    if (FAILED(hr)) return hr;
    NotificationSet* notifications = m_pSan ? m_pSan->NewNotificationSet() : nullptr;
    ZarvoAsync* completion = NewAsync(lunId);
    if (!notifications || !completion) {
        delete notifications;
        if (completion) completion->Release();
        return E_OUTOFMEMORY;
    }
    notifications->Add(lun->GetDepartType(), lunId);
    completion->SetNotifications(notifications);
    hr = lun->Delete(completion);
    if (FAILED(hr)) {
        completion->Release();  // its departure goes with it, unsent
        return hr;
    }
    *async = completion;
    return hr;
}

HRESULT FilerObjectContainer::SetLunUnmask(const GUID& lunId, const std::u16string& unmaskingList,
                                           ZarvoAsync** async) {
    *async = nullptr;
    ZarvoLun* lun = nullptr;
    HRESULT hr = GetLun(lunId, lun);
    if (FAILED(hr)) return hr;
    ZarvoAsync* completion = NewAsync(lunId);
    if (!completion) return E_OUTOFMEMORY;
    // A refused change queues nothing that would ever complete this object.
    if (FAILED(hr = lun->SetUnmask(unmaskingList, completion))) {
        completion->Release();
        return hr;
    }
    *async = completion;
    return hr;
}

HRESULT FilerObjectContainer::GetUnmaskingList(std::u16string& unmaskingList) {
    unmaskingList = m_strMaskingList;
    return S_OK;
}

HRESULT FilerObjectContainer::AddPlex(const GUID& lunId, const GUID& sourceLunId, ZarvoAsync** async) {
    *async = nullptr;
    ZarvoLun* lun = nullptr;
    ZarvoLun* source = nullptr;
    HRESULT hr = GetLun(lunId, lun);
    if (SUCCEEDED(hr)) hr = GetLun(sourceLunId, source);
    if (FAILED(hr)) return hr;
    if (std::memcmp(&lunId, &sourceLunId, sizeof lunId) == 0) return VDS_E_INVALID_OPERATION;
    if (FAILED(hr = lun->AddPlex(source))) return hr;
    return DeleteLun(sourceLunId, async);
}

HRESULT FilerObjectContainer::RemovePlex(const GUID& lunId, const GUID& plexId, ZarvoAsync** async) {
    *async = nullptr;
    ZarvoLun* lun = nullptr;
    HRESULT hr = GetLun(lunId, lun);
    if (FAILED(hr)) return hr;
    if (FAILED(hr = lun->RemovePlex(plexId))) return hr;
    ZarvoAsync* completion = NewAsync(lunId);
    if (!completion) return E_OUTOFMEMORY;
    completion->SetResult(S_OK);
    completion->WakeUp();
    *async = completion;
    return S_OK;
}

HRESULT FilerObjectContainer::QueryPlexes(const GUID& lunId, std::vector<GUID>& plexIds) {
    try {
        ZarvoLun* lun = nullptr;
        const HRESULT hr = GetLun(lunId, lun);
        return FAILED(hr) ? hr : lun->QueryPlexes(plexIds);
    } catch (...) {
        return E_UNEXPECTED;
    }
}

HRESULT FilerObjectContainer::GetLunFromPlex(const GUID& plexId, GUID& lunId) {
    ZarvoPlex* plex = nullptr;
    const HRESULT hr = GetPlex(plexId, plex);
    if (FAILED(hr)) return hr;
    lunId = plex->GetLun()->GetId();
    trace_printf("FilerObjectContainer::GetLunFromPlex, gPlex = %s gLun = %s", GuidToString(plexId).c_str(),
                 GuidToString(lunId).c_str());
    return S_OK;
}

HRESULT FilerObjectContainer::SetLunName(const GUID& lunId, const std::u16string& name) {
    ZarvoLun* lun = nullptr;
    const HRESULT hr = GetLun(lunId, lun);
    return FAILED(hr) ? hr : lun->SetName(name);
}

HRESULT FilerObjectContainer::SetLunStatus(const GUID& lunId, VDS_LUN_STATUS status) {
    ZarvoLun* lun = nullptr;
    const HRESULT hr = GetLun(lunId, lun);
    if (FAILED(hr)) return hr;
    if (!IsSettableStatus(static_cast<LONG>(status))) return E_INVALIDARG;
    lun->SetStatus(status);
    return S_OK;
}

HRESULT FilerObjectContainer::SetDriveStatus(const GUID& driveId, VDS_DRIVE_STATUS status) {
    ZarvoDrive* drive = nullptr;
    const HRESULT hr = GetDrive(driveId, drive);
    if (FAILED(hr)) return hr;
    if (!IsSettableStatus(static_cast<LONG>(status))) return E_INVALIDARG;
    drive->m_properties.m_status = status;
    return S_OK;
}

HRESULT FilerObjectContainer::GetDriveSpace(const GUID& driveId, ULONGLONG& freeBytes) {
    ZarvoDrive* drive = nullptr;
    const HRESULT hr = GetDrive(driveId, drive);
    if (FAILED(hr)) return hr;
    freeBytes = drive->m_ullFreeSpace;
    trace_printf("FilerObjectContainer::GetDriveSpace, Drive GUID=%s freeSpace = %llu", GuidToString(driveId).c_str(),
                 static_cast<unsigned long long>(freeBytes));
    return S_OK;
}

HRESULT FilerObjectContainer::GetDrive(SHORT busNumber, SHORT slotNumber, GUID& driveId) {
    for (const auto& [id, drive] : m_driveMap) {
        SHORT bus = 0, slot = 0;
        drive->GetBusAndSlotNumber(bus, slot);
        if (bus == busNumber && slot == slotNumber) {
            driveId = id;
            return S_OK;
        }
    }
    return E_FAIL;
}

void FilerObjectContainer::GetDataDiskCount(const fapi_raid_group_info_t& raidGroup, const DriveIndex& drives,
                                            LONG& count) {
    count = 0;
    for (const auto& disk : raidGroup.disks) {
        const auto found = drives.find(disk.name);
        if (found == drives.end()) continue;
        if (!found->second.second->IsLiveDataDisk()) continue;
        ++count;
        if (trace_enabled())
            trace_printf("FilerObjectContainer::GetDataDiskCount, Disk name %s ", WStringToString(disk.name).c_str());
    }
}

HRESULT FilerObjectContainer::ResetController(const GUID& controllerId) {
    ZarvoController* controller = nullptr;
    const HRESULT hr = GetController(controllerId, controller);
    if (FAILED(hr)) return hr;
    controller->Reset();
    return S_OK;
}

HRESULT FilerObjectContainer::SetPortStatus(const GUID& portId, VDS_PORT_STATUS status) {
    ZarvoControllerPort* port = nullptr;
    const HRESULT hr = GetControllerPort(portId, port);
    if (FAILED(hr)) return hr;
    if (!IsSettableStatus(static_cast<LONG>(status))) return E_INVALIDARG;
    port->SetStatus(static_cast<LONG>(status));
    return S_OK;
}

HRESULT FilerObjectContainer::GetPathInfo(const GUID& portId, ULONG pathNumber, VDS_PATH_INFO& pathInfo) {
    ZarvoControllerPort* port = nullptr;
    HRESULT hr = GetControllerPort(portId, port);
    if (FAILED(hr)) return hr;
    hr = port->GetPathInfo(pathNumber, pathInfo);
    trace_printf("FilerObjectContainer::GetPathInfo, gControllerPort=%s pathNumber = %d", GuidToString(portId).c_str(),
                 static_cast<int>(pathNumber));
    return hr;
}

HRESULT FilerObjectContainer::GetPathPolicy(const GUID& portId, ULONG pathNumber, VDS_PATH_POLICY& pathPolicy) {
    ZarvoControllerPort* port = nullptr;
    HRESULT hr = GetControllerPort(portId, port);
    if (FAILED(hr)) return hr;
    hr = port->GetPathPolicy(pathNumber, pathPolicy);
    trace_printf("FilerObjectContainer::GetPathPolicy, hr=%lx gControllerPort=%s pathNumber = %d",
                 trace_code(hr), GuidToString(portId).c_str(), static_cast<int>(pathNumber));
    return hr;
}

HRESULT FilerObjectContainer::SetPathPolicy(const GUID& portId, VDS_PATH_POLICY pathPolicy) {
    ZarvoControllerPort* port = nullptr;
    HRESULT hr = GetControllerPort(portId, port);
    if (FAILED(hr)) return hr;
    hr = port->SetPathPolicy(pathPolicy);
    trace_printf("FilerObjectContainer::SetPathPolicy, hr=%lx gControllerPort=%s", trace_code(hr),
                 GuidToString(portId).c_str());
    return hr;
}

HRESULT FilerObjectContainer::SetAllPathStatusesFromHbaPort(VDS_HBAPORT_PROP hbaPort, VDS_PATH_STATUS status) {
    HRESULT hr = S_OK;
    for (const auto& [id, port] : m_portsMap) {
        hr = port->SetPathStatus(hbaPort, status);
        if (FAILED(hr)) break;
    }
    return hr;
}
