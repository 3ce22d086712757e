#include <platform/socket_server.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <list>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

namespace platform {
namespace {

std::atomic<int> g_failThreads{0};

constexpr int kIdlePollMs = 1000;  // how often ended connections are joined when nothing arrives
constexpr int kFirstBackoffMs = 10;
constexpr int kLongestBackoffMs = 1000;

// What accept answers when the process or the system has no descriptor or
// buffer for one more connection: the connection stays pending.
bool out_of_resources(int error) { return error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM; }

std::thread start_connection_thread(std::function<void()> body) {
    for (int left = g_failThreads.load(); left > 0;)
        if (g_failThreads.compare_exchange_weak(left, left - 1))
            throw std::system_error(EAGAIN, std::generic_category(), "thread start failed (test)");
    return std::thread(std::move(body));
}

}  // namespace

void fail_socket_server_threads(int count) { g_failThreads = count; }

struct SocketServer::State {
    struct Connection {
        explicit Connection(int f) : fd(f) {}
        ~Connection() {
            if (fd >= 0) ::close(fd);
        }
        Connection(const Connection&) = delete;
        Connection& operator=(const Connection&) = delete;
        int fd;
        std::thread thread;
        std::atomic<bool> done{false};
    };

    State(int l, Handlers h, size_t max) : listener(l), handlers(std::move(h)), maxConnections(max) {}
    ~State() {
        for (int fd : {listener, wakeRead, wakeWrite})
            if (fd >= 0) ::close(fd);
    }
    State(const State&) = delete;
    State& operator=(const State&) = delete;

    void accept_loop();
    void admit(int fd);
    void refuse(int fd, Refusal why) {
        if (handlers.refuse) handlers.refuse(fd, why);
        ::close(fd);
    }
    // Joins the threads of connections that ended by themselves.
    void reap();
    void stop();

    const int listener;
    int wakeRead = -1, wakeWrite = -1;
    const Handlers handlers;
    const size_t maxConnections;
    std::mutex mutex;
    std::list<std::unique_ptr<Connection>> connections;
    std::atomic<size_t> live{0};
    std::thread acceptor;
};

void SocketServer::State::accept_loop() {
    int backoff = 0;  // ms to wait before the next accept; 0 while accepting works
    for (;;) {
        reap();
        // While backing off only the wake-up ends the wait: the pending
        // connection would wake poll at once, again and again.
        pollfd fds[2] = {{listener, static_cast<short>(backoff ? 0 : POLLIN), 0}, {wakeRead, POLLIN, 0}};
        const int n = ::poll(fds, 2, backoff ? backoff : kIdlePollMs);
        if (n < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[1].revents) return;
        if (!backoff && !(fds[0].revents & POLLIN)) continue;
        const int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            backoff = out_of_resources(errno) ? std::clamp(backoff * 2, kFirstBackoffMs, kLongestBackoffMs) : 0;
            continue;
        }
        backoff = 0;
        admit(fd);
    }
}

void SocketServer::State::admit(int fd) {
    if (live.load() >= maxConnections) return refuse(fd, Refusal::TooManyConnections);
    std::unique_lock lock(mutex);
    try {
        auto& c = connections.emplace_back(std::make_unique<Connection>(-1));
        c->fd = fd;
        c->thread = start_connection_thread([this, c = c.get()] {
            try {
                handlers.serve(c->fd);
            } catch (...) {
                // One connection's failure ends that connection, not the process.
            }
            ::shutdown(c->fd, SHUT_RDWR);  // the client sees the end now, not at the reaping
            --live;
            c->done = true;
        });
        ++live;
    } catch (const std::exception&) {
        if (!connections.empty() && connections.back()->fd == fd) {
            connections.back()->fd = -1;  // the refusal closes it
            connections.pop_back();
        }
        lock.unlock();
        refuse(fd, Refusal::NoThread);
    }
}

void SocketServer::State::reap() {
    std::list<std::unique_ptr<Connection>> ended;
    {
        std::lock_guard lock(mutex);
        for (auto it = connections.begin(); it != connections.end();) {
            auto next = std::next(it);
            if ((*it)->done) ended.splice(ended.end(), connections, it);
            it = next;
        }
    }
    for (auto& c : ended) c->thread.join();
}

void SocketServer::State::stop() {
    (void)!::write(wakeWrite, "x", 1);
    acceptor.join();
    std::list<std::unique_ptr<Connection>> all;
    {
        std::lock_guard lock(mutex);
        all.swap(connections);
        for (auto& c : all) ::shutdown(c->fd, SHUT_RDWR);
    }
    for (auto& c : all) c->thread.join();
}

std::unique_ptr<SocketServer> SocketServer::start(int listener, Handlers handlers, size_t maxConnections) {
    auto state = std::make_unique<State>(listener, std::move(handlers), maxConnections);
    int wake[2];
    if (::pipe2(wake, O_CLOEXEC) != 0) return nullptr;
    state->wakeRead = wake[0];
    state->wakeWrite = wake[1];
    // Accepting after a back-off must not block when the client gave up meanwhile.
    const int flags = ::fcntl(listener, F_GETFL);
    if (flags < 0 || ::fcntl(listener, F_SETFL, flags | O_NONBLOCK) != 0) return nullptr;
    try {
        state->acceptor = std::thread([s = state.get()] { s->accept_loop(); });
    } catch (const std::exception&) {
        return nullptr;
    }
    return std::unique_ptr<SocketServer>(new SocketServer(std::move(state)));
}

SocketServer::SocketServer(std::unique_ptr<State> state) : m_state(std::move(state)) {}

SocketServer::~SocketServer() { m_state->stop(); }

size_t SocketServer::connections() const { return m_state->live.load(); }

}  // namespace platform
