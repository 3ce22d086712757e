#include <vds/zarvo_drive.h>

#include <cstring>

#include <model/extent_record.h>
#include <model/properties.h>
#include <platform/probe.h>
#include <vds/com_method.h>
#include <vds/vds_status.h>
#include <vds/zarvo_provider.h>

namespace {
constexpr ULONG kKnownDriveFlags = VDS_DRF_HOTSPARE;

HRESULT DriveFlags(const char* name, ULONG flags) {
    return RunComMethod(name, [&]() -> HRESULT {
        if (flags & ~kKnownDriveFlags) {
            TraceBadArgument(name, "unknown flag(s)");
            return E_INVALIDARG;
        }
        return NotSupported(name);
    });
}

// A drive answers every maintenance operation and does nothing.
HRESULT DriveMaintenance(const char* name, VDS_MAINTENANCE_OPERATION operation) {
    return RunComMethod(name, [&]() -> HRESULT { return IsMaintenanceOperation(operation) ? S_OK : E_INVALIDARG; });
}
}  // namespace

// ---- CZarvoDrive --------------------------------------------------------------------

STDMETHODIMP CZarvoDrive::GetProperties(VDS_DRIVE_PROP* pDriveProp) {
    return CopyOutProperties("CZarvoDrive::GetProperties", "bad pDriveProp", pDriveProp, &San::GetDriveProperties);
}

STDMETHODIMP CZarvoDrive::GetSubSystem(IVdsSubSystem** ppSubSystem) {
    static constexpr const char* kName = "CZarvoDrive::GetSubSystem";
    return RunComMethod(kName, [&]() -> HRESULT {
        if (!ppSubSystem) {
            TraceBadArgument(kName, "bad ppSubSystem");
            return E_POINTER;
        }
        return GetOwningSubSystem(ppSubSystem);
    });
}

STDMETHODIMP CZarvoDrive::QueryExtents(VDS_DRIVE_EXTENT** ppExtentArray, LONG* plNumberOfExtents) {
    static constexpr const char* kName = "CZarvoDrive::QueryExtents";
    return RunComMethod(kName, [&]() -> HRESULT {
        if (HRESULT hr = CheckSan(); FAILED(hr)) return hr;
        if (!ppExtentArray || !plNumberOfExtents) {
            TraceBadArgument(kName, "bad pointer");
            return E_POINTER;
        }
        std::vector<ExtentRecord> extents;
        HRESULT hr = m_pSan->QueryExtents(EXTENT_BY_DRIVE, m_objectId, extents);
        if (FAILED(hr)) return hr;
        ULONGLONG freeBytes = 0;
        hr = m_pSan->GetDriveSpace(m_objectId, freeBytes);
        if (FAILED(hr)) return hr;
        if (freeBytes != 0) {
            // The free space comes last, as an extent that no LUN uses.
            GUID nil;
            if (UuidCreateNil(&nil) != RPC_S_OK) trace_printf("%s(): UuidCreateNil failed", kName);
            ExtentRecord freeExtent{};
            freeExtent.driveId = m_objectId;
            freeExtent.plexId = nil;
            freeExtent.lunId = nil;
            freeExtent.size = freeBytes;
            extents.push_back(freeExtent);
        }
        return m_pProvider->ConvertExtentVector(extents, ppExtentArray, plNumberOfExtents);
    });
}

STDMETHODIMP CZarvoDrive::SetFlags(ULONG ulFlags) { return DriveFlags("CZarvoDrive::SetFlags", ulFlags); }

STDMETHODIMP CZarvoDrive::ClearFlags(ULONG ulFlags) { return DriveFlags("CZarvoDrive::ClearFlags", ulFlags); }

STDMETHODIMP CZarvoDrive::SetStatus(VDS_DRIVE_STATUS status) {
    return StatusNotSupported("CZarvoDrive::SetStatus", status);
}

STDMETHODIMP CZarvoDrive::StartMaintenance(VDS_MAINTENANCE_OPERATION operation) {
    return DriveMaintenance("CZarvoDrive::StartMaintenance", operation);
}

STDMETHODIMP CZarvoDrive::StopMaintenance(VDS_MAINTENANCE_OPERATION operation) {
    return DriveMaintenance("CZarvoDrive::StopMaintenance", operation);
}

STDMETHODIMP CZarvoDrive::PulseMaintenance(VDS_MAINTENANCE_OPERATION operation, ULONG) {
    return DriveMaintenance("CZarvoDrive::PulseMaintenance", operation);
}

// ---- CZarvoLunPlex ------------------------------------------------------------------

STDMETHODIMP CZarvoLunPlex::GetProperties(VDS_LUN_PLEX_PROP* pPlexProp) {
    static constexpr const char* kName = "CZarvoLunPlex::GetProperties";
    return RunComMethod(kName, [&]() -> HRESULT {
        if (HRESULT hr = CheckSan(); FAILED(hr)) return hr;
        if (!pPlexProp) {
            TraceBadArgument(kName, "bad pPlexProp");
            return E_POINTER;
        }
        std::memset(pPlexProp, 0, sizeof(*pPlexProp));
        return m_pSan->GetPlexProperties(m_objectId, *pPlexProp);
    });
}

STDMETHODIMP CZarvoLunPlex::GetLun(IVdsLun** ppLun) {
    static constexpr const char* kName = "CZarvoLunPlex::GetLun";
    return RunComMethod(kName, [&]() -> HRESULT {
        if (HRESULT hr = CheckSan(); FAILED(hr)) return hr;
        if (!ppLun) {
            TraceBadArgument(kName, "bad ppLun");
            return E_POINTER;
        }
        GUID lunId{};
        const HRESULT hr = m_pSan->GetLunFromPlex(m_objectId, lunId);
        if (FAILED(hr)) return hr;
        IVdsLun* lun = nullptr;
        const HRESULT found = GetRelatedObject(lunId, VDS_OT_LUN, IID_PPV_ARGS(&lun));
        if (SUCCEEDED(found)) *ppLun = lun;
        return found;
    });
}

STDMETHODIMP CZarvoLunPlex::QueryExtents(VDS_DRIVE_EXTENT** ppExtentArray, LONG* plNumberOfExtents) {
    static constexpr const char* kName = "CZarvoLunPlex::QueryExtents";
    return RunComMethod(kName, [&]() -> HRESULT {
        if (HRESULT hr = CheckSan(); FAILED(hr)) return hr;
        if (!ppExtentArray || !plNumberOfExtents) {
            TraceBadArgument(kName, "bad pointer");
            return E_POINTER;
        }
        std::vector<ExtentRecord> extents;
        const HRESULT hr = m_pSan->QueryExtents(EXTENT_BY_PLEX, m_objectId, extents);
        if (FAILED(hr)) return hr;
        return m_pProvider->ConvertExtentVector(extents, ppExtentArray, plNumberOfExtents);
    });
}

STDMETHODIMP CZarvoLunPlex::QueryHints(VDS_HINTS* pHints) {
    return NotSupportedAfterWriteCheck("CZarvoLunPlex::QueryHints", pHints, "bad pHints");
}

STDMETHODIMP CZarvoLunPlex::ApplyHints(VDS_HINTS* pHints) {
    return NotSupportedAfterReadCheck("CZarvoLunPlex::ApplyHints", pHints, "bad pHints");
}
