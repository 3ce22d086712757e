#include "hba_library.h"

#include <hostlib/trace.h>

#include <platform/errors.h>
#include <platform/library.h>

#include <mutex>

namespace hostlib {

namespace {

struct SharedLoad {
    std::mutex lock;
    unsigned users = 0;
    LONG status = 0;
    HMODULE module = nullptr;
    HbaEntryPoints entries{};
    bool initialised = false;  // HBA_LoadLibrary succeeded: HBA_FreeLibrary is owed
    bool empty = false;        // initialisation failed on a host without adapters: call nothing more
};

SharedLoad& shared_load() {
    static SharedLoad* const load = new SharedLoad;  // used by wrappers alive at exit
    return *load;
}

template <typename Fn>
bool resolve(HMODULE module, const char* name, Fn& slot) {
    slot = platform::get_proc<Fn>(module, name);
    return slot != nullptr;
}

// The first name that is missing stops the resolution: the status tells which failed.
bool resolve_all(HMODULE module, HbaEntryPoints& e) {
    HBA_ENTRYPOINTS& v1 = e.v1;
    return resolve(module, "HBA_LoadLibrary", v1.LoadLibraryHandler) &&
           resolve(module, "HBA_FreeLibrary", v1.FreeLibraryHandler) &&
           resolve(module, "HBA_GetNumberOfAdapters", v1.GetNumberOfAdaptersHandler) &&
           resolve(module, "HBA_OpenAdapter", v1.OpenAdapterHandler) &&
           resolve(module, "HBA_CloseAdapter", v1.CloseAdapterHandler) &&
           resolve(module, "HBA_RefreshInformation", v1.RefreshInformationHandler) &&
           resolve(module, "HBA_GetAdapterName", v1.GetAdapterNameHandler) &&
           resolve(module, "HBA_GetAdapterAttributes", v1.GetAdapterAttributesHandler) &&
           resolve(module, "HBA_GetAdapterPortAttributes", v1.GetAdapterPortAttributesHandler) &&
           resolve(module, "HBA_GetFcpTargetMapping", v1.GetFcpTargetMappingHandler) &&
           resolve(module, "HBA_GetPortAttributesByWWN", v1.GetPortAttributesByWWNHandler) &&
           resolve(module, "HBA_SendScsiInquiry", v1.ScsiInquiryHandler) &&
           resolve(module, "HBA_ScsiInquiryV2", e.ScsiInquiryV2Handler) &&
           resolve(module, "HBA_GetFcpTargetMappingV2", e.GetFcpTargetMappingV2Handler);
}

void load(SharedLoad& s) {
    s.module = LoadLibraryW(u"hbaapi.dll");
    if (!s.module || !resolve_all(s.module, s.entries)) {
        s.status = static_cast<LONG>(GetLastError());
        return;
    }
    const HBA_STATUS initialised = s.entries.v1.LoadLibraryHandler();
    if (initialised == HBA_STATUS_OK) {
        s.initialised = true;
        return;
    }
    // The common HBA API library of Linux fails its initialisation when no
    // vendor library serves an adapter; a host without adapters is an empty
    // answer, not a failure, as it is on Windows.
    if (s.entries.v1.GetNumberOfAdaptersHandler() == 0) {
        trace_printf("HBAAPIWrapper::HBAAPIWrapper, HBA_LoadLibrary() returned %u and the library sees no adapter",
                     initialised);
        s.empty = true;
        return;
    }
    s.status = E_FAIL;
}

void unload(SharedLoad& s) {
    if (s.initialised) s.entries.v1.FreeLibraryHandler();
    if (s.module) FreeLibrary(s.module);
    s.status = 0;
    s.module = nullptr;
    s.entries = {};
    s.initialised = false;
    s.empty = false;
}

}  // namespace

HbaLibraryUse::HbaLibraryUse() {
    SharedLoad& s = shared_load();
    std::lock_guard guard(s.lock);
    if (s.users++ == 0) load(s);
}

HbaLibraryUse::~HbaLibraryUse() {
    SharedLoad& s = shared_load();
    std::lock_guard guard(s.lock);
    if (--s.users == 0) unload(s);
}

LONG HbaLibraryUse::status() const {
    SharedLoad& s = shared_load();
    std::lock_guard guard(s.lock);
    return s.status;
}

bool HbaLibraryUse::empty() const {
    SharedLoad& s = shared_load();
    std::lock_guard guard(s.lock);
    return s.empty;
}

const HbaEntryPoints& HbaLibraryUse::entries() const { return shared_load().entries; }

}  // namespace hostlib
