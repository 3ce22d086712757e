#pragma once
// A subsystem's controllers (the appliance's adapters) and their ports.
#include <vds/wrapper_base.h>

class CZarvoController final : public VdsObject<IVdsController, IVdsMaintenance, IVdsControllerControllerPort> {
public:
    CZarvoController() : VdsObject("CZarvoController::InternalRelease") {}

    // IVdsController
    STDMETHODIMP GetProperties(VDS_CONTROLLER_PROP* pControllerProp) override;
    STDMETHODIMP GetSubSystem(IVdsSubSystem** ppSubSystem) override;
    STDMETHODIMP GetPortProperties(SHORT sPortNumber, VDS_PORT_PROP* pPortProp) override;
    STDMETHODIMP FlushCache() override;
    STDMETHODIMP InvalidateCache() override;
    STDMETHODIMP Reset() override;
    STDMETHODIMP QueryAssociatedLuns(IEnumVdsObject** ppEnum) override;
    STDMETHODIMP SetStatus(VDS_CONTROLLER_STATUS status) override;
    // IVdsMaintenance
    STDMETHODIMP StartMaintenance(VDS_MAINTENANCE_OPERATION operation) override;
    STDMETHODIMP StopMaintenance(VDS_MAINTENANCE_OPERATION operation) override;
    STDMETHODIMP PulseMaintenance(VDS_MAINTENANCE_OPERATION operation, ULONG ulCount) override;
    // IVdsControllerControllerPort
    STDMETHODIMP QueryControllerPorts(IEnumVdsObject** ppEnum) override;
};

class CZarvoControllerPort final : public VdsObject<IVdsControllerPort, IVdsMaintenance> {
public:
    CZarvoControllerPort() : VdsObject("CZarvoControllerPort::InternalRelease") {}

    // IVdsControllerPort
    STDMETHODIMP GetProperties(VDS_PORT_PROP* pPortProp) override;
    STDMETHODIMP GetController(IVdsController** ppController) override;
    STDMETHODIMP QueryAssociatedLuns(IEnumVdsObject** ppEnum) override;
    STDMETHODIMP Reset() override;
    STDMETHODIMP SetStatus(VDS_PORT_STATUS status) override;
    // IVdsMaintenance
    STDMETHODIMP StartMaintenance(VDS_MAINTENANCE_OPERATION operation) override;
    STDMETHODIMP StopMaintenance(VDS_MAINTENANCE_OPERATION operation) override;
    STDMETHODIMP PulseMaintenance(VDS_MAINTENANCE_OPERATION operation, ULONG ulCount) override;
};
