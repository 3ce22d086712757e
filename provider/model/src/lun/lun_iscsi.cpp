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
    const std::u16string& stored = m_properties.m_strUnmaskingList;
    trace_printf("ZarvoLunIscsi::LunAttach, pwszUnmaskingList  = %s", N(stored.substr(0, 255)).c_str());
    if (stored == u"*") {
        trace_printf("ZarvoLunIscsi::LunAttach(): %s", "* not supported yet");
        trace_printf("ZarvoLunIscsi::LunAttach(): returning %08lX", trace_code(VDS_E_NOT_SUPPORTED));
        return VDS_E_NOT_SUPPORTED;
    }
    lun_masking::IgroupCatalog catalog;
    bool listed = false;
    for (const std::u16string& initiator : SplitUnmaskingList(stored)) {
        trace_printf("ZarvoLunIscsi::LunAttach, initiatorName = %s", N(initiator).c_str());
        if (!listed) {
            listed = true;
            if (FAILED(m_pFOContainer->m_filerControl.FilerListIgroups(catalog.groups))) catalog.groups.clear();
        }
        if (lun_masking::MapToInitiator(*this, *m_pFOContainer, catalog, initiator, 1, false, "ZarvoLunIscsi")
                .outOfMemory)
            return E_OUTOFMEMORY;
    }
    trace_printf("ZarvoLunIscsi::LunAttach(): returning %08lX", trace_code(S_OK));
    return S_OK;
}

HRESULT ZarvoLunIscsi::LunDetach() {
    TraceScope scope("ZarvoLunIscsi::LunDetach");
    const std::u16string& stored = m_properties.m_strUnmaskingList;
    trace_printf("ZarvoLunIscsi::LunDetach, pwszUnmaskingList  = %s", N(stored.substr(0, 255)).c_str());
    if (stored.empty()) lun_masking::UnmapAll(*m_pFOContainer, m_properties.m_strIdentification, false);
    trace_printf("ZarvoLunIscsi::LunDetach(): returning %08lX", trace_code(S_OK));
    return S_OK;
}
