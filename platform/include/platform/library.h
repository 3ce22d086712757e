#pragma once
// Libraries loaded by name. Windows library names map to Linux sonames in one
// table; SANPROV_LIB_<NAME> (NAME = the base name upper-cased without ".dll",
// e.g. SANPROV_LIB_HBAAPI) overrides one entry for tests.
// Failures set the last error: 126 (module not found), 127 (procedure not found).
#include <string>
#include <platform/types.h>

using FARPROC = void (*)();

HMODULE LoadLibraryA(const char* name);
HMODULE LoadLibraryW(const WCHAR* name);
FARPROC GetProcAddress(HMODULE module, const char* procName);
BOOL FreeLibrary(HMODULE module);

namespace platform {
// The file that LoadLibrary would open for a Windows library name.
std::string resolve_library_name(const std::string& windowsName);
// Typed lookup: GetProcAddress cast to the given function pointer type.
template <typename Fn>
Fn get_proc(HMODULE module, const char* name) {
    return reinterpret_cast<Fn>(GetProcAddress(module, name));
}
}  // namespace platform

// GetModuleHandleW(nullptr) is the program's own module: the handle its
// message table and string table are registered under.
HMODULE GetModuleHandleW(const WCHAR* name);
