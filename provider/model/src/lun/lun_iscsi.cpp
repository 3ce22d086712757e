#include <model/lun_iscsi.h>

#include <model/filer_object_container.h>

#include <hostlib/conversions.h>
#include <hostlib/trace.h>

#include "lun_masking.h"

namespace {
std::string N(const std::u16string& text) { return WStringToString(text); }
}  // namespace

ZarvoLunIscsi::ZarvoLunIscsi(FilerObjectContainer* container, const GUID& targetId, const GUID& id, LONG type,
                             ULONGLONG size, const std::u16string& unmaskingList)
    : ZarvoLun(container, id, type, size, unmaskingList), m_targetId(targetId) {}

HRESULT ZarvoLunIscsi::DoWork(int32_t type, int32_t value, Async* async) { return RunWork(type, value, async); }

HRESULT ZarvoLunIscsi::SetDefaults(const fapi_lun_info_t* record) {
    const HRESULT hr = ZarvoLun::SetDefaults(record);
    trace_printf("VDS_LUN_PROP is complete, ISCSI initialization is completed for LUN");
    return hr;
}

HRESULT ZarvoLunIscsi::LunDelete() {
    // The base operation destroys this object: keep what the dissociation needs.
    const GUID id = GetId();
    FilerObjectContainer* container = m_pFOContainer;
    const GUID targetId = m_targetId;
    const HRESULT hr = ZarvoLun::LunDelete();
    if (SUCCEEDED(hr)) container->DissociateLunToTarget(id, targetId);
    return hr;
}

HRESULT ZarvoLunIscsi::LunAttach() {
    TraceScope scope("ZarvoLunIscsi::LunAttach");
    const std::u16string& requested = m_requestedMask;
    trace_printf("ZarvoLunIscsi::LunAttach, pwszUnmaskingList  = %s", N(requested.substr(0, 255)).c_str());
    if (requested == u"*") {
        trace_printf("ZarvoLunIscsi::LunAttach(): %s", "* not supported yet");
        trace_printf("ZarvoLunIscsi::LunAttach(): returning %08lX", trace_code(VDS_E_NOT_SUPPORTED));
        HoldGroups(m_igroupRecords);
        return VDS_E_NOT_SUPPORTED;
    }
    const std::vector<std::u16string> initiators = SplitUnmaskingList(requested);
    for (const auto& initiator : initiators)
        trace_printf("ZarvoLunIscsi::LunAttach, initiatorName = %s", N(initiator).c_str());
    std::vector<fapi_igroup_info_t> held = m_igroupRecords;
    const HRESULT hr =
        lun_masking::ApplyMask(*this, *m_pFOContainer, initiators, 1, false, "ZarvoLunIscsi", held);
    HoldGroups(std::move(held));
    trace_printf("ZarvoLunIscsi::LunAttach(): returning %08lX", trace_code(hr));
    return hr;
}

HRESULT ZarvoLunIscsi::LunDetach() { return DetachRequested(false); }
