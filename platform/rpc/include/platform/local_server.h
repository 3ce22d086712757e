#pragma once
// The administration class across processes. The process that registers its
// class object for multiple use with CLSCTX_LOCAL_SERVER becomes the local
// server and listens on $SANPROV_ROOT/run/sanprovd.sock (mode 0600, in a 0700
// directory; only a peer whose uid is root or the server's own is served).
// CoCreateInstance in any other process then returns a proxy: one connection
// and one server object per activation, released when the proxy is released or
// the client goes away. When a live server already holds the socket, a second
// registering process serves the class in process only.
#include <chrono>
#include <cstddef>
#include <filesystem>
#include <functional>

#include <platform/unknown.h>

constexpr HRESULT CO_E_SERVER_STOPPING = static_cast<HRESULT>(0x80004028u);

// While suspended the local server refuses new activations with
// CO_E_SERVER_STOPPING (the client retries); an activation already past the
// check has made its object before CoSuspendClassObjects returns.
HRESULT CoSuspendClassObjects();
HRESULT CoResumeClassObjects();

namespace platform {
std::filesystem::path local_server_socket();

// At most this many connections are served at once; one more is answered
// with HRESULT_FROM_WIN32(RPC_S_SERVER_TOO_BUSY) and closed. A server takes
// the limit in force when it starts; 0 restores the default.
inline constexpr size_t kDefaultConnectionLimit = 64;
void set_local_server_connection_limit(size_t limit);
// A connection that has not completed its next request within this time
// (after the greeting, or after the last reply) is closed, idle or stalled
// within a frame. 0 restores the default.
inline constexpr std::chrono::milliseconds kDefaultFrameWait{30000};
void set_local_server_frame_wait(std::chrono::milliseconds wait);
// True while this process listens for the administration class.
bool is_local_server();

// Starts the server of a class that nothing serves; activation then retries
// for up to 30 s. By default the service named by the class's AppID
// (LocalService) is started through the service manager; a class with no such
// registration fails at once with CO_E_SERVER_EXEC_FAILURE. Tests replace it.
// S_OK: started, activation waits for it to listen. S_FALSE: the server runs
// already (it may be stopping), so activation asks again while nothing listens.
using LocalServerStarter = std::function<HRESULT(REFCLSID clsid)>;
void set_local_server_starter(LocalServerStarter starter);
// Starts the server of the class as activation does (through the starter
// above), for clients of the service's other socket.
HRESULT start_local_server(REFCLSID clsid);
}  // namespace platform
