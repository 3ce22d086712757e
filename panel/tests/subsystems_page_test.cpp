#include <gtest/gtest.h>

#include <ui/afxwin.h>

#include "applet_test.h"
#include "filers_prop_page.h"

namespace {

const std::string kCaption = "\"Zarvo VDS Hardware Provider\"";

class SubsystemsPage : public AppletTest {
protected:
    SubsystemsPage() {
        service.state.stored = {{u"k1", u"filer1", u"root", u"pw", 2, 0},
                                {u"k2", u"filer2", u"admin", u"", 3, 0},
                                {u"k3", u"odd", u"u", u"", 0, 0}};
    }
};

TEST_F(SubsystemsPage, OpensWithTheLoadedListFirstRowSelected) {
    run("show\n");
    EXPECT_TRUE(shows("  list 1006\n"
                      "    columns: \"Name\" 252 \"Type\" 127\n"
                      "    row 0: \"filer1\" \"Fibre Channel\" selected focused\n"
                      "    row 1: \"filer2\" \"iSCSI\"\n"
                      "    row 2: \"odd\" \"Unknown\"\n"
                      "  button 1009 \"&Add\"\n"
                      "  button 1008 \"&Remove\"\n"
                      "  button 1010 \"&Details\"\n"
                      "  button 1 \"OK\" default\n"
                      "  button 2 \"Cancel\"\n"
                      "  button 12321 \"&Apply\" disabled\n"))
        << transcript;
    EXPECT_EQ(service.state.liveObjects, 0);
}

TEST_F(SubsystemsPage, ColumnsFillTheClientWidthByWeight) {
    const std::pair<int, std::vector<int>> cases[] = {
        {300, {200, 100}}, {301, {200, 101}}, {379, {252, 127}}, {2, {0, 2}}};
    for (const auto& [width, widths] : cases) EXPECT_EQ(ColumnWidths(width), widths) << width;
}

TEST_F(SubsystemsPage, AddAppendsTheNewRowSelectedAndApplySendsIt) {
    run("click 1009\ntype 1009 filer9\ntype 1013 root\ntype 1014 secret\nclick 1012\nclick 1\nshow\n"
        "click 12321\nshow\nclick 12321\n");
    EXPECT_TRUE(shows("    row 2: \"odd\" \"Unknown\"\n"
                      "    row 3: \"filer9\" \"iSCSI\" selected focused\n"))
        << transcript;
    EXPECT_TRUE(shows("  button 12321 \"&Apply\"\n> click 12321\n"));
    // Applied: the button goes grey and takes no further press.
    EXPECT_TRUE(shows("  button 12321 \"&Apply\" disabled\n> click 12321\n  (refused)\n"));
    ASSERT_EQ(service.state.commits.size(), 1u);
    ASSERT_EQ(service.state.commits[0].size(), 1u);
    const FakeRecord& sent = service.state.commits[0][0];
    EXPECT_EQ(sent.dns, u"filer9");
    EXPECT_EQ(sent.user, u"root");
    EXPECT_EQ(sent.password, u"secret");
    EXPECT_EQ(sent.type, 3);
    EXPECT_EQ(sent.flags, FILER_RECORD_CHANGED);
    EXPECT_EQ(sent.key.size(), 36u);
}

TEST_F(SubsystemsPage, RemoveSelectsTheRowNowAtItsPlaceOrTheLast) {
    struct Case {
        const char* script;
        const char* rows;
    };
    const Case cases[] = {
        {"select 1006 0\nclick 1008\nshow\n",
         "    row 0: \"filer2\" \"iSCSI\" selected focused\n    row 1: \"odd\" \"Unknown\"\n  button 1009"},
        {"select 1006 2\nclick 1008\nshow\n",
         "    row 0: \"filer1\" \"Fibre Channel\"\n    row 1: \"filer2\" \"iSCSI\" selected focused\n  button 1009"},
        {"click 1008\nclick 1008\nclick 1008\nshow\n",
         "  button 1009 \"&Add\"\n  button 1008 \"&Remove\" disabled\n  button 1010 \"&Details\" disabled\n"},
    };
    for (const auto& c : cases) {
        run(c.script);
        EXPECT_TRUE(shows(c.rows)) << c.script << transcript;
    }
}

TEST_F(SubsystemsPage, RemovedLoadedRecordIsSentAsADeletionAndAddedOneNotAtAll) {
    run("click 1009\ntype 1009 temp\ntype 1013 root\nclick 1\nclick 1008\n"  // the new row, selected
        "select 1006 1\nclick 1008\nclick 12321\nshow\n");
    ASSERT_EQ(service.state.commits.size(), 1u);
    ASSERT_EQ(service.state.commits[0].size(), 1u);
    EXPECT_EQ(service.state.commits[0][0].key, u"k2");
    EXPECT_EQ(service.state.commits[0][0].flags, FILER_RECORD_DELETE);
    EXPECT_TRUE(shows("    row 0: \"filer1\" \"Fibre Channel\"\n"
                      "    row 1: \"odd\" \"Unknown\" selected focused\n"
                      "  button 1009"))
        << transcript;
}

TEST_F(SubsystemsPage, WithoutSelectionDetailsAndRemoveAskForOneAndDoubleClickDoesNothing) {
    run("dblclick 1006\nclick 1010\nclick 1008\nshow\n");
    const std::string box = "message box " + kCaption + " [warning] \"Please select a subsystem.\"\n";
    EXPECT_TRUE(shows("> click 1010\n" + box + "> click 1008\n" + box)) << transcript;
    EXPECT_FALSE(shows("Subsystem Credentials"));
    EXPECT_TRUE(shows("    row 0: \"filer1\" \"Fibre Channel\" focused\n"));
    EXPECT_EQ(service.state.calls, std::vector<std::string>{"LoadFilerList"});
}

TEST_F(SubsystemsPage, DetailsCancelChangesNothingAndOkMarksTheRecordChanged) {
    run("dblclick 1006 1\ntype 1009 changed\nclick 2\nshow\nclick 12321\n");
    EXPECT_TRUE(shows("    row 1: \"filer2\" \"iSCSI\" selected focused\n")) << transcript;
    EXPECT_TRUE(shows("  button 12321 \"&Apply\" disabled\n"));
    EXPECT_TRUE(service.state.commits.empty());

    run("select 1006 1\nclick 1010\nshow\nclick 1\nshow\nclick 1\n");
    EXPECT_TRUE(shows("  edit 1009 \"filer2\"\n  label 1020 \"&Login Name:\"\n  edit 1013 \"admin\"\n"
                      "  label 1021 \"&Password:\"\n  edit 1014 \"\"\n"
                      "  radio 1015 \"&Fibre Channel\" ( )\n  radio 1012 \"&iSCSI\" (x)\n"))
        << transcript;
    EXPECT_TRUE(shows("  button 12321 \"&Apply\"\n"));
    ASSERT_EQ(service.state.commits.size(), 1u);
    ASSERT_EQ(service.state.commits[0].size(), 1u);
    EXPECT_EQ(service.state.commits[0][0], (FakeRecord{u"k2", u"filer2", u"admin", u"", 3, FILER_RECORD_CHANGED}));

    // An edit shows in its row at once.
    run("select 1006 2\nclick 1010\ntype 1009 renamed\nclick 1015\nclick 1\nshow\n");
    EXPECT_TRUE(shows("    row 2: \"renamed\" \"Fibre Channel\" selected focused\n")) << transcript;
}

TEST_F(SubsystemsPage, CancelDropsUnsavedChanges) {
    run("click 1009\ntype 1009 filer9\ntype 1013 root\nclick 1\nclick 1008\nclick 2\n");
    EXPECT_TRUE(shows("closed sheet " + kCaption + " with Cancel\n")) << transcript;
    EXPECT_EQ(service.state.calls, std::vector<std::string>{"LoadFilerList"});
}

TEST_F(SubsystemsPage, FailedLoadIsShownAndLeavesTheListEmpty) {
    service.state.loadResult = E_FAIL;  // and the class stores no error
    run("show\n");
    EXPECT_TRUE(shows("message box " + kCaption + " [error] \"Unspecified error\"\n")) << transcript;
    EXPECT_TRUE(shows("    columns: \"Name\" 252 \"Type\" 127\n  button 1009 \"&Add\"\n"
                      "  button 1008 \"&Remove\" disabled\n"));
}

TEST_F(SubsystemsPage, FailedApplyKeepsThePageModifiedAndResendsTheSameChanges) {
    service.state.commitResult = hr_of(0x80070005);
    run("click 1008\nclick 12321\nshow\nclick 12321\n");
    EXPECT_TRUE(shows("> click 12321\nmessage box " + kCaption + " [error] \"Access is denied.\"\n")) << transcript;
    EXPECT_TRUE(shows("  button 12321 \"&Apply\"\n> click 12321\n"));
    ASSERT_EQ(service.state.commits.size(), 2u);
    EXPECT_EQ(service.state.commits[0], service.state.commits[1]);
    EXPECT_EQ(service.state.commits[0].at(0).flags, FILER_RECORD_DELETE);
}

}  // namespace
