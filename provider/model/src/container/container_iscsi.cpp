// The container's iSCSI operations: portals, portal groups and the target, the
// portal moves and the portal-group creation that VDS runs asynchronously.
#include <model/filer_object_container.h>

#include <model/async.h>
#include <model/iscsi_portal.h>
#include <model/iscsi_portal_group.h>
#include <model/iscsi_target.h>
#include <model/zarvo_san.h>

#include <hostlib/conversions.h>
#include <hostlib/trace.h>
#include <platform/comalloc.h>
#include <platform/text.h>

#include <cstring>
#include <new>

namespace {

bool IsNilId(const GUID& id) { return IsEqualGUID(id, GUID_NULL); }

// A new completion object for one queued item: out receives it when the work
// was queued; otherwise it is released and out stays null.
HRESULT QueueCompletion(ZarvoSan* san, LONG workType, ZarvoWork* work, const GUID* itemId, const GUID& asyncId,
                        ZarvoAsync** out) {
    auto* async = new (std::nothrow) ZarvoAsync();
    if (!async) return E_OUTOFMEMORY;
    async->SetId(asyncId);
    const HRESULT hr = itemId ? san->QueueWork(workType, san->GetDelay(), work, async, *itemId)
                              : san->QueueWork(workType, san->GetDelay(), work, async);
    if (FAILED(hr)) {
        async->Release();
        return hr;
    }
    if (out) *out = async;
    else async->Release();
    return S_OK;
}

template <typename T>
T* Find(const ObjectMap<T>& map, const GUID& id) {
    const auto found = map.find(id);
    return found == map.end() ? nullptr : found->second;
}

// The iSCSI maps replace: an object already under the id is deleted.
template <typename T>
HRESULT ReplacingAdd(ObjectMap<T>& map, const GUID& id, T* object, const char* qualifiedName) {
    try {
        auto [entry, inserted] = map.try_emplace(id, object);
        if (!inserted && entry->second != object) {
            delete entry->second;
            entry->second = object;
        }
        return S_OK;
    } catch (...) {
        trace_printf("%s(): %s", qualifiedName, "caught exception");
        return E_UNEXPECTED;
    }
}

// iSCSI objects do not remove themselves from their map: delete, then forget.
template <typename T>
HRESULT DeleteAll(ObjectMap<T>& map, const char* qualifiedName) {
    try {
        for (auto& [id, object] : map) delete object;
        map.clear();
        return S_OK;
    } catch (...) {
        trace_printf("%s, caught exception", qualifiedName);
        return E_UNEXPECTED;
    }
}

}  // namespace

HRESULT FilerObjectContainer::AddPortalObject(const GUID& id, ZarvoIscsiPortal* portal) {
    trace_assert(portal != nullptr, "pPortal", __FILE__, __LINE__);
    const HRESULT hr = ReplacingAdd(m_portalMap, id, portal, "FilerObjectContainer::AddPortalObject");
    trace_printf("FilerObjectContainer::AddPortalObject(): returning %08lX", trace_code(hr));
    return hr;
}

HRESULT FilerObjectContainer::AddTargetObject(const GUID& id, ZarvoIscsiTarget* target) {
    trace_printf("Added new target. Total # of Targets %d", static_cast<int>(m_targetMap.size()));
    const HRESULT hr = ReplacingAdd(m_targetMap, id, target, "FilerObjectContainer::AddTargetObject");
    trace_printf("Added new target. Total # of Targets %d", static_cast<int>(m_targetMap.size()));
    trace_printf("FilerObjectContainer::AddTargetObject(): returning %08lX", trace_code(hr));
    return hr;
}

HRESULT FilerObjectContainer::AddPortalGroupObject(const GUID& id, ZarvoIscsiPortalGroup* portalGroup) {
    const HRESULT hr = ReplacingAdd(m_portalGroupMap, id, portalGroup, "FilerObjectContainer::AddPortalGroupObject");
    trace_printf("FilerObjectContainer::AddPortalGroupObject(): returning %08lX", trace_code(hr));
    return hr;
}

HRESULT FilerObjectContainer::ClearTargetMap() { return DeleteAll(m_targetMap, "FilerObjectContainer::ClearTargetMap"); }
HRESULT FilerObjectContainer::ClearPortalGroupMap() {
    return DeleteAll(m_portalGroupMap, "FilerObjectContainer::ClearPortalGroupMap");
}
HRESULT FilerObjectContainer::ClearPortalMap() { return DeleteAll(m_portalMap, "FilerObjectContainer::ClearPortalMap"); }

// One request per target: its node name as the appliance gives it now.
HRESULT FilerObjectContainer::DumpTargetMap() {
    for (const auto& [id, target] : m_targetMap) {
        std::u16string name;
        if (FAILED(target->GetTargetName(name))) name.clear();
        trace_printf("TargetMap <%s>  %s", platform::wide_to_utf8_lossy(name).c_str(), GuidToString(id).c_str());
    }
    return S_OK;
}

HRESULT FilerObjectContainer::FindTarget(const GUID& targetId, VDS_ISCSI_TARGET_PROP& properties) {
    ZarvoIscsiTarget* target = Find(m_targetMap, targetId);
    return target ? target->GetProperties(properties) : VDS_E_OBJECT_NOT_FOUND;
}

HRESULT FilerObjectContainer::GetTargetPropertiesRecord(const GUID& targetId, IscsiTargetProperties& properties) {
    ZarvoIscsiTarget* target = Find(m_targetMap, targetId);
    return target ? target->GetPropertiesRecord(properties) : VDS_E_OBJECT_NOT_FOUND;
}

HRESULT FilerObjectContainer::GetPortalProperties(const GUID& portalId, VDS_ISCSI_PORTAL_PROP& properties) {
    ZarvoIscsiPortal* portal = nullptr;
    const HRESULT hr = GetPortal(portalId, portal);
    if (FAILED(hr)) return hr;
    return portal->GetProperties(properties);
}

HRESULT FilerObjectContainer::QueryAssociatedPortalGroups(const GUID& portalId, std::vector<GUID>& portalGroupIds) {
    try {
        ZarvoIscsiPortal* portal = nullptr;
        const HRESULT hr = GetPortal(portalId, portal);
        if (FAILED(hr)) return hr;
        portalGroupIds.assign(1, portal->m_portalGroupId);
        return S_OK;
    } catch (...) {
        return E_FAIL;
    }
}

HRESULT FilerObjectContainer::GetPortalIpsecSecurity(const GUID& portalId, ULONGLONG, ULONGLONG) {
    ZarvoIscsiPortal* portal = nullptr;
    const HRESULT hr = GetPortal(portalId, portal);
    return FAILED(hr) ? hr : VDS_E_NOT_SUPPORTED;
}

HRESULT FilerObjectContainer::GetPortalGroupProperties(const GUID& portalGroupId,
                                                       VDS_ISCSI_PORTALGROUP_PROP& properties) {
    ZarvoIscsiPortalGroup* group = nullptr;
    const HRESULT hr = GetPortalGroup(portalGroupId, group);
    if (FAILED(hr)) return hr;
    properties.id = group->GetId();
    properties.tag = static_cast<USHORT>(group->GetTag());
    return S_OK;
}

HRESULT FilerObjectContainer::QueryAssociatedPortals(const GUID& portalGroupId, std::vector<GUID>& portalIds) {
    try {
        portalIds.clear();
        ZarvoIscsiPortalGroup* group = nullptr;
        const HRESULT hr = GetPortalGroup(portalGroupId, group);
        if (FAILED(hr)) return hr;
        group->QueryPortals(portalIds);
        return S_OK;
    } catch (...) {
        trace_printf("FilerObjectContainer::QueryAssociatedPortals(): caught exception");
        return E_UNEXPECTED;
    }
}

HRESULT FilerObjectContainer::GetAssociatedTargets(const GUID& portalGroupId, GUID& targetId) {
    try {
        ZarvoIscsiPortalGroup* group = nullptr;
        const HRESULT hr = GetPortalGroup(portalGroupId, group);
        if (FAILED(hr)) return hr;
        targetId = group->m_pTarget ? group->m_pTarget->GetId() : GUID_NULL;
        return S_OK;
    } catch (...) {
        trace_printf("FilerObjectContainer::GetAssociatedTargets(): caught exception");
        return E_UNEXPECTED;
    }
}

HRESULT FilerObjectContainer::QueryPortalGroups(const GUID& targetId, std::vector<GUID>& portalGroupIds) {
    try {
        ZarvoIscsiTarget* target = Find(m_targetMap, targetId);
        if (!target) return VDS_E_OBJECT_NOT_FOUND;
        target->QueryPortalGroups(portalGroupIds);
        return S_OK;
    } catch (...) {
        return E_FAIL;
    }
}

HRESULT FilerObjectContainer::AddPortal(const GUID& portalId, const GUID& portalGroupId, ZarvoAsync** async) {
    constexpr const char* kTrace = "FilerObjectContainer::AddPortal(): %s";
    if (IsNilId(portalId)) {
        trace_printf(kTrace, "ERROR: Portal GUID is NULL");
        return VDS_E_OBJECT_NOT_FOUND;
    }
    ZarvoIscsiPortal* portal = Find(m_portalMap, portalId);
    if (!portal) {
        trace_printf(kTrace, "ERROR: Portal GUID passed in has no correspondng object");
        return VDS_E_OBJECT_NOT_FOUND;
    }
    if (async) *async = nullptr;
    bool move = true;
    if (IsEqualGUID(portal->m_portalGroupId, portalGroupId)) {
        trace_printf(kTrace, "Currently configured to the sanme TPGroup");
        move = false;
    } else if (ZarvoIscsiPortalGroup* current = nullptr; FAILED(GetPortalGroup(portal->m_portalGroupId, current))) {
        trace_printf(kTrace, "Not associated with any TPGroup");
    }
    ZarvoIscsiPortalGroup* group = Find(m_portalGroupMap, portalGroupId);
    if (!group) {
        trace_printf(kTrace, "TPGroup GUID Map has no object entry for this GUID");
        return VDS_E_OBJECT_NOT_FOUND;
    }
    if (move) {
        trace_printf(kTrace, "Adding portal to the TPGroup");
        const HRESULT hr = group->AddPortal(portalId);
        if (FAILED(hr)) return hr;
    }
    const HRESULT hr = QueueCompletion(m_pSan, PORTALGROUP_ADD_PORTAL, group, &portalId, portalId, async);
    if (FAILED(hr)) return hr;
    trace_printf("FilerObjectContainer::AddPortal(): returning %08lX", trace_code(S_OK));
    return S_OK;
}

HRESULT FilerObjectContainer::RemovePortal(const GUID& portalId, const GUID& portalGroupId, ZarvoAsync** async) {
    if (IsNilId(portalId)) return E_INVALIDARG;
    if (async) *async = nullptr;
    ZarvoIscsiPortalGroup* group = Find(m_portalGroupMap, portalGroupId);
    if (!group) return VDS_E_OBJECT_NOT_FOUND;
    const HRESULT hr = group->RemovePortal(portalId);
    if (FAILED(hr)) return hr;
    return QueueCompletion(m_pSan, PORTALGROUP_REMOVE_PORTAL, group, &portalId, portalId, async);
}

HRESULT FilerObjectContainer::CreatePortalGroup(const GUID& targetId, ZarvoAsync** async) {
    try {
        if (async) *async = nullptr;
        ZarvoIscsiTarget* target = Find(m_targetMap, targetId);
        if (!target) return VDS_E_OBJECT_NOT_FOUND;
        return QueueCompletion(m_pSan, TARGET_CREATE_PORTALGROUP, target, nullptr, GUID_NULL, async);
    } catch (...) {
        return E_FAIL;
    }
}

HRESULT FilerObjectContainer::SetTargetName(const GUID& targetId, const std::u16string& alias) {
    ZarvoIscsiTarget* target = Find(m_targetMap, targetId);
    if (!target) return VDS_E_OBJECT_NOT_FOUND;
    return target->SetAliasName(alias.c_str());
}

HRESULT FilerObjectContainer::SetTargetSharedSecret(const GUID& targetId, const VDS_ISCSI_SHARED_SECRET* secret,
                                                    const std::u16string& initiatorName) {
    ZarvoIscsiTarget* target = Find(m_targetMap, targetId);
    if (!target) return VDS_E_OBJECT_NOT_FOUND;
    return target->SetSharedSecret(initiatorName.empty() ? nullptr : initiatorName.c_str(), secret);
}

HRESULT FilerObjectContainer::SetInitiatorSharedSecret(const GUID& targetId, const VDS_ISCSI_SHARED_SECRET* secret,
                                                       const std::u16string& initiatorName) {
    ZarvoIscsiTarget* target = Find(m_targetMap, targetId);
    if (!target) return VDS_E_OBJECT_NOT_FOUND;
    return target->SetInitiatorSharedSecret(initiatorName.c_str(), secret);
}

HRESULT FilerObjectContainer::GetConnectedInitiators(const GUID& targetId, WCHAR*** names, LONG* count) {
    ZarvoIscsiTarget* target = Find(m_targetMap, targetId);
    if (!target) return VDS_E_OBJECT_NOT_FOUND;
    std::vector<std::u16string> initiators;
    target->QueryCurrentInitiators(initiators);  // its own result is not passed on
    if (count) *count = 0;
    if (initiators.empty()) return S_OK;
    auto** array = static_cast<WCHAR**>(CoTaskMemAlloc(initiators.size() * sizeof(WCHAR*)));
    size_t copied = 0;
    for (; array && copied < initiators.size(); ++copied) {
        const size_t bytes = (initiators[copied].size() + 1) * sizeof(WCHAR);
        array[copied] = static_cast<WCHAR*>(CoTaskMemAlloc(bytes));
        if (!array[copied]) break;
        std::memcpy(array[copied], initiators[copied].c_str(), bytes);
    }
    if (!array || copied < initiators.size()) {
        // Out of memory: nothing is handed out, and what was copied is freed.
        for (size_t i = 0; array && i < copied; ++i) CoTaskMemFree(array[i]);
        CoTaskMemFree(array);
        return E_OUTOFMEMORY;
    }
    if (count) *count = static_cast<LONG>(initiators.size());
    if (names) {
        *names = array;
    } else {
        for (size_t i = 0; i < copied; ++i) CoTaskMemFree(array[i]);
        CoTaskMemFree(array);
    }
    return S_OK;
}
