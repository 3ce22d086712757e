#pragma once
// One appliance as the credentials dialog edits it: a copy of a record.
#include <string>

#include <platform/provider_admin.h>
#include <ui/afxwin.h>

constexpr LONG kTypeFibreChannel = 2;  // VDS_HWT_FIBRE_CHANNEL
constexpr LONG kTypeIscsi = 3;         // VDS_HWT_ISCSI
constexpr HRESULT STG_E_INSUFFICIENTMEMORY = hr_of(0x80030008);

class CFilerEntry {
public:
    // A new appliance: a new key, Fibre Channel, marked changed.
    CFilerEntry();
    explicit CFilerEntry(const FILER_RECORD& record);

    std::u16string m_key;
    std::u16string m_dnsName;
    std::u16string m_userName;
    std::u16string m_password;
    LONG m_type;
    DWORD m_flags;

    // A new CoTaskMem record, or null when any part cannot be allocated.
    FILER_RECORD* CreateRecord() const;
    // Replaces the record's content; false (record unchanged) when a string
    // cannot be allocated.
    bool CopyToRecord(FILER_RECORD& record) const;
    // Asks the service to log in to the appliance; the text to show.
    HRESULT Verify(CString& text) const;
};
