#pragma once
// The property records in which the model hands object properties upward,
// with their copy-out to the published records as CoTaskMem data.
#include <platform/vds.h>

#include <string>

// A CoTaskMem copy of the text with its terminator; null when the allocation fails.
WCHAR* CoTaskMemWString(const std::u16string& text);
// The narrow form of wide text (the object-id keys of LUN paths, controller names).
std::string NarrowFromWide(const std::u16string& text);

struct SubSystemProperties {
    VDS_SUB_SYSTEM_PROP m_prop{};  // the string members are not used inside the model
    std::u16string m_strFriendlyName;
    std::u16string m_strIdentification;

    // Copies the block and sets its two strings to CoTaskMem copies (null when
    // an allocation fails). Always S_OK; the caller owns the copies.
    HRESULT CopyOut(VDS_SUB_SYSTEM_PROP* out) const;
};

struct LunProperties {
    VDS_LUN_PROP m_prop{};  // the string members are not used inside the model
    std::u16string m_strIdentification;
    std::u16string m_strFriendlyName;
    std::u16string m_strUnmaskingList;  // initiator names separated by ";"

    // Copies the block and sets its three strings to CoTaskMem copies. Always 0.
    HRESULT CopyOut(VDS_LUN_PROP* out) const;
};

struct DriveProperties {
    VDS_OBJECT_ID m_id{};
    ULONGLONG m_ullSize = 0;
    ULONG m_ulFlags = 0;
    VDS_DRIVE_STATUS m_status = VDS_DRS_UNKNOWN;
    VDS_HEALTH m_health = VDS_H_UNKNOWN;
    SHORT m_sInternalBusNumber = 0;
    SHORT m_sSlotNumber = 0;
    std::u16string m_strFriendlyName;
    std::u16string m_strIdentification;

    // Copies the numbers and sets the two strings to CoTaskMem copies. Always 0.
    HRESULT CopyOut(VDS_DRIVE_PROP* out) const;
    // The friendly name: the appliance's disk name.
    std::u16string GetName() const { return m_strFriendlyName; }
};
