#pragma once
// The completion object of asynchronous work: result, percent done, an event
// signalled once at completion, and the notifications delivered then.
#include <model/notification.h>
#include <platform/guid.h>
#include <platform/types.h>

#include <platform/errorinfo.h>

#include <atomic>
#include <mutex>
#include <string>

class Async {
public:
    virtual ~Async() = default;
    virtual HRESULT Cancel() = 0;
    virtual HRESULT Wait(HRESULT* result, GUID* id) = 0;
    virtual HRESULT QueryStatus(HRESULT* result, ULONG* percent) = 0;
    // What the work waits for now, in words; empty when nothing in particular.
    virtual std::u16string Stage() { return {}; }
    virtual void AddRef() = 0;
    virtual void Release() = 0;
};

class ZarvoAsync : public Async {
public:
    ZarvoAsync();
    ZarvoAsync(const ZarvoAsync&) = delete;
    ZarvoAsync& operator=(const ZarvoAsync&) = delete;

    // 0x8004240C always: the work cannot be stopped.
    HRESULT Cancel() override;
    // Waits for completion, then copies the result and the id out. S_OK.
    // The waiting thread's error information becomes what the work reported
    // with a failure (none after a success), so its text names that failure.
    HRESULT Wait(HRESULT* result, GUID* id) override;
    // The result of the moment and the percent done (estimated from the clock
    // while the work runs, at most 85 then). S_OK; takes no lock.
    HRESULT QueryStatus(HRESULT* result, ULONG* percent) override;
    void AddRef() override;
    // Deletes the object at the last reference.
    void Release() override;

    void SetResult(HRESULT result);
    void SetId(const GUID& id);
    // The held set (may be null); it stays the async's.
    NotificationSet* GetNotifications();
    // Takes the set, deleting one held before; the set already held changes nothing.
    void SetNotifications(NotificationSet* notifications);
    // From now the percent is estimated as the share of the duration elapsed.
    void StartAutoPercentage(DWORD durationMs);
    // Completes the operation: a failure keeps the completing thread's error
    // information, percent 100, the notifications delivered and deleted, the
    // event signalled.
    void WakeUp();

    // True once WakeUp has run.
    bool IsCompleted() const { return m_iPercent.load() == 100; }

    std::u16string Stage() override;
    void SetStage(std::u16string stage);
    // Sets the stage of the work item that runs on this thread (none: nothing).
    static void SetRunningStage(const std::u16string& stage);

    // Makes an async the running item's for this thread while it lives, and
    // the one running on the item's object (for a direct call that waits on
    // work it queued and has no async to show).
    class Running {
    public:
        Running(Async* async, const GUID& object);
        ~Running();
        Running(const Running&) = delete;
        Running& operator=(const Running&) = delete;

    private:
        ZarvoAsync* m_previous;
        ZarvoAsync* m_async;
        GUID m_object;
    };
    // The async of the work running now on an object, with a reference; null when none.
    static ZarvoAsync* RunningOn(const GUID& object);

protected:
    ~ZarvoAsync() override;

private:
    static constexpr int32_t kAutoPercent = -1;
    static constexpr ULONG kMaxEstimate = 85;

    // Read by QueryStatus and Wait without a lock while the work completes.
    std::atomic<HRESULT> m_hrResult;
    GUID m_id{};
    std::atomic<LONG> m_lRefCount{1};
    HANDLE m_event;
    std::atomic<int32_t> m_iPercent{0};
    std::atomic<DWORD> m_dwDuration{0};
    std::atomic<DWORD> m_dwStartTick{0};
    NotificationSet* m_pNotifications = nullptr;  // owned
    // Written before the event is signalled, read by waiters after it.
    IErrorInfo* m_pErrorInfo = nullptr;  // one reference, owned
    std::mutex m_stageLock;  // the stage is written by the work and read by any waiter
    std::u16string m_stage;
};
