// The life of a subsystem: construction, initialisation against the
// appliance, refresh into the spare container with the comparison that
// announces the changes, deactivation, the appliance thread and teardown.
#include <model/zarvo_san.h>

#include <model/filer_object_container.h>
#include <model/work_queue.h>

#include <hostlib/autolock.h>
#include <hostlib/com_error.h>
#include <hostlib/conversions.h>
#include <hostlib/event_log.h>
#include <hostlib/trace.h>
#include <platform/clock.h>
#include <platform/com_error.h>
#include <platform/event.h>
#include <platform/text.h>
#include <platform/thread.h>
#include <res/message_ids.h>

#include <new>
#include <utility>

namespace {

constexpr int kStopPolls = 300;
constexpr DWORD kStopPollMs = 100;

std::string Narrow(const std::u16string& text) { return platform::wide_to_utf8_lossy(text); }

bool IsNilId(const GUID& id) { return IsEqualGUID(id, GUID_NULL); }

void Report(DWORD eventId, std::initializer_list<const WCHAR*> inserts) {
    process_event_reporter().LogEvent(eventId, static_cast<WORD>(inserts.size()), inserts.begin());
}

}  // namespace

ZarvoSan::ZarvoSan() {
    trace_printf("ZarvoSan::ZarvoSan(): entering.");
    InitializeCriticalSection(&m_lock);
    m_pContainer = new FilerObjectContainer();
    m_pSpareContainer = new FilerObjectContainer();
    trace_printf("ZarvoSan::ZarvoSan(): leaving.");
}

HRESULT ZarvoSan::Initialize(const CFilerRecord& record, LONG providerType, bool firstEnumerationDone) {
    TraceScope scope("ZarvoSan::Initialize");
    BeginOperation();
    m_logonData = record;
    m_iProviderType = providerType;
    m_filerName = m_logonData.GetDisplayName();
    m_userName = m_logonData.GetUserName();
    m_password = m_logonData.GetPassword();
    m_filerControl.m_strFilerName = m_filerName;
    m_filerControl.m_strUserName = m_userName;
    m_filerControl.m_strPassword = m_password;

    HRESULT hr = m_filerControl.FilerValidateConnection(&m_systemInfo);
    if (FAILED(hr)) {
        trace_printf("ZarvoSan::Initialize(), ERROR: filer %s unreachable, code %08lX", Narrow(m_filerName).c_str(),
                     trace_code(hr));
        const auto code = static_cast<DWORD>(hr);
        const bool ownEvent = code == res::MSG_FILER_UNREACHABLE || code == res::MSG_FILER_LOGIN_INVALID;
        const DWORD event = ownEvent ? code : res::MSG_SUBSYSTEM_UNREACHABLE;
        Report(event, {m_filerName.c_str()});
        set_error_info_message(event, m_filerName);
        return hr;
    }
    std::u16string versionText;
    hr = m_filerControl.FilerGetVersion(m_filerName, versionText);
    if (FAILED(hr)) {
        trace_printf("ZarvoSan::Initialize(), ERROR: could not read Zarvo version from '%s'",
                     Narrow(m_filerName).c_str());
        return hr;
    }
    try {
        m_version = filer_version::from_string(versionText);
    } catch (const _com_error& error) {
        return error.Error();
    }
    trace_printf("ZarvoSan::Initialize(): Filer \"%s\" is %s s/n %s running Zarvo %s", m_systemInfo.systemName.c_str(),
                 Narrow(m_systemInfo.model).c_str(), m_systemInfo.serialNumber.c_str(),
                 Narrow(m_version.text()).c_str());
    hr = CheckMinimumZarvoVersion(m_iProviderType, m_version);
    if (FAILED(hr)) {
        const std::u16string systemName = platform::utf8_to_wide_lossy(m_systemInfo.systemName);
        Report(static_cast<DWORD>(hr), {systemName.c_str(), m_version.c_str()});
        set_error_info_message(static_cast<DWORD>(hr), systemName, std::u16string(m_version.c_str()));
        return hr;
    }

    GUID id{};
    const std::string& serial = m_systemInfo.serialNumber;
    if (!serial.empty()) {
        // The serial number keeps the id the same across restarts.
        id = GuidFromBytes(serial.data(), serial.size());
    } else {
        trace_printf("ZarvoSan::Initialize(): Filer \"%s\" did not report serial number, using non-persistent "
                     "default",
                     m_systemInfo.systemName.c_str());
        UuidCreate(&id);
    }

    hr = m_pContainer->InitializeContainer(this, id, m_filerName, m_userName, m_password);
    if (SUCCEEDED(hr)) hr = m_pSpareContainer->InitializeContainer(this, id, m_filerName, m_userName, m_password);
    if (firstEnumerationDone) SendSyncNotification(m_pContainer->GetArriveType(), id);
    if (SUCCEEDED(hr)) hr = RefreshSubSystem();
    if (SUCCEEDED(hr)) hr = m_filerThread.Start(FilerThreadEntry, this, GuidToWString(id).c_str());
    trace_printf("ZarvoSan::Initialize(): returning %08lX", trace_code(hr));
    return hr;
}

HRESULT ZarvoSan::RefreshSubSystem() {
    try {
        AutoLock lock(&m_lock);
        BeginOperation();
        trace_printf("Refreshing a Filer. Thread %08X,  subSystem id %s  ", GetCurrentThreadId(),
                     GuidToString(m_pContainer->GetID()).c_str());
        // Running work stays queued until it ends, so this also waits for it;
        // nothing new can be queued while the lock is held. A worker that no
        // longer runs will never empty its queue.
        while (m_pWorkerThread && m_pWorkerThread->GetState() == ZarvoWorkerThread::Running &&
               m_pWorkerThread->GetCount() > 0) {
            lock.Unlock();
            m_pWorkerThread->Drain();
            lock.Lock();
        }
        HRESULT hr = m_pSpareContainer->RefreshContainer();
        const bool firstReading = !m_pWorkerThread;
        if (!m_pWorkerThread) {
            m_pWorkerThread = new (std::nothrow) ZarvoWorkerThread(this);
            if (!m_pWorkerThread) return E_OUTOFMEMORY;
            const HRESULT started = m_pWorkerThread->Init();
            if (SUCCEEDED(hr)) hr = started;
        }
        if (SUCCEEDED(hr)) {
            trace_printf("Swapping containers");
            std::swap(m_pContainer, m_pSpareContainer);
            std::vector<NotificationEntry> notifications;
            if (m_pContainer->CompareContainers(*m_pSpareContainer, notifications) != S_OK)
                trace_printf("Failed to find all changed notifications");
            SendSyncNotification(notifications);
        } else if (!firstReading && m_pContainer->TakeStatusOf(*m_pSpareContainer)) {
            // The objects stay as last read; the subsystem tells that the
            // appliance did not answer until a reading succeeds again.
            SendSyncNotification(m_pContainer->GetModifyType(), m_pContainer->GetID());
        }
        return hr;
    } catch (...) {
        trace_printf("ZarvoSan::RefreshSubSystem(): %s", "caught exception");
        return E_FAIL;
    }
}

// The containers trade places under the San lock: read the id under it too.
GUID ZarvoSan::CurrentId() {
    CCriticalSectionHolder lock(&m_lock);
    return m_pContainer->GetID();
}

HRESULT ZarvoSan::SetSANInactive() {
    trace_printf("Making the Filer Object inactive, ID  %s", GuidToString(CurrentId()).c_str());
    m_bActive = false;
    m_filerThread.SignalStop();
    int polls = 0;
    for (; polls < kStopPolls && m_filerThread.IsRunning(); ++polls) Sleep(kStopPollMs);
    if (polls == kStopPolls && m_filerThread.IsRunning())
        trace_printf("Failed to stop the Filer thread after 30 seconds. Thread ID %d ",
                     static_cast<int>(m_filerThread.m_dwThreadId));
    {
        CCriticalSectionHolder lock(&m_lock);
        const GUID id = m_pContainer->GetID();
        // A subsystem that never got its id was never announced: no departure.
        const HRESULT hr = IsNilId(id) ? S_OK : SendSyncNotification(m_pContainer->GetDepartType(), id);
        trace_printf("ZarvoSan::SetSANInactive(): returning %08lX", trace_code(hr));
    }
    return S_OK;
}

unsigned ZarvoSan::FilerThreadEntry(void* san) {
    trace_printf("ZarvoSan::FilerThreadEntry");
    return static_cast<ZarvoSan*>(san)->FilerThreadWork();
}

unsigned ZarvoSan::FilerThreadWork() {
    trace_printf("Filer refresh thread  is created for ThreadID :%08X  FilerID %s ", GetCurrentThreadId(),
                 GuidToString(CurrentId()).c_str());
    const DWORD reason = WaitForSingleObject(m_filerThread.m_hStopEvent, INFINITE);
    trace_printf("Terminating the  Filer refresh thread. reason %d, Id:%08X ", static_cast<int>(reason),
                 GetCurrentThreadId());
    m_filerThread.ThreadFinished();
    trace_printf("Filer refresh thread is Terminated.  Thread Id:%08X,  ", GetCurrentThreadId());
    return 0;
}

ZarvoSan::~ZarvoSan() {
    try {
        trace_printf("ZarvoSan::~ZarvoSan(): entering.");
        if (m_bActive) SetSANInactive();
        if (m_pWorkerThread) {
            m_pWorkerThread->Drain();
            delete m_pWorkerThread;
            m_pWorkerThread = nullptr;
        }
        CCriticalSectionHolder lock(&m_lock);
        delete m_pContainer;
        delete m_pSpareContainer;
        m_pContainer = m_pSpareContainer = nullptr;
        m_guidMap.clear();
    } catch (...) {
        trace_printf("ZarvoSan::~ZarvoSan(): %s", "caught exception");
    }
    trace_printf("ZarvoSan::~ZarvoSan(): returning %08lX", trace_code(S_OK));
    DeleteCriticalSection(&m_lock);
}
