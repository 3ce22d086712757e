#include <platform/errors.h>
#include <platform/library.h>

namespace {
int g_programModule;  // its address is the program's module handle
}

HMODULE GetModuleHandleW(const WCHAR* name) {
    if (!name) return reinterpret_cast<HMODULE>(&g_programModule);
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
}
