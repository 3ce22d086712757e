#include <hostlib/com_error.h>
#include <hostlib/trace.h>

#include <platform/registry.h>
#include <platform/text.h>
#include <platform/thread.h>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <stdexcept>
#include <thread>

#include "test_root.h"

namespace {

constexpr const WCHAR* kParameters = u"SYSTEM\\CurrentControlSet\\Services\\sanprovd\\Parameters";

// Each test starts with no trace output and an empty Parameters key.
class TraceLogTest : public ::testing::Test {
protected:
    void SetUp() override {
        trace_close();
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, kParameters);
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kParameters, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &m_key,
                                  nullptr),
                  ERROR_SUCCESS);
        m_dir = test_root::path() / ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::filesystem::create_directories(m_dir);
    }
    void TearDown() override {
        trace_close();
        RegCloseKey(m_key);
    }

    void set_value(const WCHAR* name, DWORD type, const void* data, DWORD size) {
        ASSERT_EQ(RegSetValueExW(m_key, name, 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS);
    }
    // A REG_SZ-like value with its NUL.
    void set_text(const WCHAR* name, const std::u16string& text, DWORD type = REG_SZ) {
        set_value(name, type, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(WCHAR)));
    }
    std::filesystem::path log_path(const char* name = "trace.log") const { return m_dir / name; }
    std::u16string wide(const std::filesystem::path& p) const { return platform::utf8_to_wide_lossy(p.string()); }

    HKEY m_key = nullptr;
    std::filesystem::path m_dir;
};

// The text of each line after its "]: ".
std::vector<std::string> texts_of(const std::vector<std::string>& lines) {
    std::vector<std::string> texts;
    for (const std::string& line : lines) {
        const size_t at = line.find("]: ");
        texts.push_back(at == std::string::npos ? line : line.substr(at + 3));
    }
    return texts;
}

}  // namespace

TEST_F(TraceLogTest, LineLayoutIsTimestampIdsAndText) {
    set_text(u"LogFile", wide(log_path()));
    trace_open();
    trace_printf("hello %d", 42);
    const auto lines = test_root::read_lines(log_path());
    ASSERT_EQ(lines.size(), 1u);
    // "YYYY-MM-DD hh:mm:ss.mmm [PID.TID]: text"
    EXPECT_EQ(lines[0][4], '-');
    EXPECT_EQ(lines[0][19], '.');
    EXPECT_EQ(lines[0][23], ' ');
    char expectedIds[64];
    std::snprintf(expectedIds, sizeof expectedIds, "[%X.%X]: hello 42", static_cast<unsigned>(GetCurrentProcessId()),
                  static_cast<unsigned>(GetCurrentThreadId()));
    EXPECT_EQ(lines[0].substr(24), expectedIds);
}

TEST_F(TraceLogTest, ALineOfAtMost1022BytesIsKeptALongerOneDroppedWhole) {
    set_text(u"LogFile", wide(log_path()));
    trace_open();
    trace_printf("x");
    const size_t prefix = test_root::read_lines(log_path()).at(0).size() - 1;
    // Line length with its line feed = prefix + text + 1.
    const std::string kept(1022 - 1 - prefix, 'k');
    trace_printf("%s", kept.c_str());
    trace_printf("%s", (kept + "d").c_str());   // 1023 bytes
    trace_printf("%s", (kept + "dd").c_str());  // 1024 bytes
    trace_printf("end");
    const auto texts = texts_of(test_root::read_lines(log_path()));
    ASSERT_EQ(texts.size(), 3u);
    EXPECT_EQ(texts[1], kept);
    EXPECT_EQ(texts[2], "end");
}

TEST_F(TraceLogTest, LogFileValueMustBeAWellFormedString) {
    const std::u16string path = wide(log_path());
    const std::u16string multi = path + u'\0' + u"x.log" + u'\0';
    const std::u16string expandable = wide(log_path("%NOT_EXPANDED%.log"));
    const std::u16string tooLong = wide(m_dir / std::string(130 - wide(m_dir).size() - 1, 'n'));
    const struct {
        const char* name;
        DWORD type;
        std::u16string data;  // written whole, without an added NUL
        size_t bytes;
        const char* opened;   // file expected, or null
    } cases[] = {
        {"sz", REG_SZ, path + u'\0', (path.size() + 1) * 2, "trace.log"},
        {"expand sz used unexpanded", REG_EXPAND_SZ, expandable + u'\0', (expandable.size() + 1) * 2,
         "%NOT_EXPANDED%.log"},
        {"multi sz: first string", REG_MULTI_SZ, multi + u'\0', (multi.size() + 1) * 2, "trace.log"},
        {"sz without its NUL", REG_SZ, path, path.size() * 2, nullptr},
        {"sz of odd size", REG_SZ, path + u'\0', (path.size() + 1) * 2 - 1, nullptr},
        {"dword", REG_DWORD, u"\x0001\x0000", 4, nullptr},
        {"multi sz shorter than 4 bytes", REG_MULTI_SZ, std::u16string(1, u'\0'), 2, nullptr},
        {"longer than 129 characters", REG_SZ, tooLong + u'\0', (tooLong.size() + 1) * 2, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        trace_close();
        std::filesystem::remove_all(m_dir);
        std::filesystem::create_directories(m_dir);
        set_value(u"LogFile", c.type, c.data.data(), static_cast<DWORD>(c.bytes));
        trace_open();
        trace_printf("probe");
        size_t files = 0;
        for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(m_dir)) ++files;
        if (c.opened) {
            EXPECT_EQ(files, 1u);
            EXPECT_EQ(texts_of(test_root::read_lines(log_path(c.opened))), std::vector<std::string>{"probe"});
        } else {
            EXPECT_EQ(files, 0u);
        }
    }
}

TEST_F(TraceLogTest, EmptyLogFileSelectsTheWindowsDirectoryDefault) {
    std::filesystem::create_directories(m_dir / "system32");
    const char* saved = std::getenv("WINDIR");
    const std::string previous = saved ? saved : "";
    setenv("WINDIR", m_dir.c_str(), 1);
    set_text(u"LogFile", u"");
    trace_open();
    trace_printf("default");
    saved ? setenv("WINDIR", previous.c_str(), 1) : unsetenv("WINDIR");
    EXPECT_EQ(texts_of(test_root::read_lines(m_dir / "system32" / "$sanprovd$.log")),
              std::vector<std::string>{"default"});
}

TEST_F(TraceLogTest, AppendsToAnExistingFile) {
    std::ofstream(log_path()) << "earlier\n";
    set_text(u"LogFile", wide(log_path()));
    trace_open();
    trace_printf("later");
    const auto lines = test_root::read_lines(log_path());
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "earlier");
}

TEST_F(TraceLogTest, TheFileIsOwnerOnlyWhateverTheUmaskOrAnEarlierRunLeft) {
    // It names the appliances and every call made to them.
    const mode_t umask = ::umask(0);
    std::ofstream(log_path("earlier.log")) << "earlier\n";
    std::filesystem::permissions(log_path("earlier.log"), std::filesystem::perms::all);
    for (const char* name : {"new.log", "earlier.log"}) {
        set_text(u"LogFile", wide(log_path(name)));
        trace_open();
        trace_printf("probe");
        trace_close();
        struct stat st {};
        ASSERT_EQ(::stat(log_path(name).c_str(), &st), 0) << name;
        EXPECT_EQ(st.st_mode & 07777, 0600u) << name;
    }
    ::umask(umask);
}

TEST_F(TraceLogTest, DebuggerCopyHasNoTimestamp) {
    const DWORD on = 1;
    set_value(u"LogToDebugger", REG_DWORD, &on, sizeof on);
    trace_open();
    ::testing::internal::CaptureStderr();
    trace_printf("to the debugger");
    const std::string out = ::testing::internal::GetCapturedStderr();
    ASSERT_FALSE(out.empty());
    EXPECT_EQ(out.front(), '[');
    EXPECT_NE(out.find("]: to the debugger\n"), std::string::npos);
    EXPECT_TRUE(std::filesystem::is_empty(m_dir));
}

TEST_F(TraceLogTest, ConcurrentLinesStayWholeWithTheirOwnThreadIds) {
    set_text(u"LogFile", wide(log_path()));
    trace_open();
    constexpr int kLines = 200;
    auto writer = [](char tag) {
        const std::string text(300, tag);
        for (int i = 0; i < kLines; ++i) trace_printf("%X %s", static_cast<unsigned>(GetCurrentThreadId()), text.c_str());
    };
    std::thread first(writer, 'a'), second(writer, 'b');
    first.join();
    second.join();
    const auto lines = test_root::read_lines(log_path());
    ASSERT_EQ(lines.size(), 2u * kLines);
    for (const std::string& line : lines) {
        // "[pid.tid]: tid text": the id in the prefix is the writer's own.
        const size_t dot = line.find('.', 24), close = line.find("]: ");
        ASSERT_NE(close, std::string::npos) << line;
        const std::string tid = line.substr(dot + 1, close - dot - 1);
        const std::string text = line.substr(close + 3);
        EXPECT_EQ(text.substr(0, tid.size() + 1), tid + " ") << line;
        EXPECT_EQ(text.size(), tid.size() + 1 + 300) << line;
        EXPECT_EQ(text.find_first_not_of(text.back(), tid.size() + 1), std::string::npos) << line;
    }
}

TEST_F(TraceLogTest, ScopesAssertionsAndBanners) {
    set_text(u"LogFile", wide(log_path()));
    trace_open();
    EXPECT_THROW(
        {
            TraceScope scope("CThing::Work");
            throw std::runtime_error("passes through");
        },
        std::runtime_error);
    trace_assert(false, "count > 1", "thing.cpp", 12);
    trace_assert(true, "never", "thing.cpp", 13);
    ReportAssertion("caller.cpp", 99, false);
    { trace_session session; }
    const auto texts = texts_of(test_root::read_lines(log_path()));
    const std::string rule(79, '*');
    ASSERT_EQ(texts.size(), 10u);
    EXPECT_EQ(texts[0], "CThing::Work(): entering.");
    EXPECT_EQ(texts[1], "CThing::Work(): leaving.");
    EXPECT_EQ(texts[2], "ASSERTION FAILED: (count > 1) AT thing.cpp(12)");
    EXPECT_EQ(texts[3], "ASSERTION FAILED: (assertion) AT provider\\localerror(164)");
    EXPECT_EQ(texts[4], rule);
    EXPECT_EQ(texts[5].rfind("**** SANPROVD version 1.0.1094.0 starting on host ", 0), 0u) << texts[5];
    EXPECT_EQ(texts[6], rule);
    EXPECT_EQ(texts[7], rule);
    EXPECT_EQ(texts[8], "**** SANPROVD stopped ");
    EXPECT_EQ(texts[9], rule);
}

TEST(TraceOff, NothingIsWrittenWithBothOutputsOff) {
    trace_close();
    ::testing::internal::CaptureStderr();
    trace_printf("nowhere");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}
