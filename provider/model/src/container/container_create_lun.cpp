// LUN numbers, the recognition of the provider's own LUNs, and the creation
// of a LUN object with its queued creation work.
#include <model/filer_object_container.h>

#include <model/async.h>
#include <model/controller_port.h>
#include <model/drive.h>
#include <model/iscsi_target.h>
#include <model/lun.h>
#include <model/lun_fcp.h>
#include <model/lun_iscsi.h>
#include <model/zarvo_san.h>

#include <hostlib/conversions.h>
#include <hostlib/trace.h>

#include <cwctype>
#include <new>

namespace {

constexpr LONG kLunNumbers = 1024;
constexpr std::u16string_view kVolume = u"ZarvoVolume";
constexpr std::u16string_view kQtree = u"ZarvoQtree";

std::string N(const std::u16string& text) { return WStringToString(text); }

bool LooksOwn(const std::u16string& path) {
    return path.find(kVolume) != std::u16string::npos || path.find(kQtree) != std::u16string::npos;
}

// atoi of the text: blanks, one sign, decimal digits up to the first other character.
long long ParseLeadingInteger(std::u16string_view text) {
    size_t at = 0;
    while (at < text.size() && (text[at] == u' ' || (text[at] >= u'\t' && text[at] <= u'\r'))) ++at;
    bool negative = false;
    if (at < text.size() && (text[at] == u'+' || text[at] == u'-')) negative = text[at++] == u'-';
    long long value = 0;
    for (; at < text.size() && text[at] >= u'0' && text[at] <= u'9' && value < (1LL << 40); ++at)
        value = value * 10 + (text[at] - u'0');
    return negative ? -value : value;
}

// The number of an own-looking path; false when the path names neither prefix.
bool NumberFromPath(const std::u16string& path, long long& number) {
    const size_t volume = path.find(kVolume);
    const size_t qtree = path.find(kQtree);
    size_t start = 0, end = 0;
    if (volume != std::u16string::npos) {
        start = volume + kVolume.size();
        end = path.find(qtree != std::u16string::npos ? u"/ZarvoQtree" : u"/", start);
    } else if (qtree != std::u16string::npos) {
        start = qtree + kQtree.size();
        end = path.find(u'/', start);
    } else {
        return false;
    }
    // Without its end marker the number runs to the end of the path.
    number = ParseLeadingInteger(std::u16string_view(path).substr(start, end == std::u16string::npos ? end : end - start));
    return true;
}

std::u16string Numbered(std::u16string_view prefix, LONG number) {
    return std::u16string(prefix) + StringToWString(std::to_string(number));
}

}  // namespace

HRESULT FilerObjectContainer::InitializeLunNumbers() {
    try {
        for (LONG n = 0; n < kLunNumbers; ++n) m_lunNumberMap.emplace(n, 0);
        return S_OK;
    } catch (...) {
        trace_printf("FilerObjectContainer::InitializeLunNumbers(): %s", "caught exception");
        return E_UNEXPECTED;
    }
}

HRESULT FilerObjectContainer::RefreshLunNumbers() {
    std::vector<fapi_lun_info_t> luns;
    if (FAILED(m_filerControl.FilerListLuns(u"", luns)) || luns.empty()) {
        trace_printf("FilerObjectContainer::RefreshLunNumbers(): %s", "no luns!!!");
        return S_OK;
    }
    HRESULT hr = InitializeLunNumbers();
    if (FAILED(hr)) {
        trace_printf("FilerObjectContainer::RefreshLunNumbers(): %s", "failed to refresh lun numbers");
        return hr;
    }
    // The listing is the truth: own LUNs on the appliance, plus the creations
    // of this container that have not reached the appliance yet.
    for (auto& entry : m_lunNumberMap) entry.second = 0;
    for (const auto& [id, lun] : m_lunMap)
        if (lun && IsOwnLunPath(lun->GetPath())) m_lunNumberMap[lun->GetLunNumber()] = 1;
    for (const auto& record : luns) {
        long long number = 0;
        if (!LooksOwn(record.path) || !NumberFromPath(record.path, number)) continue;
        if (number < 0 || number >= kLunNumbers) {
            trace_printf("FilerObjectContainer::RefreshLunNumbers(): lun %s has no lun number", N(record.path).c_str());
            continue;
        }
        m_lunNumberMap[static_cast<LONG>(number)] = 1;
    }
    return S_OK;
}

HRESULT FilerObjectContainer::GetLunNumber(LONG& lunNumber) {
    for (const auto& [number, used] : m_lunNumberMap) {
        if (used == 0) {
            lunNumber = number;
            return S_OK;
        }
    }
    return E_FAIL;
}

HRESULT FilerObjectContainer::SetLunNumber(LONG lunNumber, LONG inUse) {
    const auto found = m_lunNumberMap.find(lunNumber);
    if (found == m_lunNumberMap.end()) {
        trace_printf("FilerObjectContainer::SetLunNumber(): %s", "ERROR: cannot set lun number");
        return E_FAIL;
    }
    found->second = inUse;
    return S_OK;
}

HRESULT FilerObjectContainer::GetLunNumberFromPath(const std::u16string& path, ULONG& lunNumber) {
    long long number = 0;
    if (!NumberFromPath(path, number)) {
        trace_printf("FilerObjectContainer::GetLunNumberFromPath, should not be here");
        lunNumber = 0;
        return E_FAIL;
    }
    lunNumber = static_cast<ULONG>(number);
    return S_OK;
}

HRESULT FilerObjectContainer::QueryIfCreatedLun(const std::u16string& devicePath,
                                                const VDS_LUN_INFORMATION& information, GUID& lunId) {
    try {
        for (const auto& [id, lun] : m_lunMap) {
            if (lun && lun->QueryIfMatches(devicePath, information, lunId)) {
                trace_printf("FilerObjectContainer::::QueryIfCreatedLun, Lun Matches returning GUID %s",
                             GuidToString(lunId).c_str());
                return S_OK;
            }
        }
        return S_FALSE;
    } catch (...) {
        trace_printf("FilerObjectContainer::QueryIfCreatedLun(): %s", "caught exception");
        return E_UNEXPECTED;
    }
}

HRESULT FilerObjectContainer::CreateLun(VDS_LUN_TYPE type, ULONGLONG sizeInBytes, const std::vector<GUID>& driveIds,
                                        const std::u16string& unmaskingList, const VDS_HINTS*, ZarvoAsync** async) {
    *async = nullptr;
    // A list the LUN could never be mapped to is refused before anything is made.
    if (m_pSan && m_pSan->GetProviderType() == 2)
        if (const HRESULT hr = ZarvoLunFCP::CheckPortNames(unmaskingList); FAILED(hr)) return hr;
    for (const GUID& driveId : driveIds) {
        ZarvoDrive* drive = nullptr;
        const HRESULT hr = GetDrive(driveId, drive);
        if (FAILED(hr)) return hr;
    }
    NotificationSet* notifications = nullptr;
    ZarvoLun* lun = nullptr;
    ZarvoAsync* completion = nullptr;
    LONG number = -1;
    const auto fail = [&](const char* text, HRESULT hr) {
        if (text) trace_printf("FilerObjectContainer::CreateLun(): %s", text);
        delete notifications;
        delete lun;
        if (completion) completion->Release();
        // The number was reserved for this creation only.
        if (number >= 0) SetLunNumber(number, 0);
        return hr;
    };
    try {
        notifications = m_pSan->NewNotificationSet();
        HRESULT hr = RefreshLunNumbers();
        if (FAILED(hr)) return fail("cannot refresh lun numbers", hr);
        if (FAILED(hr = GetLunNumber(number))) {
            number = -1;
            return fail("cannot get a lun number", hr);
        }
        // Reserved now, so that a second creation before this one runs picks another.
        SetLunNumber(number, 1);

        const std::u16string volume = Numbered(kVolume, number);
        const std::u16string qtree = Numbered(kQtree, number);
        const std::u16string path = u"/vol/" + volume + u"/" + qtree + u"/" + Numbered(u"ZarvoLun", number);
        trace_printf("FilerObjectContainer::CreateLun, Lun Path = %s", N(path).c_str());
        m_pSan->RemoveGuidByKey(NarrowFromWide(volume));
        m_pSan->RemoveGuidByKey(NarrowFromWide(qtree));
        GUID lunId{};
        m_pSan->CheckCreateGuid(NarrowFromWide(path), lunId);
        trace_printf("FilerObjectContainer::CreateLun, GUID=%s", GuidToString(lunId).c_str());

        const LONG lunType = static_cast<LONG>(type);
        switch (m_pSan->GetProviderType()) {
        case 2: {
            lun = new (std::nothrow) ZarvoLunFCP(this, m_lunPortAssoc, lunId, lunType, sizeInBytes, unmaskingList);
            if (!lun) return fail(nullptr, E_OUTOFMEMORY);
            for (const auto& [portId, port] : m_portsMap) {
                VDS_PORT_PROP properties{};
                if (FAILED(hr = port->GetProperties(properties))) return fail(nullptr, hr);
                if (properties.status == 1 && FAILED(AssociateLunToPort(lunId, portId)))
                    trace_printf("FilerObjectContainer::CreateLun(): %s", "ERROR: cannot associate lun to port....continue");
            }
            break;
        }
        case 3: {
            // The LUN is reached through the appliance's one target; without it there is no LUN.
            if (m_targetMap.empty()) return fail("no iSCSI target", E_FAIL);
            const GUID targetId = m_targetMap.begin()->first;
            lun = new (std::nothrow) ZarvoLunIscsi(this, targetId, lunId, lunType, sizeInBytes, unmaskingList);
            if (!lun) return fail(nullptr, E_OUTOFMEMORY);
            AssociateLunToTarget(lunId, targetId);
            break;
        }
        default: return fail("ERROR: Provider type not supported.", E_FAIL);
        }
        if (notifications) notifications->Add(lun->GetArriveType(), lunId);
        lun->SetLunNumber(number);
        lun->SetNameAndPath(path);
        completion = new (std::nothrow) ZarvoAsync();
        if (!completion) return fail(nullptr, E_OUTOFMEMORY);
        completion->SetId(lunId);
        completion->SetNotifications(notifications);
        notifications = nullptr;
        if (FAILED(hr = lun->Create(unmaskingList, completion))) return fail(nullptr, hr);
        *async = completion;
        return hr;
    } catch (...) {
        return fail("caught exception", E_FAIL);
    }
}

namespace {
template <typename Map, typename Known>
HRESULT DropUnknown(Map& map, const Known& known, const char* name) {
    try {
        for (auto it = map.begin(); it != map.end();) {
            // Only the very object the container holds: one deleted with another
            // LUN may have been built again under its id.
            const auto held = known.find(it->first);
            if (held != known.end() && held->second == it->second) {
                ++it;
                continue;
            }
            trace_printf("%s(): %s", name, "VDS_E_OBJECT_NOT_FOUND");
            it = map.erase(it);
        }
        return S_OK;
    } catch (...) {
        trace_printf("%s(): %s", name, "caught exception");
        return E_UNEXPECTED;
    }
}
}  // namespace

HRESULT FilerObjectContainer::RefreshLunVolumeMap(ObjectMap<ZarvoVolume>& volumes) {
    return DropUnknown(volumes, m_volumeMap, "FilerObjectContainer::RefreshLunVolumeMap");
}

HRESULT FilerObjectContainer::RefreshLunQtreeMap(ObjectMap<ZarvoQtree>& qtrees) {
    return DropUnknown(qtrees, m_qtreeMap, "FilerObjectContainer::RefreshLunQtreeMap");
}

HRESULT FilerObjectContainer::RefreshLunIgroupMap(ObjectMap<ZarvoIgroup>& igroups) {
    return DropUnknown(igroups, m_igroupMap, "FilerObjectContainer::RefreshLunIgroupMap");
}
