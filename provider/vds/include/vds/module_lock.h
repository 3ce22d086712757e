#pragma once
// The module lock count: every COM object of the VDS layer holds one count
// from its creation to its destruction, so the service does not stop for
// idleness while a client holds any of them. The service module installs its
// own count; without one the layer keeps a count of its own.
#include <platform/types.h>

class ModuleLockCount {
public:
    virtual LONG Lock() = 0;
    virtual LONG Unlock() = 0;

protected:
    ~ModuleLockCount() = default;
};

// Installs the count (nullptr goes back to the layer's own).
void SetModuleLockCount(ModuleLockCount* count);
LONG ModuleLock();
LONG ModuleUnlock();
// The layer's own count (for tests: every object gone brings it back to 0).
LONG OwnModuleLockCount();
