#pragma once
// The host's names.
#include <platform/types.h>

enum COMPUTER_NAME_FORMAT {
    ComputerNameNetBIOS,
    ComputerNameDnsHostname,
    ComputerNameDnsDomain,
    ComputerNameDnsFullyQualified,
    ComputerNamePhysicalNetBIOS,
    ComputerNamePhysicalDnsHostname,
    ComputerNamePhysicalDnsDomain,
    ComputerNamePhysicalDnsFullyQualified,
};

// Windows semantics: on success *size is the length written without the NUL;
// a short buffer fails with ERROR_MORE_DATA and *size the length needed with it.
BOOL GetComputerNameExA(COMPUTER_NAME_FORMAT format, LPSTR buffer, LPDWORD size);

// The NetBIOS name: the host name up to its first ".", upper case, at most
// MAX_COMPUTERNAME_LENGTH characters. A short buffer fails with
// ERROR_BUFFER_OVERFLOW and *size the length needed with the NUL.
constexpr DWORD MAX_COMPUTERNAME_LENGTH = 15;
BOOL GetComputerNameW(WCHAR* buffer, LPDWORD size);
// Lower-cases a NUL-terminated text in place; returns it.
WCHAR* CharLowerW(WCHAR* text);
