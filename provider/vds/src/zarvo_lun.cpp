#include <vds/zarvo_lun.h>

#include <cstring>
#include <exception>

#include <model/async.h>
#include <model/properties.h>
#include <platform/comalloc.h>
#include <platform/probe.h>
#include <vds/com_method.h>
#include <vds/vds_async.h>
#include <vds/vds_status.h>
#include <vds/zarvo_provider.h>

namespace {
constexpr ULONG_PTR kAnyLength = ~ULONG_PTR{0};
constexpr ULONGLONG kMiB = 1024 * 1024;

unsigned long long Mebibytes(ULONGLONG bytes) { return static_cast<unsigned long long>(bytes / kMiB); }

template <typename Record>
Record* AllocateRecords(size_t count) {
    auto* records = static_cast<Record*>(CoTaskMemAlloc(count * sizeof(Record)));
    if (records) std::memset(static_cast<void*>(records), 0, count * sizeof(Record));
    return records;
}
}  // namespace

HRESULT WaitForQueuedWork(HRESULT queued, ZarvoAsync* async) {
    HRESULT hr = queued;
    if (SUCCEEDED(queued) && async) {
        HRESULT result = S_OK;
        GUID id{};
        const HRESULT waited = async->Wait(&result, &id);
        hr = FAILED(waited) ? waited : result;
    }
    if (async) async->Release();
    return hr;
}

bool CZarvoLun::RefusesInterface(REFIID riid) {
    switch (ProviderType()) {
        case VDS_HWT_ISCSI: return IsEqualIID(riid, IID_IVdsLunControllerPorts) || IsEqualIID(riid, IID_IVdsLunMpio);
        case VDS_HWT_FIBRE_CHANNEL: return IsEqualIID(riid, IID_IVdsLunIscsi);
        default: return false;
    }
}

// ---- IVdsLun ---------------------------------------------------------------------

STDMETHODIMP CZarvoLun::GetProperties(VDS_LUN_PROP* pLunProp) {
    return CopyOutProperties("CZarvoLun::GetProperties", "bad pLunProp", pLunProp, &San::GetLunProperties);
}

STDMETHODIMP CZarvoLun::GetSubSystem(IVdsSubSystem** ppSubSystem) {
    static constexpr const char* kName = "CZarvoLun::GetSubSystem";
    return RunComMethod(kName, [&]() -> HRESULT {
        if (!ppSubSystem) {
            TraceBadArgument(kName, "bad ppSubSystem");
            return E_POINTER;
        }
        return GetOwningSubSystem(ppSubSystem);
    });
}

STDMETHODIMP CZarvoLun::GetIdentificationData(VDS_LUN_INFORMATION* pLunInfo) {
    static constexpr const char* kName = "CZarvoLun::GetIdentificationData";
    return RunComMethod(kName, [&]() -> HRESULT {
        if (IsBadWritePtr(pLunInfo, sizeof(*pLunInfo))) {
            TraceBadArgument(kName, "Bad pointer");
            return E_INVALIDARG;
        }
        if (!m_pSan) return E_FAIL;
        return m_pSan->GetLunIdentification(m_objectId, *pLunInfo);
    });
}

STDMETHODIMP CZarvoLun::QueryActiveControllers(IEnumVdsObject** ppEnum) {
    return NotSupportedAfterWriteCheck("CZarvoLun::QueryActiveControllers", ppEnum, "bogus ppEnum pointer");
}

STDMETHODIMP CZarvoLun::Extend(ULONGLONG ullNumberOfBytesToAdd, VDS_OBJECT_ID* pDriveIdArray, LONG lNumberOfDrives,
                               IVdsAsync** ppAsync) {
    static constexpr const char* kName = "CZarvoLun::Extend";
    return RunComMethod(kName, [&]() -> HRESULT {
        if (HRESULT hr = CheckSan(); FAILED(hr)) return hr;
        ArgumentChecks checks(kName);
        checks.Check(lNumberOfDrives >= 1 && !pDriveIdArray, "bad pDriveIdArray", E_POINTER)
            .Check(!ppAsync, "bad ppAsync", E_POINTER)
            .Check(lNumberOfDrives < 0, "bad lNumberOfDrives", E_INVALIDARG);
        if (checks.Failed()) return checks.Result();

        for (LONG i = 0; i < lNumberOfDrives; ++i)
            if (!m_pSan->IsValidObject(VDS_OT_DRIVE, pDriveIdArray[i])) return VDS_E_OBJECT_NOT_FOUND;

        trace_printf("CZarvoLun::Extend, requested size %llu MB", Mebibytes(ullNumberOfBytesToAdd));
        *ppAsync = nullptr;
        // The model checks the state, the space and the size in one step.
        return StartAsync(
            VDS_ASYNCOUT_EXTENDLUN, VDS_OT_LUN,
            [&](ZarvoAsync** async) -> HRESULT { return m_pSan->ExtendLun(m_objectId, ullNumberOfBytesToAdd, async); },
            ppAsync);
    });
}

STDMETHODIMP CZarvoLun::Shrink(ULONGLONG ullNumberOfBytesToRemove, IVdsAsync** ppAsync) {
    static constexpr const char* kName = "CZarvoLun::Shrink";
    return RunComMethod(kName, [&]() -> HRESULT {
        if (IsBadWritePtr(ppAsync, sizeof(*ppAsync))) {
            TraceBadArgument(kName, "bogus ppAsync pointer");
            return E_POINTER;
        }
        if (ullNumberOfBytesToRemove == 0) {
            trace_printf("%s(): nothing to do", kName);
            return S_OK;
        }
        return NotSupported(kName);
    });
}

STDMETHODIMP CZarvoLun::QueryPlexes(IEnumVdsObject** ppEnum) {
    static constexpr const char* kName = "CZarvoLun::QueryPlexes";
    return RunComMethod(kName, [&]() -> HRESULT {
        if (HRESULT hr = CheckSan(); FAILED(hr)) return hr;
        if (!ppEnum) {
            TraceBadArgument(kName, "bad ppEnum");
            return E_POINTER;
        }
        *ppEnum = nullptr;
        std::vector<GUID> ids;
        const HRESULT hr = m_pSan->QueryPlexes(m_objectId, ids);
        if (FAILED(hr)) return hr;
        return MakeEnum(VDS_OT_LUN_PLEX, ids, ppEnum);
    });
}

STDMETHODIMP CZarvoLun::AddPlex(VDS_OBJECT_ID, IVdsAsync** ppAsync) {
    return NotSupportedAfterWriteCheck("CZarvoLun::AddPlex", ppAsync, "bogus ppAsync pointer");
}

STDMETHODIMP CZarvoLun::RemovePlex(VDS_OBJECT_ID, IVdsAsync** ppAsync) {
    return NotSupportedAfterWriteCheck("CZarvoLun::RemovePlex", ppAsync, "bogus ppAsync pointer");
}

STDMETHODIMP CZarvoLun::Recover(IVdsAsync** ppAsync) {
    return NotSupportedAfterWriteCheck("CZarvoLun::Recover", ppAsync, "bogus ppAsync pointer");
}

STDMETHODIMP CZarvoLun::SetMask(LPWSTR pwszUnmaskingList) {
    static constexpr const char* kName = "CZarvoLun::SetMask";
    return RunComMethod(kName, [&]() -> HRESULT {
        if (HRESULT hr = CheckSan(); FAILED(hr)) return hr;
        if (!pwszUnmaskingList) {
            TraceBadArgument(kName, "bad pwszUnmaskingList");
            return E_POINTER;
        }
        ZarvoAsync* async = nullptr;
        const HRESULT hr = m_pSan->SetLunUnmask(m_objectId, pwszUnmaskingList, &async);
        return WaitForQueuedWork(hr, async);
    });
}

STDMETHODIMP CZarvoLun::Delete() {
    return RunComMethod("CZarvoLun::Delete", [&]() -> HRESULT {
        if (HRESULT hr = CheckSan(); FAILED(hr)) return hr;
        ZarvoAsync* async = nullptr;
        const HRESULT hr = m_pSan->DeleteLun(m_objectId, &async);
        return WaitForQueuedWork(hr, async);
    });
}

STDMETHODIMP CZarvoLun::AssociateControllers(VDS_OBJECT_ID* pActiveControllerIdArray, LONG lNumberOfActiveControllers,
                                             VDS_OBJECT_ID* pInactiveControllerIdArray,
                                             LONG lNumberOfInactiveControllers) {
    static constexpr const char* kName = "CZarvoLun::AssociateControllers";
    return RunComMethod(kName, [&]() -> HRESULT {
        ArgumentChecks checks(kName);
        checks
            .Check(platform::is_bad_array_read(pActiveControllerIdArray, lNumberOfActiveControllers, sizeof(GUID)),
                   "bad pActiveControllerArray", E_POINTER)
            .Check(platform::is_bad_array_read(pInactiveControllerIdArray, lNumberOfInactiveControllers, sizeof(GUID)),
                   "bad pInactiveControllerArray", E_POINTER);
        if (checks.Failed()) return checks.Result();
        return NotSupported(kName);
    });
}

STDMETHODIMP CZarvoLun::QueryHints(VDS_HINTS* pHints) {
    return NotSupportedAfterWriteCheck("CZarvoLun::QueryHints", pHints, "bad pHints");
}

STDMETHODIMP CZarvoLun::ApplyHints(VDS_HINTS* pHints) {
    return NotSupportedAfterReadCheck("CZarvoLun::ApplyHints", pHints, "bad pHints");
}

STDMETHODIMP CZarvoLun::SetStatus(VDS_LUN_STATUS status) {
    return StatusNotSupported("CZarvoLun::SetStatus", status);
}

STDMETHODIMP CZarvoLun::QueryMaxLunExtendSize(VDS_OBJECT_ID* pDriveIdArray, LONG lNumberOfDrives,
                                              ULONGLONG* pullMaxBytesToBeAdded) {
    static constexpr const char* kName = "CZarvoLun::QueryMaxLunExtendSize";
    return RunComMethod(kName, [&]() -> HRESULT {
        if (HRESULT hr = CheckSan(); FAILED(hr)) return hr;
        ArgumentChecks checks(kName);
        checks.Check(!pullMaxBytesToBeAdded, "bad pullMaxBytesToBeAdded", E_POINTER)
            .Check(lNumberOfDrives > 0 && !pDriveIdArray, "bad pDriveIdArray", E_POINTER)
            .Check(lNumberOfDrives < 0, "bad lNumberOfDrives", E_INVALIDARG);
        if (checks.Failed()) return checks.Result();
        const HRESULT hr = m_pSan->QueryMaxLunExtendSize(m_objectId, pDriveIdArray, lNumberOfDrives,
                                                         *pullMaxBytesToBeAdded);
        trace_printf("CZarvoLun::QueryMaxLunExtendSize, max extend size %llu MB", Mebibytes(*pullMaxBytesToBeAdded));
        return hr;
    });
}

// ---- IVdsLunIscsi, IVdsLunNaming ---------------------------------------------------

STDMETHODIMP CZarvoLun::AssociateTargets(VDS_OBJECT_ID* pTargetIdArray, LONG lNumberOfTargets) {
    static constexpr const char* kName = "CZarvoLun::AssociateTargets";
    return RunComMethod(kName, [&]() -> HRESULT {
        if (HRESULT hr = CheckSan(); FAILED(hr)) return hr;
        if (platform::is_bad_array_read(pTargetIdArray, lNumberOfTargets, sizeof(GUID))) {
            TraceBadArgument(kName, "bad pTargetIdArray");
            return E_POINTER;
        }
        return NotSupported(kName);
    });
}

STDMETHODIMP CZarvoLun::QueryAssociatedTargets(IEnumVdsObject** ppEnum) {
    static constexpr const char* kName = "CZarvoLun::QueryAssociatedTargets";
    return RunComMethod(kName, [&]() -> HRESULT {
        if (HRESULT hr = CheckSan(); FAILED(hr)) return hr;
        if (IsBadWritePtr(ppEnum, sizeof(*ppEnum))) {
            TraceBadArgument(kName, "bad ppEnum");
            return E_POINTER;
        }
        *ppEnum = nullptr;
        std::vector<GUID> ids;
        const HRESULT hr = m_pSan->QueryAssociatedTargets(m_objectId, ids);
        if (FAILED(hr)) return hr;
        return MakeEnum(VDS_OT_TARGET, ids, ppEnum);
    });
}

STDMETHODIMP CZarvoLun::SetFriendlyName(LPWSTR pwszFriendlyName) {
    static constexpr const char* kName = "CZarvoLun::SetFriendlyName";
    return RunComMethod(kName, [&]() -> HRESULT {
        if (HRESULT hr = CheckSan(); FAILED(hr)) return hr;
        // A missing name cannot become a text: refused rather than read.
        if (IsBadStringPtrW(pwszFriendlyName, kAnyLength)) {
            TraceBadArgument(kName, "bad pwszFriendlyName");
            return E_POINTER;
        }
        return m_pSan->SetLunName(m_objectId, pwszFriendlyName);
    });
}

// ---- IVdsLunControllerPorts ---------------------------------------------------------

STDMETHODIMP CZarvoLun::AssociateControllerPorts(VDS_OBJECT_ID* pActiveControllerPortIdArray,
                                                 LONG lNumberOfActiveControllerPorts,
                                                 VDS_OBJECT_ID* pInactiveControllerPortIdArray,
                                                 LONG lNumberOfInactiveControllerPorts) {
    static constexpr const char* kName = "CZarvoLun::AssociateControllerPorts";
    return RunComMethod(kName, [&]() -> HRESULT {
        if (lNumberOfActiveControllerPorts < 0 || lNumberOfInactiveControllerPorts < 0) {
            trace_printf("%s(): bad counts %d, %d", kName, static_cast<int>(lNumberOfActiveControllerPorts),
                         static_cast<int>(lNumberOfInactiveControllerPorts));
            return E_INVALIDARG;
        }
        ArgumentChecks checks(kName);
        checks
            .Check(platform::is_bad_array_read(pActiveControllerPortIdArray, lNumberOfActiveControllerPorts,
                                               sizeof(GUID)),
                   "ERROR: bad pActiveControllerPortIdArray", E_POINTER)
            .Check(platform::is_bad_array_read(pInactiveControllerPortIdArray, lNumberOfInactiveControllerPorts,
                                               sizeof(GUID)),
                   "ERROR: bad pInactiveControllerPortIdArray", E_POINTER);
        if (checks.Failed()) return checks.Result();
        if (!m_pSan) return E_FAIL;
        try {
            const std::vector<GUID> active(pActiveControllerPortIdArray,
                                           pActiveControllerPortIdArray + lNumberOfActiveControllerPorts);
            const std::vector<GUID> inactive(pInactiveControllerPortIdArray,
                                             pInactiveControllerPortIdArray + lNumberOfInactiveControllerPorts);
            return m_pSan->AssociateControllerPorts(m_objectId, active, inactive);
        } catch (const std::exception&) {
            trace_printf("%s(): %s", kName, "caught exception");
            return E_FAIL;
        }
    });
}

STDMETHODIMP CZarvoLun::QueryActiveControllerPorts(IEnumVdsObject** ppEnum) {
    static constexpr const char* kName = "CZarvoLun::QueryActiveControllerPorts";
    return RunComMethod(kName, [&]() -> HRESULT {
        if (IsBadWritePtr(ppEnum, sizeof(*ppEnum))) {
            TraceBadArgument(kName, "ERROR: bad ppEnum");
            return E_POINTER;
        }
        *ppEnum = nullptr;
        if (!m_pSan) return E_FAIL;
        std::vector<GUID> ids;
        const HRESULT hr = m_pSan->QueryActiveControllerPorts(m_objectId, ids);
        if (FAILED(hr)) return hr;
        trace_printf("%s, number of ports %d", kName, static_cast<int>(ids.size()));
        return MakeEnum(VDS_OT_PORT, ids, ppEnum);
    });
}

// ---- IVdsLunMpio ----------------------------------------------------------------------

HRESULT CZarvoLun::PathSlots(const std::vector<GUID>& ports, size_t& slots) {
    BOOL installed = FALSE;
    if (FAILED(m_pSan->IsMPIOInstalled(installed))) {
        trace_printf("CZarvoLun: no mpio");
        slots = 1;
    } else {
        slots = ports.size();
    }
    return S_OK;
}

STDMETHODIMP CZarvoLun::GetPathInfo(VDS_PATH_INFO** ppPaths, LONG* plNumberOfPaths) {
    static constexpr const char* kName = "CZarvoLun::GetPathInfo";
    return RunComMethod(kName, [&]() -> HRESULT {
        ArgumentChecks checks(kName);
        checks.Check(IsBadWritePtr(ppPaths, sizeof(*ppPaths)), "ERROR: bad ppPaths", E_POINTER)
            .Check(IsBadWritePtr(plNumberOfPaths, sizeof(*plNumberOfPaths)), "ERROR: bad plNumberOfPaths", E_POINTER);
        if (checks.Failed()) return checks.Result();
        if (!m_pSan) return E_FAIL;
        try {
            std::vector<GUID> ports;
            HRESULT hr = m_pSan->QueryActiveControllerPorts(m_objectId, ports);
            if (FAILED(hr)) return hr;
            size_t slots = 0;
            PathSlots(ports, slots);
            VDS_PATH_INFO* paths = AllocateRecords<VDS_PATH_INFO>(slots);
            if (!paths) return E_OUTOFMEMORY;
            size_t filled = 0;
            for (; filled < ports.size() && filled < slots; ++filled) {
                hr = m_pSan->GetPathInfo(ports[filled], static_cast<ULONG>(filled), paths[filled]);
                if (FAILED(hr)) {
                    CoTaskMemFree(paths);
                    return hr;
                }
            }
            *ppPaths = paths;
            *plNumberOfPaths = static_cast<LONG>(filled);
            return S_OK;
        } catch (const std::exception&) {
            trace_printf("%s(): %s", kName, "caught exception");
            return E_FAIL;
        }
    });
}

STDMETHODIMP CZarvoLun::GetLoadBalancePolicy(VDS_LOADBALANCE_POLICY_ENUM* pPolicy, VDS_PATH_POLICY** ppPaths,
                                             LONG* plNumberOfPaths) {
    static constexpr const char* kName = "CZarvoLun::GetLoadBalancePolicy";
    return RunComMethod(kName, [&]() -> HRESULT {
        ArgumentChecks checks(kName);
        checks.Check(IsBadWritePtr(pPolicy, sizeof(*pPolicy)), "ERROR: bad pPolicy", E_POINTER)
            .Check(IsBadWritePtr(ppPaths, sizeof(*ppPaths)), "ERROR: bad ppPaths", E_POINTER)
            .Check(IsBadWritePtr(plNumberOfPaths, sizeof(*plNumberOfPaths)), "ERROR: bad plNumberOfPaths", E_POINTER);
        if (checks.Failed()) return checks.Result();
        if (!m_pSan) return E_FAIL;
        try {
            std::vector<GUID> ports;
            HRESULT hr = m_pSan->QueryActiveControllerPorts(m_objectId, ports);
            if (FAILED(hr)) return hr;
            VDS_LOADBALANCE_POLICY_ENUM policy = VDS_LBP_UNKNOWN;
            hr = m_pSan->GetLunLoadBalancePolicy(m_objectId, policy);
            if (FAILED(hr)) return hr;
            *pPolicy = policy;
            hr = m_pSan->QueryActiveControllerPorts(m_objectId, ports);
            if (FAILED(hr)) return hr;
            size_t slots = 0;
            PathSlots(ports, slots);
            VDS_PATH_POLICY* paths = AllocateRecords<VDS_PATH_POLICY>(slots);
            if (!paths) {
                trace_printf("%s(): ERROR: null path policy", kName);
                return E_OUTOFMEMORY;
            }
            size_t filled = 0;
            for (; filled < ports.size() && filled < slots; ++filled) {
                hr = m_pSan->GetPathPolicy(ports[filled], static_cast<ULONG>(filled), paths[filled]);
                if (FAILED(hr)) {
                    CoTaskMemFree(paths);
                    return hr;
                }
            }
            *ppPaths = paths;
            *plNumberOfPaths = static_cast<LONG>(filled);
            return S_OK;
        } catch (const std::exception&) {
            trace_printf("%s(): %s", kName, "caught exception");
            return E_FAIL;
        }
    });
}

STDMETHODIMP CZarvoLun::SetLoadBalancePolicy(VDS_LOADBALANCE_POLICY_ENUM policy, VDS_PATH_POLICY* pPaths,
                                             LONG lNumberOfPaths) {
    static constexpr const char* kName = "CZarvoLun::SetLoadBalancePolicy";
    return RunComMethod(kName, [&]() -> HRESULT {
        if (policy < VDS_LBP_FAILOVER || policy > VDS_LBP_VENDOR_SPECIFIC) {
            trace_printf("%s(): unknown policy %d", kName, static_cast<int>(policy));
            return E_INVALIDARG;
        }
        if (platform::is_bad_array_read(pPaths, lNumberOfPaths, sizeof(VDS_PATH_POLICY))) {
            TraceBadArgument(kName, "ERROR: bad pPaths");
            return E_POINTER;
        }
        if (!m_pSan) return E_FAIL;
        try {
            BOOL installed = FALSE;
            if (FAILED(m_pSan->IsMPIOInstalled(installed))) {
                trace_printf("%s(): no mpio", kName);
                return VDS_E_NOT_SUPPORTED;
            }
            std::vector<GUID> ports;
            HRESULT hr = m_pSan->QueryActiveControllerPorts(m_objectId, ports);
            if (FAILED(hr)) return hr;
            if (static_cast<size_t>(lNumberOfPaths) != ports.size()) {
                TraceBadArgument(kName, "ERROR: wrong number of paths");
                return E_INVALIDARG;
            }
            hr = m_pSan->SetLunLoadBalancePolicy(m_objectId, policy);
            if (FAILED(hr)) return hr;
            for (size_t i = 0; i < ports.size(); ++i) {
                hr = m_pSan->SetPathPolicy(ports[i], pPaths[i]);
                if (FAILED(hr)) return hr;
            }
            return S_OK;
        } catch (const std::exception&) {
            trace_printf("%s(): %s", kName, "caught exception");
            return E_FAIL;
        }
    });
}

STDMETHODIMP CZarvoLun::GetSupportedLbPolicies(ULONG* pulLbFlags) {
    static constexpr const char* kName = "CZarvoLun::GetSupportedLbPolicies";
    return RunComMethod(kName, [&]() -> HRESULT {
        if (IsBadWritePtr(pulLbFlags, sizeof(*pulLbFlags))) {
            TraceBadArgument(kName, "ERROR: bad pulLbFlags");
            return E_POINTER;
        }
        if (!m_pSan) return E_FAIL;
        *pulLbFlags = m_pSan->GetSupportedLbPolicies();
        return S_OK;
    });
}
