#include <adt/shttpc.h>
#include <adt/sock.h>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "log_root.h"

namespace {

using Clock = std::chrono::steady_clock;

// A loopback listener on a free port; closed on destruction.
class Listener {
public:
    explicit Listener(int backlog = 8) {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a = loopback(0);
        socklen_t n = sizeof a;
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&a), n) != 0 || ::listen(fd_, backlog) != 0 ||
            ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &n) != 0)
            ADD_FAILURE() << "listener: " << std::strerror(errno);
        port_ = ntohs(a.sin_port);
    }
    ~Listener() { close(); }
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;
    int accept() const { return ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC); }
    void close() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }
    uint16_t port() const { return port_; }
    sockaddr_in address() const { return loopback(port_); }
    static sockaddr_in loopback(uint16_t port) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        return a;
    }

private:
    int fd_ = -1;
    uint16_t port_ = 0;
};

struct ConnectionDeleter {
    void operator()(shttpc_rec* c) const { shttpc_close(c); }
};
using ConnectionPtr = std::unique_ptr<shttpc_rec, ConnectionDeleter>;

int connect_to(shttpc_rec* c, const sockaddr_in& a) {
    return shttpc_connect(c, reinterpret_cast<const sockaddr*>(&a), sizeof a);
}

ConnectionPtr connected(int kind, unsigned timeout, const Listener& l) {
    ConnectionPtr c(shttpc_new(kind, timeout));
    EXPECT_TRUE(c);
    if (c) {
        EXPECT_EQ(connect_to(c.get(), l.address()), 0) << WSAGetLastError();
    }
    return c;
}

long long elapsed_ms(Clock::time_point since) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count();
}

// Generous: reached only when what a test waits for never comes.
Clock::time_point generous_deadline() { return Clock::now() + std::chrono::seconds(30); }

// Waits until the connection's socket shows one of `events` (an error or a
// hang-up always counts), at most until the deadline.
bool socket_shows(const shttpc_rec* c, short events, Clock::time_point deadline) {
    for (;;) {
        const long long left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        pollfd p{static_cast<int>(c->socket), events, 0};
        const int n = ::poll(&p, 1, static_cast<int>(std::max(left, 0LL)));
        if (n > 0) return true;
        if (n == 0 || errno != EINTR) return false;
    }
}

}  // namespace

TEST(Sockets, RefusedConnectionReports10061WithAndWithoutTimeOut) {
    sockaddr_in closed;
    {
        Listener l;
        closed = l.address();
    }
    for (unsigned timeout : {0u, 2000u}) {
        ConnectionPtr c(shttpc_new(SHTTPC_PLAIN, timeout));
        ASSERT_TRUE(c);
        EXPECT_EQ(connect_to(c.get(), closed), -1);
        EXPECT_EQ(WSAGetLastError(), static_cast<int>(WSAECONNREFUSED)) << timeout;
    }
}

TEST(Sockets, ConnectToAListenerThatNeverAnswersTimesOutWith10060) {
    // A backlog of 0 that is already full: further handshakes get no answer.
    Listener l(0);
    std::vector<ConnectionPtr> fillers;
    for (int i = 0; i < 4; ++i) {
        ConnectionPtr f(shttpc_new(SHTTPC_PLAIN, 200));
        connect_to(f.get(), l.address());
        fillers.push_back(std::move(f));
    }
    ConnectionPtr c(shttpc_new(SHTTPC_PLAIN, 700));
    const auto start = Clock::now();
    EXPECT_EQ(connect_to(c.get(), l.address()), -1);
    EXPECT_EQ(WSAGetLastError(), static_cast<int>(WSAETIMEDOUT));
    EXPECT_GE(elapsed_ms(start), 650);
    EXPECT_LT(elapsed_ms(start), 3000);
}

TEST(Sockets, ReadsUntilThePeerClosesAndWritesEverything) {
    Listener l;
    ConnectionPtr c = connected(SHTTPC_PLAIN, 5000, l);
    const int peer = l.accept();
    ASSERT_GE(peer, 0);
    int small = 4096;
    ::setsockopt(peer, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);

    std::string received;
    std::thread reader([&] {
        char buf[1000];
        for (ssize_t n; (n = ::recv(peer, buf, sizeof buf, 0)) > 0;) received.append(buf, static_cast<size_t>(n));
    });
    const std::string payload(100000, 'p');
    EXPECT_EQ(shttpc_write(c.get(), payload.data(), static_cast<int>(payload.size())), 100000);
    ::shutdown(c->socket, SHUT_WR);
    reader.join();
    EXPECT_EQ(received, payload);

    ASSERT_EQ(::send(peer, "bye", 3, 0), 3);
    ::close(peer);
    char buf[16];
    EXPECT_EQ(shttpc_read(c.get(), buf, sizeof buf), 3);
    EXPECT_EQ(shttpc_read(c.get(), buf, sizeof buf), 0);
}

TEST(Sockets, ReadAndWriteStopAtTheTimeOut) {
    Listener l;
    ConnectionPtr c = connected(SHTTPC_PLAIN, 300, l);
    const int peer = l.accept();
    char buf[16];
    auto start = Clock::now();
    EXPECT_EQ(shttpc_read(c.get(), buf, sizeof buf), -1);
    EXPECT_EQ(WSAGetLastError(), static_cast<int>(WSAETIMEDOUT));
    EXPECT_GE(elapsed_ms(start), 290);

    // The peer never reads: the write gives what went out before the deadline.
    const std::string big(64 << 20, 'b');
    start = Clock::now();
    const int written = shttpc_write(c.get(), big.data(), static_cast<int>(big.size()));
    EXPECT_GT(written, 0);
    EXPECT_LT(written, static_cast<int>(big.size()));
    EXPECT_EQ(WSAGetLastError(), static_cast<int>(WSAETIMEDOUT));
    EXPECT_LT(elapsed_ms(start), 3000);

    // The next write waits the whole time-out again, not what was left of the last one.
    start = Clock::now();
    EXPECT_LT(shttpc_write(c.get(), big.data(), static_cast<int>(big.size())), static_cast<int>(big.size()));
    EXPECT_EQ(WSAGetLastError(), static_cast<int>(WSAETIMEDOUT));
    EXPECT_GE(elapsed_ms(start), 290);
    ::close(peer);
}

TEST(Sockets, WritingToAClosedPeerFailsWithoutSigpipe) {
    std::signal(SIGPIPE, SIG_DFL);
    Listener l;
    ConnectionPtr c = connected(SHTTPC_PLAIN, 0, l);
    const int peer = l.accept();
    const linger abort{1, 0};
    ::setsockopt(peer, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    ::close(peer);
    ASSERT_TRUE(socket_shows(c.get(), 0, generous_deadline())) << "the reset arrives";
    int result = 0;
    for (int i = 0; i < 5 && result >= 0; ++i) result = shttpc_write(c.get(), "data", 4);
    EXPECT_EQ(result, -1);
    EXPECT_EQ(WSAGetLastError(), static_cast<int>(WSAECONNRESET));
}

TEST(Sockets, NameLookUpGivesNumericAddressesAndHostNotFound) {
    in_addr a{};
    ASSERT_EQ(sock_gethostbyname("127.0.0.9", &a), 0);
    EXPECT_EQ(ntohl(a.s_addr), 0x7F000009u);
    ASSERT_EQ(sock_gethostbyname("localhost", &a), 0);
    EXPECT_EQ(ntohl(a.s_addr) >> 24, 127u);
    EXPECT_EQ(sock_gethostbyname("no-such-host.invalid", &a), static_cast<int>(WSAHOST_NOT_FOUND));
    EXPECT_EQ(sock_last_error(), static_cast<int>(WSAHOST_NOT_FOUND));
}

namespace {

// A TLS server for one connection with a self-signed certificate made here.
class TlsServer {
public:
    TlsServer() {
        EVP_PKEY* key = EVP_EC_gen("P-256");
        X509* cert = X509_new();
        ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
        X509_gmtime_adj(X509_getm_notBefore(cert), 0);
        X509_gmtime_adj(X509_getm_notAfter(cert), 3600);
        X509_set_pubkey(cert, key);
        X509_NAME* name = X509_get_subject_name(cert);
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("localhost"), -1, -1, 0);
        X509_set_issuer_name(cert, name);
        X509_sign(cert, key, EVP_sha256());
        context_ = SSL_CTX_new(TLS_server_method());
        SSL_CTX_use_certificate(context_, cert);
        SSL_CTX_use_PrivateKey(context_, key);
        X509_free(cert);
        EVP_PKEY_free(key);
    }
    ~TlsServer() {
        join();
        SSL_CTX_free(context_);
    }
    void join() {
        if (thread_.joinable()) thread_.join();
    }
    TlsServer(const TlsServer&) = delete;
    TlsServer& operator=(const TlsServer&) = delete;

    // Accepts one client, reads `expect` bytes and answers with `reply`.
    void serve_one(const std::string& expect, const std::string& reply) {
        thread_ = std::thread([this, expect, reply] {
            const int fd = listener_.accept();
            SSL* ssl = SSL_new(context_);
            SSL_set_fd(ssl, fd);
            if (SSL_accept(ssl) == 1) {
                std::string got(expect.size(), '\0');
                size_t have = 0;
                for (int n; have < got.size() && (n = SSL_read(ssl, got.data() + have, static_cast<int>(got.size() - have))) > 0;)
                    have += static_cast<size_t>(n);
                received = got.substr(0, have);
                SSL_write(ssl, reply.data(), static_cast<int>(reply.size()));
                SSL_shutdown(ssl);
            }
            SSL_free(ssl);
            ::close(fd);
        });
    }
    const Listener& listener() const { return listener_; }
    std::string received;

private:
    Listener listener_;
    SSL_CTX* context_ = nullptr;
    std::thread thread_;
};

std::string read_all(shttpc_rec* c) {
    std::string text;
    char buf[256];
    for (int n; (n = shttpc_read(c, buf, sizeof buf)) > 0;) text.append(buf, static_cast<size_t>(n));
    return text;
}

}  // namespace

TEST(Tls, ExchangesWithALocalServerBlockingAndWithTimeOut) {
    for (unsigned timeout : {0u, 5000u}) {
        TlsServer server;
        server.serve_one("ping", "pong");
        ConnectionPtr c = connected(SHTTPC_TLS, timeout, server.listener());
        ASSERT_TRUE(c && c->ssl);
        EXPECT_EQ(shttpc_write(c.get(), "ping", 4), 4);
        EXPECT_EQ(read_all(c.get()), "pong");
        server.join();
        EXPECT_EQ(server.received, "ping") << timeout;
    }
}

TEST(Tls, AFailedHandshakeIsReportedAsATlsFailure) {
    for (unsigned timeout : {0u, 3000u}) {
        Listener plain;
        std::thread peer([&] {
            const int fd = plain.accept();
            char buf[512];
            ::recv(fd, buf, sizeof buf, 0);
            const char answer[] = "HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\n\r\n";
            ::send(fd, answer, sizeof answer - 1, MSG_NOSIGNAL);
            ::close(fd);
        });
        ConnectionPtr c(shttpc_new(SHTTPC_TLS, timeout));
        EXPECT_EQ(connect_to(c.get(), plain.address()), -1);
        EXPECT_EQ(WSAGetLastError(), static_cast<int>(SHTTPC_ERR_TLS)) << timeout;
        peer.join();
    }
}

TEST(Tls, WritingToAClosedTlsPeerFailsWithoutSigpipe) {
    std::signal(SIGPIPE, SIG_DFL);
    TlsServer server;
    server.serve_one("", "");
    ConnectionPtr c = connected(SHTTPC_TLS, 0, server.listener());
    ASSERT_TRUE(c && c->ssl);
    server.join();
    const auto deadline = generous_deadline();
    ASSERT_TRUE(socket_shows(c.get(), POLLRDHUP, deadline)) << "the peer's close arrives";
    // What is written now the closed peer answers with a reset.
    const std::string chunk(16384, 'x');
    int result = 0;
    for (int i = 0; i < 20 && result >= 0; ++i) {
        result = shttpc_write(c.get(), chunk.data(), static_cast<int>(chunk.size()));
        if (result >= 0) socket_shows(c.get(), 0, deadline);
    }
    EXPECT_EQ(result, -1);
}

// The TLS layer initialises once per process, so each case runs in a child of its own.
TEST(TlsDeathTest, WithoutTheLibrariesTlsFailsWith10061AndPlainStillWorks) {
    EXPECT_EXIT(
        {
            ::setenv("SANPROV_LIB_SSLEAY32", "/nonexistent/libssl-missing.so", 1);
            Listener l;
            int failures = 0;
            for (int i = 0; i < 2; ++i) {
                ConnectionPtr tls(shttpc_new(SHTTPC_TLS, 1000));
                if (connect_to(tls.get(), l.address()) == -1 && WSAGetLastError() == static_cast<int>(WSAECONNREFUSED))
                    ++failures;
            }
            ConnectionPtr plain(shttpc_new(SHTTPC_PLAIN, 1000));
            const bool plainWorks = connect_to(plain.get(), l.address()) == 0;
            const std::string log = read_file(test_log_dir() + "application.log");
            const std::string line = "Failed to load SSL shared libraries\n";
            const size_t first = log.find(line);
            const bool loggedOnce = first != std::string::npos && log.find(line, first + 1) == std::string::npos;
            std::exit(failures == 2 && plainWorks && loggedOnce ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}
