#include <vdscmd/wire.h>

#include <platform/state_root.h>

#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace vdscmd::wire {
namespace {

void PutU32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void PutBytes(std::vector<uint8_t>& out, std::string_view bytes) {
    PutU32(out, static_cast<uint32_t>(bytes.size()));
    out.insert(out.end(), bytes.begin(), bytes.end());
}

// Reads a payload; every length is checked against what is left.
class Reader {
public:
    explicit Reader(std::span<const uint8_t> bytes) : m_bytes(bytes) {}
    bool ok() const { return m_ok; }
    bool AtEnd() const { return m_ok && m_pos == m_bytes.size(); }
    size_t Remaining() const { return m_bytes.size() - m_pos; }

    uint8_t U8() {
        if (!Need(1)) return 0;
        return m_bytes[m_pos++];
    }
    uint32_t U32() {
        if (!Need(4)) return 0;
        const uint8_t* b = m_bytes.data() + m_pos;
        m_pos += 4;
        return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
    }
    std::string Bytes(uint32_t max) {
        const uint32_t n = U32();
        if (n > max || !Need(n)) {
            m_ok = false;
            return {};
        }
        std::string text(reinterpret_cast<const char*>(m_bytes.data() + m_pos), n);
        m_pos += n;
        return text;
    }

private:
    bool Need(size_t n) {
        if (!m_ok || Remaining() < n) m_ok = false;
        return m_ok;
    }
    std::span<const uint8_t> m_bytes;
    size_t m_pos = 0;
    bool m_ok = true;
};

bool RecvAll(int fd, uint8_t* to, size_t n) {
    while (n) {
        const ssize_t got = ::recv(fd, to, n, 0);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        to += got;
        n -= static_cast<size_t>(got);
    }
    return true;
}

}  // namespace

std::vector<uint8_t> EncodeCommand(const Command& command) {
    std::vector<uint8_t> out{static_cast<uint8_t>(Kind::Command)};
    PutU32(out, static_cast<uint32_t>(command.args.size()));
    for (const std::string& arg : command.args) PutBytes(out, arg);
    out.push_back(command.secret ? 1 : 0);
    if (command.secret) PutBytes(out, *command.secret);
    return out;
}

std::optional<Command> DecodeCommand(std::span<const uint8_t> payload) {
    Reader in(payload);
    if (in.U8() != static_cast<uint8_t>(Kind::Command)) return std::nullopt;
    const uint32_t count = in.U32();
    // Each argument takes at least its length: bound the count before reserving.
    if (!in.ok() || count > kMaxArguments || count > in.Remaining() / 4) return std::nullopt;
    Command command;
    command.args.reserve(count);
    for (uint32_t i = 0; i < count && in.ok(); ++i) command.args.push_back(in.Bytes(kMaxCommandFrame));
    const uint8_t hasSecret = in.U8();
    if (hasSecret > 1) return std::nullopt;
    if (hasSecret) command.secret = in.Bytes(kMaxSecret);
    if (!in.AtEnd()) return std::nullopt;
    return command;
}

std::vector<uint8_t> EncodeText(Kind kind, std::string_view bytes) {
    std::vector<uint8_t> out{static_cast<uint8_t>(kind)};
    out.insert(out.end(), bytes.begin(), bytes.end());
    return out;
}

std::vector<uint8_t> EncodeValue(Kind kind, uint32_t value) {
    std::vector<uint8_t> out{static_cast<uint8_t>(kind)};
    PutU32(out, value);
    return out;
}

std::optional<Message> DecodeMessage(std::span<const uint8_t> payload) {
    Reader in(payload);
    Message message;
    message.kind = static_cast<Kind>(in.U8());
    switch (message.kind) {
    case Kind::Out:
    case Kind::Err:
        if (!in.ok()) return std::nullopt;
        message.bytes.assign(reinterpret_cast<const char*>(payload.data()) + 1, payload.size() - 1);
        return message;
    case Kind::Hello:
    case Kind::Exit:
        message.value = in.U32();
        if (!in.AtEnd()) return std::nullopt;
        return message;
    default:
        return std::nullopt;
    }
}

bool SendFrame(int fd, std::span<const uint8_t> payload) {
    std::vector<uint8_t> frame;
    frame.reserve(payload.size() + 4);
    PutU32(frame, static_cast<uint32_t>(payload.size()));
    frame.insert(frame.end(), payload.begin(), payload.end());
    size_t done = 0;
    while (done < frame.size()) {
        const ssize_t sent = ::send(fd, frame.data() + done, frame.size() - done, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) continue;
        if (sent <= 0) return false;
        done += static_cast<size_t>(sent);
    }
    return true;
}

Received RecvFrame(int fd, uint32_t max, std::vector<uint8_t>& payload) {
    payload.clear();
    uint8_t head[4];
    if (!RecvAll(fd, head, 4)) return Received::Closed;
    const uint32_t n = uint32_t(head[0]) | uint32_t(head[1]) << 8 | uint32_t(head[2]) << 16 | uint32_t(head[3]) << 24;
    if (n > max) return Received::TooLong;
    constexpr size_t kStep = 64u << 10;
    while (payload.size() < n) {
        const size_t at = payload.size();
        payload.resize(at + std::min<size_t>(kStep, n - at));
        if (!RecvAll(fd, payload.data() + at, payload.size() - at)) return Received::Closed;
    }
    return Received::Frame;
}

std::filesystem::path SocketPath() { return platform::state_dir("run") / "sanprovd-vds.sock"; }

}  // namespace vdscmd::wire
