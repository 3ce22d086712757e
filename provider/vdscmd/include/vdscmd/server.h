#pragma once
// sanprovd's disk-management socket: vdsctl's commands in, their output and
// exit status streamed back. One thread per connection, at most
// kMaxConnections at once; a peer whose uid is neither root nor the service's
// own is refused before anything runs; a malformed frame ends that connection
// only; a client that goes away leaves its command running to its end.
#include <atomic>
#include <filesystem>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

#include <sys/types.h>

#include <platform/types.h>
#include <vdscmd/commands.h>
#include <vdscmd/vds_host.h>

namespace vdscmd {

// Admission of a client: what keeps the service running while its command
// runs (the module lock), refused while the service is on its way out.
class ServiceGate {
public:
    // S_OK, or CO_E_SERVER_STOPPING (the client asks again).
    virtual HRESULT Enter() = 0;
    virtual void Leave() = 0;

protected:
    ~ServiceGate() = default;
};

using CommandRunner = std::function<int(const wire::Command&, CommandOutput&, const std::atomic<bool>& stopping)>;

class CommandServer {
public:
    static constexpr size_t kMaxConnections = 64;

    // Listens at `path` unless a live server holds it already.
    CommandServer(std::filesystem::path path, ServiceGate& gate, CommandRunner runner);
    // Stops listening, ends watches and waits for every running command.
    ~CommandServer();
    CommandServer(const CommandServer&) = delete;
    CommandServer& operator=(const CommandServer&) = delete;

    bool Listening() const { return m_listener >= 0; }
    // For tests: connection threads fail to start while set.
    static void FailThreadStarts(bool fail);

private:
    struct Connection;
    void AcceptLoop();
    void Admit(int fd);
    void Serve(int fd);
    void Reap();

    std::filesystem::path m_path;
    ServiceGate& m_gate;
    CommandRunner m_runner;
    int m_listener = -1;
    ino_t m_inode = 0;
    int m_wake[2] = {-1, -1};
    std::atomic<bool> m_stopping{false};
    std::mutex m_mutex;
    std::list<std::unique_ptr<Connection>> m_connections;
    std::thread m_acceptor;
};

// The providers that sanprovd holds for its clients: loaded by the first
// command, held until this goes.
class HeldHost {
public:
    int Run(const wire::Command& command, CommandOutput& output, const std::atomic<bool>& stopping);

private:
    VdsHost& Host();
    std::mutex m_mutex;
    std::unique_ptr<VdsHost> m_host;
};

}  // namespace vdscmd
