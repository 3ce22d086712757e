#include <model/properties.h>

#include <platform/comalloc.h>
#include <platform/text.h>

#include <cstring>

namespace {

// A CoTaskMem copy of `length` units of text and a terminator; null when the allocation fails.
WCHAR* copy_units(const WCHAR* text, size_t length) {
    auto* copy = static_cast<WCHAR*>(CoTaskMemAlloc((length + 1) * sizeof(WCHAR)));
    if (!copy) return nullptr;
    std::memcpy(copy, text, length * sizeof(WCHAR));
    copy[length] = 0;
    return copy;
}

// The published records carry text only up to its first null.
WCHAR* copy_to_first_null(const std::u16string& text) {
    return copy_units(text.c_str(), platform::wide_length(text.c_str()));
}

}  // namespace

WCHAR* CoTaskMemWString(const std::u16string& text) { return copy_units(text.data(), text.size()); }

std::string NarrowFromWide(const std::u16string& text) { return platform::wide_to_utf8_lossy(text); }

HRESULT SubSystemProperties::CopyOut(VDS_SUB_SYSTEM_PROP* out) const {
    *out = m_prop;
    out->pwszFriendlyName = copy_to_first_null(m_strFriendlyName);
    out->pwszIdentification = copy_to_first_null(m_strIdentification);
    return S_OK;
}

HRESULT LunProperties::CopyOut(VDS_LUN_PROP* out) const {
    *out = m_prop;
    out->pwszFriendlyName = copy_to_first_null(m_strFriendlyName);
    out->pwszIdentification = copy_to_first_null(m_strIdentification);
    out->pwszUnmaskingList = copy_to_first_null(m_strUnmaskingList);
    return S_OK;
}

HRESULT DriveProperties::CopyOut(VDS_DRIVE_PROP* out) const {
    out->id = m_id;
    out->ullSize = m_ullSize;
    out->ulFlags = m_ulFlags;
    out->status = m_status;
    out->health = m_health;
    out->sInternalBusNumber = m_sInternalBusNumber;
    out->sSlotNumber = m_sSlotNumber;
    out->pwszFriendlyName = CoTaskMemWString(m_strFriendlyName);
    out->pwszIdentification = CoTaskMemWString(m_strIdentification);
    return S_OK;
}
