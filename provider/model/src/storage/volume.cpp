#include <model/volume.h>

#include <model/filer_object_container.h>
#include <model/lun.h>

#include <hostlib/conversions.h>
#include <hostlib/trace.h>

namespace {
constexpr const WCHAR* kDefaultVolumeSize = u"14716g";
}

ZarvoVolume::ZarvoVolume(FilerObjectContainer* container, ZarvoLun* lun, const GUID& id, const WCHAR* name)
    : m_pSan(container), m_pLun(lun), m_id(id), m_name(name ? name : u"ZarvoVolume") {
    TraceScope scope("ZarvoVolume::ZarvoVolume");
    if (m_pLun) m_pLun->AddVolObject(m_id, this);
    if (m_pSan) m_pSan->AddVolObject(m_id, this);
    if (trace_enabled()) trace_printf("ZarvoVolume::ZarvoVolume, GUID=%s", GuidToString(m_id).c_str());
}

ZarvoVolume::~ZarvoVolume() {
    if (!m_pSan) {
        trace_printf("ZarvoVolume::~ZarvoVolume, m_pSan is NULL! ");
        return;
    }
    try {
        m_pSan->RemoveVolObject(m_id);
    } catch (...) {
        trace_printf("ZarvoVolume::~ZarvoVolume(): %s", "caught exception");
    }
}

bool ZarvoVolume::HoldsNoLun(const std::u16string& name) {
    std::vector<fapi_lun_info_t> luns;
    if (FAILED(m_pSan->m_filerControl.FilerListLuns(u"", luns))) return false;
    const std::u16string prefix = u"/vol/" + name + u"/";
    for (const auto& lun : luns)
        if (lun.path.compare(0, prefix.size(), prefix) == 0) return false;
    return true;
}

HRESULT ZarvoVolume::Create(const std::u16string& aggregate, ULONGLONG size) {
    TraceScope scope("ZarvoVolume::Create");
    // Only the default size is ever asked for; any other is given in bytes.
    const std::u16string sizeText = size == 0 ? kDefaultVolumeSize : StringToWString(std::to_string(size));
    trace_printf("ZarvoVolume::Create, request volume create size = %s", WStringToString(sizeText).c_str());
    CFilerControl& filer = m_pSan->m_filerControl;
    HRESULT hr = filer.FilerCreateVolume(m_name, aggregate, sizeText);
    if (FAILED(hr)) {
        // A leftover volume of this name is removed before the retry, but never
        // one that still holds data: that volume belongs to someone.
        if (HoldsNoLun(m_name)) filer.FilerDeleteVolume(m_name, TRUE);
        hr = filer.FilerCreateVolume(m_name, aggregate, sizeText);
    }
    return hr;
}

HRESULT ZarvoVolume::Delete(const std::u16string& name) {
    TraceScope scope("ZarvoVolume::Delete");
    return m_pSan->m_filerControl.FilerDeleteVolume(name, FALSE);
}
