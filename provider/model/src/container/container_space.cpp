// Space: the usable size of an aggregate, the choice of the aggregate for a
// new LUN, and the extents that lay each LUN plex out on the drives.
#include <model/filer_object_container.h>

#include <model/async.h>
#include <model/drive.h>
#include <model/lun.h>
#include <model/zarvo_san.h>

#include <hostlib/conversions.h>
#include <hostlib/trace.h>

#include <new>
#include <unordered_map>

namespace {

constexpr ULONGLONG kSmallOverhead = 0x100000;
constexpr ULONGLONG kNewLunOverhead = 0x1A0800;
constexpr ULONGLONG kMinimumLun = 0x3200000;  // 50 MiB
constexpr int32_t kAggrTypeTrad = 3;
constexpr int32_t kAggrStateOnline = 3;
constexpr int32_t kAggrStatePartial = 4;

struct OverheadRow {
    ULONG limitGiB;
    ULONGLONG factor;
};
// The appliance's overhead per aggregate size class.
constexpr OverheadRow kOverheadRows[] = {{40, 63}, {80, 126}, {256, 315}};

std::string N(const std::u16string& text) { return WStringToString(text); }

ULONGLONG Overhead(ULONG mib) {
    if (mib < 100) return kSmallOverhead;
    ULONGLONG factor = 315;
    for (const OverheadRow& row : kOverheadRows) {
        if (static_cast<ULONGLONG>(row.limitGiB) * 1024 > mib) {
            factor = row.factor;
            break;
        }
    }
    return factor * 130560 + 32256;
}

}  // namespace

HRESULT FilerObjectContainer::GetMaxLunSizeFromAggregateSize(bool isExtent, ULONGLONG aggregateBytes,
                                                             ULONGLONG& usableBytes) {
    const auto mib = static_cast<ULONG>(aggregateBytes >> 20);
    trace_printf("Aggregate space %d mb  ", static_cast<int>(mib));
    ULONGLONG overhead = Overhead(mib);
    if (!isExtent) overhead += kNewLunOverhead;
    trace_printf(" lun over head %d mb ", static_cast<int>(overhead >> 20));
    const ULONGLONG rest = aggregateBytes > overhead ? aggregateBytes - overhead : 0;
    trace_printf("isWindows %d, isExtent %d ", mib >= 100 ? 1 : 0, isExtent ? 1 : 0);
    usableBytes = static_cast<ULONGLONG>(static_cast<double>(rest) * 0.998);
    if (usableBytes < kMinimumLun) usableBytes = 0;
    trace_printf("Aggregate space after lun over head %d mb ", static_cast<int>(usableBytes >> 20));
    trace_printf("FilerObjectContainer::GetMaxLunSizeFromAggregateSize(): returning %08lX", trace_code(S_OK));
    return S_OK;
}

HRESULT FilerObjectContainer::GetMaxFreeSpaceInAggregate(ULONGLONG& bytes, std::u16string& aggregateName,
                                                         std::vector<fapi_aggr_info_t>& aggregates,
                                                         fapi_aggr_info_t& chosen) {
    bytes = 0;
    std::u16string root;
    HRESULT hr = m_filerControl.FilerGetRootAggregate(root);
    if (FAILED(hr)) {
        trace_printf("FilerObjectContainer::GetMaxFreeSpaceInAggregate, ERROR: cannot get root aggregate");
        return hr;
    }
    trace_printf("FilerObjectContainer::GetMaxFreeSpaceInAggregate, Root Aggregate = %s", N(root).c_str());
    if (FAILED(hr = m_filerControl.FilerListAggregates(aggregates))) {
        trace_printf("FilerObjectContainer::GetMaxFreeSpaceInAggregate, ERROR: Failed to discover aggregates.");
        return hr;
    }
    for (const auto& aggregate : aggregates) {
        const bool eligible = aggregate.name != root && aggregate.type != kAggrTypeTrad &&
                              (aggregate.state == kAggrStateOnline || aggregate.state == kAggrStatePartial);
        if (!eligible) {
            trace_printf("FilerObjectContainer::GetMaxFreeSpaceInAggregate, Invalid aggregate %s type %d state %d",
                         N(aggregate.name).c_str(), aggregate.type, aggregate.state);
            continue;
        }
        const auto available = static_cast<ULONGLONG>(aggregate.size_available);
        if (available > bytes) {
            bytes = available;
            aggregateName = aggregate.name;
            chosen = aggregate;
            trace_printf("FilerObjectContainer::GetMaxFreeSpaceInAggregate,  FOUND Aggregate %s type %d state %d "
                         "Available %d GB ",
                         N(aggregate.name).c_str(), aggregate.type, aggregate.state, static_cast<int>(bytes >> 30));
        } else {
            trace_printf("FilerObjectContainer::GetMaxFreeSpaceInAggregate, Not enough space for aggregate %s",
                         N(aggregate.name).c_str());
        }
    }
    trace_printf("FilerObjectContainer::GetMaxFreeSpaceInAggregate(): returning %08lX", trace_code(S_OK));
    return S_OK;
}

HRESULT FilerObjectContainer::AllocateSpaceinAggregate(ULONGLONG bytesNeeded,
                                                       std::vector<fapi_aggr_info_t>& aggregates,
                                                       fapi_aggr_info_t& chosen) {
    ULONGLONG available = 0;
    std::u16string name;
    const HRESULT hr = GetMaxFreeSpaceInAggregate(available, name, aggregates, chosen);
    if (FAILED(hr)) return hr;
    if (available < bytesNeeded) {
        trace_printf("FilerObjectContainer::AllocateSpaceinAggregate: Insuffient free space");
        return VDS_E_NOT_ENOUGH_SPACE;
    }
    trace_printf("FilerObjectContainer::AllocateSpaceinAggregate: space required %llu, space available %llu , "
                 "aggregate %s ",
                 static_cast<unsigned long long>(bytesNeeded), static_cast<unsigned long long>(available),
                 N(name).c_str());
    return S_OK;
}

HRESULT FilerObjectContainer::QueryMaxLunCreateSize(VDS_LUN_TYPE type, const GUID*, LONG, const VDS_HINTS*,
                                                    ULONGLONG& maxBytes) {
    ULONGLONG available = 0;
    std::u16string name;
    std::vector<fapi_aggr_info_t> aggregates;
    fapi_aggr_info_t chosen;
    // An appliance that cannot be asked is that failure, not a subsystem without space.
    if (const HRESULT hr = GetMaxFreeSpaceInAggregate(available, name, aggregates, chosen); FAILED(hr)) return hr;
    ULONGLONG usable = 0;
    GetMaxLunSizeFromAggregateSize(false, available, usable);
    if (static_cast<LONG>(type) == 13) usable >>= 1;  // a mirror needs its size twice
    trace_printf("Total space  available for Creating Lun is %d", static_cast<int>(usable >> 30));
    maxBytes = usable;
    return S_OK;
}

HRESULT FilerObjectContainer::QueryMaxLunExtendSize(const GUID& lunId, const GUID*, LONG, ULONGLONG& maxBytes) {
    ZarvoLun* lun = nullptr;
    HRESULT hr = GetLun(lunId, lun);
    if (FAILED(hr)) return hr;
    // A LUN being created or changed has no settled size to grow from.
    if (lun->isBusy() || lun->PlexCount() == 0) return VDS_E_ANOTHER_CALL_IN_PROGRESS;
    ULONGLONG extent = 0;
    if (FAILED(hr = lun->QueryMaxLunExtendSize(0, 0, extent))) return hr;
    std::vector<GUID> plexes;
    hr = lun->QueryPlexes(plexes);
    maxBytes = extent == 0 || plexes.empty() ? 0 : extent / plexes.size();
    return hr;
}

HRESULT FilerObjectContainer::ExtendLun(const GUID& lunId, ULONGLONG bytesToAdd, ZarvoAsync** async) {
    *async = nullptr;
    ULONGLONG maxGrowth = 0;
    HRESULT hr = QueryMaxLunExtendSize(lunId, nullptr, 0, maxGrowth);
    trace_printf("FilerObjectContainer::ExtendLun, max extend size %llu MB",
                 static_cast<unsigned long long>(maxGrowth >> 20));
    if (FAILED(hr)) return hr;
    if (maxGrowth < bytesToAdd) return VDS_E_NOT_ENOUGH_SPACE;
    ZarvoLun* lun = nullptr;
    if (FAILED(hr = GetLun(lunId, lun))) return hr;
    LunProperties properties;
    lun->GetProperties(properties);
    if (properties.m_prop.ullSize > ~ULONGLONG{0} - bytesToAdd) return E_INVALIDARG;
    return SetSize(lunId, properties.m_prop.ullSize + bytesToAdd, async);
}

HRESULT FilerObjectContainer::SetSize(const GUID& lunId, ULONGLONG newSizeInBytes, ZarvoAsync** async) {
    trace_printf("ZarvoSan::SetSize, IN GUID=%s", GuidToString(lunId).c_str());
    *async = nullptr;
    ZarvoLun* lun = nullptr;
    HRESULT hr = GetLun(lunId, lun);
    if (FAILED(hr)) return hr;
    NotificationSet* notifications = m_pSan ? m_pSan->NewNotificationSet() : nullptr;
    if (notifications) notifications->Add(lun->GetModifyType(), lunId);
    auto* completion = new (std::nothrow) ZarvoAsync();
    if (!completion) {
        delete notifications;
        return E_OUTOFMEMORY;
    }
    completion->SetNotifications(notifications);
    completion->SetId(lunId);
    if (FAILED(hr = lun->SetSize(newSizeInBytes, completion))) {
        completion->Release();
        return hr;
    }
    *async = completion;
    return hr;
}

// Within a reading every LUN lays out its extents on the same drives: the
// index is the reading's, made once.
const FilerObjectContainer::DriveIndex& FilerObjectContainer::DrivesByName(DriveIndex& storage) const {
    DriveIndex& index = m_pReading ? m_pReading->drives : storage;
    if (m_pReading && m_pReading->indexedDrives == m_driveMap.size() && !index.empty()) return index;
    index.clear();
    for (const auto& [id, drive] : m_driveMap) index.emplace(drive->m_properties.GetName(), std::pair{id, drive});
    if (m_pReading) m_pReading->indexedDrives = m_driveMap.size();
    return index;
}

bool FilerObjectContainer::AllocateExtents(const GUID& lunId, const GUID& plexId, ULONGLONG bytes,
                                           NotificationSet* notifications) {
    try {
        if (m_freespace < bytes) {
            trace_printf("FilerObjectContainer::AllocateExtents, ERROR: m_freespace(0x%llx) < size(0x%llx)",
                         static_cast<unsigned long long>(m_freespace), static_cast<unsigned long long>(bytes));
            return false;
        }
        ZarvoLun* lun = nullptr;
        if (FAILED(GetLun(lunId, lun))) {
            trace_printf("ZarvoSan::AllocateExtents, ERROR: Cannot get a lun object from GUID %s",
                         GuidToString(lunId).c_str());
            return false;
        }
        const fapi_aggr_info_t& aggregate = lun->AggregateRecord();
        if (aggregate.plexes.empty()) {
            trace_printf("FilerObjectContainer::AllocateExtents(): %s", "aggregate does not any plexes?!");
            return false;
        }
        DriveIndex storage;
        const DriveIndex& drives = DrivesByName(storage);
        for (const auto& plex : aggregate.plexes) {
            for (const auto& group : plex.raid_groups) {
                if (group.disks.empty()) continue;
                LONG data = 0;
                GetDataDiskCount(group, drives, data);
                trace_printf("FilerObjectContainer::AllocateExtents, Data disk  %d, total disk %d ",
                             static_cast<int>(data), static_cast<int>(group.disks.size()));
                if (data <= 0) continue;
                const ULONGLONG share = (bytes + data - 1) / static_cast<ULONGLONG>(data);
                for (const auto& disk : group.disks) {
                    trace_printf("FilerObjectContainer::AllocateExtents, Size required %f , or %lld  bytes ",
                                 static_cast<double>(bytes) / (1ULL << 30), static_cast<long long>(bytes));
                    const auto found = drives.find(disk.name);
                    if (found == drives.end()) continue;
                    ZarvoDrive* drive = found->second.second;
                    if (drive->m_ullFreeSpace <= share) {
                        trace_printf("FilerObjectContainer::AllocateExtents,Not enough spac available in Disk  Space "
                                     "required %f GB, Available %f GB ",
                                     static_cast<double>(bytes) / (1ULL << 30),
                                     static_cast<double>(drive->m_ullFreeSpace) / (1ULL << 30));
                        continue;
                    }
                    if (share == 0) continue;
                    m_extents.push_back(ExtentRecord{found->second.first, plexId, lunId, share});
                    trace_printf("FilerObjectContainer::AllocateExtents, EXTENTS SAVEDm, Total size %llu, Disksin "
                                 "Agg %d , size %llu ",
                                 static_cast<unsigned long long>(drive->m_ullFreeSpace), static_cast<int>(data),
                                 static_cast<unsigned long long>(share));
                    drive->m_ullFreeSpace -= share;
                    if (notifications) notifications->Add(drive->GetModifyType(), found->second.first);
                }
            }
        }
        return true;
    } catch (...) {
        trace_printf("FilerObjectContainer::AllocateExtents, ERROR: caught exception");
        return false;
    }
}

HRESULT FilerObjectContainer::FreeExtents(const GUID& plexId, NotificationSet* notifications) {
    try {
        for (auto it = m_extents.begin(); it != m_extents.end();) {
            if (std::memcmp(&it->plexId, &plexId, sizeof plexId) != 0) {
                ++it;
                continue;
            }
            ZarvoDrive* drive = nullptr;
            if (SUCCEEDED(GetDrive(it->driveId, drive)) && drive) {
                drive->m_ullFreeSpace += it->size;
                if (notifications) notifications->Add(drive->GetModifyType(), it->driveId);
            }
            m_freespace += it->size;
            it = m_extents.erase(it);
        }
        return S_OK;
    } catch (const std::exception&) {
        trace_printf("FilerObjectContainer::FreeExtents(): %s", "caught exception");
        return E_UNEXPECTED;
    }
}

HRESULT FilerObjectContainer::ChangeExtentOwner(const GUID& plexId, const GUID& newPlexId, const GUID& newLunId) {
    try {
        for (auto& extent : m_extents) {
            if (std::memcmp(&extent.plexId, &plexId, sizeof plexId) != 0) continue;
            extent.plexId = newPlexId;
            extent.lunId = newLunId;
        }
        return S_OK;
    } catch (const std::exception&) {
        trace_printf("FilerObjectContainer::ChangeExtentOwner(): %s", "caught exception");
        return E_UNEXPECTED;
    }
}
