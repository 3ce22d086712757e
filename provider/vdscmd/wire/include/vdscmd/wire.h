#pragma once
// The disk-management socket of sanprovd: what vdsctl sends and what the
// service streams back.
//
// A frame is a 32-bit little-endian length and that many bytes, the first of
// which names the frame's kind. The service greets each connection with a
// Hello (an HRESULT: S_OK, or why it refuses); the client sends one Command
// (its arguments and, for set-chap, the secret); the service answers with Out
// and Err frames (bytes for the client's standard output and error, in the
// order they were written) and ends with one Exit frame (the exit status).
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vdscmd::wire {

// The service buffers no more than this of a command; a client accepts
// output frames up to the larger bound (the service sends smaller ones).
constexpr uint32_t kMaxCommandFrame = 256u << 10;
constexpr uint32_t kMaxOutputFrame = 1u << 20;
constexpr size_t kOutputChunk = 64u << 10;
constexpr uint32_t kMaxArguments = 256;
constexpr uint32_t kMaxSecret = 4096;

enum class Kind : uint8_t { Hello = 1, Command = 2, Out = 3, Err = 4, Exit = 5 };

struct Command {
    std::vector<std::string> args;   // argv without the program name
    std::optional<std::string> secret;
};

struct Message {
    Kind kind{};
    std::string bytes;    // Out, Err
    uint32_t value = 0;   // Hello (an HRESULT), Exit (the status)
};

std::vector<uint8_t> EncodeCommand(const Command& command);
// nullopt for anything but one well-formed command within the bounds.
std::optional<Command> DecodeCommand(std::span<const uint8_t> payload);

std::vector<uint8_t> EncodeText(Kind kind, std::string_view bytes);
std::vector<uint8_t> EncodeValue(Kind kind, uint32_t value);
// nullopt for a frame the client does not expect from a service.
std::optional<Message> DecodeMessage(std::span<const uint8_t> payload);

enum class Received { Frame, Closed, TooLong };
// Sends one frame; false when the peer is gone or stopped reading.
bool SendFrame(int fd, std::span<const uint8_t> payload);
// A frame longer than `max` is not buffered: TooLong, and the connection is
// not to be read further. Memory grows with the bytes that arrive, so a
// length alone buys nothing.
Received RecvFrame(int fd, uint32_t max, std::vector<uint8_t>& payload);

// $SANPROV_ROOT/run/sanprovd-vds.sock, beside the administration socket.
std::filesystem::path SocketPath();

}  // namespace vdscmd::wire
