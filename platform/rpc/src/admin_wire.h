#pragma once
// The frames in which the administration interface crosses processes.
//
// A frame is a 32-bit little-endian length and that many bytes. The server
// greets each connection with one HRESULT frame (S_OK, or why it refuses);
// then every call is one request frame and one reply frame. A pointer argument
// is sent with a marker, so the server's argument checks see NULL, a pointer
// the caller could not read, and "" as the caller passed them.
#include <platform/provider_admin.h>

#include <sys/socket.h>
#include <sys/un.h>

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace platform::wire {

// A service never buffers more than this for one request; a client accepts
// replies up to the larger bound (a full list of long values).
constexpr uint32_t kMaxRequest = 4u << 20;
constexpr uint32_t kMaxReply = 64u << 20;

enum class Method : uint32_t { Create = 0, GetLastError = 1, LoadFilerList = 2, CommitFilerList = 3, CheckFilerEntry = 4 };

enum class Marker : uint8_t { Null = 0, Present = 1, Bad = 2, Unchanged = 3 };

// Stands for memory the caller could not read: every probe refuses it, so the
// server's checks reject it as they would the caller's own bad pointer.
template <typename T>
T* bad_pointer() {
    return reinterpret_cast<T*>(uintptr_t{1});
}

class Writer {
public:
    void u8(uint8_t v) { m_bytes.push_back(v); }
    void u32(uint32_t v);
    void marker(Marker m) { u8(static_cast<uint8_t>(m)); }
    void guid(const GUID& g);
    // Probes the caller's string: NULL, unreadable and readable are told apart.
    void wstr(LPCWSTR s);
    void record(const FILER_RECORD* r);
    const std::vector<uint8_t>& bytes() const { return m_bytes; }

private:
    std::vector<uint8_t> m_bytes;
};

// Reads a frame; every count is checked against what the frame still holds,
// so no field can ask for more memory than the frame brought.
class Reader {
public:
    explicit Reader(std::span<const uint8_t> bytes) : m_bytes(bytes) {}
    bool ok() const { return m_ok; }
    bool at_end() const { return m_ok && m_pos == m_bytes.size(); }
    uint8_t u8();
    uint32_t u32();
    Marker marker();
    GUID guid();
    // The units of a present string (NULL markers give nullopt with ok() kept).
    std::optional<std::u16string> text(Marker m);
    size_t remaining() const { return m_bytes.size() - m_pos; }
    void fail() { m_ok = false; }

private:
    bool take(void* to, size_t n);
    std::span<const uint8_t> m_bytes;
    size_t m_pos = 0;
    bool m_ok = true;
};

// Records received by the server: the strings live here while the call runs.
class RecordStore {
public:
    // A record as the caller passed it: NULL, bad, or a record whose strings
    // point into this store. nullopt when the frame is malformed.
    std::optional<FILER_RECORD*> read(Reader& in);

private:
    LPWSTR string(Reader& in, bool& ok);
    std::deque<std::u16string> m_strings;
    std::deque<FILER_RECORD> m_records;
};

// Smallest encoding of one record, to bound a count before anything is reserved.
// A request may carry a NULL record (its marker alone); a reply only present
// ones: the marker, four string markers and the two 32-bit values.
constexpr size_t kMinRecordBytes = 1;
constexpr size_t kMinTaskRecordBytes = 1 + 4 * 1 + 2 * 4;

// The address of a socket file. A path too long for sun_path is reached through
// its directory's descriptor (/proc/self/fd/N/name), which Linux accepts for
// bind and connect alike.
class SocketAddress {
public:
    explicit SocketAddress(const std::string& path);
    ~SocketAddress();
    SocketAddress(const SocketAddress&) = delete;
    SocketAddress& operator=(const SocketAddress&) = delete;
    bool ok() const { return m_ok; }
    const sockaddr* get() const { return reinterpret_cast<const sockaddr*>(&m_addr); }
    socklen_t size() const { return sizeof m_addr; }

private:
    sockaddr_un m_addr{};
    int m_dir = -1;
    bool m_ok = false;
};

// Frame I/O on a connected stream socket; failures are HRESULTs.
HRESULT send_frame(int fd, const std::vector<uint8_t>& payload);
// E_INVALIDARG for a frame longer than `max` (nothing of it is buffered),
// RPC_E_DISCONNECTED for a closed or broken connection.
HRESULT recv_frame(int fd, uint32_t max, std::vector<uint8_t>& payload);
// The same, for a peer that must complete its frame within `within` from now,
// however it trickles its bytes: RPC_E_TIMEOUT when it does not.
HRESULT recv_frame(int fd, uint32_t max, std::vector<uint8_t>& payload, std::chrono::milliseconds within);

// CoTaskMem copies for the client's out arguments.
LPWSTR task_string(const std::u16string& s);
FILER_RECORD* task_record(Reader& in);
void free_task_record(FILER_RECORD* r);
// A reply's counted list of records as one CoTaskMem array. False, with
// nothing allocated, when the count is more than the rest of the frame could
// hold or a record is malformed.
bool task_records(Reader& in, FILER_RECORD*** out);

}  // namespace platform::wire
