#pragma once
// The facade through which the model reaches one appliance: one method per
// appliance operation, each returning an HRESULT; no exception leaves it.
// Failures of the appliance are written to the event log (except clean-up
// deletions and a missing file) and handed to the thread's COM error information.
#include <filer/filer.h>
#include <filer/records.h>
#include <hostlib/owned_ptr.h>
#include <platform/errors.h>
#include <platform/types.h>

#include <string>
#include <vector>

// What "system-get-info" reports of an appliance.
struct FilerSystemInfo {
    std::string systemName;
    std::string serialNumber;
    std::u16string systemId;
    std::u16string model;
    std::u16string vendorId;
};

class CFilerControl {
public:
    CFilerControl() = default;
    ~CFilerControl() = default;
    CFilerControl(const CFilerControl&) = delete;
    CFilerControl& operator=(const CFilerControl&) = delete;

    // The filer API object, made on first use for the current name and login;
    // null (after reporting why) when it cannot be made, and the next call
    // tries again. Never throws. A caller that gets null answers E_FAIL and
    // calls nothing through it.
    CFiler* FilerGetApi();

    // The listings fail also when the appliance lists nothing; `answeredEmpty`
    // (optional) tells that case from a request that failed.
    HRESULT FilerListDrives(const std::u16string& diskName, std::vector<fapi_disk_info_t>& disks,
                            bool* answeredEmpty = nullptr);
    HRESULT FilerListAggregates(std::vector<fapi_aggr_info_t>& aggregates);
    HRESULT FilerGetRootAggregate(std::u16string& rootName);
    HRESULT FilerListVolumes(std::vector<fapi_volume_info_t>& volumes);
    HRESULT FilerCreateVolume(const std::u16string& volume, const std::u16string& aggregate,
                              const std::u16string& size);
    // A silent deletion (a clean-up) keeps its failure out of the event log.
    HRESULT FilerDeleteVolume(const std::u16string& volume, BOOL silent);
    HRESULT FilerCreateQtree(const std::u16string& qtree, const std::u16string& volume);
    HRESULT FilerListQtrees(const std::u16string& volume, std::vector<fapi_qtree_info_t>& qtrees);
    // An empty path lists every LUN.
    HRESULT FilerListLuns(const std::u16string& path, std::vector<fapi_lun_info_t>& luns,
                          bool* answeredEmpty = nullptr);
    HRESULT FilerOfflineLun(const std::u16string& path);
    HRESULT FilerOnlineLun(const std::u16string& path);
    HRESULT FilerDeleteLun(const std::u16string& path, BOOL silent);
    HRESULT FilerCreateLun(const std::u16string& path, ULONGLONG size, ULONGLONG& actualSize);
    HRESULT FilerAssignLun(const std::u16string& path, const std::u16string& igroup);
    HRESULT FilerUnassignLun(const std::u16string& path, const std::u16string& igroup);
    // 0x80042400 or 0x8004240F for the appliance's geometry and space refusals.
    HRESULT FilerResizeLun(const std::u16string& path, const std::u16string& lunName, ULONGLONG newSize);
    HRESULT FilerListLunMap(const std::u16string& path, std::vector<fapi_igroup_info_t>& groups);
    HRESULT FilerRenameLun(const std::u16string& newPath, const std::u16string& oldPath);
    // Null adapter: every adapter.
    HRESULT FilerListAdaptersInitiators(const WCHAR* adapter, std::vector<fapi_fcp_adapter_initiators_t>& adapters);
    HRESULT FilerListAdapters(std::vector<fapi_fcp_adapter_info_t>& adapters);
    HRESULT FilerListIgroups(std::vector<fapi_igroup_info_t>& groups);
    // Type 0 Fibre Channel, 1 iSCSI.
    HRESULT FilerCreateIgroup(const std::u16string& name, int32_t type);
    HRESULT FilerDeleteIgroup(const std::u16string& name);
    HRESULT FilerAddIgroup(const std::u16string& group, const std::u16string& initiator);
    HRESULT FilerFileWriteFile(const std::u16string& path, const std::u16string& text);
    // The output stays unchanged when the file is empty.
    HRESULT FilerFileReadFile(const std::u16string& path, std::u16string& text);
    HRESULT FilerGetLunSerialNumber(const std::u16string& path, std::string& serialNumber);
    HRESULT FilerGetLunSignature(const std::u16string& path, ULONG& signature);
    HRESULT FilerGetVersion(const std::u16string& filerName, std::u16string& version);
    HRESULT FilerGetClusterStatus(int32_t& currentTime, bool& enabled, bool& interconnectUp, std::u16string& partner);
    // The aggregate steps of aggregate growth: nothing is asked of the
    // appliance; they succeed and leave their outputs alone.
    HRESULT FilerGetAggregateSize(const std::u16string& aggregate, ULONGLONG& size);
    HRESULT FilerAddDisksToAggregate(const std::u16string& aggregate, const std::vector<std::u16string>& disks,
                                     BOOL flag);
    // Tests the name and login with "system-get-info": S_OK, 0xC0042502 (the
    // appliance cannot be reached), 0xC0042503 (login refused), E_OUTOFMEMORY
    // or E_FAIL. Reports nothing; fills the record when one is given.
    HRESULT FilerValidateConnection(FilerSystemInfo* info = nullptr);

    // The owner assigns the name and login before the first call. To address
    // another appliance (the cluster partner) it assigns the name and resets
    // m_pFiler; the next call makes a new one.
    owned_ptr<CFiler> m_pFiler;
    std::u16string m_strFilerName;
    std::u16string m_strUserName;
    std::u16string m_strPassword;
};
