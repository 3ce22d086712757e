#pragma once
// The base of every model object that runs queued work, and the work types:
// one numbering for all work objects.
#include <platform/types.h>

class Async;

// Work types (the names are the ones the work objects trace).
enum ZarvoWorkType : int32_t {
    LUN_ATTACH_STORAGE = 0,
    LUN_DETACH_STORAGE = 1,
    LUN_DELETE_ATTACHED = 2,
    LUN_DELETE_DETACHED = 3,
    TARGET_CREATE_PORTALGROUP = 4,
    TARGET_DELETE_TARGET = 5,
    // 6 and 8 have no trace name: they complete a portal addition or removal
    // that the container made before queueing; 7 is not used.
    PORTALGROUP_ADD_PORTAL = 6,
    PORTALGROUP_REMOVE_PORTAL = 8,
    DELAY = 9,
    LUN_CREATE_ATTACH_STORAGE = 10,
    LUN_CREATE_DETACH_STORAGE = 11,
    LUN_CREATE = 12,
    LUN_EXTEND = 13,
};

class ZarvoWork {
public:
    ZarvoWork() = default;
    ZarvoWork(const ZarvoWork&) = default;
    ZarvoWork& operator=(const ZarvoWork&) = default;

    // Runs one item. Given an async, the work owns the queue's reference on
    // it: it records the result, wakes it up and releases it.
    virtual HRESULT DoWork(int32_t type, int32_t value, Async* async) = 0;
    virtual ~ZarvoWork() = default;
};
