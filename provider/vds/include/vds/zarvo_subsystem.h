#pragma once
// One appliance as a VDS storage subsystem.
#include <vds/wrapper_base.h>

class CZarvoSubSystem final
    : public VdsObject<IVdsSubSystem, IVdsSubSystemIscsi, IVdsSubSystemNaming, IVdsMaintenance> {
public:
    CZarvoSubSystem() : VdsObject("CZarvoSubSystem::InternalRelease") {}

    // IVdsSubSystem
    STDMETHODIMP GetProperties(VDS_SUB_SYSTEM_PROP* pSubSystemProp) override;
    STDMETHODIMP GetProvider(IVdsProvider** ppProvider) override;
    STDMETHODIMP QueryControllers(IEnumVdsObject** ppEnum) override;
    STDMETHODIMP QueryLuns(IEnumVdsObject** ppEnum) override;
    STDMETHODIMP QueryDrives(IEnumVdsObject** ppEnum) override;
    STDMETHODIMP GetDrive(SHORT sBusNumber, SHORT sSlotNumber, IVdsDrive** ppDrive) override;
    STDMETHODIMP Reenumerate() override;
    STDMETHODIMP SetControllerStatus(VDS_OBJECT_ID* pOnlineControllerIdArray, LONG lNumberOfOnlineControllers,
                                     VDS_OBJECT_ID* pOfflineControllerIdArray,
                                     LONG lNumberOfOfflineControllers) override;
    STDMETHODIMP CreateLun(VDS_LUN_TYPE type, ULONGLONG ullSizeInBytes, VDS_OBJECT_ID* pDriveIdArray,
                           LONG lNumberOfDrives, LPWSTR pwszUnmaskingList, VDS_HINTS* pHints,
                           IVdsAsync** ppAsync) override;
    STDMETHODIMP ReplaceDrive(VDS_OBJECT_ID DriveToBeReplaced, VDS_OBJECT_ID ReplacementDrive) override;
    STDMETHODIMP SetStatus(VDS_SUB_SYSTEM_STATUS status) override;
    STDMETHODIMP QueryMaxLunCreateSize(VDS_LUN_TYPE type, VDS_OBJECT_ID* pDriveIdArray, LONG lNumberOfDrives,
                                       VDS_HINTS* pHints, ULONGLONG* pullMaxLunSize) override;
    // IVdsSubSystemIscsi
    STDMETHODIMP QueryTargets(IEnumVdsObject** ppEnum) override;
    STDMETHODIMP QueryPortals(IEnumVdsObject** ppEnum) override;
    STDMETHODIMP CreateTarget(LPWSTR pwszIscsiName, LPWSTR pwszFriendlyName, IVdsAsync** ppAsync) override;
    STDMETHODIMP SetIpsecGroupPresharedKey(VDS_ISCSI_IPSEC_KEY* pIpsecKey) override;
    // IVdsSubSystemNaming
    STDMETHODIMP SetFriendlyName(LPWSTR pwszFriendlyName) override;
    // IVdsMaintenance
    STDMETHODIMP StartMaintenance(VDS_MAINTENANCE_OPERATION operation) override;
    STDMETHODIMP StopMaintenance(VDS_MAINTENANCE_OPERATION operation) override;
    STDMETHODIMP PulseMaintenance(VDS_MAINTENANCE_OPERATION operation, ULONG ulCount) override;

    // The LUN types the subsystem passes on to the model.
    static HRESULT CheckLunType(VDS_LUN_TYPE type);

protected:
    bool RefusesInterface(REFIID riid) override;

private:
    // traceCount, when given, traces the number of objects found; the callers
    // pass a lambda so that each format stays a literal the compiler checks.
    HRESULT QueryObjects(HRESULT (San::*query)(std::vector<GUID>&), VDS_OBJECT_TYPE type, IEnumVdsObject** ppEnum,
                         void (*traceCount)(int) = nullptr);
    HRESULT Maintenance(const char* name, VDS_MAINTENANCE_OPERATION operation);
};
