// The frames of the disk-management socket as both ends read them: a
// command as the service decodes it, a message as vdsctl decodes it, and the
// framing off a socket. The first byte picks the reader.
#include <vdscmd/wire.h>

#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

namespace {

namespace wire = vdscmd::wire;

void service_reads_command(std::span<const uint8_t> bytes) {
    const auto command = wire::DecodeCommand(bytes);
    if (!command) return;
    if (command->args.size() > wire::kMaxArguments) std::abort();
    if (command->secret && command->secret->size() > wire::kMaxSecret) std::abort();
    // What decodes encodes back to the same bytes.
    if (wire::EncodeCommand(*command) != std::vector<uint8_t>(bytes.begin(), bytes.end())) std::abort();
}

void client_reads_message(std::span<const uint8_t> bytes) {
    const auto message = wire::DecodeMessage(bytes);
    if (message && message->bytes.size() >= bytes.size() + 1) std::abort();
}

void frame_off_a_socket(std::span<const uint8_t> bytes) {
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) std::abort();
    // The whole input fits the socket's buffer: max_len stays far below it.
    if (::send(fds[1], bytes.data(), bytes.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(bytes.size())) std::abort();
    ::shutdown(fds[1], SHUT_WR);
    std::vector<uint8_t> payload;
    constexpr uint32_t kMax = 4096;
    while (wire::RecvFrame(fds[0], kMax, payload) == wire::Received::Frame) {
        if (payload.size() > kMax) std::abort();
        (void)wire::DecodeCommand(payload);
    }
    ::close(fds[0]);
    ::close(fds[1]);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const std::span<const uint8_t> bytes(data + 1, size - 1);
    switch (data[0] % 3) {
    case 0: service_reads_command(bytes); break;
    case 1: client_reads_message(bytes); break;
    default: frame_off_a_socket(bytes); break;
    }
    return 0;
}
