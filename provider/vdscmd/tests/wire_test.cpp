// The disk-management socket's frames: what one end encodes the other
// decodes, and nothing beyond the bounds or malformed gets through.
#include <vdscmd/wire.h>

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace wire = vdscmd::wire;

namespace {

std::vector<uint8_t> Bytes(const std::string& text) { return std::vector<uint8_t>(text.begin(), text.end()); }

}  // namespace

TEST(VdsWire, CommandsAndMessagesCrossUnchanged) {
    const wire::Command command{{"--json", "set-chap", "iqn.1991-05.com.example:h1", std::string("\0x", 2)},
                                std::string("secret\n")};
    const auto decoded = wire::DecodeCommand(wire::EncodeCommand(command));
    ASSERT_TRUE(decoded);
    EXPECT_EQ(command.args, decoded->args);
    EXPECT_EQ(command.secret, decoded->secret);
    EXPECT_FALSE(wire::DecodeCommand(wire::EncodeCommand({{"luns"}, std::nullopt}))->secret);

    const auto out = wire::DecodeMessage(wire::EncodeText(wire::Kind::Err, "vdsctl: x\n"));
    ASSERT_TRUE(out);
    EXPECT_EQ(wire::Kind::Err, out->kind);
    EXPECT_EQ("vdsctl: x\n", out->bytes);
    const auto exit = wire::DecodeMessage(wire::EncodeValue(wire::Kind::Exit, 2));
    ASSERT_TRUE(exit);
    EXPECT_EQ(2u, exit->value);
}

TEST(VdsWire, MalformedCommandsAreRefused) {
    const struct {
        const char* what;
        std::string bytes;
    } cases[] = {
        {"empty", ""},
        {"another kind", std::string("\x03\x00\x00\x00\x00\x00", 6)},
        {"count beyond the bytes", std::string("\x02\xe8\x03\x00\x00\x00", 6)},
        {"count beyond the bound", std::string("\x02\x01\x01\x00\x00", 5) + std::string(257 * 4, '\0') + '\0'},
        {"argument past the end", std::string("\x02\x01\x00\x00\x00\xff\xff\xff\x7f\x00", 10)},
        {"secret marker 2", std::string("\x02\x00\x00\x00\x00\x02", 6)},
        {"secret beyond its bound", std::string("\x02\x00\x00\x00\x00\x01\x01\x10\x00\x00", 10) + std::string(4097, 's')},
        {"bytes after the end", std::string("\x02\x00\x00\x00\x00\x00!", 7)},
        {"no secret marker", std::string("\x02\x00\x00\x00\x00", 5)},
    };
    for (const auto& c : cases) EXPECT_FALSE(wire::DecodeCommand(Bytes(c.bytes))) << c.what;
    for (const std::string& bytes : {std::string(""), std::string("\x02", 1), std::string("\x05\x01\x00", 3),
                                     std::string("\x01\x00\x00\x00\x00\x00", 6)})
        EXPECT_FALSE(wire::DecodeMessage(Bytes(bytes))) << bytes.size();
}

TEST(VdsWire, AFrameLongerThanTheBoundIsNotRead) {
    int fds[2];
    ASSERT_EQ(0, ::socketpair(AF_UNIX, SOCK_STREAM, 0, fds));
    const std::vector<uint8_t> payload(100, 'x');
    ASSERT_TRUE(wire::SendFrame(fds[1], payload));
    ::send(fds[1], "\xff\xff\xff\x7f", 4, 0);
    ::shutdown(fds[1], SHUT_WR);
    std::vector<uint8_t> got;
    EXPECT_EQ(wire::Received::Frame, wire::RecvFrame(fds[0], 100, got));
    EXPECT_EQ(payload, got);
    EXPECT_EQ(wire::Received::TooLong, wire::RecvFrame(fds[0], 100, got));
    EXPECT_TRUE(got.empty());
    ::close(fds[0]);
    ::close(fds[1]);
}
