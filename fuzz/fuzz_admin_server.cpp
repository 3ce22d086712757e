// The administration server as a client reaches it: the input is the byte
// stream a client sends over its connection (frames of creations and calls),
// served by the real connection loop and dispatch over a socket pair. The
// object behind it hands back texts and record lists as the real one does, so
// LeakSanitizer sees every path by which the server must free them.
#include <platform/comalloc.h>
#include <platform/probe.h>
#include <platform/provider_admin.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "admin_server.h"

namespace {

template <typename T>
bool writable(T* p) {
    return p && !IsBadWritePtr(p, sizeof(T));
}

LPWSTR task_text(const char16_t* text) {
    const size_t n = std::char_traits<char16_t>::length(text) + 1;
    auto* copy = static_cast<LPWSTR>(CoTaskMemAlloc(n * sizeof(WCHAR)));
    if (copy) std::memcpy(copy, text, n * sizeof(WCHAR));
    return copy;
}

// Writes its out values only when every out pointer of the call is writable,
// as the real object does.
class HandingAdmin final : public IZarvoVdsProviderAdmin {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (riid != IID_IUnknown && riid != IID_IZarvoVdsProviderAdmin) return E_NOINTERFACE;
        AddRef();
        *ppv = static_cast<IZarvoVdsProviderAdmin*>(this);
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_refs; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG n = --m_refs;
        if (!n) delete this;
        return n;
    }
    HRESULT STDMETHODCALLTYPE GetLastError(DWORD, HRESULT* phr, LPWSTR* ppwsz) override {
        if (!writable(phr) || !writable(ppwsz)) return E_INVALIDARG;
        *phr = E_FAIL;
        *ppwsz = task_text(u"the stored error");
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE LoadFilerList(DWORD, ULONG* pc, FILER_RECORD*** prg) override {
        if (!writable(pc) || !writable(prg)) return E_INVALIDARG;
        constexpr ULONG kCount = 2;
        auto** array = static_cast<FILER_RECORD**>(CoTaskMemAlloc(kCount * sizeof(FILER_RECORD*)));
        for (ULONG i = 0; array && i < kCount; ++i) {
            array[i] = static_cast<FILER_RECORD*>(CoTaskMemAlloc(sizeof(FILER_RECORD)));
            *array[i] = {task_text(u"6ba7b810-9dad-11d1-80b4-00c04fd430c8"), task_text(u"filer"), task_text(u"root"),
                         task_text(u"secret"), 2, 0};
        }
        *pc = kCount;
        *prg = array;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE CommitFilerList(DWORD, ULONG, FILER_RECORD**) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE CheckFilerEntry(DWORD, FILER_RECORD*, HRESULT* phr, LPWSTR* ppwsz) override {
        if (!writable(phr) || !writable(ppwsz)) return E_INVALIDARG;
        *phr = static_cast<HRESULT>(0xC0042502u);
        *ppwsz = task_text(u"Subsystem is offline or unreachable.");
        return S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE SetLastError(HRESULT, ...) override { return S_OK; }

private:
    ~HandingAdmin() = default;
    ULONG m_refs = 1;
};

class HandingFactory final : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown*, REFIID riid, void** ppv) override {
        auto* o = new HandingAdmin;
        const HRESULT hr = o->QueryInterface(riid, ppv);
        o->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

// Sends the input while reading the replies, so neither side waits on a
// full socket, until the server ends the connection.
void exchange(int fd, const uint8_t* data, size_t size) {
    size_t sent = 0;
    bool sending = true;
    if (size == 0) {
        ::shutdown(fd, SHUT_WR);
        sending = false;
    }
    for (;;) {
        pollfd p{fd, static_cast<short>(POLLIN | (sending ? POLLOUT : 0)), 0};
        if (::poll(&p, 1, -1) < 0 && errno != EINTR) std::abort();
        if (sending && (p.revents & (POLLOUT | POLLERR))) {
            const ssize_t n = ::send(fd, data + sent, size - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n > 0) sent += static_cast<size_t>(n);
            if ((n < 0 && errno != EAGAIN) || sent == size) {
                ::shutdown(fd, SHUT_WR);
                sending = false;
            }
        }
        if (p.revents & (POLLIN | POLLHUP | POLLERR)) {
            char buf[16384];
            const ssize_t n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
            if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) return;
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static HandingFactory factory;
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) std::abort();
    platform::detail::ActivationGate gate;
    std::thread server([&] {
        platform::detail::serve_admin_connection(fds[0], &factory, gate);
        ::shutdown(fds[0], SHUT_RDWR);
    });
    exchange(fds[1], data, size);
    server.join();
    ::close(fds[0]);
    ::close(fds[1]);
    return 0;
}
