#pragma once
// An in-process HTTP peer on a loopback port: it reads each request whole
// (head and Content-Length body), keeps its raw bytes and answers with the
// next scripted reply, then closes, or holds the connection open until the
// client closes it.
#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <strings.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace testsupport {

struct CannedReply {
    std::string bytes;
    bool holdOpen = false;  // keep the connection until the client closes it
};

inline std::string http_reply(const std::string& body, const std::string& extraHeaders = "") {
    return "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\n" + extraHeaders +
           "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

class CannedResponder {
public:
    // Listens on the loopback address given, on the port given or a free one.
    explicit CannedResponder(CannedReply fallback = {}, const char* address = "127.0.0.1", int port = 0)
        : fallback_(std::move(fallback)) {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int on = 1;
        ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(port));
        ::inet_pton(AF_INET, address, &a.sin_addr);
        socklen_t n = sizeof a;
        ::bind(fd_, reinterpret_cast<sockaddr*>(&a), n);
        ::listen(fd_, 64);
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &n);
        port_ = ntohs(a.sin_port);
        thread_ = std::thread([this] { serve(); });
    }
    ~CannedResponder() {
        stop_ = true;
        thread_.join();
        ::close(fd_);
    }
    CannedResponder(const CannedResponder&) = delete;
    CannedResponder& operator=(const CannedResponder&) = delete;

    int port() const { return port_; }
    void push(CannedReply reply) {
        std::lock_guard guard(lock_);
        script_.push_back(std::move(reply));
    }
    std::vector<std::string> requests() const {
        std::lock_guard guard(lock_);
        return requests_;
    }
    // The source port of the last connection.
    int last_peer_port() const { return lastPeerPort_; }

private:
    void serve() {
        while (!stop_) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0) continue;
            sockaddr_in peer{};
            socklen_t n = sizeof peer;
            const int c = ::accept4(fd_, reinterpret_cast<sockaddr*>(&peer), &n, SOCK_CLOEXEC);
            if (c < 0) continue;
            lastPeerPort_ = ntohs(peer.sin_port);
            answer(c);
            ::close(c);
        }
    }

    void answer(int c) {
        std::string raw = read_request(c);
        CannedReply reply;
        {
            std::lock_guard guard(lock_);
            requests_.push_back(std::move(raw));
            if (script_.empty()) {
                reply = fallback_;
            } else {
                reply = std::move(script_.front());
                script_.pop_front();
            }
        }
        for (size_t sent = 0; sent < reply.bytes.size();) {
            const ssize_t k = ::send(c, reply.bytes.data() + sent, reply.bytes.size() - sent, MSG_NOSIGNAL);
            if (k <= 0) break;
            sent += static_cast<size_t>(k);
        }
        if (reply.holdOpen) wait_for_close(c);
    }

    // Holds the connection until the client closes it (at most 10 s).
    void wait_for_close(int c) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        char byte;
        while (!stop_ && std::chrono::steady_clock::now() < until) {
            pollfd p{c, POLLIN, 0};
            if (::poll(&p, 1, 20) > 0 && ::recv(c, &byte, 1, 0) <= 0) return;
        }
    }

    static std::string read_request(int c) {
        std::string raw;
        char buffer[8192];
        size_t headEnd = std::string::npos;
        size_t want = 0;
        for (;;) {
            pollfd p{c, POLLIN, 0};
            if (::poll(&p, 1, 5000) <= 0) return raw;
            const ssize_t k = ::recv(c, buffer, sizeof buffer, 0);
            if (k <= 0) return raw;
            raw.append(buffer, static_cast<size_t>(k));
            if (headEnd == std::string::npos && (headEnd = raw.find("\r\n\r\n")) != std::string::npos) {
                headEnd += 4;
                want = headEnd + content_length(raw.substr(0, headEnd));
            }
            if (headEnd != std::string::npos && raw.size() >= want) return raw;
        }
    }

    static size_t content_length(const std::string& head) {
        for (size_t at = 0; (at = head.find("\r\n", at)) != std::string::npos;) {
            at += 2;
            if (::strncasecmp(head.c_str() + at, "Content-Length:", 15) == 0)
                return std::strtoul(head.c_str() + at + 15, nullptr, 10);
        }
        return 0;
    }

    int fd_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<int> lastPeerPort_{0};
    CannedReply fallback_;
    mutable std::mutex lock_;
    std::deque<CannedReply> script_;
    std::vector<std::string> requests_;
    std::thread thread_;
};

}  // namespace testsupport
