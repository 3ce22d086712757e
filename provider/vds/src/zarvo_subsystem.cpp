#include <vds/zarvo_subsystem.h>

#include <model/async.h>
#include <model/properties.h>
#include <platform/probe.h>
#include <vds/com_method.h>
#include <vds/vds_async.h>
#include <vds/vds_status.h>
#include <vds/zarvo_provider.h>

namespace {
constexpr ULONG_PTR kAnyLength = ~ULONG_PTR{0};
using Rule = ArgumentChecks::Rule;
}  // namespace

bool CZarvoSubSystem::RefusesInterface(REFIID riid) {
    return ProviderType() == VDS_HWT_FIBRE_CHANNEL && IsEqualIID(riid, IID_IVdsSubSystemIscsi);
}

HRESULT CZarvoSubSystem::CheckLunType(VDS_LUN_TYPE type) {
    static constexpr const char* kName = "CZarvoSubSystem::CheckLunType";
    TraceScope scope(kName);
    const bool known = (type >= VDS_LT_DEFAULT && type <= VDS_LT_NON_FAULT_TOLERANT) ||
                       (type >= VDS_LT_SIMPLE && type <= VDS_LT_PARITY);
    const HRESULT hr = known ? S_OK : E_INVALIDARG;
    trace_printf("%s(): returning %08lX", kName, trace_code(hr));
    return hr;
}

HRESULT CZarvoSubSystem::QueryObjects(HRESULT (San::*query)(std::vector<GUID>&), VDS_OBJECT_TYPE type,
                                      IEnumVdsObject** ppEnum, void (*traceCount)(int)) {
    *ppEnum = nullptr;
    std::vector<GUID> ids;
    const HRESULT hr = (m_pSan->*query)(ids);
    if (FAILED(hr)) return hr;
    if (traceCount) traceCount(static_cast<int>(ids.size()));
    return MakeEnum(type, ids, ppEnum);
}

STDMETHODIMP CZarvoSubSystem::GetProperties(VDS_SUB_SYSTEM_PROP* pSubSystemProp) {
    static constexpr const char* kName = "CZarvoSubSystem::GetProperties";
    return RunComMethod(kName, [&]() -> HRESULT {
        if (HRESULT hr = CheckSan(); FAILED(hr)) return hr;
        ArgumentChecks checks(kName, Rule::LastDecides);
        checks.Check(IsBadWritePtr(pSubSystemProp, sizeof(*pSubSystemProp)), "bad pSubSystemProp", E_POINTER);
        if (checks.Failed()) return checks.Result();
        SubSystemProperties properties;
        const HRESULT hr = m_pSan->GetProperties(properties);
        if (SUCCEEDED(hr)) properties.CopyOut(pSubSystemProp);
        return hr;
    });
}

STDMETHODIMP CZarvoSubSystem::GetProvider(IVdsProvider** ppProvider) {
    static constexpr const char* kName = "CZarvoSubSystem::GetProvider";
    return RunComMethod(kName, [&]() -> HRESULT {
        ArgumentChecks checks(kName, Rule::LastDecides);
        checks.Check(IsBadWritePtr(ppProvider, sizeof(*ppProvider)), "bad ppProvider", E_POINTER)
            .Check(!m_pProvider, "Provider is  not valid", E_FAIL);
        if (checks.Failed()) return checks.Result();
        trace_printf("CZarvoSubSystem::GetProvider, Provider Type = %d", static_cast<int>(ProviderType()));
        return m_pProvider->QueryInterface(IID_PPV_ARGS(ppProvider));
    });
}

STDMETHODIMP CZarvoSubSystem::QueryControllers(IEnumVdsObject** ppEnum) {
    static constexpr const char* kName = "CZarvoSubSystem::QueryControllers";
    return RunComMethod(kName, [&]() -> HRESULT {
        if (HRESULT hr = CheckSan(); FAILED(hr)) return hr;
        ArgumentChecks checks(kName, Rule::LastDecides);
        checks.Check(IsBadWritePtr(ppEnum, sizeof(*ppEnum)), "bad ppEnum", E_POINTER)
            .Check(ProviderType() == VDS_HWT_ISCSI, "not supported for ISCSI", VDS_E_NOT_SUPPORTED);
        if (checks.Failed()) return checks.Result();
        return QueryObjects(&San::QueryControllers, VDS_OT_CONTROLLER, ppEnum);
    });
}

STDMETHODIMP CZarvoSubSystem::QueryLuns(IEnumVdsObject** ppEnum) {
    static constexpr const char* kName = "CZarvoSubSystem::QueryLuns";
    return RunComMethod(kName, [&]() -> HRESULT {
        if (HRESULT hr = CheckSan(); FAILED(hr)) return hr;
        if (IsBadWritePtr(ppEnum, sizeof(*ppEnum))) {
            TraceBadArgument(kName, "bad ppEnum");
            return E_POINTER;
        }
        return QueryObjects(&San::QueryLuns, VDS_OT_LUN, ppEnum);
    });
}

STDMETHODIMP CZarvoSubSystem::QueryDrives(IEnumVdsObject** ppEnum) {
    static constexpr const char* kName = "CZarvoSubSystem::QueryDrives";
    return RunComMethod(kName, [&]() -> HRESULT {
        if (HRESULT hr = CheckSan(); FAILED(hr)) return hr;
        if (IsBadWritePtr(ppEnum, sizeof(*ppEnum))) {
            TraceBadArgument(kName, "bad ppEnum");
            return E_POINTER;
        }
        return QueryObjects(&San::QueryDrives, VDS_OT_DRIVE, ppEnum);
    });
}

STDMETHODIMP CZarvoSubSystem::GetDrive(SHORT sBusNumber, SHORT sSlotNumber, IVdsDrive** ppDrive) {
    static constexpr const char* kName = "CZarvoSubSystem::GetDrive";
    return RunComMethod(kName, [&]() -> HRESULT {
        if (HRESULT hr = CheckSan(); FAILED(hr)) return hr;
        if (IsBadWritePtr(ppDrive, sizeof(*ppDrive))) {
            TraceBadArgument(kName, "bad ppDrive");
            return E_POINTER;
        }
        *ppDrive = nullptr;
        GUID driveId{};
        const HRESULT hr = m_pSan->GetDrive(sBusNumber, sSlotNumber, driveId);
        if (FAILED(hr)) return hr;
        return GetRelatedObject(driveId, VDS_OT_DRIVE, IID_PPV_ARGS(ppDrive));
    });
}

STDMETHODIMP CZarvoSubSystem::Reenumerate() {
    return RunComMethod("CZarvoSubSystem::Reenumerate", [&]() -> HRESULT {
        if (HRESULT hr = CheckSan(); FAILED(hr)) return hr;
        return m_pSan->Reenumerate();
    });
}

STDMETHODIMP CZarvoSubSystem::SetControllerStatus(VDS_OBJECT_ID* pOnlineControllerIdArray,
                                                  LONG lNumberOfOnlineControllers,
                                                  VDS_OBJECT_ID* pOfflineControllerIdArray,
                                                  LONG lNumberOfOfflineControllers) {
    static constexpr const char* kName = "CZarvoSubSystem::SetControllerStatus";
    return RunComMethod(kName, [&]() -> HRESULT {
        if (HRESULT hr = CheckSan(); FAILED(hr)) return hr;
        ArgumentChecks checks(kName);
        checks
            .Check(platform::is_bad_array_read(pOnlineControllerIdArray, lNumberOfOnlineControllers, sizeof(GUID)),
                   "bad pOnlineControllerIdArray", E_POINTER)
            .Check(platform::is_bad_array_read(pOfflineControllerIdArray, lNumberOfOfflineControllers, sizeof(GUID)),
                   "bad pOfflineControllerIdArray", E_POINTER);
        if (checks.Failed()) return checks.Result();
        return NotSupported(kName);
    });
}

STDMETHODIMP CZarvoSubSystem::CreateLun(VDS_LUN_TYPE type, ULONGLONG ullSizeInBytes, VDS_OBJECT_ID* pDriveIdArray,
                                        LONG lNumberOfDrives, LPWSTR pwszUnmaskingList, VDS_HINTS* pHints,
                                        IVdsAsync** ppAsync) {
    static constexpr const char* kName = "CZarvoSubSystem::CreateLun";
    return RunComMethod(kName, [&]() -> HRESULT {
        if (HRESULT hr = CheckSan(); FAILED(hr)) return hr;
        trace_printf("CZarvoSubSystem::CreateLun , Lun type = %d, Lun size=  %llu", static_cast<int>(type),
                     static_cast<unsigned long long>(ullSizeInBytes));
        ArgumentChecks checks(kName, Rule::LastDecides);
        checks.Check(FAILED(CheckLunType(type)), "bogus type code", E_INVALIDARG)
            .Check(platform::is_bad_array_read(pDriveIdArray, lNumberOfDrives, sizeof(GUID)), "bad pDriveIdArray",
                   E_POINTER)
            .Check(IsBadStringPtrW(pwszUnmaskingList, kAnyLength), "bad pwszUnmaskingList", E_POINTER)
            .Check(IsBadReadPtr(pHints, sizeof(*pHints)), "bad pHints", E_POINTER)
            .Check(IsBadWritePtr(ppAsync, sizeof(*ppAsync)), "bad ppIVdsAsync", E_POINTER)
            .Check(ullSizeInBytes == 0, "bad ullSize and lNumberOfDrives and pDriveIdArray ", E_INVALIDARG);
        if (checks.Failed()) return checks.Result();

        ULONGLONG maxSize = 0;
        HRESULT hr = m_pSan->QueryMaxLunCreateSize(type, pDriveIdArray, lNumberOfDrives, pHints, maxSize);
        if (FAILED(hr)) return hr;
        if (maxSize < ullSizeInBytes) return VDS_E_NOT_ENOUGH_SPACE;

        *ppAsync = nullptr;
        CVdsAsyncObject* asyncObject = NewComObject<CVdsAsyncObject>();
        if (!asyncObject) return E_OUTOFMEMORY;
        const std::vector<GUID> driveIds(pDriveIdArray, pDriveIdArray + lNumberOfDrives);
        ZarvoAsync* async = nullptr;
        hr = m_pSan->CreateLun(type, ullSizeInBytes, driveIds, pwszUnmaskingList, pHints, &async);
        if (FAILED(hr)) {
            asyncObject->Release();
            if (async) async->Release();
            return hr;
        }
        asyncObject->Init(m_pProvider, VDS_ASYNCOUT_CREATELUN, VDS_OT_LUN, async);
        *ppAsync = asyncObject;
        return S_OK;
    });
}

STDMETHODIMP CZarvoSubSystem::ReplaceDrive(VDS_OBJECT_ID, VDS_OBJECT_ID) {
    static constexpr const char* kName = "CZarvoSubSystem::ReplaceDrive";
    return RunComMethod(kName, [&]() -> HRESULT { return NotSupported(kName); });
}

STDMETHODIMP CZarvoSubSystem::SetStatus(VDS_SUB_SYSTEM_STATUS status) {
    return StatusNotSupported("CZarvoSubSystem::SetStatus", status);
}

STDMETHODIMP CZarvoSubSystem::QueryMaxLunCreateSize(VDS_LUN_TYPE type, VDS_OBJECT_ID* pDriveIdArray,
                                                    LONG lNumberOfDrives, VDS_HINTS* pHints,
                                                    ULONGLONG* pullMaxLunSize) {
    static constexpr const char* kName = "CZarvoSubSystem::QueryMaxLunCreateSize";
    return RunComMethod(kName, [&]() -> HRESULT {
        if (HRESULT hr = CheckSan(); FAILED(hr)) return hr;
        ArgumentChecks checks(kName, Rule::LastDecides);
        checks.Check(FAILED(CheckLunType(type)), "bogus type code", E_INVALIDARG)
            .Check(platform::is_bad_array_read(pDriveIdArray, lNumberOfDrives, sizeof(GUID)), "bad pDriveIdArray",
                   E_POINTER)
            .Check(IsBadReadPtr(pHints, sizeof(*pHints)), "bad pHints", E_POINTER)
            .Check(IsBadWritePtr(pullMaxLunSize, sizeof(*pullMaxLunSize)), "bad pullMaxLunSize", E_POINTER);
        if (checks.Failed()) return checks.Result();
        return m_pSan->QueryMaxLunCreateSize(type, pDriveIdArray, lNumberOfDrives, pHints, *pullMaxLunSize);
    });
}

STDMETHODIMP CZarvoSubSystem::QueryTargets(IEnumVdsObject** ppEnum) {
    static constexpr const char* kName = "CZarvoSubSystem::QueryTargets";
    return RunComMethod(kName, [&]() -> HRESULT {
        if (HRESULT hr = CheckSan(); FAILED(hr)) return hr;
        if (IsBadWritePtr(ppEnum, sizeof(*ppEnum))) {
            TraceBadArgument(kName, "bad ppEnum");
            return E_POINTER;
        }
        return QueryObjects(&San::QueryTargets, VDS_OT_TARGET, ppEnum,
                            [](int count) { trace_printf("# of Targets found %d ", count); });
    });
}

STDMETHODIMP CZarvoSubSystem::QueryPortals(IEnumVdsObject** ppEnum) {
    static constexpr const char* kName = "CZarvoSubSystem::QueryPortals";
    return RunComMethod(kName, [&]() -> HRESULT {
        if (HRESULT hr = CheckSan(); FAILED(hr)) return hr;
        if (IsBadWritePtr(ppEnum, sizeof(*ppEnum))) {
            TraceBadArgument(kName, "bad ppEnum");
            return E_POINTER;
        }
        return QueryObjects(&San::QueryPortals, VDS_OT_PORTAL, ppEnum,
                            [](int count) { trace_printf("No  of portals %d", count); });
    });
}

STDMETHODIMP CZarvoSubSystem::CreateTarget(LPWSTR pwszIscsiName, LPWSTR pwszFriendlyName, IVdsAsync** ppAsync) {
    static constexpr const char* kName = "CZarvoSubSystem::CreateTarget";
    return RunComMethod(kName, [&]() -> HRESULT {
        ArgumentChecks checks(kName);
        checks.Check(IsBadStringPtrW(pwszIscsiName, kAnyLength), "bad pwszIscsiName", E_POINTER)
            .Check(IsBadStringPtrW(pwszFriendlyName, kAnyLength), "bad pwszFriendlyName", E_POINTER)
            .Check(IsBadWritePtr(ppAsync, sizeof(*ppAsync)), "bad ppAsync", E_POINTER);
        if (checks.Failed()) return checks.Result();
        return NotSupported(kName);
    });
}

STDMETHODIMP CZarvoSubSystem::SetIpsecGroupPresharedKey(VDS_ISCSI_IPSEC_KEY* pIpsecKey) {
    return NotSupportedAfterReadCheck("CZarvoSubSystem::SetIpsecGroupPresharedKey", pIpsecKey, "bad pIpsecKey");
}

STDMETHODIMP CZarvoSubSystem::SetFriendlyName(LPWSTR pwszFriendlyName) {
    static constexpr const char* kName = "CZarvoSubSystem::SetFriendlyName";
    return RunComMethod(kName, [&]() -> HRESULT {
        if (HRESULT hr = CheckSan(); FAILED(hr)) return hr;
        // A missing name cannot become a text: refused rather than read.
        if (IsBadStringPtrW(pwszFriendlyName, kAnyLength)) {
            TraceBadArgument(kName, "bad pwszFriendlyName");
            return E_POINTER;
        }
        return m_pSan->SetName(pwszFriendlyName);
    });
}

HRESULT CZarvoSubSystem::Maintenance(const char* name, VDS_MAINTENANCE_OPERATION operation) {
    return RunComMethod(name, [&]() -> HRESULT {
        if (!IsMaintenanceOperation(operation)) {
            TraceBadArgument(name, "bad operation code");
            return E_INVALIDARG;
        }
        return NotSupported(name);
    });
}

STDMETHODIMP CZarvoSubSystem::StartMaintenance(VDS_MAINTENANCE_OPERATION operation) {
    return Maintenance("CZarvoSubSystem::StartMaintenance", operation);
}

STDMETHODIMP CZarvoSubSystem::StopMaintenance(VDS_MAINTENANCE_OPERATION operation) {
    return Maintenance("CZarvoSubSystem::StopMaintenance", operation);
}

STDMETHODIMP CZarvoSubSystem::PulseMaintenance(VDS_MAINTENANCE_OPERATION operation, ULONG) {
    return Maintenance("CZarvoSubSystem::PulseMaintenance", operation);
}
