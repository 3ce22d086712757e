#pragma once
// One LUN of a subsystem as a VDS LUN object.
#include <vds/wrapper_base.h>

class ZarvoAsync;

class CZarvoLun final
    : public VdsObject<IVdsLun, IVdsLunIscsi, IVdsLunNaming, IVdsLunControllerPorts, IVdsLunMpio> {
public:
    CZarvoLun() : VdsObject("CZarvoLun::InternalRelease") {}

    // IVdsLun
    STDMETHODIMP GetProperties(VDS_LUN_PROP* pLunProp) override;
    STDMETHODIMP GetSubSystem(IVdsSubSystem** ppSubSystem) override;
    STDMETHODIMP GetIdentificationData(VDS_LUN_INFORMATION* pLunInfo) override;
    STDMETHODIMP QueryActiveControllers(IEnumVdsObject** ppEnum) override;
    STDMETHODIMP Extend(ULONGLONG ullNumberOfBytesToAdd, VDS_OBJECT_ID* pDriveIdArray, LONG lNumberOfDrives,
                        IVdsAsync** ppAsync) override;
    STDMETHODIMP Shrink(ULONGLONG ullNumberOfBytesToRemove, IVdsAsync** ppAsync) override;
    STDMETHODIMP QueryPlexes(IEnumVdsObject** ppEnum) override;
    STDMETHODIMP AddPlex(VDS_OBJECT_ID lunId, IVdsAsync** ppAsync) override;
    STDMETHODIMP RemovePlex(VDS_OBJECT_ID plexId, IVdsAsync** ppAsync) override;
    STDMETHODIMP Recover(IVdsAsync** ppAsync) override;
    STDMETHODIMP SetMask(LPWSTR pwszUnmaskingList) override;
    STDMETHODIMP Delete() override;
    STDMETHODIMP AssociateControllers(VDS_OBJECT_ID* pActiveControllerIdArray, LONG lNumberOfActiveControllers,
                                      VDS_OBJECT_ID* pInactiveControllerIdArray,
                                      LONG lNumberOfInactiveControllers) override;
    STDMETHODIMP QueryHints(VDS_HINTS* pHints) override;
    STDMETHODIMP ApplyHints(VDS_HINTS* pHints) override;
    STDMETHODIMP SetStatus(VDS_LUN_STATUS status) override;
    STDMETHODIMP QueryMaxLunExtendSize(VDS_OBJECT_ID* pDriveIdArray, LONG lNumberOfDrives,
                                       ULONGLONG* pullMaxBytesToBeAdded) override;
    // IVdsLunIscsi
    STDMETHODIMP AssociateTargets(VDS_OBJECT_ID* pTargetIdArray, LONG lNumberOfTargets) override;
    STDMETHODIMP QueryAssociatedTargets(IEnumVdsObject** ppEnum) override;
    // IVdsLunNaming
    STDMETHODIMP SetFriendlyName(LPWSTR pwszFriendlyName) override;
    // IVdsLunControllerPorts
    STDMETHODIMP AssociateControllerPorts(VDS_OBJECT_ID* pActiveControllerPortIdArray,
                                          LONG lNumberOfActiveControllerPorts,
                                          VDS_OBJECT_ID* pInactiveControllerPortIdArray,
                                          LONG lNumberOfInactiveControllerPorts) override;
    STDMETHODIMP QueryActiveControllerPorts(IEnumVdsObject** ppEnum) override;
    // IVdsLunMpio
    STDMETHODIMP GetPathInfo(VDS_PATH_INFO** ppPaths, LONG* plNumberOfPaths) override;
    STDMETHODIMP GetLoadBalancePolicy(VDS_LOADBALANCE_POLICY_ENUM* pPolicy, VDS_PATH_POLICY** ppPaths,
                                      LONG* plNumberOfPaths) override;
    STDMETHODIMP SetLoadBalancePolicy(VDS_LOADBALANCE_POLICY_ENUM policy, VDS_PATH_POLICY* pPaths,
                                      LONG lNumberOfPaths) override;
    STDMETHODIMP GetSupportedLbPolicies(ULONG* pulLbFlags) override;

protected:
    bool RefusesInterface(REFIID riid) override;

private:
    // The number of path slots: the active ports, or one when MPIO is absent.
    HRESULT PathSlots(const std::vector<GUID>& ports, size_t& slots);
};

// Waits for the work that a synchronous call queued and gives its result;
// releases the completion object whenever there is one.
HRESULT WaitForQueuedWork(HRESULT queued, ZarvoAsync* async);
