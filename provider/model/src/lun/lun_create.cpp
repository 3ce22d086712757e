// Creation of a LUN on the appliance: its own volume and qtree in the
// aggregate with the most space, the LUN, and the model objects, undone
// step by step when any step fails.
#include <model/lun.h>

#include <model/plex.h>

#include <hostlib/conversions.h>
#include <hostlib/trace.h>

#include "lun_objects.h"

struct CreationUndo {
    bool lunCreated = false;
    bool volumeCreated = false;
    ZarvoQtree* qtree = nullptr;
    ZarvoVolume* volume = nullptr;
    ZarvoAggregate* builtAggregate = nullptr;
};

namespace {

std::string N(const std::u16string& text) { return WStringToString(text); }

std::u16string Numbered(const char16_t* prefix, LONG number) {
    return prefix + StringToWString(std::to_string(number));
}

HRESULT Fail(const char* text, HRESULT hr) {
    trace_printf("ZarvoLun::Initialize(): %s", text);
    return hr;
}

}  // namespace

HRESULT ZarvoLun::Initialize(LONG type, ULONGLONG size, NotificationSet* notifications) {
    CreationUndo undo;
    HRESULT hr;
    try {
        hr = InitializeSteps(type, size, notifications, undo);
    } catch (...) {
        hr = Fail("caught exception", E_FAIL);
    }
    trace_printf("ZarvoLun::Initialize(): returning %08lX", trace_code(hr));
    if (FAILED(hr)) UndoCreation(undo);
    return hr;
}

HRESULT ZarvoLun::InitializeSteps(LONG type, ULONGLONG size, NotificationSet* notifications, CreationUndo& undo) {
    using lun_objects::ReuseOrBuild;
    FilerObjectContainer* container = m_pFOContainer;
    CFilerControl& filer = container->m_filerControl;
    ZarvoSan* san = container->m_pSan;
    trace_printf("ZarvoLun::Initialize, GUID=%s", GuidToString(GetId()).c_str());
    m_properties.m_prop.type = static_cast<VDS_LUN_TYPE>(type);
    m_properties.m_prop.ullSize = size;
    std::vector<fapi_aggr_info_t> aggregates;
    auto chosen = std::make_shared<fapi_aggr_info_t>();
    HRESULT hr = container->AllocateSpaceinAggregate(size, aggregates, *chosen);
    m_aggregateRecord = std::move(chosen);
    if (FAILED(hr)) return Fail("Unable to get a valid aggregate w/ enough space!", hr);
    const fapi_aggr_info_t& aggregateRecord = AggregateRecord();
    trace_printf("ZarvoLun::Initialize, Available Aggregate = %s", N(aggregateRecord.name).c_str());
    // The plex stands for the aggregate's first plex: without one there is nothing to lay out.
    if (aggregateRecord.plexes.empty()) return Fail("aggregate does not have a plex", E_FAIL);

    ZarvoAggregate* aggregate = nullptr;
    bool built = false;
    hr = ReuseOrBuild(container, this, aggregateRecord.uuid, aggregateRecord, aggregate, &built);
    if (!aggregate) return Fail("ERROR: cannot create a new aggregate object", E_OUTOFMEMORY);
    if (built) {
        undo.builtAggregate = aggregate;
        trace_printf("ZarvoLun::Initialize, ZarvoAggregate created");
    }

    const std::u16string volumeName = Numbered(u"ZarvoVolume", m_lunNumber);
    const std::u16string qtreeName = Numbered(u"ZarvoQtree", m_lunNumber);
    const std::u16string lunName = Numbered(u"ZarvoLun", m_lunNumber);

    GUID volumeId{};
    if (san->CheckCreateGuid(NarrowFromWide(volumeName), volumeId)) return Fail("volume already used", E_FAIL);
    undo.volume = new (std::nothrow) ZarvoVolume(container, this, volumeId, volumeName.c_str());
    if (!undo.volume) return Fail("cannot create a new volume object", E_OUTOFMEMORY);
    if (FAILED(hr = undo.volume->Create(aggregate->GetName(), 0))) return Fail("cannot create a volume", hr);
    undo.volumeCreated = true;

    GUID qtreeId{};
    if (san->CheckCreateGuid(NarrowFromWide(qtreeName), qtreeId)) return Fail("qtree already used", E_FAIL);
    undo.qtree = new (std::nothrow) ZarvoQtree(container, this, qtreeId, nullptr);
    if (!undo.qtree) return Fail("cannot create a new qtree object", E_OUTOFMEMORY);
    undo.qtree->SetName(qtreeName);
    if (FAILED(hr = undo.qtree->Create(volumeName))) return Fail("cannot create a qtree", hr);

    const std::u16string path = u"/vol/" + volumeName + u"/" + qtreeName + u"/" + lunName;
    m_path = path;
    m_properties.m_strFriendlyName = lunName;
    m_properties.m_strIdentification = path;

    ULONGLONG actualSize = 0;
    if (FAILED(hr = filer.FilerCreateLun(path, size, actualSize))) return Fail("cannot create a lun", hr);
    undo.lunCreated = true;
    trace_printf("ZarvoLun::Initialize, Lun %s Created", N(path).c_str());

    if (FAILED(hr = container->AssociateLunToAggregate(GetId(), aggregate->GetId())))
        return Fail("ERROR: cannot associate lun to aggregate", hr);
    if (FAILED(hr = container->AssociateLunToVolume(GetId(), volumeId)))
        return Fail("ERROR: cannot associate lun to volume", hr);
    if (FAILED(hr = container->AssociateLunToQtree(GetId(), qtreeId)))
        return Fail("ERROR: cannot associate lun to qtree", hr);

    const fapi_plex_info_t& aggregatePlex = AggregateRecord().plexes.front();
    trace_printf("ZarvoLun::Initialize, Plex %s", N(aggregatePlex.name).c_str());
    const std::u16string plexName = m_properties.m_strIdentification + u"_Plex0";
    GUID plexId{};
    san->CheckCreateGuid(NarrowFromWide(plexName), plexId);
    auto* plex = new (std::nothrow) ZarvoPlex(container, this, plexId, aggregatePlex);
    if (!plex) return Fail("ERROR: cannot create a new plex object", E_OUTOFMEMORY);
    if (FAILED(hr = plex->Initialize(notifications))) {
        container->FreeExtents(plexId, nullptr);
        delete plex;
        return Fail("ERROR: cannot initialize plex", hr);
    }

    if (FAILED(hr = container->SetLunNumber(m_lunNumber, 1))) return Fail("cannot set lun number", hr);

    if (FAILED(hr = filer.FilerGetLunSerialNumber(m_properties.m_strIdentification, m_serialNumber))) {
        trace_printf("ZarvoLun::Initialize: ERROR: Cannot get serial number");
        return hr;
    }
    trace_printf("ZarvoLun::Initialize, path=%s serialNumber = %s", N(path).c_str(), m_serialNumber.c_str());
    m_owner = 1;
    return S_OK;
}

void ZarvoLun::UndoCreation(const CreationUndo& undo) {
    FilerObjectContainer* container = m_pFOContainer;
    CFilerControl& filer = container->m_filerControl;
    // The number was reserved for this creation when it was queued.
    if (FAILED(container->SetLunNumber(m_lunNumber, 0)))
        trace_printf("ZarvoLun::Initialize: WARNING: failed to reset lun number");
    if (undo.lunCreated && FAILED(filer.FilerDeleteLun(m_path, TRUE)))
        trace_printf("ZarvoLun::Initialize: WARNING: failed to delete lun %s", N(m_path).c_str());
    delete undo.qtree;
    if (undo.volume) {
        if (undo.volumeCreated && FAILED(filer.FilerDeleteVolume(undo.volume->GetName(), TRUE)))
            trace_printf("ZarvoLun::Initialize: WARNING: failed to delete volume %s", N(undo.volume->GetName()).c_str());
        delete undo.volume;
    }
    delete undo.builtAggregate;
    // The drives get their space back whatever the appliance answered.
    for (const auto& entry : m_plexMap) container->FreeExtents(entry.first, nullptr);
    // Work still queued for this LUN finds it by id: a LUN made later at the
    // same path must get another id, or that work would run on a freed object.
    if (container->m_pSan) container->m_pSan->RemoveGuidByKey(NarrowFromWide(m_path));
    delete this;
}
