#include <vdscmd/server.h>

#include <platform/local_server.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

namespace vdscmd {
namespace {

constexpr HRESULT kServerTooBusy = static_cast<HRESULT>(0x800706BBu);  // RPC_S_SERVER_TOO_BUSY
constexpr int kCommandWaitSeconds = 30;  // for the command frame after the greeting
constexpr int kSendWaitSeconds = 10;     // a client that stops reading loses its output, not the command

std::atomic<bool> g_failThreadStarts{false};

bool PeerAllowed(int fd) {
    ucred cred{};
    socklen_t length = sizeof cred;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &length) != 0) return false;
    return cred.uid == 0 || cred.uid == ::geteuid();
}

void SetTimeout(int fd, int option, int seconds) {
    timeval tv{seconds, 0};
    ::setsockopt(fd, SOL_SOCKET, option, &tv, sizeof tv);
}

bool Hello(int fd, HRESULT hr) { return wire::SendFrame(fd, wire::EncodeValue(wire::Kind::Hello, static_cast<uint32_t>(hr))); }

bool Address(const std::filesystem::path& path, sockaddr_un& addr) {
    const std::string text = path.string();
    addr = sockaddr_un{};
    addr.sun_family = AF_UNIX;
    if (text.size() >= sizeof addr.sun_path) return false;
    std::memcpy(addr.sun_path, text.c_str(), text.size() + 1);
    return true;
}

// A connect that succeeds means a live server holds the path already.
bool LiveServerAt(const sockaddr_un& addr) {
    const int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (probe < 0) return false;
    const bool live = ::connect(probe, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0;
    ::close(probe);
    return live;
}

int ListenAt(const std::filesystem::path& path) {
    sockaddr_un addr{};
    if (!Address(path, addr) || LiveServerAt(addr)) return -1;
    ::unlink(path.c_str());  // a socket file left by a server that died
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    const mode_t old = ::umask(0177);
    const bool bound = ::bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0;
    ::umask(old);
    if (!bound || ::chmod(path.c_str(), 0600) != 0 || ::listen(fd, 64) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// A command's output, sent as it is written. Once the client is gone (or
// stops reading) the rest is dropped and the command goes on.
class SocketOutput final : public CommandOutput {
public:
    explicit SocketOutput(int fd) : m_fd(fd) {}
    void Write(wire::Kind kind, std::string_view bytes) override {
        if (!m_broken && !wire::SendFrame(m_fd, wire::EncodeText(kind, bytes))) m_broken = true;
    }
    bool Gone() override {
        if (m_broken) return true;
        // The client sends nothing after its command: anything readable is its end.
        pollfd p{m_fd, POLLIN | POLLRDHUP, 0};
        return ::poll(&p, 1, 0) > 0 && p.revents != 0;
    }
    void Exit(int status) {
        if (!m_broken) wire::SendFrame(m_fd, wire::EncodeValue(wire::Kind::Exit, static_cast<uint32_t>(status)));
    }

private:
    int m_fd;
    bool m_broken = false;
};

}  // namespace

struct CommandServer::Connection {
    int fd = -1;
    std::thread thread;
    std::atomic<bool> done{false};
    ~Connection() {
        if (thread.joinable()) thread.join();
        if (fd >= 0) ::close(fd);
    }
};

void CommandServer::FailThreadStarts(bool fail) { g_failThreadStarts = fail; }

CommandServer::CommandServer(std::filesystem::path path, ServiceGate& gate, CommandRunner runner)
    : m_path(std::move(path)), m_gate(gate), m_runner(std::move(runner)) {
    m_listener = ListenAt(m_path);
    if (m_listener < 0) return;
    struct stat st{};
    if (::stat(m_path.c_str(), &st) == 0) m_inode = st.st_ino;
    if (::pipe2(m_wake, O_CLOEXEC) != 0) {
        ::close(std::exchange(m_listener, -1));
        return;
    }
    m_acceptor = std::thread([this] { AcceptLoop(); });
}

CommandServer::~CommandServer() {
    if (m_acceptor.joinable()) {
        (void)!::write(m_wake[1], "x", 1);
        m_acceptor.join();
    }
    m_stopping = true;
    std::list<std::unique_ptr<Connection>> connections;
    {
        std::lock_guard lock(m_mutex);
        connections.swap(m_connections);
        // Nothing more is read: a client still to send its command is let go,
        // and a watch sees its end; a running command goes on to its end.
        for (auto& c : connections) ::shutdown(c->fd, SHUT_RD);
    }
    connections.clear();  // joins each
    if (m_listener >= 0) {
        // Only the socket file this server made is removed.
        struct stat st{};
        if (::stat(m_path.c_str(), &st) == 0 && st.st_ino == m_inode) ::unlink(m_path.c_str());
        ::close(m_listener);
    }
    for (int fd : m_wake)
        if (fd >= 0) ::close(fd);
}

void CommandServer::AcceptLoop() {
    int backoffMs = 0;
    for (;;) {
        pollfd fds[2] = {{m_listener, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
        const int n = ::poll(fds, 2, backoffMs ? backoffMs : 1000);
        Reap();
        if (n < 0 && errno != EINTR) return;
        if (fds[1].revents) return;
        if (n <= 0 || !(fds[0].revents & POLLIN)) {
            backoffMs = 0;
            continue;
        }
        const int fd = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            // Out of descriptors: wait for some to come back rather than spin.
            backoffMs = errno == EMFILE || errno == ENFILE ? 100 : 0;
            if (backoffMs) ::poll(nullptr, 0, backoffMs);
            continue;
        }
        backoffMs = 0;
        Admit(fd);
    }
}

void CommandServer::Admit(int fd) {
    SetTimeout(fd, SO_SNDTIMEO, kSendWaitSeconds);
    std::lock_guard lock(m_mutex);
    if (m_connections.size() >= kMaxConnections) {
        Hello(fd, kServerTooBusy);
        ::close(fd);
        return;
    }
    auto connection = std::make_unique<Connection>();
    connection->fd = fd;
    Connection* c = connection.get();
    try {
        if (g_failThreadStarts) throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
        c->thread = std::thread([this, c] {
            Serve(c->fd);
            ::shutdown(c->fd, SHUT_RDWR);  // the client sees the end now, not at the reaping
            c->done = true;
        });
    } catch (const std::system_error&) {
        Hello(fd, kServerTooBusy);
        return;  // the connection closes its descriptor
    }
    m_connections.push_back(std::move(connection));
}

void CommandServer::Reap() {
    std::list<std::unique_ptr<Connection>> ended;
    {
        std::lock_guard lock(m_mutex);
        for (auto it = m_connections.begin(); it != m_connections.end();) {
            auto next = std::next(it);
            if ((*it)->done) ended.splice(ended.end(), m_connections, it);
            it = next;
        }
    }
}

void CommandServer::Serve(int fd) {
    if (!PeerAllowed(fd)) {
        Hello(fd, E_ACCESSDENIED);
        return;
    }
    const HRESULT entered = m_gate.Enter();
    if (FAILED(entered)) {
        Hello(fd, entered);
        return;
    }
    struct Leave {
        ServiceGate& gate;
        ~Leave() { gate.Leave(); }
    } leave{m_gate};
    if (!Hello(fd, S_OK)) return;
    SetTimeout(fd, SO_RCVTIMEO, kCommandWaitSeconds);
    std::vector<uint8_t> frame;
    if (wire::RecvFrame(fd, wire::kMaxCommandFrame, frame) != wire::Received::Frame) return;
    auto command = wire::DecodeCommand(frame);
    std::fill(frame.begin(), frame.end(), 0);  // it may hold a secret
    if (!command) return;
    SocketOutput output(fd);
    const int status = m_runner(*command, output, m_stopping);
    if (command->secret) explicit_bzero(command->secret->data(), command->secret->size());
    output.Exit(status);
}

VdsHost& HeldHost::Host() {
    std::lock_guard lock(m_mutex);
    if (!m_host) m_host = std::make_unique<VdsHost>();
    return *m_host;
}

int HeldHost::Run(const wire::Command& command, CommandOutput& output, const std::atomic<bool>& stopping) {
    return RunCommand(Host(), command, output, stopping);
}

}  // namespace vdscmd
