#include "admin_wire.h"

#include <platform/comalloc.h>
#include <platform/probe.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

namespace platform::wire {

void Writer::u32(uint32_t v) {
    for (int i = 0; i < 4; ++i) m_bytes.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void Writer::guid(const GUID& g) {
    const auto* p = reinterpret_cast<const uint8_t*>(&g);
    m_bytes.insert(m_bytes.end(), p, p + sizeof(GUID));
}

void Writer::wstr(LPCWSTR s) {
    if (!s) return marker(Marker::Null);
    if (IsBadStringPtrW(s, UINT_PTR(-1))) return marker(Marker::Bad);
    marker(Marker::Present);
    const size_t n = std::char_traits<char16_t>::length(s);
    u32(static_cast<uint32_t>(n));
    for (size_t i = 0; i < n; ++i) {
        m_bytes.push_back(static_cast<uint8_t>(s[i] & 0xFF));
        m_bytes.push_back(static_cast<uint8_t>(s[i] >> 8));
    }
}

void Writer::record(const FILER_RECORD* r) {
    if (!r) return marker(Marker::Null);
    if (IsBadReadPtr(r, sizeof(FILER_RECORD))) return marker(Marker::Bad);
    marker(Marker::Present);
    wstr(r->wszKey);
    wstr(r->wszDnsName);
    wstr(r->wszUserName);
    wstr(r->wszPassword);
    u32(static_cast<uint32_t>(r->hwpType));
    u32(r->dwUpdateFlags);
}

bool Reader::take(void* to, size_t n) {
    if (!m_ok || remaining() < n) {
        m_ok = false;
        return false;
    }
    std::memcpy(to, m_bytes.data() + m_pos, n);
    m_pos += n;
    return true;
}

uint8_t Reader::u8() {
    uint8_t v = 0;
    take(&v, 1);
    return v;
}

uint32_t Reader::u32() {
    uint8_t b[4] = {};
    take(b, 4);
    return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
}

Marker Reader::marker() {
    const uint8_t v = u8();
    if (v > static_cast<uint8_t>(Marker::Unchanged)) m_ok = false;
    return static_cast<Marker>(v);
}

GUID Reader::guid() {
    GUID g{};
    take(&g, sizeof g);
    return g;
}

std::optional<std::u16string> Reader::text(Marker m) {
    if (m != Marker::Present) return std::nullopt;
    const uint32_t n = u32();
    if (!m_ok || n > remaining() / 2) {
        m_ok = false;
        return std::nullopt;
    }
    std::u16string s(n, u'\0');
    for (auto& c : s) {
        const uint8_t lo = m_bytes[m_pos++];
        const uint8_t hi = m_bytes[m_pos++];
        c = static_cast<char16_t>(lo | hi << 8);
    }
    // A string ends at its first zero unit, as the caller's did.
    if (s.find(u'\0') != std::u16string::npos) m_ok = false;
    return s;
}

LPWSTR RecordStore::string(Reader& in, bool& ok) {
    const Marker m = in.marker();
    if (!in.ok() || m == Marker::Unchanged) {
        ok = false;
        return nullptr;
    }
    if (m == Marker::Null) return nullptr;
    if (m == Marker::Bad) return bad_pointer<WCHAR>();
    auto s = in.text(m);
    if (!s) {
        ok = false;
        return nullptr;
    }
    return m_strings.emplace_back(std::move(*s)).data();
}

std::optional<FILER_RECORD*> RecordStore::read(Reader& in) {
    const Marker m = in.marker();
    if (!in.ok() || m == Marker::Unchanged) return std::nullopt;
    if (m == Marker::Null) return nullptr;
    if (m == Marker::Bad) return bad_pointer<FILER_RECORD>();
    FILER_RECORD r{};
    bool ok = true;
    r.wszKey = string(in, ok);
    if (ok) r.wszDnsName = string(in, ok);
    if (ok) r.wszUserName = string(in, ok);
    if (ok) r.wszPassword = string(in, ok);
    r.hwpType = static_cast<LONG>(in.u32());
    r.dwUpdateFlags = in.u32();
    if (!ok || !in.ok()) return std::nullopt;
    return &m_records.emplace_back(r);
}

SocketAddress::SocketAddress(const std::string& path) {
    m_addr.sun_family = AF_UNIX;
    std::string name = path;
    if (name.size() >= sizeof m_addr.sun_path) {
        const auto slash = path.rfind('/');
        if (slash == std::string::npos) return;
        m_dir = ::open(slash ? path.substr(0, slash).c_str() : "/", O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (m_dir < 0) return;
        name = "/proc/self/fd/" + std::to_string(m_dir) + path.substr(slash);
        if (name.size() >= sizeof m_addr.sun_path) return;
    }
    std::memcpy(m_addr.sun_path, name.c_str(), name.size() + 1);
    m_ok = true;
}

SocketAddress::~SocketAddress() {
    if (m_dir >= 0) ::close(m_dir);
}

HRESULT send_frame(int fd, const std::vector<uint8_t>& payload) {
    std::vector<uint8_t> frame;
    frame.reserve(payload.size() + 4);
    const auto n = static_cast<uint32_t>(payload.size());
    for (int i = 0; i < 4; ++i) frame.push_back(static_cast<uint8_t>(n >> (8 * i)));
    frame.insert(frame.end(), payload.begin(), payload.end());
    size_t done = 0;
    while (done < frame.size()) {
        const ssize_t sent = ::send(fd, frame.data() + done, frame.size() - done, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) continue;
        if (sent <= 0) return RPC_E_DISCONNECTED;
        done += static_cast<size_t>(sent);
    }
    return S_OK;
}

namespace {
using Clock = std::chrono::steady_clock;

// Reads exactly `n` bytes; with a deadline, waits for them no later than it.
HRESULT recv_all(int fd, uint8_t* to, size_t n, std::optional<Clock::time_point> deadline) {
    while (n) {
        if (deadline) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now()).count();
            if (left <= 0) return RPC_E_TIMEOUT;
            pollfd p{fd, POLLIN, 0};
            const int ready = ::poll(&p, 1, static_cast<int>(std::min<long long>(left, INT32_MAX)));
            if (ready < 0 && errno == EINTR) continue;
            if (ready < 0) return RPC_E_DISCONNECTED;
            if (ready == 0) return RPC_E_TIMEOUT;
        }
        const ssize_t got = ::recv(fd, to, n, 0);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return RPC_E_DISCONNECTED;
        to += got;
        n -= static_cast<size_t>(got);
    }
    return S_OK;
}

HRESULT recv_frame_until(int fd, uint32_t max, std::vector<uint8_t>& payload,
                         std::optional<Clock::time_point> deadline) {
    payload.clear();
    uint8_t head[4];
    if (const HRESULT hr = recv_all(fd, head, 4, deadline); FAILED(hr)) return hr;
    const uint32_t n = uint32_t(head[0]) | uint32_t(head[1]) << 8 | uint32_t(head[2]) << 16 | uint32_t(head[3]) << 24;
    if (n > max) return E_INVALIDARG;
    // Grow with what arrives, so a length alone buys no memory.
    constexpr size_t kStep = 64 * 1024;
    while (payload.size() < n) {
        const size_t at = payload.size();
        payload.resize(at + std::min<size_t>(kStep, n - at));
        if (const HRESULT hr = recv_all(fd, payload.data() + at, payload.size() - at, deadline); FAILED(hr))
            return hr;
    }
    return S_OK;
}
}  // namespace

HRESULT recv_frame(int fd, uint32_t max, std::vector<uint8_t>& payload) {
    return recv_frame_until(fd, max, payload, std::nullopt);
}

HRESULT recv_frame(int fd, uint32_t max, std::vector<uint8_t>& payload, std::chrono::milliseconds within) {
    return recv_frame_until(fd, max, payload, Clock::now() + within);
}

LPWSTR task_string(const std::u16string& s) {
    auto* p = static_cast<LPWSTR>(CoTaskMemAlloc((s.size() + 1) * sizeof(WCHAR)));
    if (!p) return nullptr;
    std::memcpy(p, s.data(), s.size() * sizeof(WCHAR));
    p[s.size()] = 0;
    return p;
}

void free_task_record(FILER_RECORD* r) {
    if (!r) return;
    CoTaskMemFree(r->wszKey);
    CoTaskMemFree(r->wszDnsName);
    CoTaskMemFree(r->wszUserName);
    CoTaskMemFree(r->wszPassword);
    CoTaskMemFree(r);
}

FILER_RECORD* task_record(Reader& in) {
    if (in.marker() != Marker::Present || !in.ok()) {
        in.fail();
        return nullptr;
    }
    auto* r = static_cast<FILER_RECORD*>(CoTaskMemAlloc(sizeof(FILER_RECORD)));
    if (!r) {
        in.fail();
        return nullptr;
    }
    *r = FILER_RECORD{};
    LPWSTR* fields[] = {&r->wszKey, &r->wszDnsName, &r->wszUserName, &r->wszPassword};
    for (LPWSTR* field : fields) {
        const Marker m = in.marker();
        if (m == Marker::Null) continue;
        auto s = in.text(m);
        if (!s || !(*field = task_string(*s))) {
            in.fail();
            break;
        }
    }
    r->hwpType = static_cast<LONG>(in.u32());
    r->dwUpdateFlags = in.u32();
    if (!in.ok()) {
        free_task_record(r);
        return nullptr;
    }
    return r;
}

bool task_records(Reader& in, FILER_RECORD*** out) {
    const uint32_t n = in.u32();
    // The count alone buys no memory: the frame must hold that many records.
    if (!in.ok() || n > in.remaining() / kMinTaskRecordBytes) return false;
    auto** array = static_cast<FILER_RECORD**>(CoTaskMemAlloc(std::max<size_t>(n, 1) * sizeof(FILER_RECORD*)));
    if (!array) return false;
    for (uint32_t i = 0; i < n; ++i) {
        array[i] = task_record(in);
        if (!array[i]) {
            for (uint32_t j = 0; j < i; ++j) free_task_record(array[j]);
            CoTaskMemFree(array);
            return false;
        }
    }
    *out = array;
    return true;
}

}  // namespace platform::wire
