#pragma once
// A listening stream socket served by one accepting thread and one thread per
// connection, with a bound on what outside clients can make it hold:
// - at most `maxConnections` connections are served at once; one more is
//   handed to the refusal (which may answer it) and closed;
// - a connection whose thread cannot be started (a thread or memory limit) is
//   refused the same way and the server goes on;
// - out of descriptors, the accepting thread backs off instead of spinning on
//   the connection that waits to be accepted.
// Destroying the server stops the accepting, shuts every connection down and
// joins every thread.
#include <cstddef>
#include <functional>
#include <memory>

namespace platform {

class SocketServer {
public:
    enum class Refusal { TooManyConnections, NoThread };
    struct Handlers {
        // Runs on the connection's own thread; the descriptor is closed after.
        // It must return once the descriptor is shut down.
        std::function<void(int fd)> serve;
        // Runs on the accepting thread, so it must not block.
        std::function<void(int fd, Refusal why)> refuse;
    };

    // Takes the listening descriptor. Null when the accepting thread cannot
    // start (the descriptor is then closed).
    static std::unique_ptr<SocketServer> start(int listener, Handlers handlers, size_t maxConnections);
    ~SocketServer();
    SocketServer(const SocketServer&) = delete;
    SocketServer& operator=(const SocketServer&) = delete;

    // Connections being served now.
    size_t connections() const;

    struct State;

private:
    explicit SocketServer(std::unique_ptr<State> state);
    std::unique_ptr<State> m_state;
};

// Test seam: the next `count` connection threads of any socket server fail to
// start, as they do under a thread or address-space limit.
void fail_socket_server_threads(int count);

}  // namespace platform
