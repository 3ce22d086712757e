#pragma once
// Delay-loaded libraries. The first call into such a library loads it and
// resolves the entry by name; a missing library or entry raises the delay-load
// exception (0xC06D007E, 0xC06D007F) with its DelayLoadInfo record, which the
// caller's exception filter examines. Here the exception is a C++ exception,
// delay_load_error, whose pointers() is what the filter receives.
#include <exception>
#include <map>
#include <string>

#include <platform/errors.h>
#include <platform/library.h>

constexpr DWORD ERROR_SEVERITY_SUCCESS = 0x00000000;
constexpr DWORD ERROR_SEVERITY_ERROR = 0xC0000000;
constexpr DWORD FACILITY_VISUALCPP = 0x6D;
constexpr DWORD VcppException(DWORD severity, DWORD status) { return severity | (FACILITY_VISUALCPP << 16) | status; }

constexpr LONG EXCEPTION_EXECUTE_HANDLER = 1;
constexpr LONG EXCEPTION_CONTINUE_SEARCH = 0;
constexpr LONG EXCEPTION_CONTINUE_EXECUTION = -1;
constexpr DWORD EXCEPTION_MAXIMUM_PARAMETERS = 15;

struct EXCEPTION_RECORD {
    DWORD ExceptionCode;
    DWORD ExceptionFlags;
    EXCEPTION_RECORD* ExceptionRecord;
    void* ExceptionAddress;
    DWORD NumberParameters;
    ULONG_PTR ExceptionInformation[EXCEPTION_MAXIMUM_PARAMETERS];
};

struct EXCEPTION_POINTERS {
    EXCEPTION_RECORD* ExceptionRecord;
    void* ContextRecord;
};

struct DelayLoadProc {
    BOOL fImportByName;
    union {
        LPCSTR szProcName;
        DWORD dwOrdinal;
    };
};

// ExceptionInformation[0] of a delay-load exception points to this record.
struct DelayLoadInfo {
    DWORD cb;
    const void* pidd;
    FARPROC* ppfn;
    LPCSTR szDll;
    DelayLoadProc dlp;
    HMODULE hmodCur;
    FARPROC pfnCur;
    DWORD dwLastError;
};

namespace platform {

class delay_load_error : public std::exception {
public:
    // `proc` null: the entry was imported by ordinal.
    delay_load_error(DWORD code, std::string dll, const char* proc, DWORD ordinal, DWORD lastError);
    delay_load_error(const delay_load_error& that);
    delay_load_error& operator=(const delay_load_error&) = delete;

    const EXCEPTION_POINTERS* pointers() const { return &m_pointers; }
    const char* what() const noexcept override { return "delay-load failure"; }

private:
    void link();

    std::string m_dll;
    std::string m_proc;
    DelayLoadInfo m_info{};
    EXCEPTION_RECORD m_record{};
    EXCEPTION_POINTERS m_pointers{};
};

// Resolves an entry of a delay-loaded library, loading the library on first
// use; it stays loaded for the life of the process. Throws delay_load_error.
FARPROC delay_load(const char* dll, const char* proc);

}  // namespace platform
