#include <model/plex.h>

#include <model/filer_object_container.h>
#include <model/lun.h>

#include <hostlib/conversions.h>
#include <hostlib/trace.h>

namespace {
// Span, stripe and parity keep their type; every other type is a simple plex.
VDS_LUN_TYPE plex_type_of(LONG lunType) {
    return static_cast<VDS_LUN_TYPE>(lunType == 11 || lunType == 12 || lunType == 14 ? lunType : 10);
}
}  // namespace

ZarvoPlex::ZarvoPlex(FilerObjectContainer* container, ZarvoLun* lun, const GUID& id, const fapi_plex_info_t& record)
    : m_pSan(container), m_pLun(lun) {
    m_plexProp.id = id;
    if (trace_enabled()) trace_printf("ZarvoPlex::ZarvoPlex, GUID=%s", GuidToString(id).c_str());
    if (m_pLun) m_pLun->AddPlexObject(id, this);
    if (m_pSan) m_pSan->AddPlexObject(id, this);
    SetDefaults(record);
}

ZarvoPlex::~ZarvoPlex() {
    try {
        if (m_pSan) m_pSan->RemovePlexObject(m_plexProp.id);
        else trace_printf("ZarvoPlex::~ZarvoPlex, m_pSan is NULL! ");
        if (m_pLun) m_pLun->RemovePlexObject(m_plexProp.id);
        else trace_printf("ZarvoPlex::~ZarvoPlex, m_pLun is NULL! ");
    } catch (...) {
        trace_printf("ZarvoPlex::~ZarvoPlex, caught exception");
    }
}

void ZarvoPlex::SetDefaults(const fapi_plex_info_t& record) {
    LunProperties lun;
    if (m_pLun) m_pLun->GetProperties(lun);
    m_plexProp.ullSize = lun.m_prop.ullSize;
    m_plexProp.type = plex_type_of(lun.m_prop.type);
    const bool online = record.is_online;
    m_plexProp.status = static_cast<VDS_LUN_STATUS>(online ? 1 : 4);
    m_plexProp.health = static_cast<VDS_HEALTH>(online ? 1 : 8);
    m_plexProp.TransitionState = static_cast<VDS_TRANSITION_STATE>(record.is_resyncing ? 4 : 1);
    m_plexProp.ulFlags = 1;
    m_plexProp.ulStripeSize = 4096;
    m_plexProp.sRebuildPriority = 10;
    if (trace_enabled()) trace_printf("ZarvoPlex::SetDefaults, VDS_LUN_PLEX_PROP id = %s", GuidToString(m_plexProp.id).c_str());
}

HRESULT ZarvoPlex::Initialize(NotificationSet* notifications) {
    TraceScope scope("ZarvoPlex::Initialize");
    return m_pSan->AllocateExtents(m_pLun->GetId(), m_plexProp.id, m_plexProp.ullSize, notifications)
               ? S_OK
               : VDS_E_NOT_ENOUGH_SPACE;
}

HRESULT ZarvoPlex::LoadConfig(const fapi_plex_info_t& record, const std::u16string& key) {
    TraceScope scope("ZarvoPlex::Initialize");
    m_aggrPlexName = record.name;
    m_plexKey = key;
    SetDefaults(record);
    return m_pSan->AllocateExtents(m_pLun->GetId(), m_plexProp.id, m_plexProp.ullSize, nullptr)
               ? S_OK
               : VDS_E_NOT_ENOUGH_SPACE;
}

HRESULT ZarvoPlex::Resize(ULONGLONG newSize, NotificationSet* notifications) {
    TraceScope scope("ZarvoPlex::Resize");
    const GUID lunId = m_pLun->GetId();
    if (newSize > m_plexProp.ullSize) {
        // Growth: new extents for the difference, next to the old ones.
        if (!m_pSan->AllocateExtents(lunId, m_plexProp.id, newSize - m_plexProp.ullSize, notifications))
            return VDS_E_NOT_ENOUGH_SPACE;
        m_plexProp.ullSize = newSize;
        return S_OK;
    }
    const HRESULT hr = m_pSan->FreeExtents(m_plexProp.id, notifications);
    if (FAILED(hr)) return hr;
    if (!m_pSan->AllocateExtents(lunId, m_plexProp.id, newSize, notifications)) return E_FAIL;
    m_plexProp.ullSize = newSize;
    return S_OK;
}

HRESULT ZarvoPlex::Donate(ZarvoLun* target) {
    TraceScope scope("ZarvoPlex::Donate");
    HRESULT hr = m_pLun->RemovePlexObject(m_plexProp.id);
    if (FAILED(hr)) return hr;
    m_pLun = target;
    hr = m_pLun->AddPlexObject(m_plexProp.id, this);
    if (FAILED(hr)) return hr;
    return m_pSan->ChangeExtentOwner(m_plexProp.id, m_plexProp.id, target->GetId());
}

HRESULT ZarvoPlex::Delete() {
    TraceScope scope("ZarvoPlex::Delete");
    const HRESULT hr = m_pSan->FreeExtents(m_plexProp.id, nullptr);
    if (FAILED(hr)) return hr;
    delete this;
    return hr;
}
