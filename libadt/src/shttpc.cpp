#include <adt/log.h>
#include <adt/shttpc.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <new>
#include <poll.h>
#include <pthread.h>
#include <sys/time.h>
#include <unistd.h>

#include "ssl_util.h"

namespace {

using Clock = std::chrono::steady_clock;

void fail_with(DWORD error) { WSASetLastError(static_cast<int>(error)); }
void fail_with_errno(int err) { fail_with(platform::wsa_error_from_errno(err)); }

// Every operation bounds itself by one deadline taken at its start.
class Deadline {
public:
    explicit Deadline(unsigned timeoutMs) : limited_(timeoutMs != 0), at_(Clock::now() + std::chrono::milliseconds(timeoutMs)) {}
    bool limited() const { return limited_; }
    // Milliseconds left, rounded up; -1 without a limit; below -1 when passed.
    long long remaining() const {
        if (!limited_) return -1;
        const auto left = at_ - Clock::now();
        if (left < Clock::duration::zero()) return -2;
        return std::chrono::ceil<std::chrono::milliseconds>(left).count();
    }

private:
    bool limited_;
    Clock::time_point at_;
};

enum class WaitSite { Connect, Handshake, Read, Write };

void log_wait_failure(WaitSite site, DWORD error) {
    switch (site) {
        case WaitSite::Connect:
            log_write(nullptr, LOG_LEVEL_ERROR, "shttpc_connect::socket is not selected, err=%d", static_cast<int>(error));
            break;
        case WaitSite::Handshake: log_write(nullptr, LOG_LEVEL_ERROR, "shttpc_connect::socket select error"); break;
        case WaitSite::Read: log_write(nullptr, LOG_LEVEL_ERROR, "shttpc_read: socket select error"); break;
        case WaitSite::Write: log_write(nullptr, LOG_LEVEL_INFO, "shttpc_write::socket select error. "); break;
    }
}

// 1 when the socket is ready, 0 when the time ran out (10060), -1 when the wait failed.
int wait_ready(const shttpc_rec* c, short events, const Deadline& deadline, WaitSite site) {
    for (;;) {
        const long long left = deadline.remaining();
        if (left < -1) {
            fail_with(WSAETIMEDOUT);
            return 0;
        }
        pollfd p{c->socket, events, 0};
        const int rc = ::poll(&p, 1, left < 0 ? -1 : static_cast<int>(left > INT_MAX ? INT_MAX : left));
        if (rc < 0 && errno == EINTR) continue;
        if (rc < 0) {
            const DWORD error = platform::wsa_error_from_errno(errno);
            log_wait_failure(site, error);
            fail_with(error);
            return -1;
        }
        if (rc == 0) {
            if (deadline.limited() && deadline.remaining() >= 0) continue;
            fail_with(WSAETIMEDOUT);
            return 0;
        }
        return 1;
    }
}

// OpenSSL writes to the socket itself, without MSG_NOSIGNAL: SIGPIPE is held
// back on this thread for the span of a TLS call and a pending one is taken.
class SigpipeGuard {
public:
    SigpipeGuard() {
        sigset_t pipe;
        sigemptyset(&pipe);
        sigaddset(&pipe, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipe, &previous_);
        sigset_t pending;
        sigpending(&pending);
        wasPending_ = sigismember(&pending, SIGPIPE) == 1;
    }
    ~SigpipeGuard() {
        sigset_t pending;
        sigpending(&pending);
        if (!wasPending_ && sigismember(&pending, SIGPIPE) == 1) {
            sigset_t pipe;
            sigemptyset(&pipe);
            sigaddset(&pipe, SIGPIPE);
            const timespec none{0, 0};
            while (sigtimedwait(&pipe, nullptr, &none) < 0 && errno == EINTR) {
            }
        }
        pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
    }
    SigpipeGuard(const SigpipeGuard&) = delete;
    SigpipeGuard& operator=(const SigpipeGuard&) = delete;

private:
    sigset_t previous_;
    bool wasPending_ = false;
};

bool set_blocking(SOCKET s, bool blocking) {
    const int flags = ::fcntl(s, F_GETFL);
    if (flags < 0) return false;
    const int wanted = blocking ? flags & ~O_NONBLOCK : flags | O_NONBLOCK;
    return wanted == flags || ::fcntl(s, F_SETFL, wanted) == 0;
}

timeval as_timeval(unsigned long long ms) {
    timeval tv{};
    tv.tv_sec = static_cast<time_t>(ms / 1000);
    tv.tv_usec = static_cast<suseconds_t>(ms % 1000 * 1000);
    // 0 would mean no limit at all.
    if (tv.tv_sec == 0 && tv.tv_usec == 0) tv.tv_usec = 1;
    return tv;
}

bool set_send_timeout(SOCKET s, unsigned long long ms) {
    const timeval tv = as_timeval(ms);
    return ::setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv) == 0;
}

// The kernel bounds each connect, send and receive of a plain socket itself:
// one system call a step, where a non-blocking socket with poll takes three.
bool set_io_timeouts(SOCKET s, unsigned ms) {
    const timeval tv = as_timeval(ms);
    return ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) == 0 &&
           ::setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv) == 0;
}

bool would_block(int err) { return err == EWOULDBLOCK || err == EAGAIN || err == EINPROGRESS; }

short wait_events_for(int sslError) { return sslError == SSL_ERROR_WANT_READ_CODE ? POLLIN : POLLOUT; }
bool wants_io(int sslError) { return sslError == SSL_ERROR_WANT_READ_CODE || sslError == SSL_ERROR_WANT_WRITE_CODE; }

int tls_setup_failure(const char* text) {
    log_write(nullptr, LOG_LEVEL_ERROR, "%s", text);
    fail_with(WSAECONNREFUSED);
    return -1;
}

int tls_handshake(shttpc_rec* c, const Deadline& deadline) {
    const ssl_util_api* ssl = ssl_util_init();
    if (!ssl) return tls_setup_failure("SSL Initialization error");
    const ssl_method_st* method = ssl->TLS_client_method();
    if (!method) return tls_setup_failure("Not able to create SSL method");
    if (!(c->context = ssl->SSL_CTX_new(method))) return tls_setup_failure("Not able to create SSL context");
    c->ssl = ssl->SSL_new(c->context);
    if (!c->ssl || ssl->SSL_set_fd(c->ssl, c->socket) != 1) return tls_setup_failure("Failed: SSL_set_fd()\n");
    const SigpipeGuard guard;
    for (;;) {
        const int rc = ssl->SSL_connect(c->ssl);
        if (rc > 0) return 0;
        const int error = ssl->SSL_get_error(c->ssl, rc);
        if (!deadline.limited() || !wants_io(error)) {
            // A failed handshake is a TLS failure, never a small number that
            // callers would read as a permission or socket error.
            fail_with(SHTTPC_ERR_TLS);
            return -1;
        }
        if (wait_ready(c, wait_events_for(error), deadline, WaitSite::Handshake) <= 0) return -1;
    }
}

// 0 when the pending connect completed, -1 (error set) otherwise.
int finish_pending_connect(shttpc_rec* c, const Deadline& deadline) {
    if (wait_ready(c, POLLOUT, deadline, WaitSite::Connect) <= 0) return -1;
    int pending = 0;
    socklen_t size = sizeof pending;
    if (::getsockopt(c->socket, SOL_SOCKET, SO_ERROR, &pending, &size) != 0) {
        fail_with(WSAECONNREFUSED);
        return -1;
    }
    if (pending != 0) {
        fail_with_errno(pending);
        return -1;
    }
    return 0;
}

// A blocking socket with the time-out set: the kernel gives up with
// EINPROGRESS when the time-out passed.
int plain_connect(shttpc_rec* c, const sockaddr* address, socklen_t length, const Deadline& deadline) {
    if (::connect(c->socket, address, length) == 0) return 0;
    const int err = errno;
    // An interrupted connect goes on in the background: wait for it as for a non-blocking one.
    if (err == EINTR) return finish_pending_connect(c, deadline);
    fail_with(deadline.limited() && would_block(err) ? WSAETIMEDOUT : platform::wsa_error_from_errno(err));
    return -1;
}

int nonblocking_connect(shttpc_rec* c, const sockaddr* address, socklen_t length, const Deadline& deadline) {
    if (::connect(c->socket, address, length) == 0) return 0;
    const int err = errno;
    if (err != EINTR && (!deadline.limited() || !would_block(err))) {
        fail_with_errno(err);
        return -1;
    }
    return finish_pending_connect(c, deadline);
}

int tls_read(shttpc_rec* c, void* buffer, int size, const Deadline& deadline) {
    const ssl_util_api* ssl = ssl_util_init();
    const SigpipeGuard guard;
    for (;;) {
        const int n = ssl->SSL_read(c->ssl, buffer, size);
        if (n >= 0) return n;
        const int error = ssl->SSL_get_error(c->ssl, n);
        if (!deadline.limited() || !wants_io(error)) {
            fail_with(static_cast<DWORD>(error));
            return -1;
        }
        if (wait_ready(c, wait_events_for(error), deadline, WaitSite::Read) <= 0) return -1;
    }
}

// Plain sockets block with the time-out set on the socket: a receive that
// times out fails with EAGAIN. After a signal the rest of the time is waited
// out in poll.
int plain_read(shttpc_rec* c, void* buffer, int size, const Deadline& deadline) {
    for (;;) {
        const ssize_t n = ::recv(c->socket, buffer, static_cast<size_t>(size), 0);
        if (n >= 0) return static_cast<int>(n);
        const int err = errno;
        if (deadline.limited() && would_block(err)) {
            fail_with(WSAETIMEDOUT);
            return -1;
        }
        if (err != EINTR) {
            fail_with_errno(err);
            return -1;
        }
        if (deadline.limited() && wait_ready(c, POLLIN, deadline, WaitSite::Read) <= 0) return -1;
    }
}

int tls_write(shttpc_rec* c, const void* bytes, int length, const Deadline& deadline) {
    const ssl_util_api* ssl = ssl_util_init();
    const SigpipeGuard guard;
    for (;;) {
        const int n = ssl->SSL_write(c->ssl, bytes, length);
        if (n > 0) return n;
        const int error = ssl->SSL_get_error(c->ssl, n);
        if (!deadline.limited() || !wants_io(error)) {
            fail_with(static_cast<DWORD>(error));
            return -1;
        }
        if (wait_ready(c, wait_events_for(error), deadline, WaitSite::Write) <= 0) return -1;
    }
}

int send_rest(shttpc_rec* c, const char* p, int length, const Deadline& deadline, bool& shortened) {
    int written = 0;
    while (written < length) {
        if (written > 0 && deadline.limited()) {
            const long long left = deadline.remaining();
            if (left < 0 || !set_send_timeout(c->socket, static_cast<unsigned long long>(left))) {
                fail_with(WSAETIMEDOUT);
                return written;
            }
            shortened = true;
        }
        const ssize_t n = ::send(c->socket, p + written, static_cast<size_t>(length - written), MSG_NOSIGNAL);
        if (n >= 0) {
            written += static_cast<int>(n);
            continue;
        }
        const int err = errno;
        if (err == EINTR) continue;
        if (deadline.limited() && would_block(err)) {
            fail_with(WSAETIMEDOUT);
            return written;
        }
        fail_with_errno(err);
        return -1;
    }
    return written;
}

// A blocking send with the time-out set returns what went out before the
// time-out, or EAGAIN when nothing did; a send after a partial one may only
// wait for what is left of this call's time, and the socket's own time-out
// is put back for the next call.
int plain_write(shttpc_rec* c, const void* bytes, int length, const Deadline& deadline) {
    bool shortened = false;
    const int written = send_rest(c, static_cast<const char*>(bytes), length, deadline, shortened);
    if (shortened) {
        const int error = WSAGetLastError();
        set_send_timeout(c->socket, c->timeout);
        WSASetLastError(error);
    }
    return written;
}

}  // namespace

shttpc_rec* shttpc_new(int kind, unsigned int timeoutMs) {
    auto* c = new (std::nothrow) shttpc_rec{kind, INVALID_SOCKET, nullptr, nullptr, timeoutMs};
    if (!c) {
        log_nomem("socket creation");
        return nullptr;
    }
    c->socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (c->socket == INVALID_SOCKET) {
        fail_with_errno(errno);
        log_write(nullptr, LOG_LEVEL_ERROR, "shttpc_socket_new::Not able to create socket,error number = %d",
                  WSAGetLastError());
        delete c;
        return nullptr;
    }
    return c;
}

int shttpc_connect(shttpc_rec* c, const struct sockaddr* address, socklen_t length) {
    if (!c || !address) {
        fail_with(WSAEFAULT);
        return -1;
    }
    const bool plain = c->kind == SHTTPC_PLAIN;
    const bool ready = plain ? c->timeout == 0 || set_io_timeouts(c->socket, c->timeout)
                             : set_blocking(c->socket, c->timeout == 0);
    if (!ready) {
        fail_with_errno(errno);
        return -1;
    }
    const Deadline deadline(c->timeout);
    if (plain) return plain_connect(c, address, length, deadline);
    if (c->kind != SHTTPC_TLS) {
        fail_with(WSAETIMEDOUT);
        return -1;
    }
    if (nonblocking_connect(c, address, length, deadline) != 0) return -1;
    return tls_handshake(c, deadline);
}

int shttpc_read(shttpc_rec* c, void* buffer, int size) {
    if (!c || !buffer || size < 0) {
        fail_with(WSAEFAULT);
        return -1;
    }
    const Deadline deadline(c->timeout);
    if (c->kind == SHTTPC_PLAIN) return plain_read(c, buffer, size, deadline);
    if (c->kind == SHTTPC_TLS && c->ssl) return tls_read(c, buffer, size, deadline);
    fail_with(c->kind == SHTTPC_TLS ? WSAENOTCONN : WSAETIMEDOUT);
    return -1;
}

int shttpc_write(shttpc_rec* c, const void* bytes, int length) {
    if (!c || (!bytes && length > 0) || length < 0) {
        fail_with(WSAEFAULT);
        return -1;
    }
    const Deadline deadline(c->timeout);
    if (c->kind == SHTTPC_PLAIN) return plain_write(c, bytes, length, deadline);
    if (c->kind == SHTTPC_TLS && c->ssl) return length == 0 ? 0 : tls_write(c, bytes, length, deadline);
    if (c->kind == SHTTPC_TLS) {
        fail_with(WSAENOTCONN);
        return -1;
    }
    fail_with(WSAETIMEDOUT);
    return 0;
}

void shttpc_close(shttpc_rec* c) {
    if (!c) return;
    if (c->kind == SHTTPC_TLS) {
        // Only a layer that made these objects can hold them, so it is loaded.
        if (const ssl_util_api* ssl = (c->ssl || c->context) ? ssl_util_init() : nullptr) {
            if (c->ssl) ssl->SSL_free(c->ssl);
            if (c->context) ssl->SSL_CTX_free(c->context);
        }
    }
    if (c->socket != INVALID_SOCKET) closesocket(c->socket);
    delete c;
}

int shttpc_bind(shttpc_rec* c, const struct sockaddr* address, socklen_t length) {
    if (::bind(c->socket, address, length) == 0) return 0;
    fail_with_errno(errno);
    return SOCKET_ERROR;
}

int shttpc_setsockopt(shttpc_rec* c, int level, int option, const void* value, socklen_t length) {
    if (::setsockopt(c->socket, level, option, value, length) == 0) return 0;
    fail_with_errno(errno);
    return SOCKET_ERROR;
}
