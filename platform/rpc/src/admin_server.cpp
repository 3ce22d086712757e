// The local server of the administration class: one listening thread and one
// thread per connection, each connection serving one object.
#include "admin_server.h"

#include <platform/comalloc.h>
#include <platform/local_server.h>
#include <platform/provider_admin.h>
#include <platform/socket_server.h>
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
    int release() { return std::exchange(m_fd, -1); }

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

// An out pointer's marker in a request. "Unchanged" only ever comes back in a
// reply: a request carrying it is malformed.
Marker out_marker(wire::Reader& in) {
    const Marker m = in.marker();
    if (m == Marker::Unchanged) in.fail();
    return m;
}

void free_record(FILER_RECORD* r) {
    if (!r) return;
    CoTaskMemFree(r->wszKey);
    CoTaskMemFree(r->wszDnsName);
    CoTaskMemFree(r->wszUserName);
    CoTaskMemFree(r->wszPassword);
    CoTaskMemFree(r);
}

// A text the object may hand back: freed whatever the reply makes of it.
class TextOut {
public:
    TextOut() = default;
    TextOut(const TextOut&) = delete;
    TextOut& operator=(const TextOut&) = delete;
    ~TextOut() {
        if (m_text != kUnchangedText) CoTaskMemFree(m_text);
    }
    LPWSTR* slot() { return &m_text; }
    // The reply's form of it: marker and text when the caller passed a pointer.
    void reply(wire::Writer& out, Marker sent) const {
        if (sent != Marker::Present) return;
        if (m_text == kUnchangedText) return out.marker(Marker::Unchanged);
        out.wstr(m_text);
    }

private:
    LPWSTR m_text = kUnchangedText;
};

// A record list the object may hand back, with its count: freed whatever the
// reply makes of it.
class RecordsOut {
public:
    RecordsOut() = default;
    RecordsOut(const RecordsOut&) = delete;
    RecordsOut& operator=(const RecordsOut&) = delete;
    ~RecordsOut() {
        if (m_array == kUnchangedArray || !m_array) return;
        for (ULONG i = 0; i < m_count; ++i) free_record(m_array[i]);
        CoTaskMemFree(m_array);
    }
    ULONG* count() { return &m_count; }
    FILER_RECORD*** array() { return &m_array; }
    void reply(wire::Writer& out, Marker countSent, Marker arraySent) const {
        if (countSent == Marker::Present) out.u32(m_count);
        if (arraySent != Marker::Present) return;
        if (m_array == kUnchangedArray) return out.marker(Marker::Unchanged);
        if (!m_array) return out.marker(Marker::Null);
        const ULONG n = countSent == Marker::Present ? m_count : 0;
        out.marker(Marker::Present);
        out.u32(n);
        for (ULONG i = 0; i < n; ++i) out.record(m_array[i]);
    }

private:
    ULONG m_count = 0;
    FILER_RECORD** m_array = kUnchangedArray;
};

// One call of the object, decoded from `in` and answered into `out`; false for
// a malformed request. Whatever the object hands back is freed when the call
// is answered, or when it cannot be.
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
        HrOut h{out_marker(in), 0};
        if (h.marker == Marker::Present) h.value = static_cast<HRESULT>(in.u32());
        return h;
    }

    bool get_last_error(wire::Reader& in, wire::Writer& out) {
        const DWORD flags = in.u32();
        HrOut hr = hr_out(in);
        const Marker textMarker = out_marker(in);
        if (!in.at_end()) return false;
        TextOut text;
        const HRESULT result =
            m_object->GetLastError(flags, out_pointer(hr.marker, &hr.value), out_pointer(textMarker, text.slot()));
        out.u32(static_cast<uint32_t>(result));
        if (hr.marker == Marker::Present) out.u32(static_cast<uint32_t>(hr.value));
        text.reply(out, textMarker);
        return true;
    }

    bool load(wire::Reader& in, wire::Writer& out) {
        const DWORD flags = in.u32();
        const Marker countMarker = out_marker(in);
        RecordsOut records;
        if (countMarker == Marker::Present) *records.count() = in.u32();
        const Marker arrayMarker = out_marker(in);
        if (!in.at_end()) return false;
        const HRESULT result = m_object->LoadFilerList(flags, out_pointer(countMarker, records.count()),
                                                       out_pointer(arrayMarker, records.array()));
        out.u32(static_cast<uint32_t>(result));
        records.reply(out, countMarker, arrayMarker);
        return true;
    }

    bool commit(wire::Reader& in, wire::Writer& out) {
        const DWORD flags = in.u32();
        const ULONG count = in.u32();
        const Marker arrayMarker = out_marker(in);
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
        const Marker textMarker = out_marker(in);
        if (!in.at_end()) return false;
        TextOut text;
        const HRESULT result = m_object->CheckFilerEntry(flags, *record, out_pointer(hr.marker, &hr.value),
                                                         out_pointer(textMarker, text.slot()));
        out.u32(static_cast<uint32_t>(result));
        if (hr.marker == Marker::Present) out.u32(static_cast<uint32_t>(hr.value));
        text.reply(out, textMarker);
        return true;
    }

    IZarvoVdsProviderAdmin* m_object;
};

wire::Writer hresult_frame(HRESULT hr) {
    wire::Writer w;
    w.u32(static_cast<uint32_t>(hr));
    return w;
}

HRESULT create_object(wire::Reader& in, IClassFactory* factory, detail::ActivationGate& gate,
                      ComRef<IZarvoVdsProviderAdmin>& object) {
    const GUID iid = in.guid();
    if (!in.at_end()) return E_INVALIDARG;
    if (iid != IID_IUnknown && iid != IID_IZarvoVdsProviderAdmin) return E_NOINTERFACE;
    std::lock_guard hold(gate.mutex);
    if (gate.suspended) return CO_E_SERVER_STOPPING;
    void* p = nullptr;
    const HRESULT hr = factory->CreateInstance(nullptr, IID_IZarvoVdsProviderAdmin, &p);
    if (SUCCEEDED(hr)) object = ComRef<IZarvoVdsProviderAdmin>::adopt(static_cast<IZarvoVdsProviderAdmin*>(p));
    return hr;
}

// Said to a connection that is not served, in place of the greeting. The
// socket is new and empty, so the few bytes never wait.
void refuse_connection(int fd, SocketServer::Refusal why) {
    const HRESULT hr =
        why == SocketServer::Refusal::TooManyConnections ? HRESULT_FROM_WIN32(RPC_S_SERVER_TOO_BUSY) : E_OUTOFMEMORY;
    std::vector<uint8_t> frame = {4, 0, 0, 0};
    const auto bytes = hresult_frame(hr).bytes();
    frame.insert(frame.end(), bytes.begin(), bytes.end());
    (void)!::send(fd, frame.data(), frame.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
}

std::atomic<size_t> g_connectionLimit{kDefaultConnectionLimit};
std::atomic<std::chrono::milliseconds> g_frameWait{kDefaultFrameWait};

class AdminServer {
public:
    AdminServer(std::filesystem::path path, ComRef<IClassFactory> factory)
        : m_path(std::move(path)), m_factory(std::move(factory)) {
        struct stat st{};
        if (::stat(m_path.c_str(), &st) == 0) m_inode = st.st_ino;
    }

    // False when the server cannot run (its accepting thread did not start).
    bool start(Fd listener) {
        SocketServer::Handlers handlers{
            [this](int fd) { detail::serve_admin_connection(fd, m_factory.get(), m_gate); }, refuse_connection};
        m_sockets = SocketServer::start(listener.release(), std::move(handlers), g_connectionLimit.load());
        return m_sockets != nullptr;
    }

    ~AdminServer() {
        m_sockets.reset();  // stops accepting, ends every connection and joins its thread
        // Only the socket file this server made is removed.
        struct stat st{};
        if (::stat(m_path.c_str(), &st) == 0 && st.st_ino == m_inode) ::unlink(m_path.c_str());
    }

    void suspend(bool on) {
        std::lock_guard hold(m_gate.mutex);
        m_gate.suspended = on;
    }

private:
    std::filesystem::path m_path;
    ino_t m_inode = 0;
    ComRef<IClassFactory> m_factory;
    detail::ActivationGate m_gate;
    std::unique_ptr<SocketServer> m_sockets;
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

void set_local_server_connection_limit(size_t limit) { g_connectionLimit = limit ? limit : kDefaultConnectionLimit; }

void set_local_server_frame_wait(std::chrono::milliseconds wait) {
    g_frameWait = wait.count() > 0 ? wait : kDefaultFrameWait;
}

bool is_local_server() {
    std::lock_guard lock(serving().mutex);
    return serving().server != nullptr;
}

namespace detail {

// The connection's one object; refused peers get E_ACCESSDENIED before any call.
void serve_admin_connection(int fd, IClassFactory* factory, ActivationGate& gate) {
    const HRESULT hello = peer_allowed(fd) ? S_OK : E_ACCESSDENIED;
    if (FAILED(wire::send_frame(fd, hresult_frame(hello).bytes())) || FAILED(hello)) return;
    ComRef<IZarvoVdsProviderAdmin> object;
    std::vector<uint8_t> request;
    // A peer that sends nothing, or stalls within a frame, would hold one of
    // the few connections for as long as it likes.
    const auto frameWait = g_frameWait.load();
    for (;;) {
        const HRESULT got = wire::recv_frame(fd, wire::kMaxRequest, request, frameWait);
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
            if (ok) out = hresult_frame(create_object(in, factory, gate, object));
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

HRESULT serve_admin_class(DWORD cookie, IUnknown* classObject) {
    void* p = nullptr;
    if (FAILED(classObject->QueryInterface(IID_IClassFactory, &p))) return S_OK;  // not a class this server can make
    auto factory = ComRef<IClassFactory>::adopt(static_cast<IClassFactory*>(p));
    Serving& s = serving();
    std::lock_guard lock(s.mutex);
    if (s.server) return S_OK;
    const auto path = local_server_socket();
    Fd fd = listen_at(path);
    if (fd.get() < 0) return S_OK;  // another process serves it; this one serves in process only
    auto server = std::make_unique<AdminServer>(path, std::move(factory));
    if (!server->start(std::move(fd))) return E_OUTOFMEMORY;  // the socket file goes with the server
    server->suspend(s.suspended);
    s.server = std::move(server);
    s.cookie = cookie;
    return S_OK;
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
