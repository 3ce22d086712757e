#include <platform/winsock.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <netdb.h>
#include <unistd.h>

namespace {

std::atomic<int> g_startCount{0};

struct ErrnoMapping {
    int err;
    DWORD wsa;
};

// The one errno table: every socket failure the system reports goes through it.
constexpr ErrnoMapping kErrnoTable[] = {
    {EINTR, WSAEINTR},
    {EBADF, WSAEBADF},
    {EACCES, WSAEACCES},
    {EPERM, WSAEACCES},
    {EFAULT, WSAEFAULT},
    {EINVAL, WSAEINVAL},
    {EMFILE, WSAEMFILE},
    {ENFILE, WSAEMFILE},
    {EWOULDBLOCK, WSAEWOULDBLOCK},
    {EINPROGRESS, WSAEINPROGRESS},
    {EALREADY, WSAEALREADY},
    {ENOTSOCK, WSAENOTSOCK},
    {EMSGSIZE, WSAEMSGSIZE},
    {EAFNOSUPPORT, WSAEAFNOSUPPORT},
    {EADDRINUSE, WSAEADDRINUSE},
    {EADDRNOTAVAIL, WSAEADDRNOTAVAIL},
    {ENETDOWN, WSAENETDOWN},
    {ENETUNREACH, WSAENETUNREACH},
    {ENETRESET, WSAENETRESET},
    {ECONNABORTED, WSAECONNABORTED},
    {ECONNRESET, WSAECONNRESET},
    {EPIPE, WSAECONNRESET},
    {ENOBUFS, WSAENOBUFS},
    {ENOMEM, WSAENOBUFS},
    {EISCONN, WSAEISCONN},
    {ENOTCONN, WSAENOTCONN},
    {ESHUTDOWN, WSAESHUTDOWN},
    {ETIMEDOUT, WSAETIMEDOUT},
    {ECONNREFUSED, WSAECONNREFUSED},
    {EHOSTDOWN, WSAEHOSTDOWN},
    {EHOSTUNREACH, WSAEHOSTUNREACH},
};

struct GaiMapping {
    int gai;
    DWORD wsa;
};

constexpr GaiMapping kGaiTable[] = {
    {EAI_NONAME, WSAHOST_NOT_FOUND},
#ifdef EAI_NODATA
    {EAI_NODATA, WSANO_DATA},
#endif
#ifdef EAI_ADDRFAMILY
    {EAI_ADDRFAMILY, WSANO_DATA},
#endif
    {EAI_AGAIN, WSATRY_AGAIN},
    {EAI_FAIL, WSANO_RECOVERY},
    {EAI_MEMORY, WSAENOBUFS},
    {EAI_FAMILY, WSAEAFNOSUPPORT},
    {EAI_SOCKTYPE, WSAEINVAL},
    {EAI_SERVICE, WSAHOST_NOT_FOUND},
    {EAI_BADFLAGS, WSAEINVAL},
};

}  // namespace

namespace platform {

DWORD wsa_error_from_errno(int err) {
    for (const auto& m : kErrnoTable)
        if (m.err == err) return m.wsa;
    return WSASYSCALLFAILURE;
}

DWORD wsa_error_from_gai(int gaiError, int err) {
    if (gaiError == EAI_SYSTEM) return wsa_error_from_errno(err);
    for (const auto& m : kGaiTable)
        if (m.gai == gaiError) return m.wsa;
    return WSANO_RECOVERY;
}

int wsa_start_count() { return g_startCount.load(); }

}  // namespace platform

int WSAStartup(WORD versionRequested, WSADATA* data) {
    const BYTE major = versionRequested & 0xFF;
    const BYTE minor = versionRequested >> 8;
    if (major < 1 || (major == 1 && minor < 1)) return static_cast<int>(WSAVERNOTSUPPORTED);
    if (!data) return static_cast<int>(WSAEFAULT);
    std::memset(data, 0, sizeof(*data));
    const WORD highest = MAKEWORD(2, 2);
    data->wHighVersion = highest;
    data->wVersion = (major > 2 || (major == 2 && minor >= 2)) ? highest : versionRequested;
    std::strcpy(data->szDescription, "WinSock 2.0");
    std::strcpy(data->szSystemStatus, "Running");
    ++g_startCount;
    return 0;
}

int WSACleanup() {
    int count = g_startCount.load();
    while (count > 0 && !g_startCount.compare_exchange_weak(count, count - 1)) {
    }
    if (count <= 0) {
        WSASetLastError(static_cast<int>(WSANOTINITIALISED));
        return SOCKET_ERROR;
    }
    return 0;
}

int WSAGetLastError() { return static_cast<int>(GetLastError()); }
void WSASetLastError(int error) { SetLastError(static_cast<DWORD>(error)); }

int closesocket(SOCKET s) {
    if (::close(s) == 0) return 0;
    WSASetLastError(static_cast<int>(platform::wsa_error_from_errno(errno)));
    return SOCKET_ERROR;
}
