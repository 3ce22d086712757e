// The administration interface across processes: a server process registers a
// class object, this process reaches it through CoCreateInstance.
#include <platform/classtable.h>
#include <platform/clock.h>
#include <platform/comalloc.h>
#include <platform/local_server.h>
#include <platform/probe.h>
#include <platform/socket_server.h>
#include <platform/provider_admin.h>
#include <platform/text.h>

#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::atomic<int> g_live{0};

std::string describe(LPCWSTR s) {
    if (!s) return "<null>";
    if (IsBadStringPtrW(s, UINT_PTR(-1))) return "<bad>";
    return "'" + platform::wide_to_utf8_lossy(s) + "'";
}

std::string describe(const FILER_RECORD* r) {
    if (!r) return "<null record>";
    if (IsBadReadPtr(r, sizeof *r)) return "<bad record>";
    return describe(r->wszKey) + " " + describe(r->wszDnsName) + " " + describe(r->wszUserName) + " " +
           describe(r->wszPassword) + " " + std::to_string(r->hwpType) + " " + std::to_string(r->dwUpdateFlags);
}

LPWSTR task_text(const std::string& s) {
    const std::u16string w = platform::utf8_to_wide_lossy(s);
    auto* p = static_cast<LPWSTR>(CoTaskMemAlloc((w.size() + 1) * 2));
    std::memcpy(p, w.c_str(), (w.size() + 1) * 2);
    return p;
}

bool writable(void* p, size_t n) { return p && !IsBadWritePtr(p, n); }

// Echoes what it received, so the client can see what crossed.
class EchoAdmin final : public IZarvoVdsProviderAdmin {
public:
    EchoAdmin() { ++g_live; }
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
    // Flags 7 asks for the number of live objects; otherwise the text is what
    // the last commit received.
    HRESULT STDMETHODCALLTYPE GetLastError(DWORD flags, HRESULT* phr, LPWSTR* ppwsz) override {
        if (!writable(phr, sizeof *phr) || !writable(ppwsz, sizeof *ppwsz)) return E_INVALIDARG;
        *phr = static_cast<HRESULT>(0xC0042501u);
        // Counted before this call's own text is made.
        const long blocks = platform::live_task_allocations();
        *ppwsz = task_text(flags == 7 ? "live=" + std::to_string(g_live.load()) + " blocks=" + std::to_string(blocks)
                                      : m_seen);
        return S_OK;
    }
    // Flags 0: two records; 1: writes nothing; 2: an empty list.
    HRESULT STDMETHODCALLTYPE LoadFilerList(DWORD flags, ULONG* pc, FILER_RECORD*** prg) override {
        if (flags == 1) return S_FALSE;
        if (!writable(pc, 4) || !writable(prg, sizeof *prg)) return E_INVALIDARG;
        *pc = 0;
        *prg = nullptr;
        if (flags == 2) return S_OK;
        auto** array = static_cast<FILER_RECORD**>(CoTaskMemAlloc(2 * sizeof(FILER_RECORD*)));
        for (int i = 0; i < 2; ++i) {
            array[i] = static_cast<FILER_RECORD*>(CoTaskMemAlloc(sizeof(FILER_RECORD)));
            *array[i] = {task_text(i ? "" : "k1"), task_text(i ? "" : "filer1"), task_text(i ? "" : "root"),
                         task_text(i ? "" : "s3cr\xc3\xa9t"), i ? 3 : 2, DWORD(i ? 2 : 0)};
        }
        *prg = array;
        *pc = 2;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE CommitFilerList(DWORD flags, ULONG count, FILER_RECORD** rg) override {
        m_seen = "flags=" + std::to_string(flags) + " count=" + std::to_string(count);
        if (!rg) m_seen += " <null array>";
        else if (count && IsBadReadPtr(rg, count * sizeof(FILER_RECORD*))) m_seen += " <bad array>";
        else
            for (ULONG i = 0; i < count; ++i) m_seen += " [" + describe(rg[i]) + "]";
        return S_OK;
    }
    // A DNS name "block" makes the call last a second and says so by a file.
    HRESULT STDMETHODCALLTYPE CheckFilerEntry(DWORD flags, FILER_RECORD* pfr, HRESULT* phr, LPWSTR* ppwsz) override {
        if (pfr && !IsBadReadPtr(pfr, sizeof *pfr) && describe(pfr->wszDnsName) == "'block'") {
            std::ofstream(fs::path(::getenv("SANPROV_ROOT")) / "in-call") << "x";
            std::this_thread::sleep_for(std::chrono::seconds(1));
        }
        const std::string seen = "flags=" + std::to_string(flags) + " [" + describe(pfr) + "] phr=" +
                                 (phr ? writable(phr, 4) ? "ok" : "bad" : "null");
        if (writable(phr, 4)) *phr = 0;
        if (writable(ppwsz, sizeof *ppwsz)) *ppwsz = task_text(seen);
        return S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE SetLastError(HRESULT, ...) override { return S_OK; }

private:
    ~EchoAdmin() { --g_live; }
    std::atomic<ULONG> m_refs{1};
    std::string m_seen;
};

class EchoFactory final : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (riid != IID_IUnknown && riid != IID_IClassFactory) return E_NOINTERFACE;
        *ppv = this;
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown*, REFIID riid, void** ppv) override {
        auto* o = new EchoAdmin;
        const HRESULT hr = o->QueryInterface(riid, ppv);
        o->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

// The server runs in a child process until stop(); its exit code is 0 when
// every object it made was released by then.
class ServerProcess {
public:
    // `prepare` runs in the server process before it registers its class.
    explicit ServerProcess(const std::function<void()>& prepare = {}) {
        int ready[2], stop[2];
        EXPECT_EQ(::pipe(ready), 0);
        EXPECT_EQ(::pipe(stop), 0);
        m_pid = ::fork();
        if (m_pid == 0) {
            ::close(ready[0]);
            ::close(stop[1]);
            if (prepare) prepare();
            static EchoFactory factory;
            DWORD cookie = 0;
            if (FAILED(CoRegisterClassObject(CLSID_ZarvoVdsProviderAdmin, &factory, CLSCTX_LOCAL_SERVER,
                                             REGCLS_MULTIPLEUSE, &cookie)) ||
                !platform::is_local_server())
                ::_exit(2);
            (void)!::write(ready[1], "r", 1);
            char c;
            (void)!::read(stop[0], &c, 1);
            CoRevokeClassObject(cookie);
            ::_exit(g_live == 0 ? 0 : 3);
        }
        ::close(ready[1]);
        ::close(stop[0]);
        m_stop = stop[1];
        char c = 0;
        EXPECT_EQ(::read(ready[0], &c, 1), 1) << "the server process did not start serving";
        ::close(ready[0]);
    }
    ~ServerProcess() {
        if (m_pid > 0) stop();
    }
    int stop() {
        ::close(m_stop);
        int status = 0;
        ::waitpid(m_pid, &status, 0);
        m_pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
    }
    pid_t pid() const { return m_pid; }
    void kill() {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
        ::close(m_stop);
        m_pid = -1;
    }

private:
    pid_t m_pid = -1;
    int m_stop = -1;
};

using Bytes = std::vector<uint8_t>;

Bytes words(std::initializer_list<uint32_t> values) {
    Bytes bytes;
    for (uint32_t v : values)
        for (int i = 0; i < 4; ++i) bytes.push_back(uint8_t(v >> (8 * i)));
    return bytes;
}

// The test's root is long: a socket in it is reached through its directory.
sockaddr_un socket_address(int dir) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "/proc/self/fd/%d/sanprovd.sock", dir);
    return addr;
}

// A server that speaks the frames itself, to send what no real server would.
// It greets each connection and answers its requests with the connection's
// script in turn; an answer left empty drops the connection instead. It takes
// as many connections as it has scripts.
class ScriptedServer {
public:
    using Script = std::vector<std::optional<Bytes>>;

    explicit ScriptedServer(std::vector<Script> scripts) : m_scripts(std::move(scripts)) {
        fs::create_directories(platform::local_server_socket().parent_path());
        m_dir = ::open(platform::local_server_socket().parent_path().c_str(), O_PATH);
        m_listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const sockaddr_un addr = socket_address(m_dir);
        EXPECT_EQ(::bind(m_listener, reinterpret_cast<const sockaddr*>(&addr), sizeof addr), 0);
        EXPECT_EQ(::listen(m_listener, 8), 0);
        m_thread = std::thread([this] { serve(); });
    }
    ~ScriptedServer() {
        ::shutdown(m_listener, SHUT_RDWR);  // wakes an accept that no client will meet
        if (const int fd = m_current.load(); fd >= 0) ::shutdown(fd, SHUT_RDWR);
        m_thread.join();
        ::close(m_listener);
        ::unlink(platform::local_server_socket().c_str());
        ::close(m_dir);
    }
    int connections() const { return m_connections; }

private:
    static void send_frame(int fd, const Bytes& payload) {
        Bytes frame = words({static_cast<uint32_t>(payload.size())});
        frame.insert(frame.end(), payload.begin(), payload.end());
        (void)!::send(fd, frame.data(), frame.size(), MSG_NOSIGNAL);
    }
    static bool recv_frame(int fd) {
        uint32_t n = 0;
        if (::recv(fd, &n, 4, MSG_WAITALL) != 4) return false;
        Bytes payload(n);
        return n == 0 || ::recv(fd, payload.data(), n, MSG_WAITALL) == static_cast<ssize_t>(n);
    }
    void serve() {
        for (const Script& script : m_scripts) {
            const int fd = ::accept(m_listener, nullptr, nullptr);
            if (fd < 0) return;
            m_current = fd;
            ++m_connections;
            send_frame(fd, words({S_OK}));
            bool dropped = false;
            for (const auto& answer : script) {
                if (!recv_frame(fd) || !answer) {
                    dropped = true;
                    break;
                }
                send_frame(fd, *answer);
            }
            char c;
            while (!dropped && ::recv(fd, &c, 1, 0) > 0) {  // until the client lets go
            }
            m_current = -1;
            ::close(fd);
        }
    }

    std::vector<Script> m_scripts;
    int m_dir = -1;
    int m_listener = -1;
    std::atomic<int> m_current{-1};
    std::atomic<int> m_connections{0};
    std::thread m_thread;
};

class AdminTransport : public ::testing::Test {
protected:
    void SetUp() override {
        m_root = fs::temp_directory_path() / ("admin-transport-" + std::to_string(::getpid()) + "-" +
                                              ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(m_root);
        fs::create_directories(m_root);
        ::setenv("SANPROV_ROOT", m_root.c_str(), 1);
    }
    void TearDown() override {
        platform::set_local_server_starter({});
        ::unsetenv("SANPROV_ROOT");
        fs::remove_all(m_root);
    }

    static IZarvoVdsProviderAdmin* create(HRESULT* result = nullptr) {
        IZarvoVdsProviderAdmin* admin = nullptr;
        const HRESULT hr = CoCreateInstance(CLSID_ZarvoVdsProviderAdmin, nullptr, CLSCTX_LOCAL_SERVER,
                                            IID_IZarvoVdsProviderAdmin, reinterpret_cast<void**>(&admin));
        if (result) *result = hr;
        return admin;
    }
    static std::string text_of(LPWSTR s) {
        std::string t = s ? platform::wide_to_utf8_lossy(s) : "<null>";
        CoTaskMemFree(s);
        return t;
    }
    // The server's live objects and task blocks, as one of its objects sees them.
    static std::pair<int, long> server_counts() {
        IZarvoVdsProviderAdmin* admin = create();
        if (!admin) return {-1, -1};
        HRESULT hr = 0;
        LPWSTR text = nullptr;
        admin->GetLastError(7, &hr, &text);
        admin->Release();
        const std::string said = text_of(text);
        return {std::stoi(said.substr(5)) - 1,  // less the object that asked
                std::stol(said.substr(said.find("blocks=") + 7))};
    }
    static int live_objects() { return server_counts().first; }
    fs::path m_root;
};

}  // namespace

TEST_F(AdminTransport, EveryMethodCrossesWithNullAndBadPointersKeptApartFromEmptyText) {
    ServerProcess server;
    IZarvoVdsProviderAdmin* admin = create();
    ASSERT_NE(admin, nullptr);

    HRESULT hr = 0;
    LPWSTR text = nullptr;
    EXPECT_EQ(admin->GetLastError(0, nullptr, &text), E_INVALIDARG);
    EXPECT_EQ(text, nullptr) << "a call that writes nothing leaves the caller's pointer alone";

    ULONG count = 99;
    FILER_RECORD** records = nullptr;
    ASSERT_EQ(admin->LoadFilerList(0, &count, &records), S_OK);
    ASSERT_EQ(count, 2u);
    EXPECT_EQ(describe(records[0]), "'k1' 'filer1' 'root' 's3cr\xc3\xa9t' 2 0");
    EXPECT_EQ(describe(records[1]), "'' '' '' '' 3 2");
    auto* kept = records[0];

    FILER_RECORD empty{nullptr, const_cast<LPWSTR>(u""), const_cast<LPWSTR>(u"u"), nullptr, 3, 2};
    FILER_RECORD bad{nullptr, reinterpret_cast<LPWSTR>(uintptr_t{8}), const_cast<LPWSTR>(u"u"),
                     const_cast<LPWSTR>(u"pw"), 2, 1};
    FILER_RECORD* array[] = {kept, &empty, nullptr, &bad, reinterpret_cast<FILER_RECORD*>(uintptr_t{16})};
    EXPECT_EQ(admin->CommitFilerList(5, 5, array), S_OK);
    ASSERT_EQ(admin->GetLastError(0, &hr, &text), S_OK);
    EXPECT_EQ(hr, static_cast<HRESULT>(0xC0042501u));
    EXPECT_EQ(text_of(text),
              "flags=5 count=5 ['k1' 'filer1' 'root' 's3cr\xc3\xa9t' 2 0] [<null> '' 'u' <null> 3 2] [<null record>] "
              "[<null> <bad> 'u' 'pw' 2 1] [<bad record>]");
    EXPECT_EQ(admin->CommitFilerList(0, 3, nullptr), S_OK);
    admin->GetLastError(0, &hr, &text);
    EXPECT_EQ(text_of(text), "flags=0 count=3 <null array>");

    text = nullptr;
    EXPECT_EQ(admin->CheckFilerEntry(1, &empty, nullptr, &text), S_FALSE);
    EXPECT_EQ(text_of(text), "flags=1 [<null> '' 'u' <null> 3 2] phr=null");
    EXPECT_EQ(admin->CheckFilerEntry(0, nullptr, reinterpret_cast<HRESULT*>(uintptr_t{4}), &text), S_FALSE);
    EXPECT_EQ(text_of(text), "flags=0 [<null record>] phr=bad");

    for (ULONG i = 0; i < count; ++i) {
        CoTaskMemFree(records[i]->wszKey);
        CoTaskMemFree(records[i]->wszDnsName);
        CoTaskMemFree(records[i]->wszUserName);
        CoTaskMemFree(records[i]->wszPassword);
        CoTaskMemFree(records[i]);
    }
    CoTaskMemFree(records);

    // Outputs the server left alone stay as the caller had them; an empty list has no array.
    count = 7;
    records = reinterpret_cast<FILER_RECORD**>(uintptr_t{0x40});
    EXPECT_EQ(admin->LoadFilerList(1, &count, &records), S_FALSE);
    EXPECT_EQ(count, 7u);
    EXPECT_EQ(records, reinterpret_cast<FILER_RECORD**>(uintptr_t{0x40}));
    EXPECT_EQ(admin->LoadFilerList(2, &count, &records), S_OK);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(records, nullptr);
    EXPECT_EQ(admin->SetLastError(E_FAIL), E_NOTIMPL) << "the stored error is not set across processes";

    admin->Release();
    EXPECT_EQ(server.stop(), 0) << "every server object was released";
}

TEST_F(AdminTransport, SocketIsPrivateAndOtherUsersAreRefusedBeforeAnyCall) {
    ServerProcess server;
    struct stat st{};
    ASSERT_EQ(::stat(platform::local_server_socket().c_str(), &st), 0);
    EXPECT_TRUE(S_ISSOCK(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_EQ(::stat(platform::local_server_socket().parent_path().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    auto as_nobody = [] {
        const pid_t pid = ::fork();
        if (pid == 0) {
            if (::setuid(65534) != 0) ::_exit(90);
            HRESULT hr = S_OK;
            IZarvoVdsProviderAdmin* admin = create(&hr);
            ::_exit(admin == nullptr && hr == E_ACCESSDENIED ? 0 : 1);
        }
        int status = 0;
        ::waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
    EXPECT_EQ(as_nobody(), 0) << "the private directory keeps another user out";
    // Even with the file modes opened up, the server's own check refuses the peer.
    ::chmod(platform::local_server_socket().parent_path().c_str(), 0755);
    ::chmod(platform::local_server_socket().c_str(), 0666);
    EXPECT_EQ(as_nobody(), 0);
    EXPECT_EQ(live_objects(), 0);
    EXPECT_EQ(server.stop(), 0);
}

TEST_F(AdminTransport, AClientKilledMidCallLeavesNoObjectBehind) {
    ServerProcess server;
    const pid_t client = ::fork();
    if (client == 0) {
        IZarvoVdsProviderAdmin* admin = create();
        FILER_RECORD r{nullptr, const_cast<LPWSTR>(u"block"), const_cast<LPWSTR>(u""), nullptr, 2, 0};
        HRESULT hr;
        LPWSTR text;
        if (admin) admin->CheckFilerEntry(0, &r, &hr, &text);
        ::_exit(0);
    }
    for (int i = 0; i < 500 && !fs::exists(m_root / "in-call"); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(fs::exists(m_root / "in-call"));
    ::kill(client, SIGKILL);
    ::waitpid(client, nullptr, 0);
    int live = -1;
    for (int i = 0; i < 100 && (live = live_objects()) != 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(live, 0);
    EXPECT_EQ(server.stop(), 0);
}

TEST_F(AdminTransport, AServerThatDiesBecomesAnHresultAndNoServerFailsActivationAtOnce) {
    HRESULT hr = S_OK;
    EXPECT_EQ(create(&hr), nullptr);
    EXPECT_EQ(hr, CO_E_SERVER_EXEC_FAILURE) << "nothing listens and nothing can start the server";

    ServerProcess server;
    IZarvoVdsProviderAdmin* admin = create();
    ASSERT_NE(admin, nullptr);
    server.kill();
    ULONG count = 0;
    FILER_RECORD** records = nullptr;
    EXPECT_EQ(admin->LoadFilerList(0, &count, &records), RPC_E_DISCONNECTED);
    EXPECT_EQ(admin->LoadFilerList(0, &count, &records), RPC_E_DISCONNECTED);
    admin->Release();
}

TEST_F(AdminTransport, ActivationStartsAServerWhenNoneListensAndRetriesUntilItServes) {
    // S_FALSE: the service still runs, on its way out after an idle stop. The
    // activation has to ask again once it is gone, or no server ever comes.
    const std::vector<std::vector<HRESULT>> cases = {{S_OK}, {S_FALSE, S_FALSE, S_OK}};
    for (const auto& answers : cases) {
        platform::ScopedFakeClock clock;  // a failure gives up at once, not after 30 s
        std::unique_ptr<ServerProcess> server;
        size_t starts = 0;
        platform::set_local_server_starter([&](REFCLSID clsid) {
            EXPECT_EQ(clsid, CLSID_ZarvoVdsProviderAdmin);
            const HRESULT answer = answers.at(std::min(starts++, answers.size() - 1));
            if (answer == S_OK) server = std::make_unique<ServerProcess>();
            return answer;
        });
        IZarvoVdsProviderAdmin* admin = create();
        ASSERT_NE(admin, nullptr) << answers.size() << " answers";
        EXPECT_EQ(starts, answers.size()) << "once started, the activation only waits for it";
        admin->Release();
        EXPECT_EQ(server->stop(), 0);
    }
}

TEST_F(AdminTransport, ActivationRetriesPastAServerThatStopsBeforeMakingTheObject) {
    struct Case {
        const char* server;
        std::optional<Bytes> firstAnswer;
        HRESULT result;
        int connections;
    };
    const Case cases[] = {
        {"refuses it while stopping", words({static_cast<uint32_t>(CO_E_SERVER_STOPPING)}), S_OK, 2},
        {"drops the connection", std::nullopt, S_OK, 2},
        {"refuses the interface", words({static_cast<uint32_t>(E_NOINTERFACE)}), E_NOINTERFACE, 1},
    };
    platform::set_local_server_starter([](REFCLSID) {
        ADD_FAILURE() << "a server listens all along";
        return E_FAIL;
    });
    for (const Case& c : cases) {
        ScriptedServer server({{c.firstAnswer}, {words({S_OK})}});
        HRESULT hr = E_FAIL;
        IZarvoVdsProviderAdmin* admin = create(&hr);
        EXPECT_EQ(hr, c.result) << c.server;
        if (admin) admin->Release();
        EXPECT_EQ(server.connections(), c.connections) << c.server;
    }
}

TEST_F(AdminTransport, AListReplyBuysNoMoreMemoryThanItsBytesHoldRecords) {
    // The smallest record a server can send: present, four NULL strings, type and flags.
    Bytes record = {1, 0, 0, 0, 0};
    for (uint8_t b : words({3, 2})) record.push_back(b);
    auto reply = [](uint32_t claimed, size_t bodyBytes, const Bytes& body) {
        Bytes bytes = words({S_OK, 2});
        bytes.push_back(1);  // the array is present
        for (uint8_t b : words({claimed})) bytes.push_back(b);
        for (size_t i = 0; i < bodyBytes; ++i) bytes.push_back(body.empty() ? 0 : body[i % body.size()]);
        return bytes;
    };
    struct Case {
        const char* what;
        Bytes reply;
        HRESULT result;
    };
    const Case cases[] = {
        {"two records", reply(2, 2 * record.size(), record), S_OK},
        {"a count one more than the records sent", reply(3, 2 * record.size(), record), RPC_E_DISCONNECTED},
        {"a count of a million in a megabyte of zeros", reply(1u << 20, 1u << 20, {}), RPC_E_DISCONNECTED},
    };
    for (const Case& c : cases) {
        ScriptedServer server({{words({S_OK}), c.reply}});
        IZarvoVdsProviderAdmin* admin = create();
        ASSERT_NE(admin, nullptr);
        ULONG count = 0;
        FILER_RECORD** records = nullptr;
        platform::take_largest_task_allocation();
        EXPECT_EQ(admin->LoadFilerList(0, &count, &records), c.result) << c.what;
        EXPECT_LE(platform::take_largest_task_allocation(), std::max(c.reply.size(), sizeof(FILER_RECORD)))
            << c.what << ": the client allocates no more than the reply brought";
        if (c.result == S_OK) {
            ASSERT_EQ(count, 2u);
            for (ULONG i = 0; i < count; ++i) {
                EXPECT_EQ(describe(records[i]), "<null> <null> <null> <null> 3 2");
                CoTaskMemFree(records[i]);
            }
            CoTaskMemFree(records);
        }
        admin->Release();
    }
}

namespace {

// A connection to the server without the client library; the greeting is left unread.
int connect_only() {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int dir = ::open(platform::local_server_socket().parent_path().c_str(), O_PATH);
    const sockaddr_un addr = socket_address(dir);
    EXPECT_EQ(::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr), 0);
    ::close(dir);
    return fd;
}

// The HRESULT of a one-word frame (the greeting or an answer), or nullopt when
// the connection ends first.
std::optional<HRESULT> read_hresult(int fd) {
    uint32_t frame[2] = {};
    if (::recv(fd, frame, 8, MSG_WAITALL) != 8 || frame[0] != 4) return std::nullopt;
    return static_cast<HRESULT>(frame[1]);
}

int connect_raw() {
    const int fd = connect_only();
    EXPECT_EQ(read_hresult(fd), S_OK);
    return fd;
}

bool ended(int fd) {
    char c;
    return ::recv(fd, &c, 1, 0) <= 0;
}

}  // namespace

TEST_F(AdminTransport, MalformedAndOversizedFramesAreRefusedAndEndTheConnection) {
    ServerProcess server;
    auto frame = [](std::initializer_list<uint32_t> words, uint32_t length) {
        std::vector<uint8_t> bytes;
        auto put = [&](uint32_t v) {
            for (int i = 0; i < 4; ++i) bytes.push_back(uint8_t(v >> (8 * i)));
        };
        put(length);
        for (uint32_t w : words) put(w);
        return bytes;
    };
    auto reply_then_eof = [](int fd) {
        uint8_t reply[8];
        EXPECT_EQ(::recv(fd, reply, 8, MSG_WAITALL), 8);
        uint32_t hr;
        std::memcpy(&hr, reply + 4, 4);
        EXPECT_EQ(static_cast<HRESULT>(hr), E_INVALIDARG);
        EXPECT_LE(::recv(fd, reply, 1, 0), 0) << "the server closes the connection";
        ::close(fd);
    };
    const std::vector<std::vector<uint8_t>> cases = {
        frame({0}, 0xFFFFFFF0u),          // a length no request may have
        frame({1, 0}, 8),                 // a call before any object was made
        frame({3, 0, 0xFFFFFFFFu}, 12),   // a commit whose count the frame cannot hold
    };
    for (const auto& bytes : cases) {
        const int fd = connect_raw();
        ASSERT_EQ(::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
        reply_then_eof(fd);
    }
    // A well-formed creation followed by a commit claiming four billion records.
    const int fd = connect_raw();
    std::vector<uint8_t> create = frame({0}, 20);
    create.insert(create.end(), reinterpret_cast<const uint8_t*>(&IID_IZarvoVdsProviderAdmin),
                  reinterpret_cast<const uint8_t*>(&IID_IZarvoVdsProviderAdmin) + 16);
    ASSERT_EQ(::send(fd, create.data(), create.size(), MSG_NOSIGNAL), 24);
    uint8_t ok[8];
    ASSERT_EQ(::recv(fd, ok, 8, MSG_WAITALL), 8);
    auto commit = frame({3, 0, 0xFFFFFFFFu}, 13);
    commit.push_back(1);  // the array is present
    ASSERT_EQ(::send(fd, commit.data(), commit.size(), MSG_NOSIGNAL), 17);
    reply_then_eof(fd);
    EXPECT_EQ(live_objects(), 0);
    EXPECT_EQ(server.stop(), 0);
}

TEST_F(AdminTransport, AnUnchangedMarkerInARequestIsRefusedAndLeavesNothingAllocated) {
    ServerProcess server;
    auto request = [](std::initializer_list<Bytes> parts) {
        Bytes payload;
        for (const Bytes& p : parts) payload.insert(payload.end(), p.begin(), p.end());
        Bytes frame = words({static_cast<uint32_t>(payload.size())});
        frame.insert(frame.end(), payload.begin(), payload.end());
        return frame;
    };
    const Bytes present = {1}, unchanged = {3};
    // A record as a check sends it: present, four empty strings, type and flags.
    Bytes record = {1};
    for (int i = 0; i < 4; ++i) {
        record.push_back(1);
        for (uint8_t b : words({0})) record.push_back(b);
    }
    for (uint8_t b : words({3, 0})) record.push_back(b);
    Bytes create = words({0});
    create.insert(create.end(), reinterpret_cast<const uint8_t*>(&IID_IZarvoVdsProviderAdmin),
                  reinterpret_cast<const uint8_t*>(&IID_IZarvoVdsProviderAdmin) + sizeof(GUID));
    struct Case {
        const char* what;
        Bytes call;
    };
    const Case cases[] = {
        {"GetLastError, its HRESULT", request({words({1, 0}), unchanged, present, words({0})})},
        {"GetLastError, its text", request({words({1, 0}), present, words({0}), unchanged})},
        {"LoadFilerList, its count", request({words({2, 0}), unchanged, present})},
        {"LoadFilerList, its array", request({words({2, 0}), present, words({0}), unchanged})},
        {"CheckFilerEntry, its HRESULT", request({words({4, 0}), record, unchanged, present})},
        {"CheckFilerEntry, its text", request({words({4, 0}), record, present, words({0}), unchanged})},
    };
    const auto [objects, blocks] = server_counts();
    ASSERT_EQ(objects, 0);
    for (int round = 0; round < 3; ++round)
        for (const Case& c : cases) {
            const int fd = connect_raw();
            const Bytes made = request({create});
            ASSERT_EQ(::send(fd, made.data(), made.size(), MSG_NOSIGNAL), static_cast<ssize_t>(made.size()));
            ASSERT_EQ(read_hresult(fd), S_OK) << c.what;
            ASSERT_EQ(::send(fd, c.call.data(), c.call.size(), MSG_NOSIGNAL), static_cast<ssize_t>(c.call.size()));
            EXPECT_EQ(read_hresult(fd), E_INVALIDARG) << c.what;
            EXPECT_TRUE(ended(fd)) << c.what << ": the connection is closed";
            ::close(fd);
        }
    int left = -1;
    for (int i = 0; i < 100 && (left = live_objects()) != 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(left, 0);
    EXPECT_EQ(server_counts().second, blocks) << "the server holds no more memory than before";
    EXPECT_EQ(server.stop(), 0);
}

TEST_F(AdminTransport, ConnectionsBeyondTheLimitAreRefusedAndTheServerServesOn) {
    ServerProcess server([] { platform::set_local_server_connection_limit(3); });
    std::vector<int> held;
    for (int i = 0; i < 3; ++i) held.push_back(connect_raw());
    const HRESULT busy = HRESULT_FROM_WIN32(RPC_S_SERVER_TOO_BUSY);
    const int extra = connect_only();
    EXPECT_EQ(read_hresult(extra), busy) << "refused in place of the greeting";
    EXPECT_TRUE(ended(extra));
    ::close(extra);
    HRESULT hr = S_OK;
    EXPECT_EQ(create(&hr), nullptr);
    EXPECT_EQ(hr, busy);

    ::close(held.back());
    held.pop_back();
    IZarvoVdsProviderAdmin* admin = nullptr;
    for (int i = 0; i < 100 && !(admin = create()); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_NE(admin, nullptr) << "a connection that ends makes room";
    ULONG count = 0;
    FILER_RECORD** records = nullptr;
    EXPECT_EQ(admin->LoadFilerList(2, &count, &records), S_OK);
    admin->Release();
    for (int fd : held) ::close(fd);
    EXPECT_EQ(server.stop(), 0);
}

TEST_F(AdminTransport, AConnectionWhoseThreadCannotStartIsRefusedAndTheServerGoesOn) {
    ServerProcess server([] { platform::fail_socket_server_threads(2); });
    for (int i = 0; i < 2; ++i) {
        HRESULT hr = S_OK;
        EXPECT_EQ(create(&hr), nullptr);
        EXPECT_EQ(hr, E_OUTOFMEMORY);
    }
    IZarvoVdsProviderAdmin* admin = create();
    ASSERT_NE(admin, nullptr);
    admin->Release();
    EXPECT_EQ(server.stop(), 0) << "the server lived on and released every object";
}

namespace {
// CPU time (user and system) the process has used, in clock ticks.
long cpu_ticks(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), {});
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14) utime = std::stol(field);
        if (i == 15) stime = std::stol(field);
    }
    return utime + stime;
}
}  // namespace

TEST_F(AdminTransport, OutOfDescriptorsTheServerWaitsInsteadOfSpinningAndServesWhenSomeFree) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizers' own memory checks need descriptors (they open pipes)";
#endif
    ServerProcess server([] {
        // Room for the listener, its wake-up pipe and a few connections: the
        // limit bounds descriptor numbers, and a new one takes the lowest free.
        std::set<int> open;
        for (const auto& entry : fs::directory_iterator("/proc/self/fd"))
            open.insert(std::stoi(entry.path().filename().string()));
        int below = 0;
        for (int free = 0; free < 8; ++below)
            if (!open.count(below)) ++free;
        const rlimit limit{static_cast<rlim_t>(below), static_cast<rlim_t>(below)};
        ::setrlimit(RLIMIT_NOFILE, &limit);
        platform::set_local_server_connection_limit(1000);
    });
    std::vector<int> clients;
    for (int i = 0; i < 12; ++i) clients.push_back(connect_only());
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const long before = cpu_ticks(server.pid());
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const long used = cpu_ticks(server.pid()) - before;
    EXPECT_LT(used, ::sysconf(_SC_CLK_TCK) / 5) << "ticks used in a second while connections wait";

    // Those greeted end; the ones that waited are greeted once descriptors free up.
    std::vector<int> waiting;
    for (int fd : clients) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 0) == 1) {
            EXPECT_EQ(read_hresult(fd), S_OK);
            ::close(fd);
        } else {
            waiting.push_back(fd);
        }
    }
    EXPECT_FALSE(waiting.empty()) << "the limit held some connections back";
    for (int fd : waiting) {
        pollfd p{fd, POLLIN, 0};
        EXPECT_EQ(::poll(&p, 1, 5000), 1);
        EXPECT_EQ(read_hresult(fd), S_OK);
        ::close(fd);
    }
    EXPECT_EQ(server.stop(), 0);
}

namespace {
// Milliseconds from `start` until the server closes `fd` (reading and dropping
// what it sends), or nullopt when it is still open `limit` after `start`.
std::optional<long> ms_until_closed(int fd, std::chrono::steady_clock::time_point start,
                                    std::chrono::milliseconds limit) {
    const auto since = [&] {
        return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    };
    for (;;) {
        const auto left = limit - since();
        pollfd p{fd, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) return std::nullopt;
        char c[64];
        if (::recv(fd, c, sizeof c, MSG_DONTWAIT) <= 0) return since().count();
    }
}
}  // namespace

TEST_F(AdminTransport, APeerThatCompletesNoFrameWithinTheBoundIsClosedAndFreesItsPlace) {
    constexpr auto kBound = std::chrono::milliseconds(400);
    ServerProcess server([kBound] {
        platform::set_local_server_frame_wait(kBound);
        platform::set_local_server_connection_limit(2);
    });
    // Timed from before the connection: the server's wait can only start later.
    const auto connected = std::chrono::steady_clock::now();
    const int idle = connect_raw();
    const int trickling = connect_raw();
    // One byte of a request every 100 ms: each read is quick, the frame never completes.
    std::atomic<bool> stop{false};
    std::thread trickle([&] {
        const uint8_t head[4] = {8, 0, 0, 0};
        for (int i = 0; i < 40 && !stop; ++i) {
            (void)!::send(trickling, &head[i % 4], 1, MSG_NOSIGNAL);
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    });
    const auto idleClosed = ms_until_closed(idle, connected, std::chrono::seconds(3));
    const auto trickleClosed = ms_until_closed(trickling, connected, std::chrono::seconds(3));
    stop = true;
    trickle.join();
    ASSERT_TRUE(idleClosed) << "a peer that sends nothing is closed";
    EXPECT_GE(*idleClosed, 300);
    EXPECT_TRUE(trickleClosed) << "a frame stalled by trickled bytes is closed too";
    ::close(idle);
    ::close(trickling);

    // Their places are free again, and a client that calls in time is served
    // past the bound: the wait starts again after each reply.
    IZarvoVdsProviderAdmin* admin = nullptr;
    for (int i = 0; i < 100 && !(admin = create()); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_NE(admin, nullptr);
    for (int call = 0; call < 3; ++call) {
        std::this_thread::sleep_for(kBound / 2);
        ULONG count = 0;
        FILER_RECORD** records = nullptr;
        EXPECT_EQ(admin->LoadFilerList(2, &count, &records), S_OK) << "call " << call;
    }
    admin->Release();
    EXPECT_EQ(server.stop(), 0);
}
