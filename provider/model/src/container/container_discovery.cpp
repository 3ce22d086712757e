// Discovery: one whole reading of the appliance into this container — who it
// is and its cluster partner, the friendly name, drives, Fibre Channel
// controllers or the iSCSI target, the host initiators logged in, and LUNs.
#include <model/filer_object_container.h>

#include <model/controller.h>
#include <model/controller_port.h>
#include <model/drive.h>
#include <model/iscsi_target.h>
#include <model/lun_fcp.h>
#include <model/lun_iscsi.h>
#include <model/properties.h>
#include <model/zarvo_san.h>

#include <hostlib/com_error.h>
#include <hostlib/conversions.h>
#include <hostlib/event_log.h>
#include <hostlib/trace.h>
#include <platform/bstr.h>
#include <platform/errorinfo.h>
#include <platform/memory.h>
#include <platform/text.h>
#include <platform/thread.h>
#include <res/message_ids.h>

#include <arpa/inet.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <new>

namespace {

constexpr const char* kRefreshTrace = "FilerObjectContainer::RefreshContainer(): %s";
constexpr const char* kUnmaskTrace = "FilerObjectContainer::SetUnmaskingList(): %s";
constexpr const char* kPathTrace = "FilerObjectContainer::IsPathPresent(): %s";
constexpr const char* kSlotTrace = "FilerObjectContainer::AllocateSlot(): %s";
constexpr SHORT kSlotsPerBus = 14;

// Disks in these raid states are not this appliance's drives.
bool IsForeignDisk(const fapi_disk_info_t& disk) { return disk.raid_state == 0 || disk.raid_state == 1; }

std::string Narrow(const std::u16string& text) { return platform::wide_to_utf8_lossy(text); }
std::u16string Widen(const std::string& text) { return platform::utf8_to_wide_lossy(text); }

void Report(DWORD eventId, std::initializer_list<const WCHAR*> inserts) {
    process_event_reporter().LogEvent(eventId, static_cast<WORD>(inserts.size()), inserts.begin());
}

// A failure reports only what went wrong after this.
void ClearErrorInfo() { SetErrorInfo(0, nullptr); }

// What a failed request reported on this thread, else the text of its code.
std::u16string FailureText(HRESULT hr) {
    std::u16string text;
    IErrorInfo* info = nullptr;
    if (GetErrorInfo(0, &info) == S_OK && info) {
        BSTR description = nullptr;
        if (SUCCEEDED(info->GetDescription(&description)) && description) text = description;
        SysFreeString(description);
        info->Release();
    }
    if (text.empty()) {
        WCHAR* message = nullptr;
        get_message_text(hr, &message, nullptr);
        if (message) text = message;
        LocalFree(message);
    }
    while (!text.empty() && (text.back() == u'\n' || text.back() == u'\r' || text.back() == u' ')) text.pop_back();
    return text;
}

// The identity request's failure as its event: its own id for "unreachable"
// and "bad login", the general one for everything else.
DWORD IdentityEvent(HRESULT hr) {
    const auto code = static_cast<DWORD>(hr);
    return code == res::MSG_FILER_UNREACHABLE || code == res::MSG_FILER_LOGIN_INVALID ? code
                                                                                       : res::MSG_SUBSYSTEM_UNREACHABLE;
}

std::u16string WwnText(const BYTE (&wwn)[8]) {
    char text[24];
    std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x:%02x:%02x", wwn[0], wwn[1], wwn[2], wwn[3], wwn[4],
                  wwn[5], wwn[6], wwn[7]);
    return Widen(text);
}

// Adds the port names of the initiators logged in to `adapter` to the list,
// each once, ";"-separated.
void CollectInitiators(const std::vector<fapi_fcp_adapter_initiators_t>& records, const std::u16string& adapter,
                       std::u16string& list) {
    for (const fapi_fcp_adapter_initiators_t& record : records) {
        if (record.adapter != adapter) continue;
        for (const fapi_fcp_initiator_info_t& initiator : record.initiators) {
            const std::u16string name = WwnText(initiator.port_name);
            if (list.empty()) {
                list = name;
            } else if (list.find(name) == std::u16string::npos) {
                list += u";" + name;
            } else {
                trace_printf("FilerObjectContainer::SetUnmaskingList, SKIP duplicate initiator %s", Narrow(name).c_str());
            }
        }
    }
}

}  // namespace

std::u16string PartnerAddress(const std::u16string& filerName, const std::u16string& partnerName) {
    const size_t dot = filerName.find(u'.');
    if (dot == std::u16string::npos) return partnerName;
    if (inet_addr(Narrow(filerName).c_str()) != INADDR_NONE) return partnerName;
    return partnerName + filerName.substr(dot);
}

// The volume and aggregate lists of one reading, read at most once and shared
// by every LUN it loads; they are forgotten when the reading ends.
class FilerObjectContainer::ReadingScope {
public:
    explicit ReadingScope(FilerObjectContainer& container) : m_container(container) {
        m_container.m_pReading = &m_lists;
    }
    ~ReadingScope() { m_container.m_pReading = nullptr; }
    ReadingScope(const ReadingScope&) = delete;
    ReadingScope& operator=(const ReadingScope&) = delete;

private:
    FilerObjectContainer& m_container;
    ReadingLists m_lists;
};

HRESULT FilerObjectContainer::RefreshContainer() {
    trace_printf("Refreshing a Filer. Thread %08X,  subSystem id %s  ", GetCurrentThreadId(),
                 GuidToString(m_subSystemProperties.m_prop.id).c_str());
    HRESULT hr = S_OK;
    try {
        ReadingScope reading(*this);
        hr = ReadAppliance();
    } catch (...) {
        trace_printf(kRefreshTrace, "caught exception");
        return E_FAIL;
    }
    DumpAll();
    return hr;
}

HRESULT FilerObjectContainer::ReadAppliance() {
    HRESULT hr = DeleteCache();
    if (FAILED(hr)) {
        trace_printf("FilerObjectContainer::RefreshContainer, ERROR: failed to delete cache");
        return hr;
    }
    trace_printf("FilerObjectContainer::RefreshContainer, Cache deleted");
    if (FAILED(hr = ReadIdentity())) return hr;
    ReadClusterPartner();
    ReadFriendlyName();
    if (FAILED(hr = ReadDrives())) return hr;
    switch (m_pSan->GetProviderType()) {
    case 2: hr = ReadControllers(); break;
    case 3: hr = ReadIscsiTarget(); break;
    default:
        trace_printf(kRefreshTrace, "ERROR: Provider type not supported.");
        Report(res::MSG_PROTOCOL_UNDETERMINED, {m_filerControl.m_strFilerName.c_str()});
        return VDS_E_PROVIDER_TYPE_UNKNOWN;
    }
    if (FAILED(hr)) return hr;
    return ReadLuns();
}

HRESULT FilerObjectContainer::ReadIdentity() {
    FilerSystemInfo info;
    const HRESULT hr = m_filerControl.FilerValidateConnection(&info);
    SubSystemProperties& properties = m_subSystemProperties;
    if (FAILED(hr)) {
        Report(IdentityEvent(hr), {m_filerName.c_str()});
        set_error_info_message(IdentityEvent(hr), m_filerName);
        trace_printf("FilerObjectContainer::RefreshContainer(), ERROR: filer %s unreachable, code %08lX",
                     Narrow(m_filerName).c_str(), trace_code(hr));
        properties.m_prop.status = VDS_SSS_OFFLINE;
        properties.m_prop.health = VDS_H_FAILED;
        return hr;
    }
    properties.m_prop.status = VDS_SSS_ONLINE;
    properties.m_prop.health = VDS_H_HEALTHY;
    properties.m_strFriendlyName = Widen(info.systemName);
    return S_OK;
}

void FilerObjectContainer::ReadClusterPartner() {
    int32_t currentTime = 0;
    bool enabled = false;
    bool interconnectUp = false;
    std::u16string partner;
    if (FAILED(m_filerControl.FilerGetClusterStatus(currentTime, enabled, interconnectUp, partner))) {
        trace_printf("FilerObjectContainer::RefreshContainer, Cluster disabled, Partner %s offline. Default to "
                     "standalone.",
                     Narrow(partner).c_str());
        return;
    }
    if (!enabled) {
        trace_printf("FilerObjectContainer::RefreshContainer, Cluster disabled....StandAlone mode");
        m_partnerUp = false;
        return;
    }
    m_partnerName = partner;
    // Every later request to the partner uses the name validated here.
    m_partnerAddress = PartnerAddress(m_filerName, partner);
    SetFacadeFiler(m_partnerAddress);
    trace_printf("FilerObjectContainer::RefreshContainer, Set to Partner %s Filer", Narrow(m_partnerAddress).c_str());
    const HRESULT hr = m_filerControl.FilerValidateConnection(nullptr);
    if (FAILED(hr)) {
        const auto code = static_cast<DWORD>(hr);
        if (code == res::MSG_FILER_UNREACHABLE)
            Report(res::MSG_CLUSTER_PARTNER_UNREACHABLE, {m_filerName.c_str(), m_partnerAddress.c_str()});
        else if (code == res::MSG_FILER_LOGIN_INVALID)
            Report(res::MSG_CLUSTER_PARTNER_LOGIN_INVALID, {m_filerName.c_str(), m_partnerAddress.c_str()});
        else
            Report(res::MSG_CLUSTER_PARTNER_OFFLINE, {m_partnerAddress.c_str()});
        trace_printf("FilerObjectContainer::RefreshContainer, WARNING: partner filer %s unreachable, code %08lX",
                     Narrow(m_partnerAddress).c_str(), trace_code(hr));
        m_partnerUp = false;
    } else {
        trace_printf("FilerObjectContainer::RefreshContainer, Cluster enabled, Partner %s is up.",
                     Narrow(m_partnerName).c_str());
        m_partnerUp = true;
    }
    trace_printf("FilerObjectContainer::RefreshContainer, Revert to Local Filer %s", Narrow(m_filerName).c_str());
    SetFacadeFiler(m_filerName);
}

HRESULT FilerObjectContainer::ReadDrives() {
    std::vector<fapi_disk_info_t> disks;
    bool none = false;
    m_listedDisks.clear();
    ClearErrorInfo();
    if (const HRESULT hr = m_filerControl.FilerListDrives(u"", disks, &none); FAILED(hr)) {
        trace_printf(kRefreshTrace, "WARNING: No drives discovered");
        const FilerObjectContainer* previous = PreviousReading();
        // A disk list that could not be read does not mean that every drive left.
        if (none || !previous || previous->m_listedDisks.empty()) return S_OK;
        disks = previous->m_listedDisks;
        trace_printf("FilerObjectContainer::RefreshContainer, KEEP %d drives of the previous reading",
                     static_cast<int>(disks.size()));
        const std::u16string failure = FailureText(hr);
        Report(res::MSG_DRIVES_KEPT_UNLISTED, {m_filerName.c_str(), failure.c_str()});
    }
    m_listedDisks = disks;
    SetBusAdapterMap(disks);
    m_freespace = 0;
    for (size_t index = 0; index < disks.size(); ++index) {
        const fapi_disk_info_t& disk = disks[index];
        if (IsForeignDisk(disk)) continue;
        m_diskSize = static_cast<ULONGLONG>(disk.physical_space);
        GUID id{};
        m_pSan->CheckCreateGuid(IntToString(disk.id), id);
        // The drive registers itself; the container owns it from here.
        auto* drive = new (std::nothrow) ZarvoDrive(this, id, m_diskSize, &disk);
        if (!drive) {
            trace_printf("FilerObjectContainer::RefreshContainer, ERROR: Out of memory during creation of Drive "
                         "object.");
            Report(res::MSG_OUT_OF_MEMORY, {});
            return E_OUTOFMEMORY;
        }
        m_freespace += drive->m_ullFreeSpace;
        trace_printf("FOUND Disk[%d] %s freeSpace=0x%llx", static_cast<int>(index), Narrow(disk.name).c_str(),
                     static_cast<unsigned long long>(m_freespace));
    }
    return S_OK;
}

HRESULT FilerObjectContainer::ReadControllers() {
    std::vector<fapi_fcp_adapter_info_t> adapters;
    HRESULT hr = m_filerControl.FilerListAdapters(adapters);
    if (FAILED(hr)) {
        trace_printf(kRefreshTrace, "ERROR: No FC adapters discovered!");
        Report(res::MSG_FC_ADAPTER_DISCOVERY_FAILED, {m_filerName.c_str()});
        return hr;
    }
    SHORT accepted = 0;
    for (size_t index = 0; index < adapters.size(); ++index) {
        const fapi_fcp_adapter_info_t& adapter = adapters[index];
        if (!AcceptAdapter(adapter, static_cast<int>(index))) continue;
        ++accepted;
        trace_printf("FOUND Adapter[%d] %s type=%s", static_cast<int>(index), adapter.adapter.c_str(),
                     adapter.adapter_type.c_str());
        GUID id{};
        m_pSan->CheckCreateGuid(ControllerKey(adapter), id);
        // The controller registers itself and builds its port and paths.
        if (!new (std::nothrow) ZarvoController(this, id, 1, &adapter)) {
            trace_printf("FilerObjectContainer::RefreshContainer, ERROR:Out of memory during Controller object "
                         "creation.");
            Report(res::MSG_OUT_OF_MEMORY, {});
        }
        if (FAILED(SetUnmaskingList(Widen(adapter.adapter)))) trace_printf(kRefreshTrace, "SetUnmaskingList() failed....continue");
    }
    SHORT& maxControllers = m_subSystemProperties.m_prop.sMaxNumberOfControllers;
    if (accepted > maxControllers) maxControllers = accepted;
    return S_OK;
}

// The first matching row decides; every comparison is exact.
bool FilerObjectContainer::AcceptAdapter(const fapi_fcp_adapter_info_t& adapter, int index) {
    const char* name = adapter.adapter.c_str();
    const char* type = adapter.adapter_type.c_str();
    if (adapter.state != "ONLINE" && adapter.state != "online") {
        trace_printf("SKIP Adapter[%d] %s type=%s status=%s", index, name, type, adapter.state.c_str());
        return false;
    }
    if (adapter.adapter_type == "Standby") return false;
    if (adapter.adapter_type != "Partner" && adapter.node_name.find("20:01:00") != std::string::npos &&
        adapter.standby) {
        trace_printf("FilerObjectContainer::RefreshContainer, Cluster enabled....Local Standby");
        trace_printf("SKIP Local Standby Adapter[%d] %s type=%s standby=%d", index, name, type, 1);
        return false;
    }
    if (adapter.adapter_type == "Partner" && !m_partnerUp) {
        trace_printf("FilerObjectContainer::RefreshContainer, Cluster disabled or Partner unreachable....Partner-"
                     "StandAlone mode");
        trace_printf("SKIP Partner Adapter[%d] %s type=%s", index, name, type);
        return false;
    }
    return true;
}

HRESULT FilerObjectContainer::ReadIscsiTarget() {
    GUID targetId{};
    m_pSan->CheckCreateGuid(NarrowFromWide(m_filerName), targetId);
    m_iscsiTargetId = targetId;
    std::unique_ptr<ZarvoIscsiTarget> target(new (std::nothrow) ZarvoIscsiTarget(this, m_filerName, targetId));
    HRESULT hr = E_OUTOFMEMORY;
    if (!target) {
        trace_printf(kRefreshTrace, "ERROR: Out of memory during iSCSI Target object creation.");
        Report(res::MSG_OUT_OF_MEMORY, {});
    } else {
        hr = target->Initialize();
        if (SUCCEEDED(hr)) return AddTargetObject(targetId, target.release());
    }
    target.reset();
    trace_printf(kRefreshTrace, "ERROR: Failed to discover iSCSI targets.");
    Report(res::MSG_ISCSI_TARGET_DISCOVERY_FAILED, {m_filerName.c_str()});
    return hr;
}

HRESULT FilerObjectContainer::ReadLuns() {
    std::vector<fapi_lun_info_t> luns;
    bool none = false;
    ClearErrorInfo();
    const HRESULT listed = m_filerControl.FilerListLuns(u"", luns, &none);
    if (FAILED(listed)) {
        trace_printf(kRefreshTrace, "WARNING: no luns discovered.");
        if (none) return S_OK;
    }
    HRESULT hr = InitializeLunNumbers();
    if (FAILED(hr)) {
        trace_printf("FilerObjectContainer::RefreshContainer, ERROR: InitializeLunNumbers failed hr=%d",
                     static_cast<int>(hr));
        Report(res::MSG_LUN_NUMBERS_FAILED, {HresultToString(hr)});
        return hr;
    }
    if (FAILED(listed)) return KeepPreviousLuns(listed);
    for (size_t index = 0; index < luns.size(); ++index) {
        if (FAILED(hr = ReadLun(luns[index], static_cast<int>(index)))) return hr;
    }
    return S_OK;
}

// One LUN of the listing. A LUN whose configuration cannot be read keeps what
// the previous reading knew of it, or waits for the next reading when it is
// new; only running out of memory ends the refresh.
HRESULT FilerObjectContainer::ReadLun(const fapi_lun_info_t& record, int index) {
    GUID lunId{};
    m_pSan->CheckCreateGuid(NarrowFromWide(record.path), lunId);
    ZarvoLun* lun = NewLunObject(lunId);
    if (!lun) {
        Report(res::MSG_OUT_OF_MEMORY, {});
        return E_OUTOFMEMORY;
    }
    trace_printf("FOUND Lun[%d] %s", index, Narrow(record.path).c_str());
    ClearErrorInfo();
    const HRESULT hr = lun->LoadConfig(record);
    if (FAILED(hr)) {
        delete lun;
        trace_printf(kRefreshTrace, "ERROR: failed to load lun configuration");
        trace_printf("FilerObjectContainer::RefreshContainer, SKIP Lun[%d] %s, code %08lX", index,
                     Narrow(record.path).c_str(), trace_code(hr));
        return KeepPreviousLun(lunId, record.path, hr);
    }
    return S_OK;
}

ZarvoLun* FilerObjectContainer::NewLunObject(const GUID& lunId) {
    ZarvoLun* lun = nullptr;
    if (m_pSan->GetProviderType() == 2) {
        lun = new (std::nothrow) ZarvoLunFCP(this, m_lunPortAssoc, lunId, 0, 0, u"");
        for (auto portEntry = m_portsMap.begin(); lun && portEntry != m_portsMap.end(); ++portEntry) {
            VDS_PORT_PROP port{};
            portEntry->second->GetProperties(port);
            if (port.status != VDS_PRS_ONLINE) continue;
            if (FAILED(AssociateLunToPort(lunId, portEntry->first))) {
                trace_printf(kRefreshTrace, "ERROR: cannot associate lun to port");
                break;
            }
        }
    } else {
        lun = new (std::nothrow) ZarvoLunIscsi(this, m_iscsiTargetId, lunId, 0, 0, u"");
        if (lun) AssociateLunToTarget(lunId, m_iscsiTargetId);
    }
    return lun;
}

FilerObjectContainer* FilerObjectContainer::PreviousReading() {
    FilerObjectContainer* previous = m_pSan ? m_pSan->GetContainer() : nullptr;
    return previous == this ? nullptr : previous;
}

HRESULT FilerObjectContainer::KeepPreviousLun(const GUID& lunId, const std::u16string& path, HRESULT failure) {
    FilerObjectContainer* previous = PreviousReading();
    if (!previous) return S_OK;
    const auto found = previous->m_lunMap.find(lunId);
    if (found == previous->m_lunMap.end() || !found->second) return S_OK;
    ZarvoLun* lun = NewLunObject(lunId);
    if (!lun) {
        Report(res::MSG_OUT_OF_MEMORY, {});
        return E_OUTOFMEMORY;
    }
    const HRESULT hr = lun->KeepFrom(*found->second);
    if (FAILED(hr)) {
        delete lun;
        return hr == E_OUTOFMEMORY ? hr : S_OK;
    }
    trace_printf("FilerObjectContainer::RefreshContainer, KEEP Lun %s as last read, code %08lX",
                 Narrow(path).c_str(), trace_code(failure));
    const std::u16string text = FailureText(failure);
    Report(res::MSG_LUN_KEPT_UNREAD, {m_filerName.c_str(), path.c_str(), text.c_str()});
    return S_OK;
}

HRESULT FilerObjectContainer::KeepPreviousLuns(HRESULT failure) {
    FilerObjectContainer* previous = PreviousReading();
    if (!previous || previous->m_lunMap.empty()) return S_OK;
    trace_printf("FilerObjectContainer::RefreshContainer, KEEP %d luns of the previous reading",
                 static_cast<int>(previous->m_lunMap.size()));
    const std::u16string text = FailureText(failure);
    Report(res::MSG_LUNS_KEPT_UNLISTED, {m_filerName.c_str(), text.c_str()});
    for (const auto& [lunId, old] : previous->m_lunMap) {
        if (!old) continue;
        ZarvoLun* lun = NewLunObject(lunId);
        if (!lun) {
            Report(res::MSG_OUT_OF_MEMORY, {});
            return E_OUTOFMEMORY;
        }
        if (const HRESULT hr = lun->KeepFrom(*old); FAILED(hr)) {
            delete lun;
            if (hr == E_OUTOFMEMORY) return hr;
        }
    }
    return S_OK;
}

namespace {

template <typename Record>
using SharedList = FilerObjectContainer::SharedList<Record>;

// The names under which a record is found.
template <typename Visit>
void ForEachName(const fapi_volume_info_t& volume, Visit&& visit) {
    visit(volume.name);
}
template <typename Visit>
void ForEachName(const fapi_aggr_info_t& aggregate, Visit&& visit) {
    visit(aggregate.name);
    for (const fapi_volume_info_t& volume : aggregate.volumes) visit(volume.name);
}

template <typename Record>
bool HoldsName(const Record& record, const std::u16string& name) {
    bool holds = false;
    ForEachName(record, [&](const std::u16string& held) { holds = holds || held == name; });
    return holds;
}

// The first record of the list that holds the name.
template <typename Record>
const Record* FindByName(const std::vector<Record>& records, const std::u16string& name) {
    const auto found = std::find_if(records.begin(), records.end(),
                                    [&](const Record& record) { return HoldsName(record, name); });
    return found == records.end() ? nullptr : &*found;
}

// The same answer from a reading's shared list, through its index; the list is
// read and indexed on first use.
template <typename Record, typename Read>
HRESULT FindShared(SharedList<Record>& list, Read&& read, const std::u16string& name, const Record*& found) {
    if (!list.read) {
        list.result = read(list.records);
        for (size_t i = 0; i < list.records.size(); ++i)
            ForEachName(list.records[i], [&](const std::u16string& held) { list.firstByName.try_emplace(held, i); });
        list.read = true;
    }
    const auto at = list.firstByName.find(name);
    found = at == list.firstByName.end() ? nullptr : &list.records[at->second];
    return list.result;
}

}  // namespace

HRESULT FilerObjectContainer::FindVolume(const std::u16string& name, std::vector<fapi_volume_info_t>& storage,
                                         const fapi_volume_info_t*& volume) {
    const auto read = [this](std::vector<fapi_volume_info_t>& list) { return m_filerControl.FilerListVolumes(list); };
    if (m_pReading) return FindShared(m_pReading->volumes, read, name, volume);
    const HRESULT hr = read(storage);
    volume = FindByName(storage, name);
    return hr;
}

namespace {

fapi_aggr_info_t WithoutVolumeNames(const fapi_aggr_info_t& a) {
    fapi_aggr_info_t copy;
    copy.reserved_text1 = a.reserved_text1;
    copy.name = a.name;
    copy.uuid = a.uuid;
    copy.disk_count = a.disk_count;
    copy.files_total = a.files_total;
    copy.files_used = a.files_used;
    copy.reserved_text2 = a.reserved_text2;
    copy.plex_count = a.plex_count;
    copy.volume_count = a.volume_count;
    copy.raid_size = a.raid_size;
    copy.size_available = a.size_available;
    copy.size_percentage_used = a.size_percentage_used;
    copy.size_total = a.size_total;
    copy.size_used = a.size_used;
    copy.raid_status = a.raid_status;
    copy.state = a.state;
    copy.type = a.type;
    copy.plexes = a.plexes;
    return copy;
}

}  // namespace

std::shared_ptr<const fapi_aggr_info_t> FilerObjectContainer::AggregateForLun(const fapi_aggr_info_t& listed) {
    if (!m_pReading) return std::make_shared<const fapi_aggr_info_t>(WithoutVolumeNames(listed));
    auto& kept = m_pReading->lunAggregates[&listed];
    if (!kept) kept = std::make_shared<const fapi_aggr_info_t>(WithoutVolumeNames(listed));
    return kept;
}

HRESULT FilerObjectContainer::FindAggregate(const std::u16string& name, std::vector<fapi_aggr_info_t>& storage,
                                            const fapi_aggr_info_t*& aggregate) {
    const auto read = [this](std::vector<fapi_aggr_info_t>& list) { return m_filerControl.FilerListAggregates(list); };
    if (m_pReading) return FindShared(m_pReading->aggregates, read, name, aggregate);
    const HRESULT hr = read(storage);
    aggregate = FindByName(storage, name);
    return hr;
}

HRESULT FilerObjectContainer::SetUnmaskingList(const std::u16string& adapterName) {
    std::vector<fapi_fcp_adapter_initiators_t> records;
    if (FAILED(m_filerControl.FilerListAdaptersInitiators(nullptr, records)))
        trace_printf(kUnmaskTrace, "no initiators connected");
    else
        CollectInitiators(records, adapterName, m_strMaskingList);

    if (m_partnerUp) {
        SetFacadeFiler(m_partnerAddress);
        trace_printf("FilerObjectContainer::SetUnmaskingList, Set to Partner %s Filer", Narrow(m_partnerAddress).c_str());
        std::vector<fapi_fcp_adapter_initiators_t> partnerRecords;
        const HRESULT hr = m_filerControl.FilerListAdaptersInitiators(nullptr, partnerRecords);
        trace_printf("FilerObjectContainer::SetUnmaskingList, Revert to Local Filer %s", Narrow(m_filerName).c_str());
        SetFacadeFiler(m_filerName);
        if (FAILED(hr))
            trace_printf(kUnmaskTrace, "no initiators connected");
        else
            CollectInitiators(partnerRecords, adapterName, m_strMaskingList);
    }
    trace_printf("FilerObjectContainer::SetUnmaskingList, m_strMaskingList = %s", Narrow(m_strMaskingList).c_str());
    return S_OK;
}

bool FilerObjectContainer::IsPathPresent(const BYTE (&portWwn)[8], const std::string& adapterName) {
    std::vector<fapi_fcp_adapter_initiators_t> records;
    const HRESULT hr = m_filerControl.FilerListAdaptersInitiators(nullptr, records);
    if (FAILED(hr)) {
        trace_printf(kPathTrace, "no initiators connected");
        return false;
    }
    const std::u16string wanted = WwnText(portWwn);
    trace_printf("FilerObjectContainer::IsPathPresent, WwnPort =  %s ", Narrow(wanted).c_str());
    std::u16string controllerName;
    GetFCPAdapter(adapterName, controllerName);
    // Without a controller of that name no record can be the adapter's.
    const bool known = NarrowFromWide(controllerName) == adapterName;
    for (const fapi_fcp_adapter_initiators_t& record : records) {
        if (!known || record.adapter != controllerName) continue;
        for (const fapi_fcp_initiator_info_t& initiator : record.initiators) {
            if (WwnText(initiator.port_name) != wanted) continue;
            trace_printf("FilerObjectContainer::IsPathPresent, initiator %s connected", Narrow(wanted).c_str());
            return true;
        }
    }
    trace_printf("FilerObjectContainer::IsPathPresent, hr=%lx initiator %s NOT connected", trace_code(hr),
                 Narrow(wanted).c_str());
    return false;
}

bool FilerObjectContainer::AllocateSlot(SHORT& busNumber, SHORT& slotNumber, const fapi_disk_info_t& disk) {
    try {
        const auto bus = m_busAdapterMap.find(disk.host_adapter);
        if (bus == m_busAdapterMap.end()) {
            trace_printf(kSlotTrace, "Failed to find the adapter name");
            return false;
        }
        busNumber = bus->second;
        const auto shelf = static_cast<SHORT>(std::atoi(Narrow(disk.shelf).c_str()));
        const auto bay = static_cast<SHORT>(std::atoi(Narrow(disk.bay).c_str()));
        slotNumber = static_cast<SHORT>((shelf - 1) * kSlotsPerBus + bay);
        SHORT& buses = m_subSystemProperties.m_prop.sNumberOfInternalBuses;
        if (busNumber > buses) buses = busNumber;
        return true;
    } catch (const std::exception&) {
        trace_printf(kSlotTrace, "caught exception");
        return false;
    }
}
