#include <model/aggregate.h>

#include <model/filer_object_container.h>
#include <model/lun.h>

#include <hostlib/conversions.h>
#include <hostlib/trace.h>

ZarvoAggregate::ZarvoAggregate(FilerObjectContainer* container, ZarvoLun* lun, const GUID& id,
                               const fapi_aggr_info_t& record)
    : m_pFOContainer(container), m_pLun(lun), m_name(record.name), m_id(id), m_record(record) {
    TraceScope scope("ZarvoAggregate::ZarvoAggregate");
    if (m_pLun) m_pLun->AddAggrObject(m_id, this);
    if (m_pFOContainer) m_pFOContainer->AddAggrObject(m_id, this);
    if (trace_enabled()) trace_printf("ZarvoAggregate::ZarvoAggregate, GUID=%s", GuidToString(m_id).c_str());
}

ZarvoAggregate::~ZarvoAggregate() {
    if (!m_pFOContainer) {
        trace_printf("ZarvoAggregate::~ZarvoAggregate, m_pFOContainer is NULL! ");
        return;
    }
    try {
        m_pFOContainer->RemoveAggrObject(m_id);
    } catch (...) {
        trace_printf("ZarvoAggregate::~ZarvoAggregate(): %s", "caught exception");
    }
}

HRESULT ZarvoAggregate::Extend(ULONGLONG size, const GUID* driveIds, LONG driveCount) {
    TraceScope scope("ZarvoAggregate::Extend");
    CFilerControl& filer = m_pFOContainer->m_filerControl;
    ULONGLONG current = 0;
    HRESULT hr = filer.FilerGetAggregateSize(m_name, current);
    if (FAILED(hr)) return hr;
    std::vector<std::u16string> disks;
    if (current < size && driveCount > 0 && driveIds) {
        ULONGLONG total = 0;
        for (LONG i = 0; i < driveCount && total < size; ++i) {
            DriveProperties drive;
            hr = m_pFOContainer->GetDriveProperties(driveIds[i], drive);
            if (FAILED(hr)) return hr;
            disks.push_back(drive.GetName());
            total += drive.m_ullSize;
        }
        if (total < size) return VDS_E_NOT_ENOUGH_DRIVE;
    }
    return filer.FilerAddDisksToAggregate(m_name, disks, FALSE);
}
