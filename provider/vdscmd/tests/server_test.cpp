// The disk-management socket's server with a stand-in for the commands: who
// is served, what a bad frame or a departed client does, and its bounds.
#include <vdscmd/server.h>

#include <platform/local_server.h>

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <filesystem>
#include <mutex>
#include <thread>

namespace fs = std::filesystem;
namespace wire = vdscmd::wire;
using namespace std::chrono_literals;

namespace {

class CountingGate final : public vdscmd::ServiceGate {
public:
    HRESULT Enter() override {
        if (stopping) return CO_E_SERVER_STOPPING;
        ++inside;
        return S_OK;
    }
    void Leave() override { --inside; }
    std::atomic<int> inside{0};
    std::atomic<bool> stopping{false};
};

class CommandServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/vdscmd-server-XXXXXX";
        m_root = ::mkdtemp(pattern);
        m_path = m_root / "vds.sock";
    }
    void TearDown() override {
        vdscmd::CommandServer::FailThreadStarts(false);
        fs::remove_all(m_root);
    }

    int Connect() const {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::strncpy(addr.sun_path, m_path.c_str(), sizeof addr.sun_path - 1);
        EXPECT_EQ(0, ::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr));
        return fd;
    }
    static std::optional<wire::Message> Next(int fd) {
        std::vector<uint8_t> frame;
        if (wire::RecvFrame(fd, wire::kMaxOutputFrame, frame) != wire::Received::Frame) return std::nullopt;
        return wire::DecodeMessage(frame);
    }
    static HRESULT Hello(int fd) {
        const auto hello = Next(fd);
        return hello && hello->kind == wire::Kind::Hello ? static_cast<HRESULT>(hello->value) : E_UNEXPECTED;
    }

    // A command that writes its first argument, waits for `release`, and counts its ends.
    vdscmd::CommandRunner Runner() {
        return [this](const wire::Command& command, vdscmd::CommandOutput& output, const std::atomic<bool>&) {
            output.Write(wire::Kind::Out, command.args.empty() ? "" : command.args[0]);
            std::unique_lock lock(m_mutex);
            m_released.wait_for(lock, 10s, [this] { return m_release; });
            output.Write(wire::Kind::Out, "after\n");
            ++m_finished;
            m_done.notify_all();
            return 3;
        };
    }
    // The held connections are reaped once their commands (never sent) end.
    bool WaitUntilServed() {
        const auto end = std::chrono::steady_clock::now() + 10s;
        while (std::chrono::steady_clock::now() < end) {
            const int fd = Connect();
            const HRESULT hr = Hello(fd);
            ::close(fd);
            if (hr == S_OK) return true;
            std::this_thread::sleep_for(100ms);
        }
        return false;
    }
    void Release() {
        std::lock_guard lock(m_mutex);
        m_release = true;
        m_released.notify_all();
    }
    bool WaitFinished(int n) {
        std::unique_lock lock(m_mutex);
        return m_done.wait_for(lock, 10s, [&] { return m_finished >= n; });
    }

    fs::path m_root;
    fs::path m_path;
    CountingGate m_gate;
    std::mutex m_mutex;
    std::condition_variable m_released, m_done;
    bool m_release = false;
    int m_finished = 0;
};

}  // namespace

TEST_F(CommandServerTest, ACommandStreamsItsOutputAndExitStatusInAPrivateSocket) {
    vdscmd::CommandServer server(m_path, m_gate, Runner());
    ASSERT_TRUE(server.Listening());
    struct stat st{};
    ASSERT_EQ(0, ::stat(m_path.c_str(), &st));
    EXPECT_EQ(0600u, st.st_mode & 0777);
    Release();
    const int fd = Connect();
    EXPECT_EQ(S_OK, Hello(fd));
    ASSERT_TRUE(wire::SendFrame(fd, wire::EncodeCommand({{"first\n"}, std::nullopt})));
    std::string out;
    std::optional<wire::Message> m;
    while ((m = Next(fd)) && m->kind == wire::Kind::Out) out += m->bytes;
    ASSERT_TRUE(m);
    EXPECT_EQ(wire::Kind::Exit, m->kind);
    EXPECT_EQ(3u, m->value);
    EXPECT_EQ("first\nafter\n", out);
    ::close(fd);
}

TEST_F(CommandServerTest, AClientThatGoesLeavesItsCommandRunningToItsEnd) {
    auto server = std::make_unique<vdscmd::CommandServer>(m_path, m_gate, Runner());
    const int fd = Connect();
    ASSERT_EQ(S_OK, Hello(fd));
    ASSERT_TRUE(wire::SendFrame(fd, wire::EncodeCommand({{"x"}, std::nullopt})));
    ASSERT_TRUE(Next(fd));  // the command runs
    ::close(fd);
    Release();
    EXPECT_TRUE(WaitFinished(1));
    server.reset();
    EXPECT_EQ(0, m_gate.inside.load()) << "every client left the gate";
}

TEST_F(CommandServerTest, MalformedFramesEndTheirConnectionOnly) {
    vdscmd::CommandServer server(m_path, m_gate, Runner());
    Release();
    for (const std::string& bytes : {std::string("\xff\xff\xff\xff", 4), std::string("\x02\x00\x00\x00\x05\x01", 6),
                                     std::string("\x06\x00\x00\x00\x02\x01\x00\x00\x00\x09", 10)}) {
        const int fd = Connect();
        ASSERT_EQ(S_OK, Hello(fd));
        ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        ::shutdown(fd, SHUT_WR);
        EXPECT_FALSE(Next(fd));
        ::close(fd);
    }
    const int fd = Connect();
    ASSERT_EQ(S_OK, Hello(fd));
    ASSERT_TRUE(wire::SendFrame(fd, wire::EncodeCommand({{"ok"}, std::nullopt})));
    EXPECT_TRUE(Next(fd));
    ::close(fd);
}

TEST_F(CommandServerTest, BeyondTheCapAFailedThreadStartAndAStoppingServiceTheClientIsToldSo) {
    vdscmd::CommandServer server(m_path, m_gate, Runner());
    std::vector<int> held;
    for (size_t i = 0; i < vdscmd::CommandServer::kMaxConnections; ++i) {
        held.push_back(Connect());
        ASSERT_EQ(S_OK, Hello(held.back()));
    }
    const int over = Connect();
    EXPECT_EQ(static_cast<HRESULT>(0x800706BBu), Hello(over));
    ::close(over);
    for (int fd : held) ::close(fd);

    ASSERT_TRUE(WaitUntilServed());
    vdscmd::CommandServer::FailThreadStarts(true);
    const int failed = Connect();
    EXPECT_EQ(static_cast<HRESULT>(0x800706BBu), Hello(failed));
    ::close(failed);
    vdscmd::CommandServer::FailThreadStarts(false);

    m_gate.stopping = true;
    const int stopping = Connect();
    EXPECT_EQ(CO_E_SERVER_STOPPING, Hello(stopping));
    ::close(stopping);
}

TEST_F(CommandServerTest, AnotherUserIsRefusedBeforeItsCommandIsRead) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
    vdscmd::CommandServer server(m_path, m_gate, Runner());
    ::chmod(m_root.c_str(), 0755);
    ::chmod(m_path.c_str(), 0666);
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::setuid(65534) != 0) ::_exit(90);
        const int fd = Connect();
        ::_exit(Hello(fd) == E_ACCESSDENIED ? 0 : 1);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(0, m_gate.inside.load());
}
