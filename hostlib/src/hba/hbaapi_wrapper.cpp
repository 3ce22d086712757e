#include <hostlib/hbaapi_wrapper.h>

#include <hostlib/autolock.h>
#include <hostlib/com_error.h>

#include <cstring>

#include "hba_library.h"

HBAAPIWrapper::HBAAPIWrapper() : m_library(std::make_unique<hostlib::HbaLibraryUse>()) {
    m_status = m_library->status();
    InitializeCriticalSection(&m_lock);
}

HBAAPIWrapper::~HBAAPIWrapper() {
    m_library.reset();
    DeleteCriticalSection(&m_lock);
}

const HBA_ENTRYPOINTS* HBAAPIWrapper::callable() const {
    ReportAssertion("hostlib\\hbaapiwrapper", __LINE__, m_status == 0);
    // A failed load leaves entry points unresolved, and a library that failed
    // its initialisation is not called again: nothing is called then.
    return m_status == 0 && !m_library->empty() ? &m_library->entries().v1 : nullptr;
}

HBA_UINT32 HBAAPIWrapper::GetNumberOfAdapters() {
    CCriticalSectionHolder hold(&m_lock);
    const HBA_ENTRYPOINTS* library = callable();
    return library ? library->GetNumberOfAdaptersHandler() : 0;
}

HBA_STATUS HBAAPIWrapper::GetAdapterName(HBA_UINT32 adapterIndex, char (&name)[256]) {
    CCriticalSectionHolder hold(&m_lock);
    const HBA_ENTRYPOINTS* library = callable();
    return library ? library->GetAdapterNameHandler(adapterIndex, name) : HBA_STATUS_ERROR_NOT_LOADED;
}

HBA_HANDLE HBAAPIWrapper::OpenAdapter(const char* name) {
    CCriticalSectionHolder hold(&m_lock);
    const HBA_ENTRYPOINTS* library = callable();
    if (!library || !name) return 0;
    if (auto open = m_adaptersByName.find(name); open != m_adaptersByName.end()) {
        ++open->second.references;
        return open->second.handle;
    }
    // The library takes a writable name of at most 255 characters.
    char copy[256] = {};
    const size_t length = std::strlen(name);
    if (length >= sizeof copy) return 0;
    std::memcpy(copy, name, length);
    const HBA_HANDLE handle = library->OpenAdapterHandler(copy);
    if (handle != 0) {
        m_adaptersByName[name] = {handle, 1};
        m_namesByHandle[handle] = name;
    }
    return handle;
}

void HBAAPIWrapper::CloseAdapter(HBA_HANDLE handle) {
    CCriticalSectionHolder hold(&m_lock);
    const HBA_ENTRYPOINTS* library = callable();
    const auto named = m_namesByHandle.find(handle);
    if (!library || named == m_namesByHandle.end()) return;
    const auto open = m_adaptersByName.find(named->second);
    if (open == m_adaptersByName.end()) return;
    if (open->second.references > 0) --open->second.references;
    if (open->second.references == 0) {
        m_adaptersByName.erase(open);
        m_namesByHandle.erase(named);
        library->CloseAdapterHandler(handle);
    }
}

HBA_STATUS HBAAPIWrapper::GetAdapterAttributes(HBA_HANDLE handle, HBA_ADAPTERATTRIBUTES* attributes) {
    CCriticalSectionHolder hold(&m_lock);
    const HBA_ENTRYPOINTS* library = callable();
    if (!library) return HBA_STATUS_ERROR_NOT_LOADED;
    return attributes ? library->GetAdapterAttributesHandler(handle, attributes) : HBA_STATUS_ERROR_ARG;
}

HBA_STATUS HBAAPIWrapper::GetAdapterPortAttributes(HBA_HANDLE handle, HBA_UINT32 portIndex,
                                                   HBA_PORTATTRIBUTES* attributes) {
    CCriticalSectionHolder hold(&m_lock);
    const HBA_ENTRYPOINTS* library = callable();
    if (!library) return HBA_STATUS_ERROR_NOT_LOADED;
    return attributes ? library->GetAdapterPortAttributesHandler(handle, portIndex, attributes) : HBA_STATUS_ERROR_ARG;
}
