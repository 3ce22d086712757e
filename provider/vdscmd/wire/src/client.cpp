#include <vdscmd/client.h>

#include <platform/clock.h>
#include <platform/local_server.h>
#include <platform/provider_admin.h>
#include <vdscmd/arguments.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace vdscmd {
namespace {

constexpr DWORD kStartTimeoutMs = 30000;
constexpr DWORD kRetryMs = 100;

class Socket {
public:
    Socket() : m_fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0)) {}
    ~Socket() {
        if (m_fd >= 0) ::close(m_fd);
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

enum class Reach { Connected, NoServer, Stopping, Refused, Failed };

struct Attempt {
    Reach reach;
    HRESULT hr = S_OK;
};

// Connects and reads the greeting. The secret goes only to a service whose
// uid is root or ours.
Attempt Connect(const Socket& socket) {
    const std::string path = wire::SocketPath().string();
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (socket.get() < 0 || path.size() >= sizeof addr.sun_path) return {Reach::Failed, E_INVALIDARG};
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    if (::connect(socket.get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
        if (errno == ENOENT || errno == ECONNREFUSED) return {Reach::NoServer};
        return {Reach::Refused, errno == EACCES || errno == EPERM ? E_ACCESSDENIED : HRESULT_FROM_WIN32(errno)};
    }
    ucred cred{};
    socklen_t length = sizeof cred;
    if (::getsockopt(socket.get(), SOL_SOCKET, SO_PEERCRED, &cred, &length) != 0 ||
        (cred.uid != 0 && cred.uid != ::geteuid()))
        return {Reach::Refused, E_ACCESSDENIED};
    std::vector<uint8_t> frame;
    if (wire::RecvFrame(socket.get(), 64, frame) != wire::Received::Frame) return {Reach::NoServer};
    const auto hello = wire::DecodeMessage(frame);
    if (!hello || hello->kind != wire::Kind::Hello) return {Reach::Failed, E_UNEXPECTED};
    const auto hr = static_cast<HRESULT>(hello->value);
    if (hr == CO_E_SERVER_STOPPING) return {Reach::Stopping};
    if (FAILED(hr)) return {Reach::Refused, hr};
    return {Reach::Connected};
}

int Fail(const char* what, HRESULT hr) {
    std::fprintf(stderr, "vdsctl: %s: 0x%08X\n", what, static_cast<unsigned>(hr));
    return kExitService;
}

// Copies the service's frames out until its exit status arrives.
int Relay(int fd) {
    std::vector<uint8_t> frame;
    for (;;) {
        if (wire::RecvFrame(fd, wire::kMaxOutputFrame, frame) != wire::Received::Frame) break;
        const auto message = wire::DecodeMessage(frame);
        if (!message) break;
        switch (message->kind) {
        case wire::Kind::Out:
            std::fwrite(message->bytes.data(), 1, message->bytes.size(), stdout);
            std::fflush(stdout);
            break;
        case wire::Kind::Err:
            std::fwrite(message->bytes.data(), 1, message->bytes.size(), stderr);
            std::fflush(stderr);
            break;
        case wire::Kind::Exit: return static_cast<int>(message->value);
        default: return Fail("unexpected frame from sanprovd", E_UNEXPECTED);
        }
    }
    std::fprintf(stderr, "vdsctl: sanprovd went away before the command ended\n");
    return kExitService;
}

}  // namespace

int RunInService(const wire::Command& command) {
    const DWORD begin = GetTickCount();
    bool started = false;
    for (;;) {
        Socket socket;
        const Attempt attempt = Connect(socket);
        switch (attempt.reach) {
        case Reach::Connected:
            if (!wire::SendFrame(socket.get(), wire::EncodeCommand(command)))
                return Fail("sending the command to sanprovd failed", RPC_E_DISCONNECTED);
            return Relay(socket.get());
        case Reach::Refused:
            return Fail(attempt.hr == E_ACCESSDENIED ? "sanprovd refused this user" : "sanprovd refused the connection",
                        attempt.hr);
        case Reach::Failed: return Fail("cannot reach sanprovd", attempt.hr);
        case Reach::NoServer:
            if (!started) {
                // S_FALSE: it runs, perhaps on its way out; ask again while nothing listens.
                const HRESULT hr = platform::start_local_server(CLSID_ZarvoVdsProviderAdmin);
                if (hr == REGDB_E_CLASSNOTREG) return Fail("sanprovd is not installed (sanprovd -Service)", hr);
                if (FAILED(hr)) return Fail("starting sanprovd failed", hr);
                started = hr == S_OK;
            }
            break;
        case Reach::Stopping: break;
        }
        if (GetTickCount() - begin >= kStartTimeoutMs)
            return Fail("sanprovd did not answer within 30 seconds", CO_E_SERVER_EXEC_FAILURE);
        Sleep(kRetryMs);
    }
}

}  // namespace vdscmd
