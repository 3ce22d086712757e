// The frames of the administration interface as both ends read them: the
// framing off a socket, a commit's records as the server reads them, and a
// record list as the client reads a reply. The first byte picks the reader.
#include <platform/comalloc.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <sys/socket.h>
#include <unistd.h>

#include "admin_wire.h"

namespace {

using platform::wire::Marker;

size_t length(LPCWSTR s) {
    if (!s || s == platform::wire::bad_pointer<WCHAR>()) return 0;
    size_t n = 0;
    while (s[n]) ++n;
    return n;
}

void server_reads_records(platform::wire::Reader& in) {
    const uint32_t count = in.u32();
    if (!in.ok() || count > in.remaining() / platform::wire::kMinRecordBytes) return;
    platform::wire::RecordStore store;
    for (uint32_t i = 0; i < count; ++i) {
        const auto record = store.read(in);
        if (!record) return;
        const FILER_RECORD* r = *record;
        if (r && r != platform::wire::bad_pointer<FILER_RECORD>())
            (void)(length(r->wszKey) + length(r->wszDnsName) + length(r->wszUserName) + length(r->wszPassword));
    }
}

void client_reads_records(platform::wire::Reader& in) {
    platform::wire::Reader head = in;
    const uint32_t count = head.u32();
    FILER_RECORD** records = nullptr;
    if (!platform::wire::task_records(in, &records)) return;
    for (uint32_t i = 0; i < count; ++i) {
        const FILER_RECORD* r = records[i];
        (void)(length(r->wszKey) + length(r->wszDnsName) + length(r->wszUserName) + length(r->wszPassword));
        platform::wire::free_task_record(records[i]);
    }
    CoTaskMemFree(records);
}

void frame_off_a_socket(std::span<const uint8_t> bytes) {
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) std::abort();
    // The whole input fits the socket's buffer: max_len stays far below it.
    if (::send(fds[1], bytes.data(), bytes.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(bytes.size())) std::abort();
    ::shutdown(fds[1], SHUT_WR);
    std::vector<uint8_t> payload;
    constexpr uint32_t kMax = 4096;
    if (platform::wire::recv_frame(fds[0], kMax, payload) == S_OK && payload.size() > kMax) std::abort();
    ::close(fds[0]);
    ::close(fds[1]);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const std::span<const uint8_t> bytes(data + 1, size - 1);
    platform::wire::Reader in(bytes);
    switch (data[0] % 3) {
    case 0: server_reads_records(in); break;
    case 1: client_reads_records(in); break;
    default: frame_off_a_socket(bytes); break;
    }
    return 0;
}
