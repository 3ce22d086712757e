#include <adt/sock.h>

#include <arpa/inet.h>
#include <cerrno>
#include <netdb.h>
#include <platform/winsock.h>
#include <sys/socket.h>

int sock_gethostbyname(const char* host, struct in_addr* address) {
    if (!host || !address) {
        WSASetLastError(static_cast<int>(WSAEFAULT));
        return static_cast<int>(WSAEFAULT);
    }
    if (::inet_pton(AF_INET, host, address) == 1) return 0;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int rc = ::getaddrinfo(host, nullptr, &hints, &found);
    if (rc != 0 || !found) {
        const int error = static_cast<int>(platform::wsa_error_from_gai(rc ? rc : EAI_NONAME, errno));
        if (found) ::freeaddrinfo(found);
        WSASetLastError(error);
        return error;
    }
    *address = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr;
    ::freeaddrinfo(found);
    return 0;
}

int sock_last_error() { return WSAGetLastError(); }
