#pragma once
// Modules built into the platform: the Windows system libraries the system
// loads only to reach their message tables ("KERNEL32.DLL", "NTDLL.DLL").
// They need no file and are always loaded.
#include <string_view>

#include <platform/types.h>

namespace platform::detail {
// The built-in module of a Windows library name (any case, ".dll" optional),
// or null.
HMODULE system_module(std::string_view windowsName);
}  // namespace platform::detail
