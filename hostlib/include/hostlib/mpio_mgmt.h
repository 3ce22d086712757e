#pragma once
// CMpioMgmt: the host's multipath I/O for the appliance's LUNs, through WMI in
// "root\wmi". It tells whether MPIO and a suitable DSM are installed, finds the
// MPIO path id of a host SCSI port, reads the DSM's id, reads and changes a
// path's load-balance settings, and makes a path active, passive or disabled
// through the maker's DSM methods.
//
// Every operation but MpioGetPathStatus opens its own WMI connection and
// releases it before returning: E_FAIL when WMI cannot be reached, and
// 0x80042400 (VDS_E_NOT_SUPPORTED) when MPIO or the DSM is missing. The
// readers' small positive status codes come back as results that are not
// negative. No operation throws. The calling thread must have COM initialised.
#include <vector>

#include <hostlib/mpio_readers.h>

class WmiConnection;

class CMpioMgmt {
public:
    // S_OK and TRUE when MPIO and the DSM are installed, 0x80042400 and FALSE when not.
    HRESULT MpioIsInstalled(BOOL* installed);
    // S_OK with the DSM's id; E_FAIL when it cannot be read or is 0 (the output is then 0).
    HRESULT MpioGetDsmId(ULONGLONG* dsmId);
    // The status of the MPIO disk count. The path id of the last PDO entry on
    // the SCSI port, when one is; the path status is kept for MpioGetPathStatus.
    HRESULT MpioGetPathId(ULONG portNumber, ULONGLONG* pathId);
    // The status the last matching path lookup kept; no WMI.
    HRESULT MpioGetPathStatus(ULONG* pathStatus);
    // Status 0 makes the port's path active, 1 disables it, 2 makes it passive
    // (E_INVALIDARG for another). The DSM method's "ReturnCode".
    HRESULT MpioSetPathStatus(ULONG portNumber, ULONG pathStatus);
    // The status of the MPIO disk count; outputs unchanged when no policy lists the path.
    HRESULT MpioGetPathPolicy(ULONGLONG pathId, BOOL* primaryPath, ULONG* pathWeight);
    // Writes the new settings into every load-balance instance that lists the
    // path; E_FAIL when none was changed and written back.
    HRESULT MpioSetPathPolicy(ULONGLONG pathId, BOOL primaryPath, ULONG pathWeight);

    // Readers over an open connection (status codes of mpio_readers.h).
    static ULONG GetDiskInfo(IWbemServices* services, MPIO_DRIVE_INFO* drives, ULONG room, ULONG& numberDrives);
    // At least 1: a host with one MPIO disk, none, or an unreadable list answers 1.
    static ULONG GetNumberOfLUNs(IWbemServices* services, ULONG& numberLUNs);
    // One descriptor (and name) per instance; the lists hold what was read.
    static ULONG GetMpioDescr(IWbemServices* services, std::vector<MPIO_DESCRIPTOR>& descriptors,
                              std::vector<MPIO_INSTANCE_NAME>* names);
    static ULONG GetDsmUniqueId(IWbemServices* services, ULONGLONG& dsmUniqueId);
    // Every instance read into the one record: it ends holding the last.
    static ULONG GetDsmLBPolicy(IWbemServices* services, DSM_LOAD_BALANCE_POLICY& policy,
                                std::vector<MPIO_INSTANCE_NAME>* names);
    // Changes the path in every instance and writes each changed instance back.
    static ULONG SetDsmLBPolicy(IWbemServices* services, ULONGLONG pathId, BOOL primary, ULONG weight,
                                DSM_LOAD_BALANCE_POLICY& policy, std::vector<MPIO_INSTANCE_NAME>* names,
                                ULONG& instancesWritten);

private:
    static ULONG InitializeWMI(WmiConnection& connection);
    static void UninitializeWMI(WmiConnection& connection);
    static ULONG IsInstalled(IWbemServices* services, BOOL* installed);
    static bool IsLoaded(const MPIO_CONTROLLER_CONFIGURATION& configuration, ULONG count);
    static HRESULT GetPathId(IWbemServices* services, ULONG portNumber, ULONGLONG* pathId, ULONG* pathStatus);
    static LONG CallMethod(IWbemServices* services, const WCHAR* className, const WCHAR* methodName,
                           const WCHAR* argumentName, ULONG value);
    static LONG CallArgument(IWbemServices* services, const WCHAR* methodName, const WCHAR* argumentName, ULONG value);
    static LONG MakeActivePath(IWbemServices* services, ULONG pathId);
    static LONG DisablePath(IWbemServices* services, ULONG pathId);
    static LONG MakePassivePath(IWbemServices* services, ULONG pathId);
    static HRESULT GetPathPolicy(IWbemServices* services, ULONGLONG pathId, BOOL* primaryPath, ULONG* pathWeight);
    static HRESULT SetPathPolicy(IWbemServices* services, ULONGLONG pathId, BOOL primaryPath, ULONG pathWeight);

    // Connection, installed test, the operation's own steps, release.
    template <typename Steps>
    static HRESULT RunOperation(const char* name, Steps&& steps);

    ULONG m_pathStatus = 0;
};
