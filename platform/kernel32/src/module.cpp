#include <platform/errors.h>
#include <platform/library.h>
#include <platform/text.h>

#include "system_module.h"

namespace {
int g_programModule;  // its address is the program's module handle
}

HMODULE GetModuleHandleW(const WCHAR* name) {
    if (!name) return reinterpret_cast<HMODULE>(&g_programModule);
    if (const auto narrow = platform::wide_to_utf8(name))
        if (HMODULE module = platform::detail::system_module(*narrow)) return module;
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
}
