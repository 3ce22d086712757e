#include <platform/delayload.h>

#include <mutex>

namespace platform {

delay_load_error::delay_load_error(DWORD code, std::string dll, const char* proc, DWORD ordinal, DWORD lastError)
    : m_dll(std::move(dll)), m_proc(proc ? proc : "") {
    m_info.cb = sizeof m_info;
    m_info.dlp.fImportByName = proc != nullptr;
    if (!proc) m_info.dlp.dwOrdinal = ordinal;
    m_info.dwLastError = lastError;
    m_record.ExceptionCode = code;
    m_record.NumberParameters = 1;
    link();
}

delay_load_error::delay_load_error(const delay_load_error& that)
    : std::exception(that), m_dll(that.m_dll), m_proc(that.m_proc), m_info(that.m_info), m_record(that.m_record) {
    link();
}

// The record points into this object, so each copy points anew.
void delay_load_error::link() {
    m_info.szDll = m_dll.c_str();
    if (m_info.dlp.fImportByName) m_info.dlp.szProcName = m_proc.c_str();
    m_record.ExceptionInformation[0] = reinterpret_cast<ULONG_PTR>(&m_info);
    m_pointers.ExceptionRecord = &m_record;
    m_pointers.ContextRecord = nullptr;
}

FARPROC delay_load(const char* dll, const char* proc) {
    static std::mutex lock;
    static std::map<std::string, HMODULE> loaded;
    const std::string name = dll ? dll : "";
    HMODULE module = nullptr;
    {
        std::lock_guard<std::mutex> guard(lock);
        auto it = loaded.find(name);
        if (it == loaded.end()) {
            module = LoadLibraryA(name.c_str());
            if (!module)
                throw delay_load_error(VcppException(ERROR_SEVERITY_ERROR, ERROR_MOD_NOT_FOUND), name, proc, 0,
                                       GetLastError());
            it = loaded.emplace(name, module).first;
        }
        module = it->second;
    }
    FARPROC entry = GetProcAddress(module, proc);
    if (!entry)
        throw delay_load_error(VcppException(ERROR_SEVERITY_ERROR, ERROR_PROC_NOT_FOUND), name, proc, 0,
                               GetLastError());
    return entry;
}

}  // namespace platform
