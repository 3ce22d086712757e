#pragma once
// One TCP connection of the client's transports, plain or TLS, with one
// millisecond time-out that bounds every connect, read and write (0: blocking,
// no limit). Functions return -1 (or NULL) and leave the reason in the Windows
// Sockets last error: the socket's own error, 10060 when the time-out passed,
// 10061 when the TLS layer could not be set up or the socket error was not
// readable, SHTTPC_ERR_TLS when the TLS handshake failed, or OpenSSL's
// SSL_get_error code when a TLS read or write fails. No call raises SIGPIPE.
#include <platform/errors.h>
#include <platform/winsock.h>
#include <sys/socket.h>

struct ssl_st;
struct ssl_ctx_st;

enum shttpc_kind { SHTTPC_PLAIN = 0, SHTTPC_TLS = 1 };

// A TLS handshake that fails: reported apart from every socket and
// permission error so that callers can say it was the secure channel.
constexpr DWORD SHTTPC_ERR_TLS = ERROR_WINHTTP_SECURE_CHANNEL_ERROR;

struct shttpc_rec {
    int kind;
    SOCKET socket;
    ssl_st* ssl;
    ssl_ctx_st* context;
    unsigned int timeout;
};

// A new IPv4 stream socket; NULL on failure (logged).
shttpc_rec* shttpc_new(int kind, unsigned int timeoutMs);
// Connects and, for TLS, completes the handshake; 0 or -1.
int shttpc_connect(shttpc_rec* connection, const struct sockaddr* address, socklen_t length);
// What is available, at most size bytes; 0 at the end of the stream, -1 on failure.
int shttpc_read(shttpc_rec* connection, void* buffer, int size);
// Writes all bytes; the length, -1 on failure, or the bytes written so far
// when the time-out passed (10060).
int shttpc_write(shttpc_rec* connection, const void* bytes, int length);
// Frees the TLS handle and context, closes the socket, frees the record. NULL is ignored.
void shttpc_close(shttpc_rec* connection);
int shttpc_bind(shttpc_rec* connection, const struct sockaddr* address, socklen_t length);
int shttpc_setsockopt(shttpc_rec* connection, int level, int option, const void* value, socklen_t length);
