// The local server of the administration class: one listening thread and one
// thread per connection, each connection serving one object.
#include "admin_server.h"

#include <platform/comalloc.h>
#include <platform/local_server.h>
#include <platform/provider_admin.h>
#include <platform/state_root.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

#include "admin_wire.h"
#include "com_ref.h"

namespace platform {

std::filesystem::path local_server_socket() { return state_dir("run") / "sanprovd.sock"; }

namespace {

using wire::Marker;
using wire::Method;

// Owns a descriptor.
class Fd {
public:
    explicit Fd(int fd = -1) : m_fd(fd) {}
    Fd(Fd&& o) noexcept : m_fd(std::exchange(o.m_fd, -1)) {}
    Fd& operator=(Fd&& o) noexcept {
        std::swap(m_fd, o.m_fd);
        return *this;
    }
    ~Fd() {
        if (m_fd >= 0) ::close(m_fd);
    }
    int get() const { return m_fd; }

private:
    int m_fd;
};

bool peer_allowed(int fd) {
    ucred cred{};
    socklen_t len = sizeof cred;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0) return false;
    return cred.uid == 0 || cred.uid == ::geteuid();
}

// Out arguments of the server's calls start at these marks, so the reply can
// tell "left alone" from any value the object wrote.
WCHAR g_unchangedText;
FILER_RECORD* g_unchangedArrayMark;
LPWSTR const kUnchangedText = &g_unchangedText;
FILER_RECORD** const kUnchangedArray = &g_unchangedArrayMark;

template <typename T>
T* out_pointer(Marker m, T* local) {
    return m == Marker::Null ? nullptr : m == Marker::Bad ? wire::bad_pointer<T>() : local;
}

void reply_text(wire::Writer& out, Marker m, LPWSTR text) {
    if (m != Marker::Present) return;
    if (text == kUnchangedText) return out.marker(Marker::Unchanged);
    out.wstr(text);
    CoTaskMemFree(text);
}

// One call of the object, decoded from `in` and answered into `out`; false for
// a malformed request.
class Dispatcher {
public:
    explicit Dispatcher(IZarvoVdsProviderAdmin* object) : m_object(object) {}

    bool run(Method method, wire::Reader& in, wire::Writer& out) {
        switch (method) {
        case Method::GetLastError: return get_last_error(in, out);
        case Method::LoadFilerList: return load(in, out);
        case Method::CommitFilerList: return commit(in, out);
        case Method::CheckFilerEntry: return check(in, out);
        default: return false;
        }
    }

private:
    struct HrOut {
        Marker marker;
        HRESULT value;
    };
    static HrOut hr_out(wire::Reader& in) {
        HrOut h{in.marker(), 0};
        if (h.marker == Marker::Present) h.value = static_cast<HRESULT>(in.u32());
        return h;
    }

    bool get_last_error(wire::Reader& in, wire::Writer& out) {
        const DWORD flags = in.u32();
        HrOut hr = hr_out(in);
        const Marker textMarker = in.marker();
        if (!in.at_end()) return false;
        LPWSTR text = kUnchangedText;
        const HRESULT result = m_object->GetLastError(flags, out_pointer(hr.marker, &hr.value),
                                                      out_pointer(textMarker, &text));
        out.u32(static_cast<uint32_t>(result));
        if (hr.marker == Marker::Present) out.u32(static_cast<uint32_t>(hr.value));
        reply_text(out, textMarker, text);
        return true;
    }

    bool load(wire::Reader& in, wire::Writer& out) {
        const DWORD flags = in.u32();
        const Marker countMarker = in.marker();
        ULONG count = countMarker == Marker::Present ? in.u32() : 0;
        const Marker arrayMarker = in.marker();
        if (!in.at_end()) return false;
        FILER_RECORD** array = kUnchangedArray;
        const HRESULT result = m_object->LoadFilerList(flags, out_pointer(countMarker, &count),
                                                       out_pointer(arrayMarker, &array));
        out.u32(static_cast<uint32_t>(result));
        if (countMarker == Marker::Present) out.u32(count);
        if (arrayMarker != Marker::Present) return true;
        if (array == kUnchangedArray) {
            out.marker(Marker::Unchanged);
        } else if (!array) {
            out.marker(Marker::Null);
        } else {
            const ULONG n = countMarker == Marker::Present ? count : 0;
            out.marker(Marker::Present);
            out.u32(n);
            for (ULONG i = 0; i < n; ++i) {
                out.record(array[i]);
                free_record(array[i]);
            }
            CoTaskMemFree(array);
        }
        return true;
    }

    static void free_record(FILER_RECORD* r) {
        if (!r) return;
        CoTaskMemFree(r->wszKey);
        CoTaskMemFree(r->wszDnsName);
        CoTaskMemFree(r->wszUserName);
        CoTaskMemFree(r->wszPassword);
        CoTaskMemFree(r);
    }

    bool commit(wire::Reader& in, wire::Writer& out) {
        const DWORD flags = in.u32();
        const ULONG count = in.u32();
        const Marker arrayMarker = in.marker();
        if (!in.ok()) return false;
        wire::RecordStore store;
        std::vector<FILER_RECORD*> records;
        FILER_RECORD** array = out_pointer<FILER_RECORD*>(arrayMarker, nullptr);
        if (arrayMarker == Marker::Present) {
            // Each record takes at least one byte of the frame.
            if (count > in.remaining() / wire::kMinRecordBytes) return false;
            records.reserve(count);
            for (ULONG i = 0; i < count; ++i) {
                auto r = store.read(in);
                if (!r) return false;
                records.push_back(*r);
            }
            array = records.data();
        } else if (arrayMarker == Marker::Unchanged) {
            return false;
        }
        if (!in.at_end()) return false;
        out.u32(static_cast<uint32_t>(m_object->CommitFilerList(flags, count, array)));
        return true;
    }

    bool check(wire::Reader& in, wire::Writer& out) {
        const DWORD flags = in.u32();
        wire::RecordStore store;
        auto record = store.read(in);
        if (!record) return false;
        HrOut hr = hr_out(in);
        const Marker textMarker = in.marker();
        if (!in.at_end()) return false;
        LPWSTR text = kUnchangedText;
        const HRESULT result = m_object->CheckFilerEntry(flags, *record, out_pointer(hr.marker, &hr.value),
                                                         out_pointer(textMarker, &text));
        out.u32(static_cast<uint32_t>(result));
        if (hr.marker == Marker::Present) out.u32(static_cast<uint32_t>(hr.value));
        reply_text(out, textMarker, text);
        return true;
    }

    IZarvoVdsProviderAdmin* m_object;
};

wire::Writer hresult_frame(HRESULT hr) {
    wire::Writer w;
    w.u32(static_cast<uint32_t>(hr));
    return w;
}

class AdminServer {
public:
    AdminServer(Fd listener, std::filesystem::path path, ComRef<IClassFactory> factory)
        : m_listener(std::move(listener)), m_path(std::move(path)), m_factory(std::move(factory)) {
        int pipeFds[2];
        if (::pipe2(pipeFds, O_CLOEXEC) == 0) {
            m_wakeRead = Fd(pipeFds[0]);
            m_wakeWrite = Fd(pipeFds[1]);
        }
        struct stat st{};
        if (::stat(m_path.c_str(), &st) == 0) m_inode = st.st_ino;
        m_acceptor = std::thread([this] { accept_loop(); });
    }

    ~AdminServer() {
        (void)!::write(m_wakeWrite.get(), "x", 1);
        m_acceptor.join();
        // Only the socket file this server made is removed.
        struct stat st{};
        if (::stat(m_path.c_str(), &st) == 0 && st.st_ino == m_inode) ::unlink(m_path.c_str());
        std::list<std::unique_ptr<Connection>> connections;
        {
            std::lock_guard lock(m_mutex);
            connections.swap(m_connections);
            for (auto& c : connections) ::shutdown(c->fd.get(), SHUT_RDWR);
        }
        for (auto& c : connections) c->thread.join();
    }

    void suspend(bool on) {
        std::lock_guard gate(m_gate);
        m_suspended = on;
    }

private:
    struct Connection {
        Fd fd;
        std::thread thread;
        std::atomic<bool> done{false};
    };

    void accept_loop() {
        for (;;) {
            pollfd fds[2] = {{m_listener.get(), POLLIN, 0}, {m_wakeRead.get(), POLLIN, 0}};
            const int n = ::poll(fds, 2, 1000);
            reap();
            if (n < 0 && errno != EINTR) return;
            if (fds[1].revents) return;
            if (n <= 0 || !(fds[0].revents & POLLIN)) continue;
            Fd client(::accept4(m_listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
            if (client.get() < 0) continue;
            auto connection = std::make_unique<Connection>();
            connection->fd = std::move(client);
            Connection* c = connection.get();
            std::lock_guard lock(m_mutex);
            c->thread = std::thread([this, c] {
                serve(c->fd.get());
                ::shutdown(c->fd.get(), SHUT_RDWR);  // the client sees the end now, not at the reaping
                c->done = true;
            });
            m_connections.push_back(std::move(connection));
        }
    }

    // Joins the threads of connections that ended by themselves.
    void reap() {
        std::list<std::unique_ptr<Connection>> ended;
        {
            std::lock_guard lock(m_mutex);
            for (auto it = m_connections.begin(); it != m_connections.end();) {
                auto next = std::next(it);
                if ((*it)->done) ended.splice(ended.end(), m_connections, it);
                it = next;
            }
        }
        for (auto& c : ended) c->thread.join();
    }

    // The connection's one object; refused peers get E_ACCESSDENIED before any call.
    void serve(int fd) {
        const HRESULT hello = peer_allowed(fd) ? S_OK : E_ACCESSDENIED;
        if (FAILED(wire::send_frame(fd, hresult_frame(hello).bytes())) || FAILED(hello)) return;
        ComRef<IZarvoVdsProviderAdmin> object;
        std::vector<uint8_t> request;
        for (;;) {
            const HRESULT got = wire::recv_frame(fd, wire::kMaxRequest, request);
            if (got == E_INVALIDARG) {
                // Oversized: answered, and the connection ends (its bytes are not read).
                (void)wire::send_frame(fd, hresult_frame(E_INVALIDARG).bytes());
                return;
            }
            if (FAILED(got)) return;
            wire::Reader in(request);
            const auto method = static_cast<Method>(in.u32());
            wire::Writer out;
            bool ok = in.ok();
            if (ok && method == Method::Create) {
                ok = !object;
                if (ok) out = hresult_frame(create(in, object));
            } else if (ok) {
                ok = object && Dispatcher(object.get()).run(method, in, out);
            }
            if (!ok) {
                // A malformed request ends the connection: its state is unknown.
                (void)wire::send_frame(fd, hresult_frame(E_INVALIDARG).bytes());
                return;
            }
            if (FAILED(wire::send_frame(fd, out.bytes()))) return;
        }
    }

    HRESULT create(wire::Reader& in, ComRef<IZarvoVdsProviderAdmin>& object) {
        const GUID iid = in.guid();
        if (!in.at_end()) return E_INVALIDARG;
        if (iid != IID_IUnknown && iid != IID_IZarvoVdsProviderAdmin) return E_NOINTERFACE;
        std::lock_guard gate(m_gate);
        if (m_suspended) return CO_E_SERVER_STOPPING;
        void* p = nullptr;
        const HRESULT hr = m_factory->CreateInstance(nullptr, IID_IZarvoVdsProviderAdmin, &p);
        if (SUCCEEDED(hr)) object = ComRef<IZarvoVdsProviderAdmin>::adopt(static_cast<IZarvoVdsProviderAdmin*>(p));
        return hr;
    }

    Fd m_listener;
    std::filesystem::path m_path;
    ino_t m_inode = 0;
    ComRef<IClassFactory> m_factory;
    Fd m_wakeRead, m_wakeWrite;
    std::mutex m_mutex;
    std::list<std::unique_ptr<Connection>> m_connections;
    std::mutex m_gate;
    bool m_suspended = false;
    std::thread m_acceptor;
};

// A connect that succeeds means a live server already holds the path.
bool live_server_at(const wire::SocketAddress& addr) {
    Fd probe(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    return probe.get() >= 0 && ::connect(probe.get(), addr.get(), addr.size()) == 0;
}

Fd listen_at(const std::filesystem::path& path) {
    const wire::SocketAddress addr(path.string());
    if (!addr.ok() || live_server_at(addr)) return Fd();
    ::unlink(path.c_str());  // a socket file left by a server that died
    Fd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (fd.get() < 0) return Fd();
    const mode_t old = ::umask(0177);
    const bool bound = ::bind(fd.get(), addr.get(), addr.size()) == 0;
    ::umask(old);
    if (!bound || ::chmod(path.c_str(), 0600) != 0 || ::listen(fd.get(), 64) != 0) return Fd();
    return fd;
}

struct Serving {
    std::mutex mutex;
    DWORD cookie = 0;
    std::unique_ptr<AdminServer> server;
    bool suspended = false;
};

Serving& serving() {
    static Serving* const s = new Serving;  // outlives static objects that revoke at exit
    return *s;
}

}  // namespace

bool is_local_server() {
    std::lock_guard lock(serving().mutex);
    return serving().server != nullptr;
}

namespace detail {

void serve_admin_class(DWORD cookie, IUnknown* classObject) {
    void* p = nullptr;
    if (FAILED(classObject->QueryInterface(IID_IClassFactory, &p))) return;
    auto factory = ComRef<IClassFactory>::adopt(static_cast<IClassFactory*>(p));
    Serving& s = serving();
    std::lock_guard lock(s.mutex);
    if (s.server) return;
    const auto path = local_server_socket();
    Fd fd = listen_at(path);
    if (fd.get() < 0) return;  // another process serves it; this one serves in process only
    s.server = std::make_unique<AdminServer>(std::move(fd), path, std::move(factory));
    s.server->suspend(s.suspended);
    s.cookie = cookie;
}

void stop_serving_admin_class(DWORD cookie) {
    std::unique_ptr<AdminServer> server;
    {
        std::lock_guard lock(serving().mutex);
        if (serving().cookie != cookie || !serving().server) return;
        server = std::move(serving().server);
        serving().cookie = 0;
    }
    server.reset();  // joins its threads outside the lock
}

void suspend_admin_activations(bool suspend) {
    std::lock_guard lock(serving().mutex);
    serving().suspended = suspend;
    if (serving().server) serving().server->suspend(suspend);
}

}  // namespace detail
}  // namespace platform

HRESULT CoSuspendClassObjects() {
    platform::detail::suspend_admin_activations(true);
    return S_OK;
}

HRESULT CoResumeClassObjects() {
    platform::detail::suspend_admin_activations(false);
    return S_OK;
}
