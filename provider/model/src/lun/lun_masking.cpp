#include "lun_masking.h"

#include <model/igroup.h>

#include <hostlib/conversions.h>
#include <hostlib/trace.h>
#include <hostlib/utilities.h>

#include <algorithm>
#include <set>

#include "lun_objects.h"

namespace lun_masking {

namespace {
constexpr int32_t kWindowsOsType = 4;
std::string N(const std::u16string& text) { return WStringToString(text); }
}  // namespace

fapi_igroup_info_t* IgroupCatalog::Find(const std::u16string& name) {
    const auto found =
        std::find_if(groups.begin(), groups.end(), [&](const fapi_igroup_info_t& group) { return group.name == name; });
    return found == groups.end() ? nullptr : &*found;
}

EntryOutcome MapToInitiator(ZarvoLun& lun, FilerObjectContainer& container, IgroupCatalog& catalog,
                            const std::u16string& initiator, int32_t type, bool strict, const char* className) {
    EntryOutcome outcome;
    CFilerControl& filer = container.m_filerControl;
    const std::u16string groupName = MakeIgroupName(initiator);
    trace_printf("%s::LunAttach, vds_igroup_name = %s", className, N(groupName).c_str());

    fapi_igroup_info_t* group = catalog.Find(groupName);
    bool member = group && std::find(group->initiators.begin(), group->initiators.end(), initiator) !=
                               group->initiators.end();
    // An empty group of the wrong kind is ours to replace; one with initiators is someone's.
    if (group && (group->type != type || group->os_type != kWindowsOsType) && group->initiators.empty()) {
        const HRESULT destroyed = filer.FilerDeleteIgroup(groupName);
        if (strict) outcome.hr = destroyed;
        if (strict && FAILED(destroyed)) return outcome;
        catalog.groups.erase(catalog.groups.begin() + (group - catalog.groups.data()));
        group = nullptr;
        member = false;
    }

    fapi_igroup_info_t record;
    record.name = groupName;
    record.type = type;
    record.os_type = kWindowsOsType;
    ZarvoIgroup* igroup = nullptr;
    bool built = false;
    const HRESULT registered =
        lun_objects::ReuseOrBuild(&container, &lun, groupName, group ? *group : record, igroup, &built);
    if (!igroup) {
        trace_printf("%s::LunAttach(): %s", className, "ERROR: cannot create a new igroup object");
        outcome.hr = E_OUTOFMEMORY;
        outcome.outOfMemory = true;
        return outcome;
    }
    if (strict) {
        outcome.hr = built ? S_OK : registered;
        if (FAILED(outcome.hr)) return outcome;
    }

    // A step the appliance refused leaves the initiator without the LUN: the
    // entry answers that failure, and the map is still tried.
    HRESULT failure = S_OK;
    const auto keep = [&](HRESULT hr) {
        if (FAILED(hr) && SUCCEEDED(failure)) failure = hr;
    };
    if (!group) {
        const HRESULT created = igroup->Create(groupName, type);
        keep(created);
        if (SUCCEEDED(created)) {
            catalog.groups.push_back(record);
            group = &catalog.groups.back();
        }
    }
    if (!member) {
        const HRESULT added = igroup->AddInitiator(groupName, initiator);
        keep(added);
        if (SUCCEEDED(added) && group) group->initiators.push_back(initiator);
    }

    const std::u16string& path = lun.GetIdentificationText();
    const HRESULT mapped = filer.FilerAssignLun(path, groupName);
    keep(mapped);
    if (FAILED(mapped)) {
        trace_printf("%s::LunAttach, WARN: lun mapping failed", className);
    } else {
        trace_printf("%s::LunAttach, lun %s mapped to %s", className, N(path).c_str(), N(groupName).c_str());
        outcome.mapped = group ? *group : record;
        if (!group) outcome.mapped->initiators.push_back(initiator);
    }
    outcome.hr = failure;
    return outcome;
}

namespace {

// One spelling per initiator: port names compare without their colons, and
// names of either kind without regard to case.
std::u16string Key(const std::u16string& name, int32_t type) {
    std::u16string key;
    for (char16_t c : name) {
        if (type == 0 && c == u':') continue;
        key += (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c - u'A' + u'a') : c;
    }
    return key;
}

}  // namespace

HRESULT ApplyMask(ZarvoLun& lun, FilerObjectContainer& container, const std::vector<std::u16string>& initiators,
                  int32_t type, bool strict, const char* className, std::vector<fapi_igroup_info_t>& held) {
    std::set<std::u16string> wanted;
    for (const auto& initiator : initiators) wanted.insert(Key(initiator, type));
    std::vector<fapi_igroup_info_t> now, leftover;
    std::set<std::u16string> covered;
    for (const auto& group : held) {
        const bool onlyListed =
            !group.initiators.empty() && std::all_of(group.initiators.begin(), group.initiators.end(),
                                                     [&](const std::u16string& i) { return wanted.count(Key(i, type)); });
        (onlyListed ? now : leftover).push_back(group);
        if (onlyListed)
            for (const auto& i : group.initiators) covered.insert(Key(i, type));
    }

    HRESULT hr = S_OK;
    IgroupCatalog catalog;
    bool listed = false;
    for (const auto& initiator : initiators) {
        if (covered.count(Key(initiator, type))) continue;
        if (!listed) {
            listed = true;
            if (FAILED(container.m_filerControl.FilerListIgroups(catalog.groups))) {
                trace_printf("%s::LunAttach, WARN: no igroups", className);
                catalog.groups.clear();
            }
        }
        EntryOutcome outcome = MapToInitiator(lun, container, catalog, initiator, type, strict, className);
        if (outcome.outOfMemory) return E_OUTOFMEMORY;
        if (SUCCEEDED(hr)) hr = outcome.hr;
        if (!outcome.mapped) continue;
        for (const auto& i : outcome.mapped->initiators) covered.insert(Key(i, type));
        const auto same = [&](const fapi_igroup_info_t& g) { return g.name == outcome.mapped->name; };
        if (std::none_of(now.begin(), now.end(), same)) now.push_back(std::move(*outcome.mapped));
    }
    // Unmapped only now, and only when the new list is mapped: a change that
    // failed never leaves the hosts that had the LUN without it.
    if (FAILED(hr)) {
        now.insert(now.end(), leftover.begin(), leftover.end());
        leftover.clear();
    }
    for (const auto& group : leftover) {
        const HRESULT unmapped = container.m_filerControl.FilerUnassignLun(lun.GetIdentificationText(), group.name);
        if (FAILED(unmapped)) {
            now.push_back(group);
            if (SUCCEEDED(hr)) hr = unmapped;
        }
    }
    held = std::move(now);
    return hr;
}

HRESULT UnmapAll(FilerObjectContainer& container, const std::u16string& path, bool strict,
                 std::vector<fapi_igroup_info_t>& held) {
    CFilerControl& filer = container.m_filerControl;
    std::vector<fapi_igroup_info_t> groups;
    HRESULT hr = filer.FilerListLunMap(path, groups);
    // iSCSI: an unmapped LUN lists no groups, which reads as a failed listing.
    if (FAILED(hr)) return strict ? hr : S_OK;
    std::vector<fapi_igroup_info_t> still;
    HRESULT failure = S_OK;
    for (size_t g = 0; g < groups.size(); ++g) {
        hr = filer.FilerUnassignLun(path, groups[g].name);
        if (SUCCEEDED(hr)) continue;
        if (SUCCEEDED(failure)) failure = hr;
        if (strict) {
            still.insert(still.end(), groups.begin() + static_cast<std::ptrdiff_t>(g), groups.end());
            break;
        }
        still.push_back(groups[g]);
    }
    held = std::move(still);
    // A group that stays mapped is a detach not done, for either protocol.
    return failure;
}

}  // namespace lun_masking

HRESULT ZarvoLun::DetachRequested(bool strict) {
    const std::string name = std::string(ClassName()) + "::LunDetach";
    TraceScope scope(name.c_str());
    trace_printf("%s, pwszUnmaskingList  = %s", name.c_str(), lun_masking::N(m_requestedMask.substr(0, 255)).c_str());
    HRESULT hr = S_OK;
    std::vector<fapi_igroup_info_t> held = m_igroupRecords;
    if (m_requestedMask.empty())
        hr = lun_masking::UnmapAll(*m_pFOContainer, m_properties.m_strIdentification, strict, held);
    HoldGroups(std::move(held));
    trace_printf("%s(): returning %08lX", name.c_str(), trace_code(hr));
    return hr;
}
