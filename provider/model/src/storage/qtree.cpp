#include <model/qtree.h>

#include <model/filer_object_container.h>
#include <model/lun.h>

#include <hostlib/conversions.h>
#include <hostlib/trace.h>

ZarvoQtree::ZarvoQtree(FilerObjectContainer* container, ZarvoLun* lun, const GUID& id,
                       const fapi_qtree_info_t* record)
    : m_pFOContainer(container), m_pLun(lun), m_id(id), m_name(u"ZarvoQtree") {
    TraceScope scope("ZarvoQtree::ZarvoQtree");
    if (record) m_name = WStringToString(record->qtree).empty() ? record->volume : record->qtree;
    if (m_pLun) m_pLun->AddQtreeObject(m_id, this);
    if (m_pFOContainer) m_pFOContainer->AddQtreeObject(m_id, this);
    if (trace_enabled()) trace_printf("ZarvoQtree::ZarvoQtree, GUID=%s", GuidToString(m_id).c_str());
}

ZarvoQtree::~ZarvoQtree() {
    if (!m_pFOContainer) {
        trace_printf("ZarvoQtree::~ZarvoQtree, m_pFOContainer is NULL! ");
        return;
    }
    try {
        m_pFOContainer->RemoveQtreeObject(m_id);
    } catch (...) {
        trace_printf("ZarvoQtree::~ZarvoQtree(): %s", "caught exception");
    }
}

HRESULT ZarvoQtree::Create(const std::u16string& volume) {
    TraceScope scope("ZarvoQtree::Create");
    return m_pFOContainer->m_filerControl.FilerCreateQtree(m_name, volume);
}
