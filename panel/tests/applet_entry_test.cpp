#include <gtest/gtest.h>

#include <platform/apartment.h>

#include "applet_harness.h"
#include "fake_admin.h"
#include "provider_property_sheet.h"
#include "task_memory.h"

namespace {

TEST(AppletEntry, AnswersEachControlPanelMessage) {
    struct Case {
        UINT message;
        LONG expected;
    };
    const Case cases[] = {
        {CPL_INIT, 1},        {CPL_GETCOUNT, 1},          {CPL_STOP, 0},
        {CPL_SELECT, E_FAIL}, {CPL_NEWINQUIRE, E_FAIL},   {CPL_STARTWPARMSA, E_FAIL},
        {99, E_FAIL},         {CPL_EXIT, 0},
    };
    for (const auto& c : cases) EXPECT_EQ(CPlApplet(nullptr, c.message, 0, 0), c.expected) << "message " << c.message;
    EXPECT_EQ(static_cast<uint32_t>(CPlApplet(nullptr, CPL_SELECT, 0, 0)), 0x80004005u);
}

TEST(AppletEntry, InquireFillsIconAndStringsAndKeepsTheApplicationData) {
    CPLINFO info{0, 0, 0, 0x5eed};
    EXPECT_EQ(CPlApplet(nullptr, CPL_INQUIRE, 0, reinterpret_cast<LPARAM>(&info)), 0);
    EXPECT_EQ(info.idIcon, 1006);
    EXPECT_EQ(info.idName, 1);
    EXPECT_EQ(info.idInfo, 2);
    EXPECT_EQ(info.lData, 0x5eed);
    // No record to fill is refused, not written through.
    EXPECT_EQ(CPlApplet(nullptr, CPL_INQUIRE, 0, 0), E_FAIL);
}

TEST(AppletEntry, InitFailsWhenTheThreadHasTheOtherComModel) {
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    EXPECT_EQ(CPlApplet(nullptr, CPL_INIT, 0, 0), 0);
    CoUninitialize();
}

TEST(AppletEntry, OpensTheSheetWithItsIconAndBothPages) {
    FakeAdminService service;
    const std::string transcript = run_applet("show\ntab 1\nshow\n");
    EXPECT_NE(transcript.find("open sheet \"Zarvo VDS Hardware Provider\"\n"), std::string::npos);
    EXPECT_NE(transcript.find("sheet \"Zarvo VDS Hardware Provider\" icon 1006\n"
                              "  tabs: [\"Subsystems\"] \"Version\"\n"),
              std::string::npos);
    EXPECT_NE(transcript.find("  tabs: \"Subsystems\" [\"Version\"]\n"
                              "  group \"\"\n"
                              "  label \"Name:\"\n"
                              "  label 1023 \"Zarvo VDS Hardware Provider\"\n"
                              "  label \"Version\"\n"
                              "  label 1024 \"1.0\"\n"),
              std::string::npos)
        << transcript;
    // Closing without OK saves nothing.
    EXPECT_EQ(service.state.calls, std::vector<std::string>{"LoadFilerList"});
}

TEST(AppletEntry, StartWithParametersOpensTheSheetToo) {
    FakeAdminService service;
    std::istringstream in("click 2\n");
    std::ostringstream out;
    ui::set_backend(ui::make_headless_backend(in, out));
    EXPECT_EQ(CPlApplet(nullptr, CPL_STARTWPARMSW, 0, reinterpret_cast<LPARAM>(u"")), 0);
    ui::set_backend(nullptr);
    EXPECT_NE(out.str().find("closed sheet \"Zarvo VDS Hardware Provider\" with Cancel"), std::string::npos);
}

TEST(AppletEntry, OkCommitsEvenWithoutChangesAndClosesAfterAFailedCommit) {
    FakeAdminService service;
    service.state.stored = {{u"k1", u"filer1", u"root", u"pw", 2, 0}};
    service.state.commitResult = E_FAIL;
    const std::string transcript = run_applet("click 1\n");
    EXPECT_NE(transcript.find("message box \"Zarvo VDS Hardware Provider\" [error] \"Unspecified error\"\n"
                              "closed sheet \"Zarvo VDS Hardware Provider\" with OK\n"),
              std::string::npos)
        << transcript;
    ASSERT_EQ(service.state.commits.size(), 1u);
    EXPECT_TRUE(service.state.commits[0].empty());  // nothing changed, nothing sent
    EXPECT_EQ(service.state.liveObjects, 0);
}

TEST(AppletEntry, SheetThatCannotBeMadeAnswersFailureAndShowsNothing) {
    FakeAdminService service;
    std::istringstream in("show\n");
    std::ostringstream out;
    ui::set_backend(ui::make_headless_backend(in, out));
    fail_next_new_of_size(sizeof(CProviderPropertySheet));
    EXPECT_EQ(CPlApplet(nullptr, CPL_DBLCLK, 0, 0), E_FAIL);
    ui::set_backend(nullptr);
    EXPECT_EQ(out.str(), "");
    EXPECT_TRUE(service.state.calls.empty());
}

TEST(AppletEntry, SheetWithoutItsSubsystemsPageSavesNothing) {
    FakeAdminService service;
    fail_next_new_of_size(sizeof(CFilersPropPage));
    const std::string transcript = run_applet("show\nclick 1\n");
    EXPECT_NE(transcript.find("  tabs: [\"Version\"]\n"), std::string::npos) << transcript;
    EXPECT_NE(transcript.find("closed sheet \"Zarvo VDS Hardware Provider\" with OK\n"), std::string::npos);
    EXPECT_TRUE(service.state.calls.empty());
}

}  // namespace
