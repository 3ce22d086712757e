#include <model/igroup.h>

#include <model/filer_object_container.h>
#include <model/lun.h>

#include <hostlib/conversions.h>
#include <hostlib/trace.h>

namespace {
std::u16string protocol_of(int32_t type) {
    switch (type) {
    case 0: return u"FCP";
    case 1: return u"iSCSI";
    default: return u"Unknown";
    }
}
}  // namespace

ZarvoIgroup::ZarvoIgroup(FilerObjectContainer* container, ZarvoLun* lun, const GUID& id,
                         const fapi_igroup_info_t* record)
    : m_pFOContainer(container),
      m_pLun(lun),
      m_id(id),
      m_name(record ? record->name : u"ZarvoIgroup"),
      m_protocol(record ? protocol_of(record->type) : u"FCP") {
    TraceScope scope("ZarvoIgroup::ZarvoIgroup");
    if (m_pLun) m_pLun->AddIgroupObject(m_id, this);
    if (m_pFOContainer) m_pFOContainer->AddIgroupObject(m_id, this);
    trace_printf("ZarvoIgroup::ZarvoIgroup, GUID=%s", GuidToString(m_id).c_str());
}

ZarvoIgroup::~ZarvoIgroup() {
    if (!m_pFOContainer) {
        trace_printf("ZarvoIgroup::~ZarvoIgroup, m_pFOContainer is NULL! ");
        return;
    }
    try {
        m_pFOContainer->RemoveIgroupObject(m_id);
    } catch (...) {
        trace_printf("ZarvoIgroup::~ZarvoIgroup(): %s", "caught exception");
    }
}

HRESULT ZarvoIgroup::Create(const std::u16string& name, int32_t type) {
    TraceScope scope("ZarvoIgroup::Create");
    try {
        return m_pFOContainer->m_filerControl.FilerCreateIgroup(name, type);
    } catch (...) {
        trace_printf("ZarvoIgroup::Create(): %s", "caught exception");
        return S_OK;
    }
}

HRESULT ZarvoIgroup::AddInitiator(const std::u16string& group, const std::u16string& initiator) {
    TraceScope scope("ZarvoIgroup::AddInitiator");
    try {
        return m_pFOContainer->m_filerControl.FilerAddIgroup(group, initiator);
    } catch (...) {
        trace_printf("ZarvoIgroup::AddInitiator(): %s", "caught exception");
        return S_OK;
    }
}
