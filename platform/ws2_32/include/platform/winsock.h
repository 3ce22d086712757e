#pragma once
// Windows Sockets over POSIX sockets. The system's code calls the POSIX socket
// functions itself (getaddrinfo, poll, send with MSG_NOSIGNAL); what it needs of
// Windows Sockets is the start count, the last error and the one table that
// turns errno and resolver codes into the Windows Sockets numbers, because
// those numbers reach reasons, error numbers and events.
#include <platform/errors.h>
#include <platform/types.h>

using SOCKET = int;
constexpr SOCKET INVALID_SOCKET = -1;
constexpr int SOCKET_ERROR = -1;

struct WSADATA {
    WORD wVersion;
    WORD wHighVersion;
    unsigned short iMaxSockets;
    unsigned short iMaxUdpDg;
    char* lpVendorInfo;
    char szDescription[257];
    char szSystemStatus[129];
};
static_assert(sizeof(WSADATA) == 408);

constexpr WORD MAKEWORD(BYTE low, BYTE high) { return static_cast<WORD>(low | (high << 8)); }

// 0, or WSAVERNOTSUPPORTED for a version below 1.1, WSAEFAULT for no record.
// Each successful start is counted; WSACleanup undoes one.
int WSAStartup(WORD versionRequested, WSADATA* data);
// 0, or SOCKET_ERROR with WSANOTINITIALISED when nothing is started.
int WSACleanup();
// The calling thread's last error (shared with GetLastError, as on Windows).
int WSAGetLastError();
void WSASetLastError(int error);
int closesocket(SOCKET s);

namespace platform {
// The Windows Sockets number for an errno value; WSASYSCALLFAILURE when the
// table has none.
DWORD wsa_error_from_errno(int err);
// The Windows Sockets number for a getaddrinfo result (EAI_*); EAI_SYSTEM
// goes through the errno table with `err`.
DWORD wsa_error_from_gai(int gaiError, int err);
// Number of WSAStartup calls not yet undone.
int wsa_start_count();
}  // namespace platform
