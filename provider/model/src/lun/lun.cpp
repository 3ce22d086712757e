#include <model/lun.h>

#include <model/aggregate.h>
#include <model/filer_object_container.h>
#include <model/igroup.h>
#include <model/plex.h>
#include <model/qtree.h>
#include <model/volume.h>
#include <model/zarvo_san.h>

#include <hostlib/conversions.h>
#include <hostlib/event_log.h>
#include <hostlib/trace.h>
#include <platform/comalloc.h>

#include <algorithm>
#include <cstring>

namespace {

constexpr size_t kListWindow = 255;
// The identifier block holds the vendor words, the serial number and a zero.
constexpr size_t kIdentifierBlock = 256;
constexpr char kIdentifierPrefix[] = "KORVEX   LUN ";
constexpr size_t kMaxSerialInIdentifier = kIdentifierBlock - (sizeof kIdentifierPrefix - 1) - 1;

std::string N(const std::u16string& text) { return WStringToString(text); }

char* CoTaskMemCopy(const char* text, size_t bytes) {
    auto* block = static_cast<char*>(CoTaskMemAlloc(bytes));
    if (block) std::memcpy(block, text, bytes);
    return block;
}

bool IsSupportedPolicy(LONG policy) { return (policy >= 1 && policy <= 5) || policy == 7; }

// The components of a path between "/" separators, from its first 255 characters.
std::vector<std::u16string> PathComponents(const std::u16string& path) {
    std::vector<std::u16string> parts;
    const std::u16string window = path.substr(0, kListWindow);
    size_t at = 0;
    while (at < window.size()) {
        const size_t end = std::min(window.find(u'/', at), window.size());
        if (end > at) parts.push_back(window.substr(at, end - at));
        at = end + 1;
    }
    return parts;
}

// A LUN number as the provider writes it: decimal, no sign, no leading zero, 0 to 1023.
bool ParseNumber(std::u16string_view text, std::u16string& digits) {
    if (text.empty() || text.size() > 4 || (text.size() > 1 && text[0] == u'0')) return false;
    int value = 0;
    for (char16_t c : text) {
        if (c < u'0' || c > u'9') return false;
        value = value * 10 + (c - u'0');
    }
    digits.assign(text);
    return value <= 1023;
}

}  // namespace

std::vector<std::u16string> SplitUnmaskingList(const std::u16string& list) {
    std::vector<std::u16string> names;
    const bool cut = list.size() > kListWindow;
    const std::u16string window = list.substr(0, kListWindow);
    size_t at = 0;
    while (at < window.size()) {
        const size_t end = std::min(window.find(u';', at), window.size());
        // A name that runs past the window is not a name.
        const bool truncated = cut && end == window.size() && list[kListWindow] != u';';
        if (end > at && !truncated) names.push_back(window.substr(at, end - at));
        at = end + 1;
    }
    return names;
}

bool IsOwnLunPath(const std::u16string& path) {
    const std::vector<std::u16string> parts = PathComponents(path);
    if (path.size() > kListWindow || parts.size() != 4 || parts[0] != u"vol" || path[0] != u'/') return false;
    constexpr std::u16string_view volume = u"ZarvoVolume", qtree = u"ZarvoQtree";
    std::u16string n1, n2;
    return parts[1].compare(0, volume.size(), volume) == 0 && parts[2].compare(0, qtree.size(), qtree) == 0 &&
           ParseNumber(std::u16string_view(parts[1]).substr(volume.size()), n1) &&
           ParseNumber(std::u16string_view(parts[2]).substr(qtree.size()), n2) && n1 == n2;
}

ZarvoLun::ZarvoLun(FilerObjectContainer* container, const GUID& id, LONG type, ULONGLONG size,
                   const std::u16string& unmaskingList)
    : m_pFOContainer(container) {
    m_properties.m_prop.id = id;
    if (type != 0) {
        m_properties.m_prop.type = static_cast<VDS_LUN_TYPE>(type);
        m_properties.m_prop.ullSize = size;
        // Shown once the appliance holds it.
        m_requestedMask = unmaskingList;
    }
    if (m_pFOContainer) m_pFOContainer->AddLunObject(id, this);
    if (trace_enabled()) trace_printf("ZarvoLun::ZarvoLun, GUID=%s", GuidToString(id).c_str());
}

ZarvoLun::~ZarvoLun() {
    const GUID id = GetId();
    if (trace_enabled()) trace_printf("ZarvoLun::~ZarvoLun, lun <%s,%s>", N(m_properties.m_strIdentification).c_str(),
                 GuidToString(id).c_str());
    m_state = LUN_STATE_NEW;
    try {
        // A plex's destructor takes itself out of this map.
        while (!m_plexMap.empty()) {
            const auto first = m_plexMap.begin();
            const GUID plexId = first->first;
            ZarvoPlex* plex = first->second;
            if (trace_enabled()) trace_printf("ZarvoLun::~ZarvoLun, deleting plex <%s,%s>", N(plex ? plex->GetName() : u"").c_str(),
                         GuidToString(plexId).c_str());
            delete plex;
            m_plexMap.erase(plexId);
        }
    } catch (...) {
        trace_printf("ZarvoLun::~ZarvoLun(plex), caught exception");
    }
    // Objects shared with other LUNs are deleted by the first LUN that goes;
    // the container drops them from the maps of the others first.
    const auto drop = [&](auto& map, auto refresh, const char* kind, const char* failure, auto describe) {
        try {
            if (!m_pFOContainer) {
                trace_printf("ZarvoLun::~ZarvoLun, pFOContainer is NULL during %s removal! ", kind);
                map.clear();
                return;
            }
            (m_pFOContainer->*refresh)(map);
            for (auto& [objectId, object] : map) {
                describe(objectId, object);
                delete object;
            }
            map.clear();
        } catch (...) {
            trace_printf("%s", failure);
        }
    };
    drop(m_volumeMap, &FilerObjectContainer::RefreshLunVolumeMap, "volume",
         "ZarvoLun::~ZarvoLun(volume), caught exception", [](const GUID& objectId, ZarvoVolume* volume) {
             if (trace_enabled()) trace_printf("ZarvoLun::~ZarvoLun, deleting volume <%s,%s>", N(volume->GetName()).c_str(),
                          GuidToString(objectId).c_str());
         });
    drop(m_qtreeMap, &FilerObjectContainer::RefreshLunQtreeMap, "qtree", "ZarvoLun::~ZarvoLun(qtree), caught exception",
         [](const GUID& objectId, ZarvoQtree* qtree) {
             if (trace_enabled()) trace_printf("ZarvoLun::~ZarvoLun, deleting qtree <%s,%s>", N(qtree->GetName()).c_str(),
                          GuidToString(objectId).c_str());
         });
    drop(m_igroupMap, &FilerObjectContainer::RefreshLunIgroupMap, "igroup",
         "ZarvoLun::~ZarvoLun(igroup), caught exception", [&](const GUID& objectId, ZarvoIgroup* group) {
             if (trace_enabled()) trace_printf("ZarvoLun::~ZarvoLun, deleting igroup %s <%s,%s>", N(group->GetName()).c_str(),
                          N(m_properties.m_strIdentification).c_str(), GuidToString(objectId).c_str());
         });
    try {
        if (m_pFOContainer) m_pFOContainer->RemoveLunObject(id);
        else trace_printf("ZarvoLun::~ZarvoLun, pFOContainer is NULL during lun removal! ");
        m_aggregateMap.clear();
    } catch (...) {
        trace_printf("ZarvoLun::~ZarvoLun, caught exception");
    }
}

HRESULT ZarvoLun::SetDefaults(const fapi_lun_info_t* record) {
    TraceScope scope("ZarvoLun::SetDefaults");
    VDS_LUN_PROP& prop = m_properties.m_prop;
    // What every reading of an appliance LUN gives: a LUN created here reads
    // the same at the next refresh.
    prop.ulFlags = 1;
    prop.type = static_cast<VDS_LUN_TYPE>(14);
    prop.status = static_cast<VDS_LUN_STATUS>(1);
    prop.health = static_cast<VDS_HEALTH>(1);
    prop.TransitionState = static_cast<VDS_TRANSITION_STATE>(1);
    prop.sRebuildPriority = 10;
    m_state = LUN_STATE_DETACHED;
    if (record) {
        prop.ullSize = static_cast<ULONGLONG>(record->size);
        GetLunName(record->path, m_properties.m_strFriendlyName);
        m_properties.m_strIdentification = record->path;
        m_name = m_properties.m_strFriendlyName;
        m_path = m_properties.m_strIdentification;
    } else {
        m_properties.m_strFriendlyName = m_name;
        m_properties.m_strIdentification = m_path;
    }
    return S_OK;
}

HRESULT ZarvoLun::IsEqual(SanHelper* other) {
    auto* lun = dynamic_cast<ZarvoLun*>(other);
    if (!lun) {
        trace_printf("Invalid IsEqual object in ZarvoLun.");
        return E_FAIL;
    }
    LunProperties a, b;
    GetProperties(a);
    lun->GetProperties(b);
    const VDS_LUN_PROP &x = a.m_prop, &y = b.m_prop;
    const bool equal = std::memcmp(&x.id, &y.id, sizeof x.id) == 0 && x.ullSize == y.ullSize &&
                       a.m_strFriendlyName == b.m_strFriendlyName &&
                       a.m_strIdentification == b.m_strIdentification &&
                       a.m_strUnmaskingList == b.m_strUnmaskingList && x.ulFlags == y.ulFlags && x.type == y.type &&
                       x.status == y.status && x.health == y.health && x.TransitionState == y.TransitionState &&
                       x.sRebuildPriority == y.sRebuildPriority;
    return equal ? 0 : 1;
}

std::u16string ZarvoLun::ListedUnmaskingList() const {
    const std::u16string& stored = m_properties.m_strUnmaskingList;
    std::u16string listed;
    for (size_t at = 0; at < stored.size();) {
        const size_t end = std::min(stored.find(u';', at), stored.size());
        if (end > at) {
            if (!listed.empty()) listed += u';';
            listed += ListedInitiator(std::u16string_view(stored).substr(at, end - at));
        }
        at = end + 1;
    }
    return listed;
}

HRESULT ZarvoLun::GetProperties(LunProperties& properties) {
    properties = m_properties;
    properties.m_strUnmaskingList = ListedUnmaskingList();
    return S_OK;
}

HRESULT ZarvoLun::GetIdentification(VDS_LUN_INFORMATION& information) {
    TraceScope scope("ZarvoLun::GetIdentification");
    try {
        information = VDS_LUN_INFORMATION{};
        information.m_version = 1;
        information.m_bCommandQueueing = 1;
        information.m_BusType = static_cast<VDS_STORAGE_BUS_TYPE>(
            m_pFOContainer->m_pSan && m_pFOContainer->m_pSan->GetProviderType() == 2 ? 6 : 1);
        information.m_szVendorId = CoTaskMemCopy("KORVEX", 7);
        information.m_szProductId = CoTaskMemCopy("LUN", 4);
        information.m_szProductRevision = CoTaskMemCopy("0.2", 4);
        information.m_szSerialNumber = CoTaskMemCopy(m_serialNumber.c_str(), m_serialNumber.size() + 1);
        information.m_deviceIdDescriptor.m_version = 16;
        information.m_deviceIdDescriptor.m_cIdentifiers = 1;
        auto* identifier = static_cast<VDS_STORAGE_IDENTIFIER*>(CoTaskMemAlloc(sizeof(VDS_STORAGE_IDENTIFIER)));
        if (identifier) {
            *identifier = VDS_STORAGE_IDENTIFIER{};
            identifier->m_CodeSet = static_cast<VDS_STORAGE_IDENTIFIER_CODE_SET>(2);
            identifier->m_Type = static_cast<VDS_STORAGE_IDENTIFIER_TYPE>(1);
            identifier->m_cbIdentifier = 32;
            auto* bytes = static_cast<BYTE*>(CoTaskMemAlloc(kIdentifierBlock));
            if (bytes) {
                std::memset(bytes, 0, kIdentifierBlock);
                std::memcpy(bytes, kIdentifierPrefix, sizeof kIdentifierPrefix - 1);
                // A longer serial number is cut so that the block keeps its zero.
                std::memcpy(bytes + sizeof kIdentifierPrefix - 1, m_serialNumber.data(),
                            std::min(m_serialNumber.size(), kMaxSerialInIdentifier));
            }
            identifier->m_rgbIdentifier = bytes;
        }
        information.m_deviceIdDescriptor.m_rgIdentifiers = identifier;
        trace_printf("ZarvoLun::GetIdentification, Lun %s SerialNumber=%s", N(m_path).c_str(),
                     m_serialNumber.c_str());
        trace_printf("ZarvoLun::GetIdentification(): returning %08lX", trace_code(S_OK));
        return S_OK;
    } catch (...) {
        trace_printf("ZarvoLun::GetIdentification(): %s", "caught exception");
        return E_FAIL;
    }
}

HRESULT ZarvoLun::GetLoadBalancePolicy(VDS_LOADBALANCE_POLICY_ENUM& policy) {
    TraceScope scope("ZarvoLun::GetLoadBalancePolicy");
    if (!IsSupportedPolicy(m_loadBalancePolicy)) {
        policy = static_cast<VDS_LOADBALANCE_POLICY_ENUM>(0);
        trace_printf("ZarvoLun::GetLoadBalancePolicy, ERROR: unknown lb policy = %d", static_cast<int>(m_loadBalancePolicy));
        return E_FAIL;
    }
    policy = static_cast<VDS_LOADBALANCE_POLICY_ENUM>(m_loadBalancePolicy);
    return S_OK;
}

HRESULT ZarvoLun::SetLoadBalancePolicy(VDS_LOADBALANCE_POLICY_ENUM policy) {
    TraceScope scope("ZarvoLun::SetLoadBalancePolicy");
    if (!IsSupportedPolicy(static_cast<LONG>(policy))) {
        trace_printf("ZarvoLun::SetLoadBalancePolicy, ERROR: unsupported lb policy = %d", static_cast<int>(policy));
        return VDS_E_NOT_SUPPORTED;
    }
    m_loadBalancePolicy = static_cast<LONG>(policy);
    return S_OK;
}

bool ZarvoLun::QueryIfMatches(const std::u16string& devicePath, const VDS_LUN_INFORMATION& information, GUID& id) {
    TraceScope scope("ZarvoLun::QueryIfMatches");
    try {
        const std::string serial = information.m_szSerialNumber ? information.m_szSerialNumber : "";
        if (serial != m_serialNumber) return false;
        trace_printf("ZarvoLun::QueryIfMatches: Device %s(GUID=%s SerialNumber=%s Path=%s) is a MATCH",
                     N(devicePath).c_str(), GuidToString(GetId()).c_str(), m_serialNumber.c_str(),
                     N(m_properties.m_strIdentification).c_str());
        id = GetId();
        return true;
    } catch (...) {
        trace_printf("ZarvoLun::QueryIfMatches(): %s", "caught exception");
        return false;
    }
}

HRESULT ZarvoLun::GetDiskSignature(GUID& signature) {
    TraceScope scope("ZarvoLun::GetDiskSignature");
    try {
        ULONG value = 0;
        const HRESULT hr = m_pFOContainer->m_filerControl.FilerGetLunSignature(m_properties.m_strIdentification, value);
        if (FAILED(hr)) {
            trace_printf("ZarvoLun::GetDiskSignature, Cannot get disk signature");
            return hr;
        }
        signature = GUID{};
        signature.Data1 = value;
        trace_printf("ZarvoLun::GetDiskSignature, lun %s signature = %s", N(m_properties.m_strIdentification).c_str(),
                     GuidToString(signature).c_str());
        return hr;
    } catch (...) {
        trace_printf("ZarvoLun::GetDiskSignature(): %s", "caught exception");
        return E_UNEXPECTED;
    }
}

HRESULT ZarvoLun::QueryMaxLunExtendSize(LONG, LONG, ULONGLONG& maxBytes) {
    TraceScope scope("ZarvoLun::QueryMaxLunExtendSize");
    const fapi_aggr_info_t& aggregate = AggregateRecord();
    const auto available = static_cast<ULONGLONG>(aggregate.size_available);
    trace_printf("Aggregate name: %s, Aggregate space %d MB", N(aggregate.name).c_str(),
                 static_cast<int>(available >> 20));
    if (aggregate.name.empty()) {
        maxBytes = 0;
        return E_FAIL;
    }
    return m_pFOContainer->GetMaxLunSizeFromAggregateSize(true, available, maxBytes);
}

HRESULT ZarvoLun::GetVolume(fapi_volume_info_t& volume) const {
    volume = m_volumeRecord;
    return S_OK;
}

HRESULT ZarvoLun::GetLun(fapi_lun_info_t& lun) const {
    lun = m_lunRecord;
    return S_OK;
}

HRESULT ZarvoLun::GetAggregate(fapi_aggr_info_t& aggregate) const {
    aggregate = AggregateRecord();
    return S_OK;
}

const fapi_aggr_info_t& ZarvoLun::AggregateRecord() const {
    static const fapi_aggr_info_t kNone;
    return m_aggregateRecord ? *m_aggregateRecord : kNone;
}

HRESULT ZarvoLun::GetAggregate(const std::u16string& name, std::vector<fapi_aggr_info_t>& aggregates,
                               std::shared_ptr<const fapi_aggr_info_t>& aggregate) {
    TraceScope scope("ZarvoLun::GetAggregate");
    // Within a reading the list is the one every LUN of it shares.
    const fapi_aggr_info_t* holder = nullptr;
    if (FAILED(m_pFOContainer->FindAggregate(name, aggregates, holder))) {
        trace_printf("ZarvoLun::GetAggregate, ERROR: Failed to discover aggregates.");
        const WCHAR* inserts[] = {m_pFOContainer->m_filerName.c_str()};
        process_event_reporter().LogEvent(0xC0000BC1, 1, inserts);
        return E_FAIL;
    }
    if (holder) aggregate = m_pFOContainer->AggregateForLun(*holder);
    return S_OK;
}

HRESULT ZarvoLun::GetVolume(const std::u16string& path, std::vector<fapi_volume_info_t>& volumes) {
    TraceScope scope("ZarvoLun::GetVolume");
    // "/vol/<volume>/...": the text between the second and the third "/".
    std::u16string name;
    const size_t first = path.find(u'/');
    const size_t second = first == std::u16string::npos ? first : path.find(u'/', first + 1);
    if (second != std::u16string::npos) name = path.substr(second + 1, path.find(u'/', second + 1) - second - 1);
    const fapi_volume_info_t* found = nullptr;
    if (FAILED(m_pFOContainer->FindVolume(name, volumes, found))) {
        const WCHAR* inserts[] = {m_pFOContainer->m_filerName.c_str()};
        process_event_reporter().LogEvent(0xC0000BC8, 1, inserts);
        return E_FAIL;
    }
    if (found) m_volumeRecord = *found;
    return S_OK;
}

HRESULT ZarvoLun::GetIgroups(const std::u16string& path, std::vector<fapi_igroup_info_t>& groups) {
    TraceScope scope("ZarvoLun::GetIgroups");
    const HRESULT hr = m_pFOContainer->m_filerControl.FilerListLunMap(path, groups);
    if (FAILED(hr)) {
        trace_printf("WARNING: Failed to discover igroups for %s", N(path).c_str());
        return E_FAIL;
    }
    trace_printf("ZarvoLun::GetIgroups, FOUND %d igroup(s) for %s", static_cast<int>(groups.size()), N(path).c_str());
    return hr;
}

HRESULT ZarvoLun::GetQtree(const std::u16string& volume, std::vector<fapi_qtree_info_t>& qtrees,
                           fapi_qtree_info_t& qtree) {
    TraceScope scope("ZarvoLun::GetQtree");
    const HRESULT hr = m_pFOContainer->m_filerControl.FilerListQtrees(volume, qtrees);
    if (FAILED(hr)) {
        trace_printf("ZarvoLun::GetQtree, volume %s does not have a Qtree", N(volume).c_str());
    } else {
        // The first named qtree, else the last one listed.
        const auto named = std::find_if(qtrees.begin(), qtrees.end(),
                                        [](const fapi_qtree_info_t& candidate) { return !candidate.qtree.empty(); });
        if (named != qtrees.end()) qtree = *named;
        else if (!qtrees.empty()) qtree = qtrees.back();
    }
    trace_printf("ZarvoLun::GetQtree, Qtree = %s", N(qtree.qtree).c_str());
    return FAILED(hr) ? E_FAIL : hr;
}

HRESULT ZarvoLun::GetLunName(const std::u16string& path, std::u16string& name) {
    const std::vector<std::u16string> parts = PathComponents(path);
    if (!parts.empty()) name = parts.back();
    trace_printf("ZarvoLun::GetLunName, lun name = %s", N(name).c_str());
    return S_OK;
}

std::u16string ZarvoLun::GetLUNNameFromPath(const std::u16string& path) {
    const std::vector<std::u16string> parts = PathComponents(path);
    std::u16string name = parts.empty() ? std::u16string() : parts.back();
    trace_printf("ZarvoLun::GetLUNNameFromPath, lun name = %s", N(name).c_str());
    return name;
}

HRESULT ZarvoLun::SetOwner(const std::u16string& path) {
    m_owner = IsOwnLunPath(path) ? 1 : 0;
    return S_OK;
}

// The maps. Inserting an id that is present keeps the first object.
namespace {
template <typename Map, typename T>
HRESULT InsertObject(Map& map, const GUID& id, T* object, const char* name) {
    TraceScope scope(name);
    try {
        map.emplace(id, object);
        return S_OK;
    } catch (...) {
        trace_printf("%s(): %s", name, "caught exception");
        return E_UNEXPECTED;
    }
}
}  // namespace

HRESULT ZarvoLun::AddPlexObject(const GUID& id, ZarvoPlex* plex) {
    return InsertObject(m_plexMap, id, plex, "ZarvoLun::AddPlexObject");
}
HRESULT ZarvoLun::AddAggrObject(const GUID& id, ZarvoAggregate* aggregate) {
    return InsertObject(m_aggregateMap, id, aggregate, "ZarvoLun::AddAggrObject");
}
HRESULT ZarvoLun::AddVolObject(const GUID& id, ZarvoVolume* volume) {
    return InsertObject(m_volumeMap, id, volume, "ZarvoLun::AddVolObject");
}
HRESULT ZarvoLun::AddQtreeObject(const GUID& id, ZarvoQtree* qtree) {
    return InsertObject(m_qtreeMap, id, qtree, "ZarvoLun::AddQtreeObject");
}
HRESULT ZarvoLun::AddIgroupObject(const GUID& id, ZarvoIgroup* igroup) {
    return InsertObject(m_igroupMap, id, igroup, "ZarvoLun::AddIgroupObject");
}

HRESULT ZarvoLun::RemovePlexObject(const GUID& id) {
    TraceScope scope("ZarvoLun::RemovePlexObject");
    if (m_plexMap.erase(id) == 0) {
        trace_printf("ZarvoLun::RemovePlexObject(): %s", "VDS_E_OBJECT_NOT_FOUND");
        return VDS_E_OBJECT_NOT_FOUND;
    }
    return S_OK;
}

HRESULT ZarvoLun::QueryPlexes(std::vector<GUID>& plexIds) {
    TraceScope scope("ZarvoLun::QueryPlexes");
    plexIds.clear();
    for (const auto& entry : m_plexMap) plexIds.push_back(entry.first);
    return S_OK;
}

bool ZarvoLun::isBusy() {
    TraceScope scope("ZarvoLun::isBusy");
    return (m_state != LUN_STATE_DETACHED && m_state != LUN_STATE_ATTACHED) || m_changeQueued;
}

std::u16string MaskOfGroups(const std::vector<fapi_igroup_info_t>& groups) {
    // The first group's first initiator starts the list; every other name
    // follows a ";" (so a first group without initiators leaves the list
    // starting with ";").
    std::u16string list;
    for (size_t g = 0; g < groups.size(); ++g) {
        for (size_t i = 0; i < groups[g].initiators.size(); ++i) {
            if (g != 0 || i != 0) list += u";";
            list += groups[g].initiators[i];
        }
    }
    return list;
}

void ZarvoLun::HoldGroups(std::vector<fapi_igroup_info_t> groups) {
    m_igroupRecords = std::move(groups);
    m_properties.m_strUnmaskingList = MaskOfGroups(m_igroupRecords);
    m_state = m_igroupRecords.empty() ? LUN_STATE_DETACHED : LUN_STATE_ATTACHED;
    trace_printf("ZarvoLun::HoldGroups, pwszUnmaskingList = %s", N(m_properties.m_strUnmaskingList).c_str());
}
