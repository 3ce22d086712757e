#include <model/async.h>

#include <hostlib/trace.h>
#include <platform/clock.h>
#include <platform/errorinfo.h>
#include <platform/event.h>
#include <platform/handle.h>
#include <platform/vds.h>

#include <cstring>
#include <vector>

ZarvoAsync::ZarvoAsync() : m_hrResult(VDS_E_OPERATION_PENDING), m_event(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
    TraceScope scope("ZarvoAsync::ZarvoAsync");
}

ZarvoAsync::~ZarvoAsync() {
    TraceScope scope("ZarvoAsync::~ZarvoAsync");
    if (m_event) {
        CloseHandle(m_event);
        trace_printf("ZarvoAsync::~ZarvoAsync(): %s", "m_event handle closed.");
    }
    if (m_pErrorInfo) m_pErrorInfo->Release();
    if (m_pNotifications) {
        delete m_pNotifications;  // never delivered: the work did not complete
        trace_printf("ZarvoAsync::~ZarvoAsync(): %s", "m_pNotifications deleted.");
    }
}

HRESULT ZarvoAsync::Cancel() {
    TraceScope scope("ZarvoAsync::Cancel");
    return VDS_E_CANCEL_TOO_LATE;
}

HRESULT ZarvoAsync::Wait(HRESULT* result, GUID* id) {
    TraceScope scope("ZarvoAsync::Wait");
    WaitForSingleObject(m_event, INFINITE);
    // An older failure of this thread must not stand for the work's outcome.
    SetErrorInfo(0, FAILED(m_hrResult.load()) ? m_pErrorInfo : nullptr);
    if (result) *result = m_hrResult.load();
    if (id) *id = m_id;
    return S_OK;
}

HRESULT ZarvoAsync::QueryStatus(HRESULT* result, ULONG* percent) {
    if (result) *result = m_hrResult.load();
    if (percent) {
        const int32_t stored = m_iPercent.load();
        if (stored != kAutoPercent) {
            *percent = static_cast<ULONG>(stored);
        } else {
            const DWORD duration = m_dwDuration.load() ? m_dwDuration.load() : 1;
            const DWORD estimate = ((GetTickCount() - m_dwStartTick.load()) * 100u) / duration;
            *percent = estimate > kMaxEstimate ? kMaxEstimate : estimate;
        }
    }
    return S_OK;
}

void ZarvoAsync::AddRef() { m_lRefCount.fetch_add(1); }

void ZarvoAsync::Release() {
    if (m_lRefCount.fetch_sub(1) == 1) delete this;
}

void ZarvoAsync::SetResult(HRESULT result) {
    TraceScope scope("ZarvoAsync::SetResult");
    m_hrResult.store(result);
}

void ZarvoAsync::SetId(const GUID& id) {
    TraceScope scope("ZarvoAsync::SetId");
    m_id = id;
}

NotificationSet* ZarvoAsync::GetNotifications() {
    TraceScope scope("ZarvoAsync::GetNotifications");
    return m_pNotifications;
}

void ZarvoAsync::SetNotifications(NotificationSet* notifications) {
    TraceScope scope("ZarvoAsync::SetNotifications");
    if (notifications == m_pNotifications) return;  // deleting it would leave the async a freed set
    delete m_pNotifications;
    m_pNotifications = notifications;
}

void ZarvoAsync::StartAutoPercentage(DWORD durationMs) {
    TraceScope scope("ZarvoAsync::StartAutoPercentage");
    m_dwStartTick.store(GetTickCount());
    m_dwDuration.store(durationMs);
    m_iPercent.store(kAutoPercent);
}

void ZarvoAsync::WakeUp() {
    TraceScope scope("ZarvoAsync::WakeUp");
    if (FAILED(m_hrResult.load()) && !m_pErrorInfo) GetErrorInfo(0, &m_pErrorInfo);
    m_iPercent.store(100);
    if (m_pNotifications) {
        m_pNotifications->Deliver();
        delete m_pNotifications;
        m_pNotifications = nullptr;
    }
    SetEvent(m_event);
}

namespace {
thread_local ZarvoAsync* t_running = nullptr;

struct RunningBoard {
    std::mutex lock;
    std::vector<std::pair<GUID, ZarvoAsync*>> items;  // one per running worker at most
};
RunningBoard& Board() {
    static RunningBoard board;
    return board;
}
}  // namespace

std::u16string ZarvoAsync::Stage() {
    std::lock_guard lock(m_stageLock);
    return m_stage;
}

void ZarvoAsync::SetStage(std::u16string stage) {
    std::lock_guard lock(m_stageLock);
    m_stage = std::move(stage);
}

void ZarvoAsync::SetRunningStage(const std::u16string& stage) {
    if (t_running) t_running->SetStage(stage);
}

ZarvoAsync::Running::Running(Async* async, const GUID& object)
    : m_previous(t_running), m_async(dynamic_cast<ZarvoAsync*>(async)), m_object(object) {
    t_running = m_async;
    if (!m_async || platform::is_nil(object)) return;
    RunningBoard& board = Board();
    std::lock_guard lock(board.lock);
    board.items.emplace_back(object, m_async);
}

ZarvoAsync::Running::~Running() {
    t_running = m_previous;
    if (!m_async || platform::is_nil(m_object)) return;
    RunningBoard& board = Board();
    std::lock_guard lock(board.lock);
    std::erase_if(board.items, [this](const auto& item) { return item.second == m_async; });
}

ZarvoAsync* ZarvoAsync::RunningOn(const GUID& object) {
    RunningBoard& board = Board();
    std::lock_guard lock(board.lock);
    for (const auto& [id, async] : board.items)
        if (std::memcmp(&id, &object, sizeof id) == 0) {
            async->AddRef();
            return async;
        }
    return nullptr;
}
