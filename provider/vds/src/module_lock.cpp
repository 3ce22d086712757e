#include <vds/module_lock.h>

#include <atomic>

namespace {
std::atomic<ModuleLockCount*> g_count{nullptr};
std::atomic<LONG> g_ownCount{0};
}  // namespace

void SetModuleLockCount(ModuleLockCount* count) { g_count = count; }

LONG ModuleLock() {
    if (ModuleLockCount* count = g_count.load()) return count->Lock();
    return ++g_ownCount;
}

LONG ModuleUnlock() {
    if (ModuleLockCount* count = g_count.load()) return count->Unlock();
    return --g_ownCount;
}

LONG OwnModuleLockCount() { return g_ownCount.load(); }
