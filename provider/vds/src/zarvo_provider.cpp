#include <vds/zarvo_provider.h>

#include <algorithm>
#include <exception>

#include <hostlib/autolock.h>
#include <hostlib/com_error.h>
#include <hostlib/conversions.h>
#include <hostlib/event_log.h>
#include <hostlib/trace.h>
#include <hostlib/utilities.h>
#include <model/extent_record.h>
#include <platform/apartment.h>
#include <platform/clock.h>
#include <platform/comalloc.h>
#include <platform/errorinfo.h>
#include <platform/handle.h>
#include <platform/memory.h>
#include <platform/probe.h>
#include <platform/thread.h>
#include <vds/com_method.h>
#include <vds/provider_host.h>
#include <vds/provider_ids.h>
#include <vds/vds_objects.h>
#include <vds/wrapper_base.h>
#include <vds/zarvo_enum.h>
#include <vds/zarvo_notifier.h>

namespace {

constexpr DWORD EVENT_ADVISE_SINK_QUERY_FAILED = 0xC0000BC9;
constexpr int kStopPolls = 300;
constexpr DWORD kStopPollMilliseconds = 100;

// A running San keeps the login it was made with; matching on the login too
// makes a corrected login or password reach the appliance at the next pass.
bool SameLogon(const CFilerRecord& running, const CFilerRecord& stored) {
    return running.SameFiler(stored) && running.GetUserName() == stored.GetUserName() &&
           running.GetPassword() == stored.GetPassword();
}

std::string Narrow(const std::u16string& text) { return WStringToString(text); }

// Why an appliance got no subsystem, naming it: the message of the failure
// with the appliance as its insert (the event the subsystem reported says the same).
platform::com_unique_ptr<IErrorInfo> DescribeFailure(const CFilerRecord& record, HRESULT hr) {
    const std::u16string name = record.GetDisplayName();
    WCHAR* text = nullptr;
    const auto inserts = platform::make_message_args(name.c_str());
    get_message_text(hr, &text, &inserts);
    std::u16string description = text ? text : u"";
    LocalFree(text);
    if (description.find(name) == std::u16string::npos) description = u"\"" + name + u"\": " + description;
    ICreateErrorInfo* creator = nullptr;
    if (FAILED(CreateErrorInfo(&creator)) || !creator) return nullptr;
    platform::com_unique_ptr<ICreateErrorInfo> owned(creator);
    creator->SetDescription(const_cast<LPOLESTR>(description.c_str()));
    creator->SetHelpContext(static_cast<DWORD>(hr));
    IErrorInfo* info = nullptr;
    creator->QueryInterface(IID_PPV_ARGS(&info));
    return platform::com_unique_ptr<IErrorInfo>(info);
}

}  // namespace

CZarvoProvider::CZarvoProvider() : m_factory(GetSubsystemFactory()) { InitializeCriticalSection(&m_cs); }

CZarvoProvider::~CZarvoProvider() {
    Shutdown();
    DeleteCriticalSection(&m_cs);
}

void CZarvoProvider::Shutdown() {
    if (m_bShutDown) return;
    m_bShutDown = true;
    TraceScope scope("CZarvoProvider::~CZarvoProvider");
    try {
        SetAllSANInactive();
        JoinProviderThread();
        DeleteAllSans();
        if (m_pNotifier) m_pNotifier->Release();
        m_pNotifier = nullptr;
    } catch (...) {
        trace_unexpected_exception("CZarvoProvider::~CZarvoProvider");
    }
}

void CZarvoProvider::JoinProviderThread() {
    // The stop event is set: the thread ends after its pass, and no pass may
    // run on a provider that is being destroyed.
    if (m_providerThread.m_hThread.valid()) WaitForSingleObject(m_providerThread.m_hThread.get(), INFINITE);
}

// ---- IVdsProvider --------------------------------------------------------------

STDMETHODIMP CZarvoProvider::GetProperties(VDS_PROVIDER_PROP* pProviderProp) {
    static constexpr const char* kName = "CZarvoProvider::GetProperties";
    return RunComMethod(kName, [&]() -> HRESULT {
        trace_printf("%s, Provider Type = %d ", kName, HwType());
        if (IsBadWritePtr(pProviderProp, sizeof(*pProviderProp))) {
            TraceBadArgument(kName, "bad pProviderProp");
            return E_POINTER;
        }
        *pProviderProp = VDS_PROVIDER_PROP{};
        WCHAR* name = CoTaskMemStrDup(WszProviderName());
        WCHAR* version = CoTaskMemStrDup(kZarvoProviderVersion);
        if (!name || !version) {
            CoTaskMemFree(name);
            CoTaskMemFree(version);
            return E_OUTOFMEMORY;
        }
        pProviderProp->id = ProviderId();
        pProviderProp->pwszName = name;
        pProviderProp->guidVersionId = VersionId();
        pProviderProp->pwszVersion = version;
        pProviderProp->type = VDS_PT_HARDWARE;
        return S_OK;
    });
}

// ---- IVdsHwProvider ------------------------------------------------------------

STDMETHODIMP CZarvoProvider::QuerySubSystems(IEnumVdsObject** ppEnum) {
    static constexpr const char* kName = "CZarvoProvider::QuerySubSystems";
    return RunComMethod(kName, [&]() -> HRESULT {
        trace_printf("%s, Provider Type = %d ", kName, HwType());
        if (IsBadWritePtr(ppEnum, sizeof(*ppEnum))) {
            TraceBadArgument(kName, "bad ppEnum");
            return E_POINTER;
        }
        *ppEnum = nullptr;
        CZarvoEnum* enumerator = NewComObject<CZarvoEnum>();
        if (!enumerator) return E_OUTOFMEMORY;
        size_t count = 0;
        try {
            HRESULT hr = enumerator->Initialize(this, VDS_OT_SUB_SYSTEM);
            // The ids are copied under the provider lock and appended after it:
            // an enumerator's lock comes before the provider lock.
            std::vector<GUID> ids;
            {
                AutoLock lock(&m_cs);
                for (const auto& entry : m_subsystemMap) ids.push_back(entry.first);
            }
            count = ids.size();
            if (SUCCEEDED(hr)) hr = enumerator->AppendObjects(ids);
            if (FAILED(hr)) {
                enumerator->Release();
                return hr;
            }
        } catch (const std::exception&) {
            enumerator->Release();
            return E_UNEXPECTED;
        }
        trace_printf("CZarvoProvider::QuerySubSystems, OUT *ppEnum = %p", static_cast<void*>(enumerator));
        *ppEnum = enumerator;
        trace_printf("CZarvoProvider::QuerySubSystems, # of Filers found = %d", static_cast<int>(count));
        return S_OK;
    });
}

STDMETHODIMP CZarvoProvider::Reenumerate() {
    static constexpr const char* kName = "CZarvoProvider::Reenumerate";
    return RunComMethod(kName, [&]() -> HRESULT {
        trace_printf("%s, Provider Type = %d ", kName, HwType());
        return RefreshSubsystemsList();
    });
}

STDMETHODIMP CZarvoProvider::Refresh() {
    static constexpr const char* kName = "CZarvoProvider::Refresh";
    return RunComMethod(kName, [&]() -> HRESULT {
        trace_printf("%s, Provider Type = %d ", kName, HwType());
        HRESULT hr = S_OK;
        try {
            AutoLock lock(&m_cs);
            for (San* san : m_sans) {
                if (!san->IsActive()) {
                    trace_printf("CZarvoProvider::Refresh(): SKIP Refresh Subsystem");
                    continue;
                }
                hr = san->RefreshSubSystem();
                if (FAILED(hr)) break;
            }
        } catch (const std::exception&) {
            trace_printf("CZarvoProvider::Refresh(): error  = %08lX ", trace_code(E_FAIL));
            return E_FAIL;
        } catch (...) {
            return E_FAIL;
        }
        return hr;
    });
}

// ---- IVdsProviderPrivate -------------------------------------------------------

STDMETHODIMP CZarvoProvider::GetObject(VDS_OBJECT_ID ObjectId, VDS_OBJECT_TYPE type, IUnknown** ppObjectUnk) {
    static constexpr const char* kName = "CZarvoProvider::GetObject";
    return RunComMethod(kName, [&]() -> HRESULT {
        trace_printf("CZarvoProvider::GetObject, GUID = %s Provider Type = %d ", GuidToString(ObjectId).c_str(),
                     HwType());
        if (IsBadWritePtr(ppObjectUnk, sizeof(*ppObjectUnk))) {
            TraceBadArgument(kName, "bad ppObject");
            return E_POINTER;
        }
        *ppObjectUnk = nullptr;
        if (type < VDS_OT_SUB_SYSTEM || type > VDS_OT_PORTAL_GROUP) {
            TraceBadArgument(kName, "bad type");
            return E_INVALIDARG;
        }
        try {
            AutoLock lock(&m_cs);
            San* san = nullptr;
            if (type == VDS_OT_SUB_SYSTEM) {
                auto it = m_subsystemMap.find(ObjectId);
                if (it != m_subsystemMap.end()) san = it->second;
            } else {
                san = FindSanObject(type, ObjectId);
            }
            if (!san || !san->IsActive()) {
                trace_printf("CZarvoProvider::GetObject, Query for an non-existing object is received Id %s type %d ",
                             GuidToString(ObjectId).c_str(), static_cast<int>(type));
                return VDS_E_OBJECT_NOT_FOUND;
            }
            auto live = m_liveObjects.find(ObjectId);
            // An object of a San that an appliance's new San replaced answers for
            // the old one only: the new San gets an object of its own.
            if (live != m_liveObjects.end() && live->second.san == san) {
                trace_printf("CZarvoProvider::GetObject, Object exists in map");
                if (live->second.type != type) return VDS_E_OBJECT_NOT_FOUND;
                live->second.object->AddRef();
                *ppObjectUnk = live->second.object;
                return S_OK;
            }
            trace_printf("CZarvoProvider::GetObject, Object does NOT exist in map");
            return CreateObject(type, san, ObjectId, ppObjectUnk);
        } catch (const std::exception&) {
            trace_printf("%s", "caught exception");
            return E_UNEXPECTED;
        }
    });
}

HRESULT CZarvoProvider::CreateObject(VDS_OBJECT_TYPE type, San* san, const GUID& id, IUnknown** ppObject) {
    const VdsObjectClass* objectClass = FindVdsObjectClass(type);
    if (!objectClass) return E_INVALIDARG;
    trace_printf("CZarvoProvider::GetObject, Creating %s %d ", objectClass->noun, static_cast<int>(type));
    NewVdsObject made = objectClass->create();
    if (!made.object) return E_OUTOFMEMORY;
    trace_printf("CZarvoProvider::GetObject, Wrapper Type %d ", static_cast<int>(type));
    made.wrapper->Init(this, san, id);
    made.object->AddRef();
    try {
        m_liveObjects.insert_or_assign(id, LiveObject{type, made.object, san});
    } catch (...) {
        made.object->Release();
        throw;
    }
    trace_printf("CZarvoProvider::GetObject, No of Objects  %d ", static_cast<int>(m_liveObjects.size()));
    *ppObject = made.object;
    return S_OK;
}

STDMETHODIMP CZarvoProvider::OnLoad(LPWSTR pwszMachineName, IUnknown* pCallbackObject) {
    static constexpr const char* kName = "CZarvoProvider::OnLoad";
    return RunComMethod(kName, [&]() -> HRESULT {
        trace_printf("%s, Provider Type = %d ", kName, HwType());
        HRESULT result = S_OK;
        if (IsBadStringPtrW(pwszMachineName, ~ULONG_PTR{0})) {
            TraceBadArgument(kName, "bad pwszMachineName");
            result = E_POINTER;
        }
        if (IsBadReadPtr(pCallbackObject, sizeof(void*))) {
            TraceBadArgument(kName, "bad pCallbackObject");
            return E_POINTER;
        }
        AutoLock lock(&m_cs);
        trace_printf("Loading provider of type  = %d ", HwType());
        if (m_pNotifier) return result;

        IVdsAdviseSink* sink = nullptr;
        const HRESULT hr = pCallbackObject->QueryInterface(IID_PPV_ARGS(&sink));
        if (FAILED(hr)) {
            const WCHAR* inserts[] = {HresultToString(hr)};
            process_event_reporter().LogEvent(EVENT_ADVISE_SINK_QUERY_FAILED, 1, inserts);
            return hr;
        }
        m_pNotifier = new CZarvoNotifier(sink);
        m_pNotifier->AddRef();
        if (const HRESULT started = CreateSubSystems(); FAILED(started)) PassEnded(started, nullptr);
        sink->Release();
        return hr;
    });
}

STDMETHODIMP CZarvoProvider::OnUnload(BOOL bForceUnload) {
    static constexpr const char* kName = "CZarvoProvider::OnUnload";
    return RunComMethod(kName, [&]() -> HRESULT {
        trace_printf("%s, Provider Type = %d ", kName, HwType());
        SetAllSANInactive();
        if (bForceUnload) return S_OK;
        AutoLock lock(&m_cs);
        return m_providerThread.IsRunning() ? S_FALSE : S_OK;
    });
}

// ---- IVdsHwProviderPrivate, Mpio, Type, Support --------------------------------

STDMETHODIMP CZarvoProvider::QueryIfCreatedLun(LPWSTR pwszDevicePath, VDS_LUN_INFORMATION* pVdsLunInformation,
                                               VDS_OBJECT_ID* pLunId) {
    static constexpr const char* kName = "CZarvoProvider::QueryIfCreatedLun";
    return RunComMethod(kName, [&]() -> HRESULT {
        trace_printf("%s, Provider Type = %d ", kName, HwType());
        ArgumentChecks checks(kName);
        checks.Check(IsBadStringPtrW(pwszDevicePath, ~ULONG_PTR{0}), "bad pwszDevicePath", E_POINTER)
            .Check(IsBadReadPtr(pVdsLunInformation, sizeof(*pVdsLunInformation)), "bad pVdsLunInformation", E_POINTER)
            .Check(IsBadWritePtr(pLunId, sizeof(*pLunId)), "bad pLunId", E_POINTER);
        if (checks.Failed()) return checks.Result();
        trace_printf("CZarvoProvider::QueryIfCreatedLun, IN pwszDevicePath=%s Provider Type = %d ",
                     WStringToString(pwszDevicePath).c_str(), HwType());
        HRESULT hr = S_FALSE;
        try {
            AutoLock lock(&m_cs);
            const std::u16string devicePath(pwszDevicePath);
            for (San* san : m_sans) {
                hr = san->QueryIfCreatedLun(devicePath, *pVdsLunInformation, *pLunId);
                if (hr == S_OK) break;
            }
        } catch (const std::exception&) {
            trace_printf("COM  exception in function: %s ", kName);
            return E_FAIL;
        } catch (...) {
            return E_FAIL;
        }
        return hr;
    });
}

STDMETHODIMP CZarvoProvider::SetAllPathStatusesFromHbaPort(VDS_HBAPORT_PROP hbaPortProp, VDS_PATH_STATUS status) {
    static constexpr const char* kName = "CZarvoProvider::SetAllPathStatusesFromHbaPort";
    return RunComMethod(kName, [&]() -> HRESULT {
        trace_printf("%s, Provider Type = %d ", kName, HwType());
        if (status != VDS_MPS_UNKNOWN && status != VDS_MPS_ONLINE && status != VDS_MPS_FAILED &&
            status != VDS_MPS_STANDBY) {
            TraceBadArgument(kName, "bad status code");
            return E_INVALIDARG;
        }
        HRESULT hr = S_OK;
        bool anySucceeded = false;
        bool anyFailed = false;
        try {
            AutoLock lock(&m_cs);
            for (San* san : m_sans) {
                BOOL installed = FALSE;
                if (FAILED(san->IsMPIOInstalled(installed))) {
                    trace_printf("CZarvoProvider::SetAllPathStatusesFromHbaPort, return VDS_E_NOT_SUPPORTED for "
                                 "IVdsHwProviderPrivateMpio");
                    return VDS_E_NOT_SUPPORTED;
                }
                hr = san->SetAllPathStatusesFromHbaPort(hbaPortProp, status);
                (SUCCEEDED(hr) ? anySucceeded : anyFailed) = true;
            }
        } catch (const std::exception&) {
            trace_printf("COM  exception in function: %s ", kName);
            return E_FAIL;
        }
        return anySucceeded && anyFailed ? VDS_S_SOME_PATH_STATUSES_SET : hr;
    });
}

STDMETHODIMP CZarvoProvider::GetProviderType(VDS_HWPROVIDER_TYPE* pType) {
    static constexpr const char* kName = "CZarvoProvider::GetProviderType";
    return RunComMethod(kName, [&]() -> HRESULT {
        trace_printf("%s, Provider Type = %d ", kName, HwType());
        if (IsBadWritePtr(pType, sizeof(*pType))) {
            TraceBadArgument(kName, "bad pType");
            return E_POINTER;
        }
        *pType = HwType();
        return S_OK;
    });
}

STDMETHODIMP CZarvoProvider::GetVersionSupport(ULONG* ulVersionSupport) {
    static constexpr const char* kName = "CZarvoProvider::GetVersionSupport";
    return RunComMethod(kName, [&]() -> HRESULT {
        trace_printf("%s, Provider Type = %d ", kName, HwType());
        if (IsBadWritePtr(ulVersionSupport, sizeof(*ulVersionSupport))) {
            TraceBadArgument(kName, "bad ulVersionSupport");
            return E_POINTER;
        }
        *ulVersionSupport = VDS_VSF_1_1;
        return S_OK;
    });
}

// ---- Operations for the COM layer ------------------------------------------------

HRESULT CZarvoProvider::MakeEnum(VDS_OBJECT_TYPE type, const std::vector<GUID>& ids, IEnumVdsObject** ppEnum) {
    *ppEnum = nullptr;
    CZarvoEnum* enumerator = NewComObject<CZarvoEnum>();
    if (!enumerator) return E_OUTOFMEMORY;
    HRESULT hr = enumerator->Initialize(this, type);
    if (SUCCEEDED(hr)) hr = enumerator->AppendObjects(ids);
    if (FAILED(hr)) {
        enumerator->Release();
        return hr;
    }
    *ppEnum = enumerator;
    return S_OK;
}

HRESULT CZarvoProvider::DeleteObject(const GUID& id, IUnknown* object) {
    trace_printf("CZarvoProvider::DeleteObject, Deleting object %s ", GuidToString(id).c_str());
    try {
        AutoLock lock(&m_cs);
        auto it = m_liveObjects.find(id);
        if (it != m_liveObjects.end() && it->second.object == object) m_liveObjects.erase(it);
        trace_printf("CZarvoProvider::DeleteObject, Number of live Objects  %d ",
                     static_cast<int>(m_liveObjects.size()));
    } catch (const std::exception&) {
        return E_UNEXPECTED;
    }
    return S_OK;
}

HRESULT CZarvoProvider::ConvertExtentVector(const std::vector<ExtentRecord>& extents, VDS_DRIVE_EXTENT** ppExtents,
                                            LONG* count) {
    try {
        auto* array = static_cast<VDS_DRIVE_EXTENT*>(CoTaskMemAlloc(extents.size() * sizeof(VDS_DRIVE_EXTENT)));
        if (!array) return E_OUTOFMEMORY;
        trace_printf("CZarvoProvider::ConvertExtentVector, numExtents = %d", static_cast<int>(extents.size()));
        for (size_t i = 0; i < extents.size(); ++i) {
            const ExtentRecord& extent = extents[i];
            array[i] = VDS_DRIVE_EXTENT{};
            array[i].id = extent.driveId;
            array[i].LunId = extent.lunId;
            array[i].ullSize = extent.size;
            array[i].bUsed = extent.lunId != GUID_NULL;
        }
        *ppExtents = array;
        *count = static_cast<LONG>(extents.size());
        return S_OK;
    } catch (const std::exception&) {
        return E_FAIL;
    }
}

San* CZarvoProvider::FindSanObject(VDS_OBJECT_TYPE type, const GUID& id) {
    AutoLock lock(&m_cs);
    // An inactive San may still hold the id of an object that an active San of
    // the same appliance now answers for: the active one wins.
    San* inactive = nullptr;
    for (San* san : m_sans) {
        if (!san->IsValidObject(type, id)) continue;
        if (san->IsActive()) return san;
        if (!inactive) inactive = san;
    }
    return inactive;
}

HRESULT CZarvoProvider::AddSan(San* san) {
    try {
        m_sans.push_back(san);
        return S_OK;
    } catch (const std::exception&) {
        return E_FAIL;
    }
}

// ---- List pass -------------------------------------------------------------------

HRESULT CZarvoProvider::RefreshSubsystemsList() {
    TraceScope scope("CZarvoProvider::RefreshSubsystemsList");
    SubsystemFactory& factory = m_factory;
    AutoLock lock(&m_cs);
    StoredApplianceList& list = GetStoredApplianceList();
    list.Load();
    trace_printf("CZarvoProvider::RefreshSubsystemsList, Refreshing Filers(Subsystem) list");
    const std::vector<CFilerRecord> stored = list.CopyRecords();

    std::vector<bool> matched(m_sans.size(), false);
    std::vector<CFilerRecord> newRecords;
    for (const CFilerRecord& record : stored) {
        if (record.m_iType != HwType()) {
            trace_printf("CZarvoProvider::RefreshSubsystemsList, Skip this filer since it is not of the Provider Type");
            continue;
        }
        bool found = false;
        for (size_t i = 0; i < m_sans.size() && !found; ++i) {
            CFilerRecord logon;
            factory.GetLogonData(*m_sans[i], logon);
            if (SameLogon(logon, record) && m_sans[i]->IsActive()) {
                matched[i] = true;
                found = true;
                trace_printf("CZarvoProvider::RefreshSubsystemsList, An existing Subsystem is found;, Details  %s",
                             Narrow(record.Dump()).c_str());
            }
        }
        if (!found) {
            newRecords.push_back(record);
            trace_printf("CZarvoProvider::RefreshSubsystemsList, A new Subsystem log on data found;, Details  %s",
                         Narrow(record.Dump()).c_str());
        }
    }

    for (size_t i = 0; i < m_sans.size(); ++i) {
        San* san = m_sans[i];
        if (matched[i] || !san->IsActive()) continue;
        factory.SetSANInactive(*san);
        const GUID id = san->GetId();
        trace_printf("CZarvoProvider::RefreshSubsystemsList, Making a subsystem Inactive  %s", GuidToString(id).c_str());
        auto entry = m_subsystemMap.find(id);
        if (entry != m_subsystemMap.end() && entry->second == san) m_subsystemMap.erase(entry);
    }

    std::erase_if(m_sans, [&](San* san) {
        if (!factory.IsUnused(*san)) return false;
        const GUID id = san->GetId();
        trace_printf("CZarvoProvider::RefreshSubsystemsList, Deleting  Subsystem Object, Details  %s",
                     GuidToString(id).c_str());
        auto entry = m_subsystemMap.find(id);
        if (entry != m_subsystemMap.end() && entry->second == san) m_subsystemMap.erase(entry);
        delete san;
        return true;
    });

    const HRESULT result = CreateSubSystemsFromLogonVector(newRecords);
    IErrorInfo* failure = nullptr;
    if (FAILED(result) && GetErrorInfo(0, &failure) == S_OK) SetErrorInfo(0, failure);  // it stays the caller's
    PassEnded(result, failure);
    if (failure) failure->Release();
    return result;
}

HRESULT CZarvoProvider::CreateSubSystemsFromLogonVector(const std::vector<CFilerRecord>& records) {
    TraceScope scope("CZarvoProvider::CreateSubSystemsFromLogonVector");
    if (records.empty()) {
        m_bFirstEnumerationDone = true;
        return S_OK;
    }
    SubsystemFactory& factory = m_factory;
    HRESULT result = S_OK;
    platform::com_unique_ptr<IErrorInfo> failure;
    // Each stored appliance stands on its own: one that cannot be read keeps
    // none of the others from their subsystems.
    for (const CFilerRecord& record : records) {
        San* san = factory.NewSan();
        HRESULT hr = san ? S_OK : E_OUTOFMEMORY;
        if (san) {
            san->SetNotifier(m_pNotifier);
            hr = factory.Initialize(*san, record, HwType(), m_bFirstEnumerationDone);
            if (SUCCEEDED(hr)) hr = AddSan(san);
        }
        if (FAILED(hr)) {
            delete san;
            if (SUCCEEDED(result)) {
                result = hr;
                failure = DescribeFailure(record, hr);
            }
            continue;
        }
        const GUID id = san->GetId();
        m_subsystemMap.emplace(id, san);
        trace_printf("CZarvoProvider::CreateSubSystemsFromLogonVector, Added a new Filer, Details  %s , Total items %d ",
                     GuidToString(id).c_str(), static_cast<int>(m_subsystemMap.size()));
    }
    // After the first pass VDS has queried the subsystems: any made later,
    // such as one whose appliance answers only now, announces its arrival.
    m_bFirstEnumerationDone = true;
    SetErrorInfo(0, failure.get());
    return result;
}

void CZarvoProvider::PassEnded(HRESULT result, IErrorInfo* failure) {
    if (FAILED(result) && failure) failure->AddRef();
    else failure = nullptr;
    {
        std::lock_guard lock(m_passLock);
        m_lastPass = result;
        m_lastPassFailure.reset(failure);
        m_bPassEnded = true;
    }
    m_passEnded.notify_all();
}

HRESULT CZarvoProvider::ListPassResult() {
    {
        AutoLock lock(&m_cs);
        if (!m_pNotifier) return E_UNEXPECTED;  // not loaded: no pass will come
    }
    std::unique_lock lock(m_passLock);
    m_passEnded.wait(lock, [this] { return m_bPassEnded; });
    SetErrorInfo(0, FAILED(m_lastPass) ? m_lastPassFailure.get() : nullptr);
    return m_lastPass;
}

// ---- Provider thread ----------------------------------------------------------------

HRESULT CZarvoProvider::CreateSubSystems() {
    TraceScope scope("CZarvoProvider::CreateSubSystems");
    if (m_providerThread.IsRunning()) {
        trace_printf("Already the provider thread is created, using the the existing thread");
        return S_OK;
    }
    const std::u16string eventName = GuidToWString(ProviderId());
    return m_providerThread.Start(&CZarvoProvider::ProviderThreadEntry, this, eventName.c_str());
}

unsigned CZarvoProvider::ProviderThreadEntry(void* provider) {
    return static_cast<CZarvoProvider*>(provider)->ProviderThreadWork();
}

unsigned CZarvoProvider::ProviderThreadWork() {
    TraceScope scope("CZarvoProvider::ProviderThreadWork");
    trace_printf("CZarvoProvider::ProviderThreadWork, Provider Refresh thread is created  Thread Id: %08X  ,  "
                 "Provider ID %s",
                 static_cast<unsigned>(GetCurrentThreadId()), GuidToString(ProviderId()).c_str());
    const HRESULT apartment = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    try {
        RefreshSubsystemsList();
    } catch (...) {
        trace_unexpected_exception("CZarvoProvider::ProviderThreadWork");
        PassEnded(E_FAIL, nullptr);
    }
    const DWORD reason = WaitForSingleObject(m_providerThread.m_hStopEvent, INFINITE);
    trace_printf("CZarvoProvider::ProviderThreadWork, Terminating the  Provider refresh thread. reason %d, Id:%08X ",
                 static_cast<int>(reason), static_cast<unsigned>(GetCurrentThreadId()));
    if (SUCCEEDED(apartment)) CoUninitialize();
    m_providerThread.ThreadFinished();
    trace_printf("CZarvoProvider::ProviderThreadWork, Provider refresh thread is Terminated  Id:%08X ",
                 static_cast<unsigned>(GetCurrentThreadId()));
    return 0;
}

void CZarvoProvider::SetAllSANInactive() {
    TraceScope scope("CZarvoProvider::SetAllSANInactive");
    m_providerThread.SignalStop();
    int polls = 0;
    while (m_providerThread.IsRunning() && polls < kStopPolls) {
        Sleep(kStopPollMilliseconds);
        ++polls;
    }
    if (m_providerThread.IsRunning())
        trace_printf("Failed to stop the Provider thread after 30 seconds. Thread Id %d ",
                     static_cast<int>(m_providerThread.m_dwThreadId));
    AutoLock lock(&m_cs);
    SubsystemFactory& factory = m_factory;
    try {
        for (San* san : m_sans)
            if (san->IsActive()) factory.SetSANInactive(*san);
    } catch (...) {
        trace_printf("Failed to Set the SAn/Filer Inactive");
    }
}

HRESULT CZarvoProvider::DeleteAllSans() {
    TraceScope scope("CZarvoProvider::DeleteAllSans");
    try {
        AutoLock lock(&m_cs);
        for (San* san : m_sans) delete san;
        trace_printf("San/Filers deleted  %d ", static_cast<int>(m_sans.size()));
        m_sans.clear();
        m_subsystemMap.clear();
        return S_OK;
    } catch (const std::exception&) {
        return E_FAIL;
    }
}

// ---- The concrete providers -------------------------------------------------------

namespace {
const WCHAR* ProviderName(UINT id, WCHAR*& buffer, const WCHAR* fallback) {
    LoadResourceString(id, &buffer);
    // Without the program's string table (a test, a host that registered
    // none) the name is the table's own text.
    return buffer && buffer[0] ? buffer : fallback;
}
WCHAR* g_fcProviderName = nullptr;
WCHAR* g_iscsiProviderName = nullptr;
}  // namespace

CZarvoProviderFC::~CZarvoProviderFC() {
    trace_printf("CZarvoProviderFC::~CZarvoProviderFC, Deleting provider type FCP ");
    Shutdown();
}
const GUID& CZarvoProviderFC::ProviderId() const { return ZARVO_FC_PROVIDER_ID; }
const GUID& CZarvoProviderFC::VersionId() const { return ZARVO_FC_PROVIDER_VERSION_ID; }
const WCHAR* CZarvoProviderFC::WszProviderName() const {
    static const WCHAR* name = ProviderName(IDS_PROVIDER_NAME_FCP, g_fcProviderName, u"Zarvo VDS Hardware Provider (FCP)");
    return name;
}

CZarvoProviderIscsi::~CZarvoProviderIscsi() {
    trace_printf("CZarvoProviderIscsi::~CZarvoProviderIscsi, Deleting provider type ISCSI ");
    Shutdown();
}
const GUID& CZarvoProviderIscsi::ProviderId() const { return ZARVO_ISCSI_PROVIDER_ID; }
const GUID& CZarvoProviderIscsi::VersionId() const { return ZARVO_ISCSI_PROVIDER_VERSION_ID; }
const WCHAR* CZarvoProviderIscsi::WszProviderName() const {
    static const WCHAR* name =
        ProviderName(IDS_PROVIDER_NAME_ISCSI, g_iscsiProviderName, u"Zarvo VDS Hardware Provider (iSCSI)");
    return name;
}

// ---- Class objects ------------------------------------------------------------------

namespace {
template <typename Provider>
// A registered class object must not keep the server alive (only LockServer
// does), or a server would never stop for idleness: unlike the COM objects it
// makes, it holds no module lock.
class ProviderClassFactory final : public platform::single_interface_object<IClassFactory> {
public:
    STDMETHODIMP CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) override {
        if (!ppvObject) return E_POINTER;
        *ppvObject = nullptr;
        if (pUnkOuter) return CLASS_E_NOAGGREGATION;
        Provider* provider = NewComObject<Provider>();
        if (!provider) return E_OUTOFMEMORY;
        const HRESULT hr = provider->QueryInterface(riid, ppvObject);
        provider->Release();
        return hr;
    }
    STDMETHODIMP LockServer(BOOL fLock) override {
        fLock ? ModuleLock() : ModuleUnlock();
        return S_OK;
    }

private:
    ~ProviderClassFactory() override = default;
};

template <typename Provider>
HRESULT QueryClassObject(REFIID riid, void** ppv) {
    auto* factory = new (std::nothrow) ProviderClassFactory<Provider>;
    if (!factory) return E_OUTOFMEMORY;
    factory->AddRef();
    const HRESULT hr = factory->QueryInterface(riid, ppv);
    factory->Release();
    return hr;
}
}  // namespace

HRESULT GetProviderClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (IsEqualCLSID(clsid, CLSID_ZarvoVdsProviderFC)) return QueryClassObject<CZarvoProviderFC>(riid, ppv);
    if (IsEqualCLSID(clsid, CLSID_ZarvoVdsProviderIscsi)) return QueryClassObject<CZarvoProviderIscsi>(riid, ppv);
    return CLASS_E_CLASSNOTAVAILABLE;
}
