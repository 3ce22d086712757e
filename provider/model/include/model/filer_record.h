#pragma once
// One stored appliance as the service keeps it: how to reach it, how to log
// in, and which provider serves it; and the minimum appliance releases.
#include <filer/filer_version.h>
#include <platform/provider_admin.h>
#include <platform/registry.h>
#include <platform/types.h>

#include <string>

// Protocol types of a record.
inline constexpr int32_t FILER_TYPE_FCP = 2;
inline constexpr int32_t FILER_TYPE_ISCSI = 3;

// Change flags of a record: FILER_RECORD_DELETE and FILER_RECORD_CHANGED, the
// same bits as the change flags of FILER_RECORD.

class CFilerRecord {
public:
    CFilerRecord() = default;
    // Copies and assignments identify the appliance by DNS name and type only:
    // the key is never carried, and the copy is marked changed.
    CFilerRecord(const CFilerRecord& other);
    CFilerRecord& operator=(const CFilerRecord& other);
    ~CFilerRecord() = default;

    std::u16string GetKey() const { return m_strKey; }
    // The DNS name, or the key when the DNS name is empty.
    std::u16string GetDisplayName() const;
    std::u16string GetUserName() const { return m_strUserName; }
    std::u16string GetPassword() const { return m_strPassword; }
    // Same type and exactly the same DNS name (case-sensitive).
    bool SameFiler(const CFilerRecord& other) const;
    // Trace text; the password is never shown.
    std::u16string Dump() const;

    // Registry half (the stored appliance list): reads the record from the
    // subkey `name` of the Filers key; 0, 1 when the password had to be taken
    // as cleartext, or the Win32 error of the first value that failed. The
    // change flags are cleared whatever happened.
    DWORD LoadFromRegistry(HKEY filers, const std::u16string& name);
    // Writes the record under its key; clears the change flags on success.
    HRESULT SaveToRegistry(HKEY filers);
    // A CoTaskMem copy for a client, or NULL when an allocation fails.
    FILER_RECORD* CopyOut() const;

    int32_t m_iFlags = 0;
    std::u16string m_strKey;       // a GUID in text: the name the list stores it under
    std::u16string m_strDnsName;   // DNS name or IP address
    std::u16string m_strUserName;
    std::u16string m_strPassword;  // in clear while in memory
    int32_t m_iType = 0;           // FILER_TYPE_FCP or FILER_TYPE_ISCSI
};

// The lowest releases each provider accepts: 7.0.3 for Fibre Channel, 7.1 for iSCSI.
extern const filer_version g_minimumFcpZarvoVersion;
extern const filer_version g_minimumIscsiZarvoVersion;

// S_OK, or 0xC0042504 (Fibre Channel) / 0xC0042505 (iSCSI) for a release
// below the provider's minimum. Reports nothing itself.
HRESULT CheckMinimumZarvoVersion(int32_t providerType, const filer_version& version);
