#pragma once
// Fixed-width stand-ins for the Windows base types the system is written in.
#include <cstddef>
#include <cstdint>

using BOOL = int32_t;
using INT = int32_t;
using LONG = int32_t;
using HRESULT = int32_t;
using SHORT = int16_t;
using LONGLONG = int64_t;
using DWORD = uint32_t;
using ULONG = uint32_t;
using UINT = uint32_t;
using WORD = uint16_t;
using USHORT = uint16_t;
using BYTE = uint8_t;
using UCHAR = uint8_t;
using ULONGLONG = uint64_t;
using DWORDLONG = uint64_t;
using ULONG_PTR = uintptr_t;
using UINT_PTR = uintptr_t;
using DWORD_PTR = uintptr_t;
using LONG_PTR = intptr_t;
using SIZE_T = size_t;
using CHAR = char;
using WCHAR = char16_t;
using LPSTR = char*;
using LPCSTR = const char*;
using LPWSTR = WCHAR*;
using LPCWSTR = const WCHAR*;
using PVOID = void*;
using LPVOID = void*;
using LPCVOID = const void*;
using LPBYTE = BYTE*;
using LPDWORD = DWORD*;

using HANDLE = void*;
using HMODULE = struct HMODULE__*;
using HINSTANCE = HMODULE;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

constexpr DWORD INFINITE = 0xFFFFFFFFu;
inline HANDLE const INVALID_HANDLE_VALUE = reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1));

struct FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
};
static_assert(sizeof(FILETIME) == 8);

struct SYSTEMTIME {
    WORD wYear, wMonth, wDayOfWeek, wDay, wHour, wMinute, wSecond, wMilliseconds;
};
static_assert(sizeof(SYSTEMTIME) == 16);

// Security is recorded, not enforced: callers pass these and the stand-ins ignore them.
struct SECURITY_ATTRIBUTES {
    DWORD nLength;
    LPVOID lpSecurityDescriptor;
    BOOL bInheritHandle;
};
using LPSECURITY_ATTRIBUTES = SECURITY_ATTRIBUTES*;

static_assert(sizeof(WCHAR) == 2);
