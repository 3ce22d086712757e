#pragma once
// A subsystem's drives (the appliance's disks) and its LUNs' plexes.
#include <vds/wrapper_base.h>

class CZarvoDrive final : public VdsObject<IVdsDrive, IVdsMaintenance> {
public:
    CZarvoDrive() : VdsObject("CZarvoDrive::InternalRelease") {}

    // IVdsDrive
    STDMETHODIMP GetProperties(VDS_DRIVE_PROP* pDriveProp) override;
    STDMETHODIMP GetSubSystem(IVdsSubSystem** ppSubSystem) override;
    STDMETHODIMP QueryExtents(VDS_DRIVE_EXTENT** ppExtentArray, LONG* plNumberOfExtents) override;
    STDMETHODIMP SetFlags(ULONG ulFlags) override;
    STDMETHODIMP ClearFlags(ULONG ulFlags) override;
    STDMETHODIMP SetStatus(VDS_DRIVE_STATUS status) override;
    // IVdsMaintenance
    STDMETHODIMP StartMaintenance(VDS_MAINTENANCE_OPERATION operation) override;
    STDMETHODIMP StopMaintenance(VDS_MAINTENANCE_OPERATION operation) override;
    STDMETHODIMP PulseMaintenance(VDS_MAINTENANCE_OPERATION operation, ULONG ulCount) override;
};

class CZarvoLunPlex final : public VdsObject<IVdsLunPlex> {
public:
    CZarvoLunPlex() : VdsObject("CZarvoLunPlex::InternalRelease") {}

    // IVdsLunPlex
    STDMETHODIMP GetProperties(VDS_LUN_PLEX_PROP* pPlexProp) override;
    STDMETHODIMP GetLun(IVdsLun** ppLun) override;
    STDMETHODIMP QueryExtents(VDS_DRIVE_EXTENT** ppExtentArray, LONG* plNumberOfExtents) override;
    STDMETHODIMP QueryHints(VDS_HINTS* pHints) override;
    STDMETHODIMP ApplyHints(VDS_HINTS* pHints) override;
};
