#include <hostlib/com_error.h>
#include <hostlib/event_log.h>

#include <platform/eventlog.h>
#include <platform/text.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

#include "test_root.h"

namespace {

struct Event {
    uint64_t id = 0;
    std::string type;
    std::vector<std::string> inserts;
    std::string text;
};

// Reads one JSON string starting at its opening quote; `pos` ends past it.
std::string json_string(const std::string& line, size_t& pos) {
    std::string out;
    for (++pos; pos < line.size() && line[pos] != '"'; ++pos) {
        if (line[pos] != '\\') {
            out += line[pos];
            continue;
        }
        const char e = line[++pos];
        if (e == 'n') out += '\n';
        else if (e == 'r') out += '\r';
        else if (e == 't') out += '\t';
        else if (e == 'u') {
            const auto unit = static_cast<char16_t>(std::stoul(line.substr(pos + 1, 4), nullptr, 16));
            out += platform::wide_to_utf8_lossy(std::u16string(1, unit));
            pos += 4;
        } else out += e;
    }
    ++pos;
    return out;
}

Event parse(const std::string& line) {
    Event e;
    size_t pos = line.find("\"id\":");
    if (pos != std::string::npos) e.id = std::stoull(line.substr(pos + 5));
    if ((pos = line.find("\"type\":\"")) != std::string::npos) e.type = json_string(line, pos += 7);
    if ((pos = line.find("\"text\":\"")) != std::string::npos) e.text = json_string(line, pos += 7);
    if ((pos = line.find("\"inserts\":[")) != std::string::npos) {
        pos += 11;
        while (pos < line.size() && line[pos] == '"') {
            e.inserts.push_back(json_string(line, pos));
            if (line[pos] == ',') ++pos;
        }
    }
    return e;
}

class EventLogTest : public ::testing::Test {
protected:
    void SetUp() override { std::filesystem::remove(log_file()); }
    static std::filesystem::path log_file() { return test_root::path() / "eventlog" / "SanProvD.jsonl"; }
    static std::vector<Event> events() {
        std::vector<Event> out;
        for (const std::string& line : test_root::read_lines(log_file())) out.push_back(parse(line));
        return out;
    }
    static Event only_event() {
        const auto all = events();
        EXPECT_EQ(all.size(), 1u);
        return all.empty() ? Event{} : all.front();
    }

    CEventLogReporter reporter;
};

}  // namespace

TEST_F(EventLogTest, EventTypeFollowsTheSeverityBitsOfTheId) {
    const struct {
        DWORD id;
        const char* type;
    } cases[] = {
        {0x000007D0, "success"}, {0x400007D0, "information"}, {0x80000BB9, "warning"}, {0xC0000BBA, "error"}};
    for (const auto& c : cases) {
        const WCHAR* inserts[] = {u"x"};
        reporter.LogEvent(c.id, 1, inserts);
    }
    const auto all = events();
    ASSERT_EQ(all.size(), 4u);
    for (size_t i = 0; i < all.size(); ++i) {
        EXPECT_EQ(all[i].id, cases[i].id);
        EXPECT_EQ(all[i].type, cases[i].type) << std::hex << cases[i].id;
    }
    EXPECT_EQ(all[1].text, "Service started.\r\n");
}

TEST_F(EventLogTest, FormattedTextPicksTheGenericEventByType) {
    const struct {
        WORD type;
        DWORD id;
    } cases[] = {{0, 0x40000BBB}, {4, 0x40000BBB}, {2, 0x80000BBC}, {1, 0xC0000BBD}, {8, 0xC0000BBD}};
    for (const auto& c : cases) reporter.LogEvent(c.type, u"step %s failed: 0x%08lX", u"Install", E_FAIL);
    reporter.LogEvent(u"plain %d", 7, 8);
    const auto all = events();
    ASSERT_EQ(all.size(), 6u);
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(all[i].id, cases[i].id);
        EXPECT_EQ(all[i].inserts, std::vector<std::string>{"step Install failed: 0x80004005"});
        EXPECT_EQ(all[i].text, "step Install failed: 0x80004005\r\n");
    }
    EXPECT_EQ(all[5].id, 0xC0000BBDu);
    EXPECT_EQ(all[5].inserts, std::vector<std::string>{"plain 7"});
}

TEST_F(EventLogTest, FormattedTextIsCutAt32766Characters) {
    const std::u16string big(40000, u'z');
    reporter.LogEvent(u"%s", big);
    const Event e = only_event();
    ASSERT_EQ(e.inserts.size(), 1u);
    EXPECT_EQ(e.inserts[0], std::string(32766, 'z'));
}

TEST_F(EventLogTest, ExceptionLocationShowsFileAndDecimalLine) {
    reporter.LogEvent(u"C:\\src\\provider\\zarvosan.cpp", 1234);
    const Event e = only_event();
    EXPECT_EQ(e.id, 0xC0000BBEu);
    EXPECT_EQ(e.type, "error");
    EXPECT_EQ(e.text.substr(0, e.text.find('\r')), "Exception caught at C:\\src\\provider\\zarvosan.cpp(1234).");
}

TEST_F(EventLogTest, ComErrorReportsItsDescriptionElseTheSystemText) {
    try {
        RAISE_COM_ERROR(static_cast<HRESULT>(0xC0042502), u"filer1");
    } catch (const _com_error& e) {
        reporter.LogEvent(e);
    }
    reporter.LogEvent(_com_error(E_OUTOFMEMORY));                   // no error information
    reporter.LogEvent(_com_error(static_cast<HRESULT>(0x80040205)));  // no system text either
    reporter.LogEvent(_com_error(static_cast<HRESULT>(0x00040005)));  // success severity
    const auto all = events();
    ASSERT_EQ(all.size(), 4u);
    EXPECT_EQ(all[0].id, 0xC0000BBAu);
    ASSERT_EQ(all[0].inserts.size(), 1u);
    EXPECT_EQ(all[0].inserts[0].rfind("Subsystem \"filer1\" is offline or unreachable.\r\n", 0), 0u);
    EXPECT_EQ(all[1].id, 0x80000BB9u);  // 0x8... codes have severity bits 2
    EXPECT_EQ(all[1].type, "warning");
    EXPECT_EQ(all[1].inserts, std::vector<std::string>{
                                  "Not enough memory resources are available to complete this operation."});
    EXPECT_EQ(all[2].inserts, std::vector<std::string>{"IDispatch error #5"});
    EXPECT_EQ(all[3].id, 0x40000BB8u);
    EXPECT_EQ(all[3].type, "information");
}

TEST_F(EventLogTest, HresultTextIsPerThread) {
    const WCHAR* mine = HresultToString(E_FAIL);
    std::u16string theirs;
    std::thread([&] { theirs = HresultToString(static_cast<HRESULT>(0xC0042502)); }).join();
    EXPECT_EQ(std::u16string(mine), u"0x80004005");
    EXPECT_EQ(theirs, u"0xC0042502");
}

TEST_F(EventLogTest, DelayLoadFailuresAreReportedAndHandled) {
    const platform::delay_load_error missingDll(VcppException(ERROR_SEVERITY_ERROR, ERROR_MOD_NOT_FOUND),
                                                "iscsidsc.dll", "ReportIScsiInitiatorListW", 0, 126);
    const platform::delay_load_error missingEntry(VcppException(ERROR_SEVERITY_ERROR, ERROR_PROC_NOT_FOUND),
                                                  "iscsidsc.dll", "AddIScsiStaticTargetW", 0, 127);
    const platform::delay_load_error missingOrdinal(VcppException(ERROR_SEVERITY_ERROR, ERROR_PROC_NOT_FOUND),
                                                    "iscsidsc.dll", nullptr, 0x2A, 127);
    EXPECT_EQ(DelayLoadFailureReporter(missingDll.pointers()), EXCEPTION_EXECUTE_HANDLER);
    EXPECT_EQ(DelayLoadFailureReporter(missingEntry.pointers()), EXCEPTION_EXECUTE_HANDLER);
    EXPECT_EQ(DelayLoadFailureReporter(missingOrdinal.pointers()), EXCEPTION_EXECUTE_HANDLER);

    EXCEPTION_RECORD other{};
    other.ExceptionCode = 0xC0000005;
    EXCEPTION_POINTERS otherPointers{&other, nullptr};
    EXPECT_EQ(DelayLoadFailureReporter(&otherPointers), EXCEPTION_CONTINUE_SEARCH);

    // A library that is not there, at the first call into it.
    try {
        platform::delay_load("nosuchlib.dll", "NoSuchEntry");
        ADD_FAILURE() << "the missing library must raise";
    } catch (const platform::delay_load_error& e) {
        EXPECT_EQ(DelayLoadFailureReporter(e.pointers()), EXCEPTION_EXECUTE_HANDLER);
    }

    const auto all = events();
    ASSERT_EQ(all.size(), 4u);
    EXPECT_EQ(all[3].id, 0xC0000BCBu);
    EXPECT_EQ(all[3].inserts, std::vector<std::string>{"nosuchlib.dll"});
    EXPECT_EQ(all[0].id, 0xC0000BCBu);
    EXPECT_EQ(all[0].inserts, std::vector<std::string>{"iscsidsc.dll"});
    EXPECT_EQ(all[1].id, 0xC0000BCCu);
    EXPECT_EQ(all[1].inserts, (std::vector<std::string>{"AddIScsiStaticTargetW", "iscsidsc.dll"}));
    EXPECT_EQ(all[2].id, 0xC0000BCDu);
    EXPECT_EQ(all[2].inserts, (std::vector<std::string>{"2A", "iscsidsc.dll"}));
    EXPECT_EQ(all[2].text.substr(0, all[2].text.find('\r')), "Entry point ordinal 2A not found in iscsidsc.dll");
}

TEST_F(EventLogTest, EveryReportingEventHasItsCatalogueText) {
    for (DWORD id : {EVENT_COM_ERROR_INFORMATION, EVENT_COM_ERROR_WARNING, EVENT_COM_ERROR_ERROR, EVENT_TEXT_INFORMATION,
                     EVENT_TEXT_WARNING, EVENT_TEXT_ERROR}) {
        const WCHAR* inserts[] = {u"insert"};
        reporter.LogEvent(id, 1, inserts);
    }
    for (const Event& e : events()) EXPECT_EQ(e.text, "insert\r\n") << std::hex << e.id;
}
