// Reading an appliance LUN into the model at a refresh.
#include <model/lun.h>

#include <model/plex.h>

#include <hostlib/conversions.h>
#include <hostlib/trace.h>

#include "lun_objects.h"

namespace {

std::string N(const std::u16string& text) { return WStringToString(text); }

HRESULT Fail(const char* text, HRESULT hr) {
    trace_printf("ZarvoLun::LoadConfig(): %s", text);
    return hr;
}

}  // namespace

HRESULT ZarvoLun::LoadConfig(const fapi_lun_info_t& record) {
    HRESULT hr;
    try {
        hr = LoadConfigSteps(record);
    } catch (...) {
        hr = Fail("caught exception", E_FAIL);
    }
    trace_printf("ZarvoLun::LoadConfig(): returning %08lX", trace_code(hr));
    if (FAILED(hr)) ReleaseLoadedExtents();
    return hr;
}

// A LUN that cannot be read is dropped by its container: the drives get back
// what its plexes laid out. The reading never counted that space out of the
// subsystem's free space, so that stays as it is.
void ZarvoLun::ReleaseLoadedExtents() {
    const ULONGLONG freespace = m_pFOContainer->m_freespace;
    for (const auto& entry : m_plexMap) m_pFOContainer->FreeExtents(entry.first, nullptr);
    m_pFOContainer->m_freespace = freespace;
}

HRESULT ZarvoLun::LoadConfigSteps(const fapi_lun_info_t& record) {
    using lun_objects::ReuseOrBuild;
    FilerObjectContainer* container = m_pFOContainer;
    trace_printf("ZarvoLun::LoadConfig, Lun %s", N(record.path).c_str());
    m_lunRecord = record;
    HRESULT hr = SetDefaults(&record);
    VDS_LUN_PROP& prop = m_properties.m_prop;
    if (FAILED(hr)) {
        prop.status = static_cast<VDS_LUN_STATUS>(4);
        prop.health = static_cast<VDS_HEALTH>(8);
        prop.TransitionState = static_cast<VDS_TRANSITION_STATE>(0);
        return Fail("ERROR: failed to set lun defaults", hr);
    }
    prop.ulFlags = 1;
    prop.type = static_cast<VDS_LUN_TYPE>(14);
    // A LUN taken offline (say by a deletion that stopped half-way) lists as offline.
    prop.status = record.online ? VDS_LS_ONLINE : VDS_LS_OFFLINE;
    prop.health = static_cast<VDS_HEALTH>(1);
    prop.TransitionState = static_cast<VDS_TRANSITION_STATE>(1);
    prop.sRebuildPriority = 10;

    m_volumeRecord.name.clear();
    std::vector<fapi_volume_info_t> volumes;
    if (FAILED(hr = GetVolume(record.path, volumes))) return Fail("ERROR: lun does not have a volume!", hr);
    ZarvoVolume* volume = nullptr;
    if (FAILED(hr = ReuseOrBuild(container, this, m_volumeRecord.name, m_volumeRecord, volume)) || !volume)
        return Fail("ERROR: cannot create a new volume object", FAILED(hr) ? hr : E_OUTOFMEMORY);
    if (FAILED(hr = container->AssociateLunToVolume(GetId(), volume->GetId())))
        return Fail("ERROR: cannot associate lun to volume", hr);

    m_qtreeRecord.qtree.clear();
    std::vector<fapi_qtree_info_t> qtrees;
    if (FAILED(GetQtree(m_volumeRecord.name, qtrees, m_qtreeRecord))) {
        trace_printf("ZarvoLun::LoadConfig(): %s", "INFO: volume does not have a qtree");
    } else {
        const std::u16string key = m_qtreeRecord.qtree.empty() ? m_qtreeRecord.volume : m_qtreeRecord.qtree;
        ZarvoQtree* qtree = nullptr;
        if (FAILED(hr = ReuseOrBuild(container, this, key, m_qtreeRecord, qtree)) || !qtree)
            return Fail("ERROR: cannot create a new qtree object", FAILED(hr) ? hr : E_OUTOFMEMORY);
        if (FAILED(hr = container->AssociateLunToQtree(GetId(), qtree->GetId())))
            return Fail("ERROR: cannot associate lun to qtree", hr);
    }

    std::vector<fapi_aggr_info_t> aggregates;
    if (FAILED(hr = GetAggregate(m_volumeRecord.name, aggregates, m_aggregateRecord)))
        return Fail("ERROR: volume does not have an aggregate!", hr);
    // The plex stands for the aggregate's first plex: without one there is nothing to lay out.
    const fapi_aggr_info_t& aggregateRecord = AggregateRecord();
    if (aggregateRecord.plexes.empty()) return Fail("ERROR: aggregate does not have a plex", E_FAIL);
    ZarvoAggregate* aggregate = nullptr;
    if (FAILED(hr = ReuseOrBuild(container, this, aggregateRecord.uuid, aggregateRecord, aggregate)) || !aggregate)
        return Fail("ERROR: cannot create a new aggregate object", FAILED(hr) ? hr : E_OUTOFMEMORY);
    if (FAILED(hr = container->AssociateLunToAggregate(GetId(), aggregate->GetId())))
        return Fail("ERROR: cannot associate lun to aggregate", hr);

    if (FAILED(hr = SetOwner(record.path))) Fail("ERROR: cannot set owner of lun", hr);
    if (m_owner == 1) {
        ULONG number = 0;
        if (FAILED(hr = container->GetLunNumberFromPath(record.path, number)))
            return Fail("ERROR: cannot get lun number from path", hr);
        m_lunNumber = static_cast<LONG>(number);
        if (FAILED(hr = container->SetLunNumber(m_lunNumber, 1))) return Fail("ERROR: cannot set lun number", hr);
    }

    const fapi_plex_info_t& aggregatePlex = aggregateRecord.plexes.front();
    trace_printf("ZarvoLun::LoadConfig, Plex %s", N(aggregatePlex.name).c_str());
    const std::u16string plexName = m_properties.m_strIdentification + u"_Plex0";
    GUID plexId{};
    container->m_pSan->CheckCreateGuid(NarrowFromWide(plexName), plexId);
    auto* plex = new (std::nothrow) ZarvoPlex(container, this, plexId, aggregatePlex);
    if (!plex) return Fail("ERROR: cannot create a new plex object", E_OUTOFMEMORY);
    if (FAILED(hr = plex->LoadConfig(aggregatePlex, plexName))) {
        delete plex;
        return hr;
    }

    if (FAILED(hr = container->m_filerControl.FilerGetLunSerialNumber(m_properties.m_strIdentification,
                                                                      m_serialNumber))) {
        trace_printf("ZarvoLun::LoadConfig: ERROR: Cannot get serial number");
        return hr;
    }
    trace_printf("ZarvoLun::LoadConfig, path=%s serialNumber = %s", N(record.path).c_str(), m_serialNumber.c_str());
    return LoadMapping();
}

HRESULT ZarvoLun::LoadMapping() {
    using lun_objects::ReuseOrBuild;
    if (FAILED(GetIgroups(m_lunRecord.path, m_igroupRecords))) {
        m_properties.m_strUnmaskingList.clear();
        trace_printf("ZarvoLun::LoadConfig(): %s", "INFO: lun does not have an igroup");
        m_state = LUN_STATE_DETACHED;
        return S_OK;
    }
    const std::u16string list = MaskOfGroups(m_igroupRecords);
    HRESULT hr = S_OK;
    for (const auto& group : m_igroupRecords) {
        ZarvoIgroup* igroup = nullptr;
        const HRESULT made = ReuseOrBuild(m_pFOContainer, this, group.name, group, igroup);
        if (!igroup && SUCCEEDED(hr)) hr = Fail("ERROR: cannot create a new igroup object", E_OUTOFMEMORY);
        else if (FAILED(made) && SUCCEEDED(hr)) hr = made;
    }
    m_properties.m_strUnmaskingList = list;
    trace_printf("ZarvoLun::LoadConfig, VDS_LUN_PROP pwszUnmaskingList  = %s", N(list).c_str());
    m_state = SUCCEEDED(hr) ? LUN_STATE_ATTACHED : LUN_STATE_DETACHED;
    return hr;
}

HRESULT ZarvoLun::KeepFrom(const ZarvoLun& previous) {
    HRESULT hr;
    try {
        hr = KeepSteps(previous);
    } catch (...) {
        trace_printf("ZarvoLun::KeepFrom(): %s", "caught exception");
        hr = E_FAIL;
    }
    trace_printf("ZarvoLun::KeepFrom(): returning %08lX", trace_code(hr));
    if (FAILED(hr)) ReleaseLoadedExtents();
    return hr;
}

// The steps of LoadConfig with the previous reading's records in place of the
// appliance's answers.
HRESULT ZarvoLun::KeepSteps(const ZarvoLun& previous) {
    using lun_objects::ReuseOrBuild;
    FilerObjectContainer* container = m_pFOContainer;
    trace_printf("ZarvoLun::KeepFrom, Lun %s", N(previous.m_properties.m_strIdentification).c_str());
    m_lunRecord = previous.m_lunRecord;
    HRESULT hr = SetDefaults(&m_lunRecord);
    if (FAILED(hr)) return hr;
    const GUID id = GetId();
    m_properties = previous.m_properties;
    m_properties.m_prop.id = id;
    m_name = previous.m_name;
    m_path = previous.m_path;
    m_volumeRecord = previous.m_volumeRecord;
    m_qtreeRecord = previous.m_qtreeRecord;
    m_aggregateRecord = previous.m_aggregateRecord;
    m_igroupRecords = previous.m_igroupRecords;
    m_serialNumber = previous.m_serialNumber;
    m_loadBalancePolicy = previous.m_loadBalancePolicy;
    // A reading waits for the queued work, so the previous state is a settled one.
    m_state = previous.m_state == LUN_STATE_ATTACHED ? LUN_STATE_ATTACHED : LUN_STATE_DETACHED;

    if (!previous.m_volumeMap.empty()) {
        ZarvoVolume* volume = nullptr;
        if (FAILED(hr = ReuseOrBuild(container, this, m_volumeRecord.name, m_volumeRecord, volume)) || !volume)
            return FAILED(hr) ? hr : E_OUTOFMEMORY;
        if (FAILED(hr = container->AssociateLunToVolume(id, volume->GetId()))) return hr;
    }
    if (!previous.m_qtreeMap.empty()) {
        const std::u16string key = m_qtreeRecord.qtree.empty() ? m_qtreeRecord.volume : m_qtreeRecord.qtree;
        ZarvoQtree* qtree = nullptr;
        if (FAILED(hr = ReuseOrBuild(container, this, key, m_qtreeRecord, qtree)) || !qtree)
            return FAILED(hr) ? hr : E_OUTOFMEMORY;
        if (FAILED(hr = container->AssociateLunToQtree(id, qtree->GetId()))) return hr;
    }
    if (!previous.m_aggregateMap.empty()) {
        ZarvoAggregate* aggregate = nullptr;
        if (FAILED(hr = ReuseOrBuild(container, this, AggregateRecord().uuid, AggregateRecord(), aggregate)) ||
            !aggregate)
            return FAILED(hr) ? hr : E_OUTOFMEMORY;
        if (FAILED(hr = container->AssociateLunToAggregate(id, aggregate->GetId()))) return hr;
    }
    m_owner = previous.m_owner;
    if (m_owner == 1) {
        m_lunNumber = previous.m_lunNumber;
        if (FAILED(hr = container->SetLunNumber(m_lunNumber, 1))) return hr;
    }
    if (!previous.m_plexMap.empty() && !AggregateRecord().plexes.empty()) {
        const fapi_plex_info_t& aggregatePlex = AggregateRecord().plexes.front();
        const std::u16string plexName = m_properties.m_strIdentification + u"_Plex0";
        GUID plexId{};
        container->m_pSan->CheckCreateGuid(NarrowFromWide(plexName), plexId);
        auto* plex = new (std::nothrow) ZarvoPlex(container, this, plexId, aggregatePlex);
        if (!plex) return E_OUTOFMEMORY;
        // The LUN is there whether or not its extents still fit the drives.
        if (FAILED(plex->LoadConfig(aggregatePlex, plexName))) {
            trace_printf("ZarvoLun::KeepFrom(): %s", "WARNING: plex not laid out");
            delete plex;
        }
    }
    for (const fapi_igroup_info_t& group : m_igroupRecords) {
        ZarvoIgroup* igroup = nullptr;
        if (FAILED(hr = ReuseOrBuild(container, this, group.name, group, igroup)) || !igroup)
            return FAILED(hr) ? hr : E_OUTOFMEMORY;
    }
    return S_OK;
}
