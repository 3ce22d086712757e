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
