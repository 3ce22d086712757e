#include <platform/errors.h>
#include <platform/eventlog.h>
#include <platform/library.h>
#include <platform/message.h>
#include <platform/registry.h>
#include <platform/text.h>

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <iomanip>
#include <sstream>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr MessageTableEntry kServiceTable[] = {
    {0x00000065, "GENERIC", u"%1\r\n"},
    {0x400007D0, "SERVICE_STARTED", u"Service started.\r\n"},
    {0x80000BCE, "LUN_RENAMED", u"An attempt was made to rename LUN \"%2\" to \"%3\" on subsystem \"%1\".\r\n"},
    {0xC0000BCC, "ENTRY_POINT_MISSING",
     u"Entry point %1 not found in %2\r\n%r%rThe version of %2 on this system may be obsolete or unsupported.\r\n"},
};

// Each test gets a fresh state root and the service's table as the program's.
class EventLog : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/sanprov-eventlog-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root_ = pattern;
        setenv("SANPROV_ROOT", root_.c_str(), 1);
        platform::register_message_table(GetModuleHandleW(nullptr), kServiceTable);
    }
    void TearDown() override {
        platform::register_message_table(GetModuleHandleW(nullptr), {});
        unsetenv("SANPROV_ROOT");
        fs::remove_all(root_);
    }

    fs::path log_file(const std::string& source) const { return root_ / "eventlog" / (source + ".jsonl"); }

    std::vector<std::string> lines(const std::string& source) const {
        std::ifstream in(log_file(source));
        std::vector<std::string> out;
        for (std::string line; std::getline(in, line);) out.push_back(line);
        return out;
    }

    // Registers, reports one event and deregisters, as the service does for each event.
    static BOOL report(const char16_t* source, WORD type, DWORD id, std::vector<const WCHAR*> strings,
                       std::string_view data = {}) {
        const HANDLE h = RegisterEventSourceW(nullptr, source);
        if (!h) return FALSE;
        const BOOL ok = ReportEventW(h, type, 0, id, nullptr, static_cast<WORD>(strings.size()),
                                     static_cast<DWORD>(data.size()), strings.data(),
                                     const_cast<char*>(data.data()));
        DeregisterEventSource(h);
        return ok;
    }

    // The line without its time stamp, which must lead it in UTC.
    static std::string without_time(const std::string& line) {
        static const std::regex time(R"(^\{"time":"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z",)");
        std::smatch m;
        if (!std::regex_search(line, m, time)) return "no time stamp: " + line;
        return "{" + m.suffix().str();
    }

    fs::path root_;
};

}  // namespace

TEST_F(EventLog, OneJsonLinePerReportWithRenderedText) {
    ASSERT_TRUE(report(u"SanProvD", EVENTLOG_ERROR_TYPE, 0xC0000BCC, {u"Get\"Name\"", u"C:\\lib\u00e9\x01.dll"}));
    const auto got = lines("SanProvD");
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(without_time(got[0]),
              "{\"source\":\"SanProvD\",\"id\":3221228492,\"type\":\"error\",\"category\":0,"
              "\"inserts\":[\"Get\\\"Name\\\"\",\"C:\\\\lib\xC3\xA9\\u0001.dll\"],"
              "\"text\":\"Entry point Get\\\"Name\\\" not found in C:\\\\lib\xC3\xA9\\u0001.dll\\r\\n\\r\\r"
              "The version of C:\\\\lib\xC3\xA9\\u0001.dll on this system may be obsolete or unsupported.\\r\\n\"}");
    struct stat st{};
    ASSERT_EQ(stat(log_file("SanProvD").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    // Later reports append.
    ASSERT_TRUE(report(u"SanProvD", EVENTLOG_INFORMATION_TYPE, 0x400007D0, {}));
    EXPECT_EQ(lines("SanProvD").size(), 2u);
}

TEST_F(EventLog, TypeFollowsTheSeverityBits) {
    const struct {
        DWORD id;
        WORD type;
        const char* name;
    } cases[] = {
        {0x00000065, EVENTLOG_SUCCESS, "success"},
        {0x400007D0, EVENTLOG_INFORMATION_TYPE, "information"},
        {0x80000BCE, EVENTLOG_WARNING_TYPE, "warning"},
        {0xC0000BCC, EVENTLOG_ERROR_TYPE, "error"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(platform::event_type_of(c.id), c.type) << std::hex << c.id;
        ASSERT_TRUE(report(u"SanProvD", platform::event_type_of(c.id), c.id, {u"a", u"b", u"c"}));
        const auto line = lines("SanProvD").back();
        EXPECT_NE(line.find("\"id\":" + std::to_string(c.id) + ",\"type\":\"" + c.name + "\""), std::string::npos)
            << line;
    }
}

TEST_F(EventLog, NullInsertRawDataAndMissingMessage) {
    ASSERT_TRUE(report(u"SanProvD", EVENTLOG_ERROR_TYPE, 0xC0000BCC, {nullptr, u"iscsidsc.dll"}, "\x01\xAB"));
    EXPECT_NE(lines("SanProvD").back().find("\"inserts\":[\"\",\"iscsidsc.dll\"],\"text\":\"Entry point  not found in "
                                            "iscsidsc.dll\\r\\n"),
              std::string::npos);
    EXPECT_NE(lines("SanProvD").back().find(",\"data\":\"01ab\"}"), std::string::npos);

    // An id the table lacks still records its inserts in the text.
    ASSERT_TRUE(report(u"SanProvD", EVENTLOG_ERROR_TYPE, 0xC0000FFF, {u"detail"}));
    EXPECT_NE(lines("SanProvD").back().find("\"text\":\"The description for Event ID 4095 from source SanProvD cannot "
                                            "be found. The following information was included with the "
                                            "event:\\r\\ndetail\\r\\n\""),
              std::string::npos)
        << lines("SanProvD").back();
}

TEST_F(EventLog, SourceBoundToAnotherTable) {
    platform::bind_event_source(u"Kernel", platform::system_message_module(u"kernel32.dll"));
    ASSERT_TRUE(report(u"kernel", EVENTLOG_ERROR_TYPE, ERROR_ACCESS_DENIED, {}));
    EXPECT_NE(lines("kernel").back().find("\"text\":\"Access is denied.\\r\\n\""), std::string::npos);
    platform::bind_event_source(u"Kernel", GetModuleHandleW(nullptr));
}

TEST_F(EventLog, BadArgumentsAreRefused) {
    SetLastError(0);
    EXPECT_EQ(RegisterEventSourceW(u"otherhost", u"SanProvD"), nullptr);
    EXPECT_EQ(GetLastError(), 1722u);
    for (const char16_t* bad : {u"", u".", u"..", u"../escape", u"a/b", u"a\nb"}) {
        SetLastError(0);
        EXPECT_EQ(RegisterEventSourceW(nullptr, bad), nullptr);
        EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    }
    EXPECT_EQ(RegisterEventSourceW(nullptr, nullptr), nullptr);

    const HANDLE h = RegisterEventSourceW(u"", u"SanProvD");
    ASSERT_NE(h, nullptr);
    EXPECT_FALSE(ReportEventW(h, 3, 0, 0x400007D0, nullptr, 0, 0, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(ReportEventW(h, EVENTLOG_ERROR_TYPE, 0, 0x400007D0, nullptr, 1, 0, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_TRUE(DeregisterEventSource(h));
    EXPECT_FALSE(ReportEventW(h, EVENTLOG_INFORMATION_TYPE, 0, 0x400007D0, nullptr, 0, 0, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(DeregisterEventSource(h));
    EXPECT_FALSE(fs::exists(log_file("SanProvD")));
}

TEST_F(EventLog, UnwritableLogIsReportedAsFailure) {
    std::ofstream(root_ / "file") << "x";
    setenv("SANPROV_ROOT", (root_ / "file").c_str(), 1);
    SetLastError(0);
    EXPECT_FALSE(report(u"SanProvD", EVENTLOG_INFORMATION_TYPE, 0x400007D0, {}));
    EXPECT_EQ(GetLastError(), ERROR_WRITE_FAULT);
}

TEST_F(EventLog, AnsiFormsTakeUtf8) {
    const HANDLE h = RegisterEventSourceA(nullptr, "application");
    ASSERT_NE(h, nullptr);
    LPCSTR strings[] = {"Gr\xC3\xBC\xC3\x9F"};
    ASSERT_TRUE(ReportEventA(h, EVENTLOG_ERROR_TYPE, 0, 0x00000065, nullptr, 1, 0, strings, nullptr));
    DeregisterEventSource(h);
    EXPECT_NE(lines("application").back().find("\"text\":\"Gr\xC3\xBC\xC3\x9F\\r\\n\""), std::string::npos);
}

TEST_F(EventLog, ConcurrentReportsLeaveWholeLines) {
    constexpr int kPerThread = 200;
    auto worker = [](char16_t mark) {
        const std::u16string insert(5000, mark);  // a line larger than any pipe or page boundary
        for (int i = 0; i < kPerThread; ++i) ASSERT_TRUE(report(u"SanProvD", EVENTLOG_SUCCESS, 0x65, {insert.c_str()}));
    };
    std::thread a(worker, u'a'), b(worker, u'b');
    a.join();
    b.join();
    const auto got = lines("SanProvD");
    ASSERT_EQ(got.size(), 2u * kPerThread);
    int countA = 0;
    for (const auto& line : got) {
        const bool isA = line.find(std::string(5000, 'a')) != std::string::npos;
        const bool isB = line.find(std::string(5000, 'b')) != std::string::npos;
        ASSERT_TRUE(isA != isB && line.front() == '{' && line.back() == '}') << line.substr(0, 80);
        countA += isA;
    }
    EXPECT_EQ(countA, kPerThread);
}

namespace {

void set_log_max_size(const char16_t* logKey, DWORD size) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, logKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(key, u"MaxSize", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&size), sizeof size),
              ERROR_SUCCESS);
    RegCloseKey(key);
}

void register_source(const char16_t* sourceKey) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, sourceKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(key);
}

}  // namespace

TEST_F(EventLog, TheMaximumSizeComesFromTheSourcesLog) {
    EXPECT_EQ(platform::event_log_max_size(u"SanProvD"), 20u * 1024 * 1024);
    set_log_max_size(u"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application", 65536);
    set_log_max_size(u"SYSTEM\\CurrentControlSet\\Services\\EventLog\\System", 131072);
    register_source(u"SYSTEM\\CurrentControlSet\\Services\\EventLog\\System\\SanProvD");
    EXPECT_EQ(platform::event_log_max_size(u"sanprovd"), 131072u);
    EXPECT_EQ(platform::event_log_max_size(u"Elsewhere"), 65536u) << "an unregistered source writes the application log";
}

TEST_F(EventLog, AFullLogDropsItsOldestWholeEvents) {
    constexpr DWORD kMaxSize = 4096;
    set_log_max_size(u"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application", kMaxSize);
    register_source(u"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\SanProvD");
    constexpr int kEvents = 200;
    for (int i = 0; i < kEvents; ++i) {
        const std::u16string insert = u"event " + platform::utf8_to_wide_lossy(std::to_string(i));
        ASSERT_TRUE(report(u"SanProvD", EVENTLOG_SUCCESS, 0x65, {insert.c_str()}));
        ASSERT_LE(fs::file_size(log_file("SanProvD")), kMaxSize) << "after event " << i;
    }
    const auto got = lines("SanProvD");
    ASSERT_GT(got.size(), 10u);
    ASSERT_LT(got.size(), static_cast<size_t>(kEvents));
    // The newest events stay, in order, each one whole.
    const int first = kEvents - static_cast<int>(got.size());
    for (size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(got[i].front(), '{');
        EXPECT_EQ(got[i].back(), '}');
        EXPECT_NE(got[i].find("\"inserts\":[\"event " + std::to_string(first + static_cast<int>(i)) + "\"]"),
                  std::string::npos)
            << got[i];
    }

    // Writers at once rotate one after the other: every line stays whole.
    auto worker = [](char16_t mark) {
        const std::u16string insert(1000, mark);
        for (int i = 0; i < 100; ++i) ASSERT_TRUE(report(u"SanProvD", EVENTLOG_SUCCESS, 0x65, {insert.c_str()}));
    };
    std::thread a(worker, u'a'), b(worker, u'b');
    a.join();
    b.join();
    EXPECT_LE(fs::file_size(log_file("SanProvD")), kMaxSize);
    for (const auto& line : lines("SanProvD"))
        EXPECT_TRUE(line.front() == '{' && line.back() == '}' && line.find("{\"time\"", 1) == std::string::npos)
            << line.substr(0, 80);
}

// A prepared event, written later from a signal handler, is the line a report
// of the same event writes, with the time of its writing.
TEST_F(EventLog, APreparedEventIsWrittenFromASignalHandlerAsAReportWouldBe) {
    const WCHAR* inserts[] = {u"ZARVO01", u"lun0", u"a \"quoted\" name"};
    ASSERT_TRUE(report(u"SanProvD", EVENTLOG_WARNING_TYPE, 0x80000BCE, {inserts[0], inserts[1], inserts[2]}));
    static platform::PreparedEvent prepared;
    const HANDLE h = RegisterEventSourceW(nullptr, u"SanProvD");
    ASSERT_TRUE(platform::prepare_event(h, EVENTLOG_WARNING_TYPE, 0x80000BCE, 3, inserts, prepared));
    DeregisterEventSource(h);
    const auto before = std::chrono::system_clock::now();
    const pid_t child = ::fork();
    if (child == 0) {
        struct sigaction action{};
        action.sa_handler = [](int) {
            platform::write_prepared_event(prepared);
            ::_exit(7);
        };
        ::sigaction(SIGUSR1, &action, nullptr);
        ::raise(SIGUSR1);
        ::_exit(1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 7);
    const auto logged = lines("SanProvD");
    ASSERT_EQ(logged.size(), 2u);
    EXPECT_EQ(without_time(logged[1]), without_time(logged[0]));
    // Its time is now's, in UTC, to the second.
    std::tm tm{};
    std::istringstream(logged[1].substr(9, 19)) >> std::get_time(&tm, "%Y-%m-%dT%H:%M:%S");
    const auto written = std::chrono::system_clock::from_time_t(timegm(&tm));
    EXPECT_LE(std::chrono::abs(written - before), std::chrono::seconds(2)) << logged[1];

    EXPECT_FALSE(platform::prepare_event(nullptr, EVENTLOG_WARNING_TYPE, 1, 0, nullptr, prepared));
    EXPECT_FALSE(platform::write_prepared_event(platform::PreparedEvent{})) << "an empty event writes nothing";
}
