#include <vds/zarvo_controller.h>

#include <cstring>

#include <platform/probe.h>
#include <vds/com_method.h>
#include <vds/vds_status.h>

namespace {

// Maintenance calls the provider does not carry out: the accepted operations
// are not supported, any other is refused.
HRESULT Maintenance(const char* name, VDS_MAINTENANCE_OPERATION operation, bool (*accepted)(LONG)) {
    return RunComMethod(name, [&]() -> HRESULT {
        if (!accepted(operation)) {
            TraceBadArgument(name, "bad operation code");
            return E_INVALIDARG;
        }
        return NotSupported(name);
    });
}

bool PortMaintenance(LONG operation) { return operation == BlinkLight || operation == BeepAlarm || operation == Ping; }

}  // namespace

// ---- CZarvoController -------------------------------------------------------------

STDMETHODIMP CZarvoController::GetProperties(VDS_CONTROLLER_PROP* pControllerProp) {
    static constexpr const char* kName = "CZarvoController::GetProperties";
    return RunComMethod(kName, [&]() -> HRESULT {
        if (HRESULT hr = CheckSan(); FAILED(hr)) return hr;
        if (BadWrite(pControllerProp, kName, "bad pControllerProp pointer")) return E_POINTER;
        std::memset(pControllerProp, 0, sizeof(*pControllerProp));
        // The San copies the two texts for the caller while the model holds them.
        return m_pSan->GetControllerProperties(m_objectId, *pControllerProp);
    });
}

STDMETHODIMP CZarvoController::GetSubSystem(IVdsSubSystem** ppSubSystem) {
    static constexpr const char* kName = "CZarvoController::GetSubSystem";
    return RunComMethod(kName, [&]() -> HRESULT {
        if (BadWrite(ppSubSystem, kName, "bad ppSubSystem pointer")) return E_POINTER;
        return GetOwningSubSystem(ppSubSystem);
    });
}

STDMETHODIMP CZarvoController::GetPortProperties(SHORT, VDS_PORT_PROP* pPortProp) {
    return NotSupportedAfterWriteCheck("CZarvoController::GetPortProperties", pPortProp, "bogus pPortProp pointer");
}

STDMETHODIMP CZarvoController::FlushCache() {
    return RunComMethod("CZarvoController::FlushCache", [] { return NotSupported("CZarvoController::FlushCache"); });
}

STDMETHODIMP CZarvoController::InvalidateCache() {
    return RunComMethod("CZarvoController::InvalidateCache",
                        [] { return NotSupported("CZarvoController::InvalidateCache"); });
}

STDMETHODIMP CZarvoController::Reset() {
    return RunComMethod("CZarvoController::Reset", [] { return NotSupported("CZarvoController::Reset"); });
}

STDMETHODIMP CZarvoController::QueryAssociatedLuns(IEnumVdsObject** ppEnum) {
    return NotSupportedAfterWriteCheck("CZarvoController::QueryAssociatedLuns", ppEnum, "bogus ppEnum pointer");
}

STDMETHODIMP CZarvoController::SetStatus(VDS_CONTROLLER_STATUS status) {
    static constexpr const char* kName = "CZarvoController::SetStatus";
    return RunComMethod(kName, [&]() -> HRESULT {
        if (status != VDS_CS_ONLINE && status != VDS_CS_OFFLINE) {
            TraceBadArgument(kName, "bogus status code");
            return E_INVALIDARG;
        }
        return NotSupported(kName);
    });
}

STDMETHODIMP CZarvoController::StartMaintenance(VDS_MAINTENANCE_OPERATION operation) {
    return Maintenance("CZarvoController::StartMaintenance", operation, IsMaintenanceOperation);
}

STDMETHODIMP CZarvoController::StopMaintenance(VDS_MAINTENANCE_OPERATION operation) {
    return Maintenance("CZarvoController::StopMaintenance", operation, IsMaintenanceOperation);
}

STDMETHODIMP CZarvoController::PulseMaintenance(VDS_MAINTENANCE_OPERATION operation, ULONG) {
    return Maintenance("CZarvoController::PulseMaintenance", operation, IsMaintenanceOperation);
}

STDMETHODIMP CZarvoController::QueryControllerPorts(IEnumVdsObject** ppEnum) {
    static constexpr const char* kName = "CZarvoController::QueryControllerPorts";
    return RunComMethod(kName, [&]() -> HRESULT {
        if (HRESULT hr = CheckSan(); FAILED(hr)) return hr;
        if (BadWrite(ppEnum, kName, "bad ppEnum pointer")) return E_POINTER;
        *ppEnum = nullptr;
        std::vector<GUID> ids;
        const HRESULT hr = m_pSan->QueryAssociatedPorts(m_objectId, ids);
        if (FAILED(hr)) return hr;
        return MakeEnum(VDS_OT_PORT, ids, ppEnum);
    });
}

// ---- CZarvoControllerPort -----------------------------------------------------------

STDMETHODIMP CZarvoControllerPort::GetProperties(VDS_PORT_PROP* pPortProp) {
    static constexpr const char* kName = "CZarvoControllerPort::GetProperties";
    return RunComMethod(kName, [&]() -> HRESULT {
        if (HRESULT hr = CheckSan(); FAILED(hr)) return hr;
        if (BadWrite(pPortProp, kName, "bad pPortProp pointer")) return E_POINTER;
        std::memset(pPortProp, 0, sizeof(*pPortProp));
        // The San copies the two texts for the caller while the model holds them.
        return m_pSan->GetPortProperties(m_objectId, *pPortProp);
    });
}

STDMETHODIMP CZarvoControllerPort::GetController(IVdsController** ppController) {
    static constexpr const char* kName = "CZarvoControllerPort::GetController";
    return RunComMethod(kName, [&]() -> HRESULT {
        if (HRESULT hr = CheckSan(); FAILED(hr)) return hr;
        if (BadWrite(ppController, kName, "bad ppController pointer")) return E_POINTER;
        *ppController = nullptr;
        GUID controllerId{};
        const HRESULT hr = m_pSan->QueryAssociatedController(m_objectId, controllerId);
        if (FAILED(hr)) return hr;
        return GetRelatedObject(controllerId, VDS_OT_CONTROLLER, IID_PPV_ARGS(ppController));
    });
}

STDMETHODIMP CZarvoControllerPort::QueryAssociatedLuns(IEnumVdsObject** ppEnum) {
    static constexpr const char* kName = "CZarvoControllerPort::QueryAssociatedLuns";
    return RunComMethod(kName, [&]() -> HRESULT {
        if (BadWrite(ppEnum, kName, "bad ppEnum pointer")) return E_POINTER;
        *ppEnum = nullptr;
        if (!m_pSan) return E_FAIL;
        std::vector<GUID> ids;
        const HRESULT hr = m_pSan->QueryActiveLuns(m_objectId, ids);
        if (FAILED(hr)) return hr;
        return MakeEnum(VDS_OT_LUN, ids, ppEnum);
    });
}

STDMETHODIMP CZarvoControllerPort::Reset() {
    return RunComMethod("CZarvoControllerPort::Reset", [] { return NotSupported("CZarvoControllerPort::Reset"); });
}

STDMETHODIMP CZarvoControllerPort::SetStatus(VDS_PORT_STATUS status) {
    return StatusNotSupported("CZarvoControllerPort::SetStatus", status);
}

STDMETHODIMP CZarvoControllerPort::StartMaintenance(VDS_MAINTENANCE_OPERATION operation) {
    return Maintenance("CZarvoControllerPort::StartMaintenance", operation, PortMaintenance);
}

STDMETHODIMP CZarvoControllerPort::StopMaintenance(VDS_MAINTENANCE_OPERATION operation) {
    return Maintenance("CZarvoControllerPort::StopMaintenance", operation, PortMaintenance);
}

STDMETHODIMP CZarvoControllerPort::PulseMaintenance(VDS_MAINTENANCE_OPERATION operation, ULONG) {
    return Maintenance("CZarvoControllerPort::PulseMaintenance", operation, PortMaintenance);
}
