// The LUN state machine: the front calls that queue work and the work itself.
#include <model/lun.h>

#include <model/async.h>
#include <model/filer_object_container.h>
#include <model/zarvo_san.h>

#include <hostlib/conversions.h>
#include <hostlib/trace.h>

#include <string>

namespace {

std::string N(const std::u16string& text) { return WStringToString(text); }

struct TypeRule {
    LONG type;
    ULONG flag;
    const char* refusal;
};
// The LUN types a creation may ask for and the subsystem flag each needs.
constexpr TypeRule kTypeRules[] = {
    {1, 0, nullptr},
    {2, 0x200, "VDS_LT_FAULT_TOLERANT not supported"},
    {3, 0x400, "VDS_LT_NON_FAULT_TOLERANT not supported"},
    {10, 0x800, "VDS_LT_SIMPLE not supported"},
    {11, 0x1000, "VDS_LT_SPAN not supported"},
    {12, 0x2000, "VDS_LT_STRIPE not supported"},
    {13, 0x4000, "VDS_LT_MIRROR not supported"},
    {14, 0x8000, "VDS_LT_PARITY not supported"},
};

// Null when the subsystem's flags allow the type, else the refusal text.
const char* TypeRefusal(LONG type, ULONG flags) {
    for (const TypeRule& rule : kTypeRules)
        if (rule.type == type) return (flags & rule.flag) == rule.flag ? nullptr : rule.refusal;
    return "unknown lun type";
}

// Traces the result of a front call under its name on every return.
struct Returning {
    const char* name;
    HRESULT& hr;
    ~Returning() { trace_printf("%s(): returning %08lX", name, trace_code(hr)); }
};

}  // namespace

HRESULT ZarvoLun::QueueLunWork(int32_t type, Async* async) {
    ZarvoSan* san = m_pFOContainer->m_pSan;
    if (!san) return E_UNEXPECTED;  // a container not yet given to a subsystem runs no work
    return san->QueueWork(type, san->GetDelay(), this, async, GetId());
}

HRESULT ZarvoLun::Create(const std::u16string& unmaskingList, Async* async) {
    TraceScope scope("ZarvoLun::Create");
    HRESULT hr = S_OK;
    Returning returning{"ZarvoLun::Create", hr};
    trace_printf("ZarvoLun::Create, GUID=%s", GuidToString(GetId()).c_str());
    trace_printf("ZarvoLun::Create, pwszUnmaskingList = %s", N(unmaskingList).c_str());
    const LONG requestedType = static_cast<LONG>(m_properties.m_prop.type);
    if (FAILED(hr = SetDefaults(nullptr))) return hr;
    SubSystemProperties subsystem;
    if (FAILED(hr = m_pFOContainer->GetProperties(subsystem))) return hr;
    if (const char* refusal = TypeRefusal(requestedType, subsystem.m_prop.ulFlags)) {
        trace_printf("ZarvoLun::Create(): %s", refusal);
        return hr = VDS_E_NOT_SUPPORTED;
    }
    if (FAILED(hr = CheckUnmaskingList(unmaskingList))) return hr;
    // The list shows once the appliance holds it.
    m_requestedMask = unmaskingList;
    if (!SplitUnmaskingList(unmaskingList).empty()) {
        m_state = LUN_STATE_ATTACH_QUEUED;
        return hr = QueueLunWork(LUN_CREATE_ATTACH_STORAGE, async);
    }
    if (async) {
        hr = QueueLunWork(LUN_CREATE, async);
        m_changeQueued = SUCCEEDED(hr);
    }
    return hr;
}

HRESULT ZarvoLun::Delete(Async* async) {
    TraceScope scope("ZarvoLun::Delete");
    HRESULT hr = S_OK;
    Returning returning{"ZarvoLun::Delete", hr};
    if (isBusy()) {
        trace_printf("ZarvoLun::Delete, m_state=%x VDS_E_ANOTHER_CALL_IN_PROGRESS!", static_cast<unsigned>(m_state));
        return hr = VDS_E_ANOTHER_CALL_IN_PROGRESS;
    }
    if (m_state == LUN_STATE_DETACHED) {
        m_state = LUN_STATE_DELETED;
        return hr = QueueLunWork(LUN_DELETE_DETACHED, async);
    }
    m_state = LUN_STATE_DELETE_ATTACHED_QUEUED;
    return hr = QueueLunWork(LUN_DELETE_ATTACHED, async);
}

HRESULT ZarvoLun::SetUnmask(const std::u16string& unmaskingList, Async* async) {
    TraceScope scope("ZarvoLun::SetUnmask");
    HRESULT hr = S_OK;
    Returning returning{"ZarvoLun::SetUnmask", hr};
    trace_printf("ZarvoLun::SetUnmask, GUID=%s", GuidToString(GetId()).c_str());
    trace_printf("ZarvoLun::SetUnmask, pwszUnmaskingList = %s", N(unmaskingList).c_str());
    if (isBusy()) return hr = VDS_E_ANOTHER_CALL_IN_PROGRESS;
    if (FAILED(hr = CheckUnmaskingList(unmaskingList))) return hr;
    // The LUN's own list changes only with what the appliance holds after the work.
    m_requestedMask = unmaskingList;
    const bool hasInitiators = !SplitUnmaskingList(unmaskingList).empty();
    if (hasInitiators) {
        // Mapped already or not, the maps become exactly the new list.
        m_state = LUN_STATE_ATTACH_QUEUED;
        return hr = QueueLunWork(LUN_ATTACH_STORAGE, async);
    }
    if (m_state == LUN_STATE_ATTACHED) {
        m_state = LUN_STATE_DETACH_QUEUED;
        return hr = QueueLunWork(LUN_DETACH_STORAGE, async);
    }
    // Nothing changes on the appliance; the completion object still completes.
    if (async) hr = QueueLunWork(DELAY, async);
    return hr;
}

HRESULT ZarvoLun::SetSize(ULONGLONG newSize, Async* async) {
    TraceScope scope("ZarvoLun::SetSize");
    HRESULT hr = S_OK;
    Returning returning{"ZarvoLun::SetSize", hr};
    trace_printf("ZarvoLun::SetSize, GUID=%s", GuidToString(GetId()).c_str());
    // A LUN without a plex is still being created.
    if (isBusy() || m_plexMap.empty()) return hr = VDS_E_ANOTHER_CALL_IN_PROGRESS;
    const ULONGLONG current = m_properties.m_prop.ullSize;
    if (newSize > current && m_pFOContainer->m_freespace / m_plexMap.size() < newSize - current)
        return hr = VDS_E_NOT_ENOUGH_SPACE;
    m_properties.m_prop.TransitionState = static_cast<VDS_TRANSITION_STATE>(newSize > current ? 2 : 3);
    m_requestedSize = newSize;
    // A second resize before this one ran would start from the size this one changes.
    m_changeQueued = SUCCEEDED(hr = QueueLunWork(LUN_EXTEND, async));
    return hr;
}

HRESULT ZarvoLun::RunWork(int32_t type, int32_t value, Async* async) {
    auto* zarvoAsync = dynamic_cast<ZarvoAsync*>(async);
    if (zarvoAsync) zarvoAsync->StartAutoPercentage(static_cast<DWORD>(value));
    const std::string name = std::string(ClassName()) + "::DoWork";
    const std::string prefix = name + "()::";
    const auto step = [&](const char* name, HRESULT result) {
        trace_printf("%s%s%lx", prefix.c_str(), name, trace_code(result));
    };
    SubSystemProperties subsystem;
    HRESULT hr = m_pFOContainer->GetProperties(subsystem);
    switch (type) {
    case LUN_ATTACH_STORAGE:
    case LUN_DETACH_STORAGE: {
        const std::vector<fapi_igroup_info_t> before = m_igroupRecords;
        // Either leaves the LUN in the state its maps on the appliance give it.
        hr = type == LUN_ATTACH_STORAGE ? LunAttach() : LunDetach();
        step(type == LUN_ATTACH_STORAGE ? "LUN_ATTACH_STORAGE hr=" : "LUN_DETACH_STORAGE hr=", hr);
        RescanHost(before, m_igroupRecords, type == LUN_ATTACH_STORAGE ? 3 : 8);
        break;
    }
    case LUN_DELETE_ATTACHED:
    case LUN_DELETE_DETACHED: {
        // The deletion may destroy this object: keep what is needed after it.
        FilerObjectContainer* container = m_pFOContainer;
        const GUID id = GetId();
        const std::u16string path = m_properties.m_strIdentification;
        const std::vector<fapi_igroup_info_t> held = m_igroupRecords;
        bool offlined = false;
        if (type == LUN_DELETE_ATTACHED) {
            std::vector<fapi_lun_info_t> luns;
            if (FAILED(m_pFOContainer->m_filerControl.FilerListLuns(path, luns))) {
                trace_printf("%s::DoWork,  lun %s does not exist....continue", ClassName(), N(path).c_str());
                hr = S_OK;
            } else if (luns.empty()) {
                trace_printf("%s::DoWork,  lun %s deleted....continue", ClassName(), N(path).c_str());
            } else if (luns.front().online) {
                hr = m_pFOContainer->OfflineLun(path);
                offlined = SUCCEEDED(hr);
                trace_printf("%s::DoWork, filer offlined lun %s", ClassName(), N(path).c_str());
                // A refused offline changed nothing the host could wait for.
                if (offlined) RescanHost(held, {}, 8);
            } else {
                trace_printf("%s::DoWork, lun %s already offline...continue", ClassName(), N(path).c_str());
            }
            step("LUN_DELETE_ATTACHED hr=", hr);
            if (SUCCEEDED(hr)) m_state = LUN_STATE_DELETED;
        }
        // The deletion's own result reaches the caller.
        if (SUCCEEDED(hr)) {
            hr = LunDelete();
            step("LUN_DELETE_DETACHED hr=", hr);
        }
        ZarvoLun* stays = nullptr;
        if (SUCCEEDED(container->GetLun(id, stays)) && stays) {
            // A deletion that failed announces no departure and leaves the LUN
            // as it was: back in its state, and online when this work took it
            // offline, with the host seeing it again.
            stays->HoldGroups(held);
            if (offlined) {
                if (FAILED(container->m_filerControl.FilerOnlineLun(path)))
                    trace_printf("%s::DoWork, lun %s stays offline", stays->ClassName(), N(path).c_str());
                else
                    stays->RescanHost({}, held, 8);
            }
            if (zarvoAsync) zarvoAsync->SetNotifications(nullptr);
        }
        break;
    }
    case DELAY: trace_printf("%sDELAY", prefix.c_str()); break;
    case LUN_CREATE_ATTACH_STORAGE:
    case LUN_CREATE: {
        m_changeQueued = false;
        NotificationSet* notifications = zarvoAsync ? zarvoAsync->GetNotifications() : nullptr;
        hr = Initialize(static_cast<LONG>(m_properties.m_prop.type), m_properties.m_prop.ullSize, notifications);
        if (FAILED(hr)) {
            // The LUN does not exist: its arrival is not announced.
            if (zarvoAsync) zarvoAsync->SetNotifications(nullptr);
        } else if (type == LUN_CREATE_ATTACH_STORAGE) {
            hr = LunAttach();
            RescanHost({}, m_igroupRecords, 3);
        }
        step(type == LUN_CREATE ? "LUN_CREATE hr =" : "LUN_CREATE_ATTACH_STORAGE hr=", hr);
        break;
    }
    case LUN_EXTEND: {
        m_changeQueued = false;
        const ULONGLONG before = m_properties.m_prop.ullSize;
        hr = Resize(m_requestedSize);
        step("LUN_EXTEND hr =", hr);
        // Done or refused, the LUN is no longer changing size.
        m_properties.m_prop.TransitionState = static_cast<VDS_TRANSITION_STATE>(1);
        // A resize the appliance refused changed nothing to announce.
        if (m_properties.m_prop.ullSize == before && FAILED(hr) && zarvoAsync) zarvoAsync->SetNotifications(nullptr);
        break;
    }
    default: break;
    }
    if (zarvoAsync) {
        zarvoAsync->SetResult(hr);
        zarvoAsync->WakeUp();
    }
    if (async) async->Release();
    // The LUN may be gone by now (`destroyed`): nothing of it is touched here.
    trace_printf("%s(): returning %08lX", name.c_str(), trace_code(hr));
    return hr;
}
