#pragma once
// Libraries loaded by name. Windows library names (any case, ".dll" optional)
// map to Linux libraries in one table:
//   hbaapi                      -> libHBAAPI.so.2
//   ssleay32, libssl            -> libssl.so.3
//   libeay32, libcrypto         -> libcrypto.so.3
//   iscsidsc                    -> libsanprov_iscsidsc.so  (in tree: beside the
//   kvxadmin                    -> libsanprov_kvxadmin.so   program, else the search)
//   kernel32, ntdll             -> built in: no file, always loaded, for their
//                                  message tables; they export nothing
// SANPROV_LIB_<NAME> (NAME = the base name upper-cased without ".dll", other
// characters as '_', e.g. SANPROV_LIB_HBAAPI) names the file for one name,
// listed or not. A name with a '/' or a ".so" is a Linux library taken as it
// is. libssl3.so (NSS, not OpenSSL) is never loaded.
// Libraries open with RTLD_NOW | RTLD_LOCAL; each LoadLibrary needs its FreeLibrary.
// Failures set the last error: 126 (module not found, also for a module handle
// that is not open), 127 (procedure not found).
#include <string>
#include <platform/types.h>

using FARPROC = void (*)();

HMODULE LoadLibraryA(const char* name);
HMODULE LoadLibraryW(const WCHAR* name);
FARPROC GetProcAddress(HMODULE module, const char* procName);
BOOL FreeLibrary(HMODULE module);

namespace platform {
// The file that LoadLibrary would open for a Windows library name; empty when
// it opens none (unknown names, built-in modules, libssl3.so).
std::string resolve_library_name(const std::string& windowsName);
// Typed lookup: GetProcAddress cast to the given function pointer type.
template <typename Fn>
Fn get_proc(HMODULE module, const char* name) {
    return reinterpret_cast<Fn>(GetProcAddress(module, name));
}
}  // namespace platform

// GetModuleHandleW(nullptr) is the program's own module: the handle its
// message table and string table are registered under. The built-in modules
// answer by name with the handle LoadLibrary gives them.
HMODULE GetModuleHandleW(const WCHAR* name);
