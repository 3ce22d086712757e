#pragma once
// ZarvoPath: one multipath path from a local HBA port to a controller port.
// It ties the HBA port to the host's MPIO view of it (the DSM's id, the MPIO
// path id of the port's SCSI port, the path status and its load-balance
// settings), which it reads once when it is built. Plain value: a controller
// port keeps its paths by copy.
#include <string>
#include <vector>

#include <platform/guid.h>
#include <platform/types.h>
#include <platform/vds.h>

class FilerObjectContainer;

class ZarvoPath {
public:
    ZarvoPath(FilerObjectContainer* container, const GUID& id, const VDS_HBAPORT_PROP& hbaPort);
    ~ZarvoPath();
    ZarvoPath(const ZarvoPath&) = default;
    ZarvoPath& operator=(const ZarvoPath&) = default;

    // Copy the HBA port record's members after its id out of or into the path.
    void GetHbaPortProperties(VDS_HBAPORT_PROP& hbaPort) const;
    void SetHbaPortProperties(const VDS_HBAPORT_PROP& hbaPort);

    // The record's HBA port is a new CoTaskMem copy that the caller frees; the
    // controller-port id is the port's to fill.
    HRESULT GetPathInfo(VDS_PATH_INFO& pathInfo) const;
    HRESULT GetPathPolicy(VDS_PATH_POLICY& pathPolicy) const;
    // Stores the policy, then hands it to MPIO; MPIO's result is returned.
    HRESULT SetPathPolicy(const VDS_PATH_POLICY& pathPolicy);
    // Online (1), failed (5) or standby (7); E_INVALIDARG for another.
    HRESULT SetStatus(VDS_PATH_STATUS status);

    // The SCSI port number of an OS device name ("\\.\Scsi12:" or a SCSI host
    // of sysfs, ".../host12"); 0 when the name carries none.
    static HRESULT GetPortNumber(const char* osDeviceName, ULONG& portNumber);
    // A WWN as the host's MPIO view is matched: each byte "%X", no separators.
    static std::string WwnMatchText(const BYTE (&wwn)[8]);

    const GUID& GetId() const { return m_id; }
    VDS_PATH_STATUS GetStatus() const { return m_status; }
    ULONG GetScsiPortNumber() const { return m_ulPortNumber; }

private:
    void ReadMpioState(const std::string& portWwnText);

    VDS_HBAPORT_PROP m_hbaPort{};
    VDS_PATH_STATUS m_status = VDS_MPS_STANDBY;
    ULONGLONG m_ullSourceId = 0;
    ULONGLONG m_ullPathId = 0;
    BOOL m_bPrimaryPath = TRUE;
    ULONG m_ulWeight = 100;
    GUID m_id{};
    FilerObjectContainer* m_pContainer = nullptr;
    ULONG m_ulPortNumber = 0;
};

// Writes a port's paths to the trace; the result of the last path's
// GetPathInfo (S_OK for none), E_OUTOFMEMORY when no record could be made.
HRESULT DumpPaths(const std::vector<ZarvoPath>& paths);
