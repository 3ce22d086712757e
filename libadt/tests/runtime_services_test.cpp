#include <adt/base64.h>
#include <adt/log.h>
#include <adt/path.h>
#include <adt/zfd.h>
#include <adt/zthread.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <regex>
#include <sys/stat.h>
#include <thread>
#include <vector>

#include "../src/isaac.h"
#include "../src/path_root.h"
#include "log_root.h"

namespace fs = std::filesystem;

TEST(Base64, EncodesTheStandardVectorsWithPadding) {
    const struct {
        const char* in;
        const char* out;
    } cases[] = {{"", ""},         {"f", "Zg=="},         {"fo", "Zm8="},        {"foo", "Zm9v"},
                 {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"}, {"root:", "cm9vdDo="},
                 {"\xff\xfe\xfd", "//79"}};
    for (const auto& c : cases) {
        char* encoded = base64_encode(c.in);
        ASSERT_NE(encoded, nullptr);
        EXPECT_STREQ(encoded, c.out) << c.in;
        std::free(encoded);
    }
    // No line breaks however long the input.
    char* longOne = base64_encode(std::string(300, 'a').c_str());
    EXPECT_EQ(std::string(longOne).find('\n'), std::string::npos);
    EXPECT_EQ(std::strlen(longOne), 400u);
    std::free(longOne);

    char small[4];
    EXPECT_EQ(base64_encode_into(small, sizeof small, reinterpret_cast<const unsigned char*>("foo"), 3), 0u);
    char exact[5];
    EXPECT_EQ(base64_encode_into(exact, sizeof exact, reinterpret_cast<const unsigned char*>("foo"), 3), 5u);
}

namespace {

// Sets or clears environment variables for one test and puts them back.
class EnvGuard {
public:
    explicit EnvGuard(std::vector<std::pair<const char*, const char*>> values) {
        for (auto& [name, value] : values) {
            const char* old = std::getenv(name);
            saved_.push_back({name, old ? std::optional<std::string>(old) : std::nullopt});
            if (value) ::setenv(name, value, 1);
            else ::unsetenv(name);
        }
    }
    ~EnvGuard() {
        for (auto& [name, value] : saved_) {
            if (value) ::setenv(name, value->c_str(), 1);
            else ::unsetenv(name);
        }
    }

private:
    std::vector<std::pair<const char*, std::optional<std::string>>> saved_;
};

}  // namespace

TEST(InstallRoot, EnvironmentRulesInOrder) {
    {
        EnvGuard env({{"KORVEX_DIR", "C:\\Program Files\\korvex"}, {"SCRIPT_FILENAME", "/opt/x/bin/y"}});
        EXPECT_EQ(path_discover_root(nullptr), "C:/Program Files/korvex");
        EXPECT_STREQ(std::getenv("KORVEX_DIR"), "C:/Program Files/korvex");
    }
    const struct {
        const char* script;
        const char* root;
    } scripts[] = {{"/opt/korvex/bin/admin.cgi", "/opt/korvex"},
                   {"/srv/korvex/sbin/tool", "/srv/korvex"},
                   {"/var/www/web/cgi-bin/q.cgi", "/var/www"},
                   {"/bin/tool", "/"},
                   {"/a/bin/b/sbin/c", "/a"},
                   {"/no/markers/here/at/all", "/"}};
    for (const auto& s : scripts) {
        EnvGuard env({{"KORVEX_DIR", nullptr}, {"SCRIPT_FILENAME", s.script}});
        EXPECT_EQ(path_discover_root(nullptr), s.root) << s.script;
    }
    {
        EnvGuard env({{"KORVEX_DIR", nullptr}, {"SCRIPT_FILENAME", nullptr}});
        EXPECT_EQ(path_discover_root(nullptr), "");
    }
}

TEST(InstallRoot, ReleaseDirectoryThreeLevelsUpWhenItExists) {
    const fs::path base = fs::path(test_log_dir()).parent_path().parent_path() / "tree";
    const std::string script = (base / "a/b/c/prog").string();
    EXPECT_EQ(path_root_of(script), "/");
    fs::create_directories(base / "a/release/nt");
    EXPECT_EQ(path_root_of(script), (base / "a/release/nt").string());
    fs::remove_all(base);
}

TEST(InstallRoot, LogDirectoryIsTheRootFollowedByLog) {
    const std::string root = std::getenv("KORVEX_DIR");
    EXPECT_EQ(test_log_dir(), root + "/log/");
    EXPECT_EQ(path_get(PATH_ENTRIES), root);
    EXPECT_EQ(path_get(99), root);
}

namespace {

class LogWriter : public ::testing::Test {
protected:
    void SetUp() override {
        for (const auto& e : fs::directory_iterator(test_log_dir())) fs::remove(e.path());
    }
    static std::string file(const std::string& name) { return test_log_dir() + name; }
    static void fill(const std::string& path, size_t bytes, char c) {
        std::ofstream(path, std::ios::binary) << std::string(bytes, c);
    }
};

}  // namespace

TEST_F(LogWriter, LineFormatModeAndLevelNames) {
    ASSERT_EQ(log_write(nullptr, LOG_LEVEL_ERROR, "value %d", 5), 0);
    ASSERT_EQ(log_write(nullptr, LOG_LEVEL_WARN, "already ends\n"), 0);
    ASSERT_EQ(log_write(nullptr, 8 + LOG_LEVEL_INFO, "low bits only"), 0);
    const std::string text = read_file(file("application.log"));
    const std::regex expected(
        "[A-Z][a-z]{2} [0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2} \\[application:ERROR\\]: value 5\n"
        "[A-Z][a-z]{2} [0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2} \\[application: WARN\\]: already ends\n"
        "[A-Z][a-z]{2} [0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2} \\[application: INFO\\]: low bits only\n");
    EXPECT_TRUE(std::regex_match(text, expected)) << text;
    struct stat st{};
    ASSERT_EQ(::stat(file("application.log").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    const std::string longMessage(2000, 'm');
    log_report(LOG_LEVEL_DEBUG, "%s", longMessage.c_str());
    EXPECT_NE(read_file(file("application.log")).find("[application:DEBUG]: " + longMessage + "\n"), std::string::npos);
}

TEST_F(LogWriter, RotatesAtThreeMillionBytesKeepingThreeOldFiles) {
    fill(file("application-0.log"), 10, '0');
    fill(file("application-1.log"), 11, '1');
    fill(file("application-2.log"), 12, '2');
    fill(file("application.log"), LOG_DEFAULT_LIMIT - 10, 'c');

    // Still under the limit: the line is appended and the file passes it.
    ASSERT_EQ(log_write(nullptr, LOG_LEVEL_ERROR, "first"), 0);
    EXPECT_GE(fs::file_size(file("application.log")), static_cast<uintmax_t>(LOG_DEFAULT_LIMIT));
    EXPECT_EQ(fs::file_size(file("application-0.log")), 10u);

    // At or over it: the file moves to -0 before the next line.
    const auto fullSize = fs::file_size(file("application.log"));
    ASSERT_EQ(log_write(nullptr, LOG_LEVEL_ERROR, "second"), 0);
    EXPECT_EQ(fs::file_size(file("application-0.log")), fullSize);
    EXPECT_EQ(fs::file_size(file("application-1.log")), 10u);
    EXPECT_EQ(fs::file_size(file("application-2.log")), 11u);
    EXPECT_FALSE(fs::exists(file("application-3.log")));
    const std::string fresh = read_file(file("application.log"));
    EXPECT_NE(fresh.find("second"), std::string::npos);
    EXPECT_EQ(fresh.find("first"), std::string::npos);
}

TEST_F(LogWriter, OnlyNonDebugReportsAttemptAnEvent) {
    log_report(LOG_LEVEL_DEBUG, "quiet");
    EXPECT_EQ(read_file(file("application.log")).find("RegisterEventSource"), std::string::npos);
    // The identity is never set, so the event source has no name and the
    // event log refuses it; the failure is noted in the file.
    log_report(LOG_LEVEL_ERROR, "loud");
    const std::string text = read_file(file("application.log"));
    EXPECT_NE(text.find("[application:ERROR]: loud\n"), std::string::npos);
    EXPECT_NE(text.find("[application:DEBUG]: RegisterEventSource(NULL) failed, error 87\n"), std::string::npos);
}

TEST_F(LogWriter, NamedLogsRotateAtThreeHundredThousandBytes) {
    fill(file("other.log"), LOG_NAMED_LIMIT, 'n');
    ASSERT_EQ(log_write("other", LOG_LEVEL_ERROR, "line"), 0);
    EXPECT_EQ(fs::file_size(file("other-0.log")), static_cast<uintmax_t>(LOG_NAMED_LIMIT));
    EXPECT_NE(read_file(file("other.log")).find("[application:ERROR]: line\n"), std::string::npos);
}

TEST_F(LogWriter, ConsoleEchoGoesOffWithoutATerminalAndTheLineStillGoesToTheFile) {
    log_console(LOG_LEVEL_INFO, "to console");
    log_nomem("widgets");
    const std::string text = read_file(file("application.log"));
    EXPECT_NE(text.find("[application: INFO]: to console\n"), std::string::npos);
    EXPECT_NE(text.find("[application:DEBUG]: Error: Unable to allocate memory for widgets.\n"), std::string::npos);
}

TEST_F(LogWriter, AFileThatCannotBeOpenedFails) {
    fs::create_directory(file("blocked.log"));
    EXPECT_EQ(log_write("blocked", LOG_LEVEL_ERROR, "x"), -1);
}

TEST(Gates, OnceRunsExactlyOnceWhileOthersWait) {
    static zthread_once_rec gate;
    static std::atomic<int> runs{0};
    static std::atomic<bool> finished{false};
    std::atomic<int> sawUnfinished{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i)
        threads.emplace_back([&] {
            zthread_once(&gate, [] {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
                ++runs;
                finished = true;
            });
            if (!finished) ++sawUnfinished;
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(runs, 1);
    EXPECT_EQ(sawUnfinished, 0);
}

TEST(Gates, OnlyTheOwnerUnlocksAMutex) {
    zthread_mutex_s* mutex = zthread_mutex_new();
    ASSERT_NE(mutex, nullptr);
    ASSERT_EQ(zthread_mutex_lock(mutex), 0);
    std::thread([&] { zthread_mutex_unlock(mutex); }).join();

    std::atomic<bool> entered{false};
    std::thread waiter([&] {
        zthread_mutex_lock(mutex);
        entered = true;
        zthread_mutex_unlock(mutex);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(entered);
    zthread_mutex_unlock(mutex);
    waiter.join();
    EXPECT_TRUE(entered);
    zthread_mutex_free(mutex);
}

TEST(Gates, AMutexLetsOneThreadInAtATime) {
    zthread_mutex_s* mutex = zthread_mutex_new();
    ASSERT_NE(mutex, nullptr);
    constexpr int kThreads = 4;
    constexpr int kRounds = 20000;
    long counter = 0;  // plain on purpose: only the mutex orders the writes
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < kRounds; ++i) {
                zthread_mutex_lock(mutex);
                const long seen = counter;
                if (i % 64 == 0) std::this_thread::yield();  // holders get preempted: waiters must sleep and wake
                counter = seen + 1;
                zthread_mutex_unlock(mutex);
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(counter, static_cast<long>(kThreads) * kRounds);
    zthread_mutex_free(mutex);
}

TEST(Isaac, ZeroSeedGivesThePublishedSecondBlock) {
    isaac_rec state;
    isaac_seed(&state, 0);
    unsigned char bytes[1024 + 16];
    isaac_bytes(&state, bytes, sizeof bytes);
    const uint32_t expected[4] = {0xf650e4c8u, 0xe448e96du, 0x98db2fb4u, 0xf5fad54fu};
    for (int w = 0; w < 4; ++w) {
        const unsigned char* p = bytes + 1024 + 4 * w;
        EXPECT_EQ(p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24, expected[w]);
    }
}

TEST(ErrorText, SystemMessageWithoutItsFinalFullStopAndLineEnd) {
    char* text = zfd_error_text(5);
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, "Access is denied");
    std::free(text);
    EXPECT_EQ(zfd_error_text(0x0BADC0DE), nullptr);
}
