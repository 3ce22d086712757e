// The container's questions to the LUN-side objects: the LUN and plex
// properties the service reads, the aggregate extension, and their dumps.
#include <model/filer_object_container.h>

#include <hostlib/conversions.h>
#include <hostlib/trace.h>
#include <model/aggregate.h>
#include <model/igroup.h>
#include <model/lun.h>
#include <model/plex.h>
#include <model/qtree.h>
#include <model/volume.h>

#include <platform/text.h>

namespace {

std::string Narrow(const std::u16string& text) { return platform::wide_to_utf8_lossy(text); }

// Looks the LUN up, then asks it.
template <typename Ask>
HRESULT WithLun(FilerObjectContainer& container, const GUID& lunId, Ask&& ask) {
    ZarvoLun* lun = nullptr;
    const HRESULT hr = container.GetLun(lunId, lun);
    return FAILED(hr) ? hr : ask(*lun);
}

}  // namespace

HRESULT FilerObjectContainer::GetLunProperties(const GUID& lunId, LunProperties& properties) {
    return WithLun(*this, lunId, [&](ZarvoLun& lun) { return lun.GetProperties(properties); });
}

HRESULT FilerObjectContainer::GetLunIdentification(const GUID& lunId, VDS_LUN_INFORMATION& information) {
    return WithLun(*this, lunId, [&](ZarvoLun& lun) { return lun.GetIdentification(information); });
}

HRESULT FilerObjectContainer::GetLunLoadBalancePolicy(const GUID& lunId, VDS_LOADBALANCE_POLICY_ENUM& policy) {
    return WithLun(*this, lunId, [&](ZarvoLun& lun) { return lun.GetLoadBalancePolicy(policy); });
}

HRESULT FilerObjectContainer::SetLunLoadBalancePolicy(const GUID& lunId, VDS_LOADBALANCE_POLICY_ENUM policy) {
    return WithLun(*this, lunId, [&](ZarvoLun& lun) { return lun.SetLoadBalancePolicy(policy); });
}

HRESULT FilerObjectContainer::GetDiskSignature(const GUID& lunId, GUID& signature) {
    return WithLun(*this, lunId, [&](ZarvoLun& lun) { return lun.GetDiskSignature(signature); });
}

HRESULT FilerObjectContainer::GetPlexProperties(const GUID& plexId, VDS_LUN_PLEX_PROP& properties) {
    ZarvoPlex* plex = nullptr;
    const HRESULT hr = GetPlex(plexId, plex);
    if (FAILED(hr)) return hr;
    plex->GetProperties(properties);
    return S_OK;
}

HRESULT FilerObjectContainer::ExtendAggregate(const GUID& aggregateId, ULONGLONG bytes, const GUID* driveIds,
                                              LONG driveCount) {
    const auto found = m_aggregateMap.find(aggregateId);
    if (found == m_aggregateMap.end()) return VDS_E_OBJECT_NOT_FOUND;
    return found->second->Extend(bytes, driveIds, driveCount);
}

HRESULT FilerObjectContainer::DumpLunMap() {
    for (const auto& [id, lun] : m_lunMap) {
        LunProperties properties;
        const HRESULT hr = lun->GetProperties(properties);
        if (FAILED(hr)) return hr;
        trace_printf("lun <%s> = %s", Narrow(properties.m_strFriendlyName).c_str(), GuidToString(id).c_str());
    }
    return S_OK;
}

HRESULT FilerObjectContainer::DumpQtreeMap() {
    for (const auto& [id, qtree] : m_qtreeMap)
        trace_printf("qtree <%s> = %s", Narrow(qtree->GetName()).c_str(), GuidToString(id).c_str());
    return S_OK;
}

HRESULT FilerObjectContainer::DumpVolumeMap() {
    for (const auto& [id, volume] : m_volumeMap)
        trace_printf("volume <%s> = %s", Narrow(volume->GetName()).c_str(), GuidToString(id).c_str());
    return S_OK;
}

HRESULT FilerObjectContainer::DumpAggregateMap() {
    for (const auto& [id, aggregate] : m_aggregateMap)
        trace_printf("aggregate <%s> = %s", Narrow(aggregate->GetName()).c_str(), GuidToString(id).c_str());
    return S_OK;
}

HRESULT FilerObjectContainer::DumpPlexMap() {
    for (const auto& [id, plex] : m_plexMap)
        trace_printf("plex <%s,%s> = %s", Narrow(plex->GetAggregatePlexName()).c_str(), Narrow(plex->GetName()).c_str(),
                     GuidToString(id).c_str());
    return S_OK;
}

HRESULT FilerObjectContainer::DumpIgroupMap() {
    for (const auto& [id, igroup] : m_igroupMap)
        trace_printf("igroup <%s> <%s> = %s", Narrow(igroup->GetName()).c_str(), Narrow(igroup->GetProtocol()).c_str(),
                     GuidToString(id).c_str());
    return S_OK;
}
