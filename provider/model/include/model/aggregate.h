#pragma once
// The aggregate that holds a LUN's volume. Shared by the LUNs of one
// aggregate and owned by the container. It keeps its own copy of the record,
// so it outlives the LUN that built it.
#include <filer/records.h>
#include <platform/guid.h>
#include <platform/types.h>

#include <string>

class FilerObjectContainer;
class ZarvoLun;

class ZarvoAggregate {
public:
    ZarvoAggregate(FilerObjectContainer* container, ZarvoLun* lun, const GUID& id, const fapi_aggr_info_t& record);
    ~ZarvoAggregate();
    ZarvoAggregate(const ZarvoAggregate&) = delete;
    ZarvoAggregate& operator=(const ZarvoAggregate&) = delete;

    // Checks that the listed drives cover the requested growth: 0, or
    // 0x80042410 when they do not; the appliance is not changed.
    HRESULT Extend(ULONGLONG size, const GUID* driveIds, LONG driveCount);

    const GUID& GetId() const { return m_id; }
    const std::u16string& GetName() const { return m_name; }
    const fapi_aggr_info_t& GetRecord() const { return m_record; }

private:
    FilerObjectContainer* m_pFOContainer;
    ZarvoLun* m_pLun;
    std::u16string m_name;
    GUID m_id;
    fapi_aggr_info_t m_record;
};
