#pragma once
// The HBA API library as one load shared by the whole process.
#include <platform/hbaapi.h>

namespace hostlib {

// The published table's 24 handlers, then the version 2 inquiry and FCP
// target mapping entries. Only the entries resolved by name are filled.
struct HbaEntryPoints {
    HBA_ENTRYPOINTS v1;
    HBAUntypedFunc ScsiInquiryV2Handler;
    HBAUntypedFunc GetFcpTargetMappingV2Handler;
};
static_assert(sizeof(HbaEntryPoints) == 26 * sizeof(void*));

// One user's share of the load. The first user loads "hbaapi.dll", resolves
// its entry points and initialises it; the last one frees it. A failed load is
// kept while users share it and tried again by the next first user.
class HbaLibraryUse {
public:
    HbaLibraryUse();
    ~HbaLibraryUse();
    HbaLibraryUse(const HbaLibraryUse&) = delete;
    HbaLibraryUse& operator=(const HbaLibraryUse&) = delete;

    // 0 when loaded; else the system error of the failing step or E_FAIL.
    LONG status() const;
    // The library failed its initialisation on a host without adapters: the
    // status is 0, yet nothing more may be called through it.
    bool empty() const;
    // Only meaningful while the status is 0.
    const HbaEntryPoints& entries() const;
};

}  // namespace hostlib
