// Queueing work on the San's worker and running one item under the San lock.
#include <model/zarvo_san.h>

#include <hostlib/autolock.h>
#include <hostlib/trace.h>
#include <platform/vds.h>

#include <array>

namespace {

// The kinds of object a queued item may act on, asked in this order.
constexpr std::array<VDS_OBJECT_TYPE, 4> kWorkObjectTypes{VDS_OT_PORTAL_GROUP, VDS_OT_LUN, VDS_OT_PORTAL,
                                                           VDS_OT_TARGET};

}  // namespace

HRESULT ZarvoSan::QueueWork(LONG workType, LONG value, ZarvoWork* work, Async* async, const GUID& id) {
    trace_printf("ZarvoSan::QueueWork");
    if (!m_pWorkerThread) {
        // Before the first refresh there is no worker to run it.
        trace_printf("ZarvoSan::QueueWork(): %s", "no worker thread");
        return E_UNEXPECTED;
    }
    return m_pWorkerThread->QueueWork(workType, value, work, async, id);
}

HRESULT ZarvoSan::QueueWork(LONG workType, LONG value, ZarvoWork* work, Async* async) {
    return QueueWork(workType, value, work, async, GUID_NULL);
}

HRESULT ZarvoSan::DoWork(WorkItem& item) {
    TraceScope scope("ZarvoSan::DoWork");
    AutoLock lock(&m_lock);
    // The object may have gone since the item was queued (an earlier item
    // deleted it): such an item must not run on a freed object.
    bool valid = platform::is_nil(item.id) && item.type == TARGET_CREATE_PORTALGROUP;
    for (const VDS_OBJECT_TYPE type : kWorkObjectTypes) {
        if (valid) break;
        valid = IsValidObject(type, item.id);
    }
    HRESULT result;
    if (valid && item.work) {
        result = item.work->DoWork(item.type, item.value, item.async);
    } else {
        result = VDS_E_OBJECT_DELETED;
        trace_printf("ZarvoWork Object is not valid, Result is set to %0lx ", trace_code(result));
        if (item.async) {
            if (auto* async = dynamic_cast<ZarvoAsync*>(item.async)) {
                async->SetResult(result);
                async->WakeUp();
            }
            item.async->Release();
            item.async = nullptr;
        }
    }
    // Through 32 bits first: a failure code widened with its sign would print 16 digits.
    trace_printf("ZarvoSan::DoWork(): returning %08lX", trace_code(result));
    return result;
}
