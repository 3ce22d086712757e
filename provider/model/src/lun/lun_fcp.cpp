#include <model/lun_fcp.h>

#include <model/filer_object_container.h>

#include <hostlib/com_error.h>
#include <hostlib/conversions.h>
#include <hostlib/guid_associator.h>
#include <hostlib/trace.h>

#include <res/message_ids.h>

#include <algorithm>

#include "lun_masking.h"

namespace {

std::string N(const std::u16string& text) { return WStringToString(text); }

// A port WWN as the host gives it: exactly 16 hexadecimal digits.
bool IsPortWwn(std::u16string_view text) {
    return text.size() == 16 && std::all_of(text.begin(), text.end(), [](char16_t c) {
               return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
           });
}

// A port WWN as the appliance holds it: eight colon-separated pairs.
bool IsColonWwn(std::u16string_view text) {
    if (text.size() != 23) return false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        const bool hex = (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
        if (i % 3 == 2 ? c != u':' : !hex) return false;
    }
    return true;
}

std::u16string LowerCase(std::u16string_view text) {
    std::u16string lower(text);
    for (char16_t& c : lower)
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
    return lower;
}

}  // namespace

// The appliance's groups hold a port WWN as lower-case colon-separated pairs
// (and the provider's groups are named after it); VDS gives it as 16 digits.
std::u16string ZarvoLunFCP::ListedInitiator(std::u16string_view name) const {
    if (IsPortWwn(name)) return FormatWwn(name);
    if (IsColonWwn(name)) return LowerCase(name);
    return std::u16string(name);
}

ZarvoLunFCP::ZarvoLunFCP(FilerObjectContainer* container, GuidAssociator& lunPortAssoc, const GUID& id, LONG type,
                         ULONGLONG size, const std::u16string& unmaskingList)
    : ZarvoLun(container, id, type, size, unmaskingList), m_lunPortAssoc(lunPortAssoc) {}

HRESULT ZarvoLunFCP::DoWork(int32_t type, int32_t value, Async* async) { return RunWork(type, value, async); }

HRESULT ZarvoLunFCP::SetDefaults(const fapi_lun_info_t* record) {
    try {
        ZarvoLun::SetDefaults(record);
        std::vector<GUID> ports;
        m_pFOContainer->QueryControllerPorts(ports);
        const GUID id = GetId();
        m_lunPortAssoc.Remove(id);
        for (auto port = ports.rbegin(); port != ports.rend(); ++port) {
            m_lunPortAssoc.Add(id, *port);
            trace_printf("ZarvoLun::SetDefaults, associated lun %s to controller port %s", GuidToString(id).c_str(),
                         GuidToString(*port).c_str());
        }
        trace_printf("VDS_LUN_PROP is complete, FCP initialization is completed for LUN");
        return S_OK;
    } catch (...) {
        trace_printf("ZarvoLun::SetDefaults, caught exception");
        return E_UNEXPECTED;
    }
}

HRESULT ZarvoLunFCP::CheckUnmaskingList(const std::u16string& list) const { return CheckPortNames(list); }

HRESULT ZarvoLunFCP::CheckPortNames(const std::u16string& list) {
    if (list == u"*") return S_OK;
    for (const std::u16string& entry : SplitUnmaskingList(list)) {
        if (IsPortWwn(entry)) continue;
        trace_printf("ZarvoLunFCP::CheckUnmaskingList, ERROR: initiator %s", N(entry).c_str());
        try {
            RAISE_COM_ERROR(res::MSG_UNMASKING_ENTRY_INVALID, entry.c_str());
        } catch (const _com_error& error) {
            set_error_info_from(GUID_NULL, GUID_NULL, error);
        }
        return E_INVALIDARG;
    }
    return S_OK;
}

HRESULT ZarvoLunFCP::LunAttach() {
    TraceScope scope("ZarvoLunFCP::LunAttach");
    const std::u16string& requested = m_requestedMask;
    trace_printf("ZarvoLunFCP::LunAttach, pwszUnmaskingList  = %s", N(requested.substr(0, 255)).c_str());
    // "*" stands for every initiator logged in to the appliance, already in its port-name form.
    const bool wildcard = requested == u"*";
    std::u16string working = requested;
    if (wildcard) m_pFOContainer->GetUnmaskingList(working);

    std::vector<std::u16string> initiators;
    for (const std::u16string& entry : SplitUnmaskingList(working)) {
        if ((!wildcard && !IsPortWwn(entry)) || entry == u"*") {
            trace_printf("ZarvoLunFCP::LunAttach, ERROR: skip initiator %s", N(entry).c_str());
            continue;
        }
        initiators.push_back(wildcard ? entry : FormatWwn(entry));
        trace_printf("ZarvoLunFCP::LunAttach, initiatorName = %s", N(initiators.back()).c_str());
    }
    std::vector<fapi_igroup_info_t> held = m_igroupRecords;
    const HRESULT hr =
        lun_masking::ApplyMask(*this, *m_pFOContainer, initiators, 0, true, "ZarvoLunFCP", held);
    HoldGroups(std::move(held));
    trace_printf("ZarvoLunFCP::LunAttach(): returning %08lX", trace_code(hr));
    return hr;
}

HRESULT ZarvoLunFCP::LunDetach() { return DetachRequested(true); }
