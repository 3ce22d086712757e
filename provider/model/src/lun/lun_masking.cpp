#include "lun_masking.h"

#include <model/igroup.h>

#include <hostlib/conversions.h>
#include <hostlib/trace.h>
#include <hostlib/utilities.h>

#include <algorithm>

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

    if (!group) {
        igroup->Create(groupName, type);
        catalog.groups.push_back(record);
        group = &catalog.groups.back();
    }
    if (!member) {
        igroup->AddInitiator(groupName, initiator);
        group->initiators.push_back(initiator);
    }

    const std::u16string& path = lun.GetIdentificationText();
    if (FAILED(filer.FilerAssignLun(path, groupName))) {
        if (strict) trace_printf("%s::LunAttach, WARN: lun mapping failed", className);
        else trace_printf("%s::LunAttach, lun %s mapped to %s", className, N(path).c_str(), N(groupName).c_str());
    } else {
        trace_printf("%s::LunAttach, lun %s mapped to %s", className, N(path).c_str(), N(groupName).c_str());
    }
    outcome.hr = S_OK;
    return outcome;
}

HRESULT UnmapAll(FilerObjectContainer& container, const std::u16string& path, bool strict) {
    CFilerControl& filer = container.m_filerControl;
    std::vector<fapi_igroup_info_t> groups;
    HRESULT hr = filer.FilerListLunMap(path, groups);
    if (FAILED(hr)) return strict ? hr : S_OK;
    for (const auto& group : groups) {
        hr = filer.FilerUnassignLun(path, group.name);
        if (strict && FAILED(hr)) return hr;
    }
    return S_OK;
}

}  // namespace lun_masking
