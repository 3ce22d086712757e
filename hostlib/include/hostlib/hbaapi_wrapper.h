#pragma once
// The host's Fibre Channel adapters through the HBA API library "hbaapi.dll",
// loaded by name. One wrapper serves one query: it counts the users of each
// adapter it opens, so an adapter opened twice is closed once, and serialises
// its calls into the library on a lock of its own.
//
// The library refuses a second initialisation until it is freed, so every
// wrapper alive in the process shares one load: the first loads it, the last
// frees it.
#include <map>
#include <memory>
#include <string>

#include <platform/critical_section.h>
#include <platform/hbaapi.h>

namespace hostlib {
class HbaLibraryUse;
}

class HBAAPIWrapper {
public:
    // Loads and resolves; never throws. The outcome is the load status.
    HBAAPIWrapper();
    virtual ~HBAAPIWrapper();
    HBAAPIWrapper(const HBAAPIWrapper&) = delete;
    HBAAPIWrapper& operator=(const HBAAPIWrapper&) = delete;

    bool IsOk() const { return m_status == 0; }
    // 0; the system error of the failed step (126 library not found, 127 entry
    // point not found); or E_FAIL when the library's own initialisation failed.
    LONG GetLoadStatus() const { return m_status; }

    // On a wrapper that is not ok these assert, call nothing and answer
    // 0 adapters, HBA_STATUS_ERROR_NOT_LOADED, or handle 0.
    HBA_UINT32 GetNumberOfAdapters();
    HBA_STATUS GetAdapterName(HBA_UINT32 adapterIndex, char (&name)[256]);
    // The handle, 0 when the library cannot open it. A name already open gives
    // its handle again and counts one more user.
    HBA_HANDLE OpenAdapter(const char* name);
    // Drops one user; the last closes the adapter. Unknown handles are ignored.
    void CloseAdapter(HBA_HANDLE handle);
    HBA_STATUS GetAdapterAttributes(HBA_HANDLE handle, HBA_ADAPTERATTRIBUTES* attributes);
    HBA_STATUS GetAdapterPortAttributes(HBA_HANDLE handle, HBA_UINT32 portIndex, HBA_PORTATTRIBUTES* attributes);

private:
    struct OpenAdapterUse {
        HBA_HANDLE handle;
        ULONG references;
    };

    // Asserts the load status; the library's table when it may be called.
    const HBA_ENTRYPOINTS* callable() const;

    std::unique_ptr<hostlib::HbaLibraryUse> m_library;
    LONG m_status;
    CRITICAL_SECTION m_lock;
    std::map<std::string, OpenAdapterUse> m_adaptersByName;
    std::map<HBA_HANDLE, std::string> m_namesByHandle;
};
