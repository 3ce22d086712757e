// Stub: queueing work on the San's worker and running one item are built with
// the work queue, whose owner replaces this file.
#include <model/zarvo_san.h>

HRESULT ZarvoSan::QueueWork(LONG /*workType*/, LONG /*value*/, ZarvoWork* /*work*/, Async* /*async*/,
                            const GUID& /*id*/) {
    return E_UNEXPECTED;
}

HRESULT ZarvoSan::QueueWork(LONG /*workType*/, LONG /*value*/, ZarvoWork* /*work*/, Async* /*async*/) {
    return E_UNEXPECTED;
}

HRESULT ZarvoSan::DoWork(WorkItem& /*item*/) { return E_NOTIMPL; }
