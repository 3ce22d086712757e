#include "kvxadmin_library.h"

#include <platform/errors.h>

#include "fapi_raise.h"

kvxadmin_library::kvxadmin_library() : module_(LoadLibraryA("kvxadmin.dll")) {
    if (!module_) FAPI_RAISE(HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND));
}

kvxadmin_library::~kvxadmin_library() { FreeLibrary(module_); }

FARPROC kvxadmin_library::entry(const char* name) const {
    FARPROC proc = GetProcAddress(module_, name);
    if (!proc) FAPI_RAISE(HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND));
    return proc;
}

void raise_kvxadmin_status(DWORD status) {
    if (status != KVX_STATUS_SUCCESS) FAPI_RAISE(static_cast<HRESULT>(status | 0x10000000u));
}
