// The client side of the administration class: a class object whose
// CreateInstance connects to the local server, and the proxy that turns each
// call into one frame.
#include <platform/clock.h>
#include <platform/comalloc.h>
#include <platform/local_server.h>
#include <platform/probe.h>
#include <platform/provider_admin.h>
#include <platform/registry.h>
#include <platform/winsvc.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <utility>

#include "admin_server.h"
#include "admin_wire.h"

namespace platform {
namespace {

using wire::Marker;
using wire::Method;

constexpr HRESULT kServerUnavailable = static_cast<HRESULT>(0x800706BAu);  // RPC_S_SERVER_UNAVAILABLE
constexpr DWORD kStartTimeoutMs = 30000;
constexpr DWORD kRetryMs = 100;

std::mutex g_starterLock;
LocalServerStarter g_starter;

std::u16string class_text(const std::u16string& path, const WCHAR* name) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return {};
    WCHAR text[256] = {};
    DWORD size = sizeof text - sizeof(WCHAR);
    const LSTATUS s = RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size);
    RegCloseKey(key);
    return s == ERROR_SUCCESS ? text : u"";
}

// As COM does: the class's AppID names the service that serves it, which the
// service manager starts. S_FALSE when the service is running already.
HRESULT start_local_service(REFCLSID clsid) {
    const std::u16string appId = class_text(u"CLSID\\{" + platform::guid_to_wtext(clsid) + u"}", u"AppId");
    const std::u16string service = appId.empty() ? u"" : class_text(u"AppID\\" + appId, u"LocalService");
    if (service.empty()) return REGDB_E_CLASSNOTREG;
    SC_HANDLE scm = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE handle = scm ? OpenServiceW(scm, service.c_str(), SERVICE_START) : nullptr;
    const bool started = handle && StartServiceW(handle, 0, nullptr);
    const DWORD error = started ? ERROR_SUCCESS : GetLastError();
    if (handle) CloseServiceHandle(handle);
    if (scm) CloseServiceHandle(scm);
    if (started) return S_OK;
    if (error == ERROR_SERVICE_ALREADY_RUNNING) return S_FALSE;
    return error ? HRESULT_FROM_WIN32(error) : CO_E_SERVER_EXEC_FAILURE;
}

LocalServerStarter starter() {
    std::lock_guard lock(g_starterLock);
    return g_starter ? g_starter : LocalServerStarter(start_local_service);
}

struct Connection {
    int fd = -1;
    HRESULT hr = S_OK;
    bool noServer = false;  // nothing listens: starting the server may help
};

// Connects and reads the server's greeting. Passwords go only to a server
// whose uid is root or ours.
Connection connect_once() {
    Connection c;
    const wire::SocketAddress addr(local_server_socket().string());
    if (!addr.ok()) return {-1, kServerUnavailable, false};
    c.fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (c.fd < 0) return {-1, E_OUTOFMEMORY, false};
    auto failWith = [&](HRESULT hr, bool noServer) {
        ::close(c.fd);
        return Connection{-1, hr, noServer};
    };
    if (::connect(c.fd, addr.get(), addr.size()) != 0) {
        const int e = errno;
        if (e == ENOENT || e == ECONNREFUSED) return failWith(kServerUnavailable, true);
        if (e == EACCES || e == EPERM) return failWith(E_ACCESSDENIED, false);
        return failWith(kServerUnavailable, false);
    }
    ucred cred{};
    socklen_t len = sizeof cred;
    if (::getsockopt(c.fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0 || (cred.uid != 0 && cred.uid != ::geteuid()))
        return failWith(E_ACCESSDENIED, false);
    std::vector<uint8_t> hello;
    if (FAILED(wire::recv_frame(c.fd, 64, hello))) return failWith(kServerUnavailable, true);
    wire::Reader in(hello);
    const auto hr = static_cast<HRESULT>(in.u32());
    if (!in.at_end()) return failWith(kServerUnavailable, false);
    if (FAILED(hr)) return failWith(hr, false);
    return c;
}

HRESULT call(int fd, const wire::Writer& request, std::vector<uint8_t>& reply) {
    HRESULT hr = wire::send_frame(fd, request.bytes());
    if (SUCCEEDED(hr)) hr = wire::recv_frame(fd, wire::kMaxReply, reply);
    return FAILED(hr) ? RPC_E_DISCONNECTED : S_OK;
}

// An out pointer as the server should see it.
template <typename T>
Marker out_marker(T* p) {
    return !p ? Marker::Null : IsBadWritePtr(p, sizeof(T)) ? Marker::Bad : Marker::Present;
}

// Reads a text out argument from the reply into the caller's pointer.
bool read_text(wire::Reader& in, Marker sent, LPWSTR* out) {
    if (sent != Marker::Present) return in.ok();
    const Marker m = in.marker();
    if (m == Marker::Unchanged) return in.ok();
    if (m == Marker::Null) {
        *out = nullptr;
        return in.ok();
    }
    auto text = in.text(m);
    if (!text) return false;
    *out = wire::task_string(*text);
    return true;
}

class AdminProxy final : public IZarvoVdsProviderAdmin {
public:
    explicit AdminProxy(int fd) : m_fd(fd) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (riid != IID_IUnknown && riid != IID_IZarvoVdsProviderAdmin) return E_NOINTERFACE;
        AddRef();
        *ppv = static_cast<IZarvoVdsProviderAdmin*>(this);
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_refs; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --m_refs;
        if (left == 0) delete this;  // closing the connection releases the server's object
        return left;
    }

    HRESULT STDMETHODCALLTYPE GetLastError(DWORD dwFlags, HRESULT* phr, LPWSTR* ppwszMessage) override {
        wire::Writer req;
        req.u32(static_cast<uint32_t>(Method::GetLastError));
        req.u32(dwFlags);
        const Marker hrMarker = hr_argument(req, phr);
        const Marker textMarker = out_marker(ppwszMessage);
        req.marker(textMarker);
        return exchange(req, [&](wire::Reader& in) {
            return read_hr(in, hrMarker, phr) && read_text(in, textMarker, ppwszMessage);
        });
    }

    HRESULT STDMETHODCALLTYPE LoadFilerList(DWORD dwFlags, ULONG* pcpFiler, FILER_RECORD*** prgpFiler) override {
        wire::Writer req;
        req.u32(static_cast<uint32_t>(Method::LoadFilerList));
        req.u32(dwFlags);
        const Marker countMarker = out_marker(pcpFiler);
        req.marker(countMarker);
        if (countMarker == Marker::Present) req.u32(*pcpFiler);
        const Marker arrayMarker = out_marker(prgpFiler);
        req.marker(arrayMarker);
        return exchange(req, [&](wire::Reader& in) {
            if (countMarker == Marker::Present) *pcpFiler = in.u32();
            if (arrayMarker != Marker::Present) return in.ok();
            const Marker m = in.marker();
            if (m == Marker::Unchanged) return in.ok();
            if (m == Marker::Null) {
                *prgpFiler = nullptr;
                return in.ok();
            }
            return wire::task_records(in, prgpFiler);
        });
    }

    HRESULT STDMETHODCALLTYPE CommitFilerList(DWORD dwFlags, ULONG cpFiler, FILER_RECORD** rgpFiler) override {
        wire::Writer req;
        req.u32(static_cast<uint32_t>(Method::CommitFilerList));
        req.u32(dwFlags);
        req.u32(cpFiler);
        if (!rgpFiler) {
            req.marker(Marker::Null);
        } else if (cpFiler && IsBadReadPtr(rgpFiler, UINT_PTR(cpFiler) * sizeof(FILER_RECORD*))) {
            req.marker(Marker::Bad);
        } else {
            req.marker(Marker::Present);
            for (ULONG i = 0; i < cpFiler; ++i) req.record(rgpFiler[i]);
        }
        return exchange(req, [](wire::Reader& in) { return in.ok(); });
    }

    HRESULT STDMETHODCALLTYPE CheckFilerEntry(DWORD dwFlags, FILER_RECORD* pfr, HRESULT* phr,
                                              LPWSTR* ppwszMessage) override {
        wire::Writer req;
        req.u32(static_cast<uint32_t>(Method::CheckFilerEntry));
        req.u32(dwFlags);
        req.record(pfr);
        const Marker hrMarker = hr_argument(req, phr);
        const Marker textMarker = out_marker(ppwszMessage);
        req.marker(textMarker);
        return exchange(req, [&](wire::Reader& in) {
            return read_hr(in, hrMarker, phr) && read_text(in, textMarker, ppwszMessage);
        });
    }

    // Not meant to cross processes: the stored error belongs to the server's object.
    HRESULT STDMETHODCALLTYPE SetLastError(HRESULT, ...) override { return E_NOTIMPL; }

private:
    ~AdminProxy() { ::close(m_fd); }

    static Marker hr_argument(wire::Writer& req, HRESULT* phr) {
        const Marker m = out_marker(phr);
        req.marker(m);
        if (m == Marker::Present) req.u32(static_cast<uint32_t>(*phr));
        return m;
    }
    static bool read_hr(wire::Reader& in, Marker sent, HRESULT* phr) {
        if (sent == Marker::Present) *phr = static_cast<HRESULT>(in.u32());
        return in.ok();
    }

    // Sends one call and decodes its reply; a broken connection (or a reply
    // that cannot be read) fails this and every later call.
    template <typename Decode>
    HRESULT exchange(const wire::Writer& req, Decode&& decode) {
        std::lock_guard lock(m_callLock);
        if (m_broken) return RPC_E_DISCONNECTED;
        std::vector<uint8_t> reply;
        if (FAILED(call(m_fd, req, reply))) {
            m_broken = true;
            return RPC_E_DISCONNECTED;
        }
        wire::Reader in(reply);
        const auto hr = static_cast<HRESULT>(in.u32());
        if (!in.ok()) {
            m_broken = true;
            return RPC_E_DISCONNECTED;
        }
        if (!decode(in) || !in.at_end()) {
            m_broken = true;
            return RPC_E_DISCONNECTED;
        }
        return hr;
    }

    int m_fd;
    std::atomic<ULONG> m_refs{1};
    std::mutex m_callLock;
    bool m_broken = false;
};

// One activation: connects, makes the connection's object and hands out its
// proxy. When nothing listens it has the server started; a server that is
// stopping (it refuses the creation, or drops the connection before it made
// an object) is waited out, so the retry reaches a fresh one. All within 30 s.
class Activation {
public:
    HRESULT run(REFIID riid, void** ppv) {
        for (;;) {
            const Attempt a = attempt(riid, ppv);
            if (!a.retry) return a.hr;
            if (a.noServer && !m_started) {
                // S_FALSE: the service still runs, perhaps on its way out; ask
                // again while nothing listens, so a stopped one is started anew.
                const HRESULT hr = starter()(CLSID_ZarvoVdsProviderAdmin);
                if (FAILED(hr)) return hr == REGDB_E_CLASSNOTREG ? CO_E_SERVER_EXEC_FAILURE : hr;
                m_started = hr == S_OK;
            }
            if (GetTickCount() - m_begin >= kStartTimeoutMs) return CO_E_SERVER_EXEC_FAILURE;
            Sleep(kRetryMs);
        }
    }

private:
    struct Attempt {
        HRESULT hr;
        bool retry;
        bool noServer;
    };

    static Attempt attempt(REFIID riid, void** ppv) {
        const Connection c = connect_once();
        if (c.fd < 0) return {c.hr, c.noServer || c.hr == CO_E_SERVER_STOPPING, c.noServer};
        wire::Writer req;
        req.u32(static_cast<uint32_t>(Method::Create));
        req.guid(riid);
        std::vector<uint8_t> reply;
        if (FAILED(call(c.fd, req, reply))) {
            // Gone before it answered: its object, if it made one, went with the connection.
            ::close(c.fd);
            return {RPC_E_DISCONNECTED, true, false};
        }
        wire::Reader in(reply);
        HRESULT hr = static_cast<HRESULT>(in.u32());
        if (!in.at_end()) hr = RPC_E_DISCONNECTED;
        if (FAILED(hr)) {
            ::close(c.fd);
            return {hr, hr == CO_E_SERVER_STOPPING, false};
        }
        auto* proxy = new AdminProxy(c.fd);
        hr = proxy->QueryInterface(riid, ppv);
        proxy->Release();
        return {hr, false, false};
    }

    const DWORD m_begin = GetTickCount();
    bool m_started = false;  // this activation started the server: it only waits for it now
};

class AdminClassProxy final : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (riid != IID_IUnknown && riid != IID_IClassFactory) return E_NOINTERFACE;
        AddRef();
        *ppv = static_cast<IClassFactory*>(this);
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_refs; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --m_refs;
        if (left == 0) delete this;
        return left;
    }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        return Activation().run(riid, ppv);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

private:
    ~AdminClassProxy() = default;
    std::atomic<ULONG> m_refs{1};
};

}  // namespace

void set_local_server_starter(LocalServerStarter s) {
    std::lock_guard lock(g_starterLock);
    g_starter = std::move(s);
}

namespace detail {
HRESULT activate_admin_class(REFIID riid, void** ppv) {
    auto* factory = new AdminClassProxy;
    const HRESULT hr = factory->QueryInterface(riid, ppv);
    factory->Release();
    return hr;
}
}  // namespace detail
}  // namespace platform
