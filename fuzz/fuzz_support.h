#pragma once
// What the harnesses share: the client started once, a reply tree walked so
// that every byte of it is read, and a peer that sends bytes over a socket
// pair in the pieces a seed chooses.
#include <korvex/elem.h>
#include <korvex/http.h>
#include <korvex/server.h>

#include <adt/hash.h>
#include <adt/shttpc.h>
#include <adt/stab.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <random>
#include <sched.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "invoke_common.h"

namespace fuzz {

inline void start_client() {
    static const bool started = [] {
        char text[256];
        return kx_startup(text, sizeof text) == 1;
    }();
    if (!started) std::abort();
}

// Reads every name, attribute and text of a tree; aborts on a broken one.
inline size_t walk(kx_elem_rec* e) {
    size_t sum = 0;
    for (; e; e = e->next) {
        if (!e->name) std::abort();
        sum += std::strlen(e->name) + (e->text ? std::strlen(e->text) : 0);
        hash_cursor cursor{};
        for (const char* n = stab_first(e->attributes, &cursor); n; n = stab_next(e->attributes, &cursor))
            sum += std::strlen(n) + std::strlen(stab_get(e->attributes, n));
        if ((e->firstChild == nullptr) != (e->lastChild == nullptr)) std::abort();
        sum += walk(e->firstChild);
    }
    return sum;
}

// The first four bytes of the input choose the pieces; the rest is sent.
class SplitPeer {
public:
    SplitPeer(const uint8_t* data, size_t size) {
        uint32_t seed = 0;
        const size_t head = size < 4 ? size : 4;
        for (size_t i = 0; i < head; ++i) seed = seed << 8 | data[i];
        bytes_.assign(reinterpret_cast<const char*>(data) + head, size - head);
        int fds[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) std::abort();
        reader_ = fds[0];
        writer_ = fds[1];
        connection_ = http_conn_wrap(new shttpc_rec{SHTTPC_PLAIN, reader_, nullptr, nullptr, 0});
        if (!connection_) std::abort();
        thread_ = std::thread([this, seed] { send_in_pieces(seed); });
    }
    ~SplitPeer() {
        done_ = true;
        thread_.join();
        ::close(writer_);
        http_close(connection_);
    }
    SplitPeer(const SplitPeer&) = delete;
    SplitPeer& operator=(const SplitPeer&) = delete;

    http_conn_rec* connection() const { return connection_; }

private:
    // Each piece goes out once the reader has taken the one before, so each
    // read sees at most one piece.
    void send_in_pieces(uint32_t seed) {
        std::minstd_rand random(seed | 1);
        for (size_t at = 0; at < bytes_.size() && !done_;) {
            const size_t n = std::min(bytes_.size() - at, size_t{1} + random() % (random() % 4 == 0 ? 4096 : 16));
            if (!wait_drained() || !send_all(bytes_.data() + at, n)) return;
            at += n;
        }
        ::shutdown(writer_, SHUT_WR);
    }
    bool wait_drained() {
        for (int pending = 1; !done_;) {
            if (::ioctl(reader_, FIONREAD, &pending) != 0 || pending == 0) return true;
            sched_yield();
        }
        return false;
    }
    bool send_all(const char* p, size_t n) {
        while (n > 0 && !done_) {
            const ssize_t sent = ::send(writer_, p, n, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (sent > 0) {
                p += sent;
                n -= static_cast<size_t>(sent);
            } else if (errno == EAGAIN) {
                pollfd w{writer_, POLLOUT, 0};
                ::poll(&w, 1, 10);
            } else {
                return false;
            }
        }
        return n == 0;
    }

    std::string bytes_;
    int reader_ = -1, writer_ = -1;
    http_conn_rec* connection_ = nullptr;
    std::atomic<bool> done_{false};
    std::thread thread_;
};

}  // namespace fuzz
