#include <gtest/gtest.h>

#include <ui/afxwin.h>

#include "applet_test.h"

namespace {

const std::string kBox = "message box \"Zarvo VDS Hardware Provider\" ";

using CredentialsDialog = AppletTest;

TEST_F(CredentialsDialog, VerifyShowsTheAnswerWithTheIconOfItsSeverity) {
    struct Case {
        const char* name;
        HRESULT check;
        HRESULT stored;
        std::u16string message;
        HRESULT getLastError;
        std::string box;
    };
    const Case cases[] = {
        {"passed", S_OK, S_OK, u"", S_OK, "[information] \"Subsystem login credentials have been verified.\""},
        {"login refused", S_FALSE, hr_of(0xC0042503), u"Invalid login/password combination supplied.", S_OK,
         "[error] \"Invalid login/password combination supplied.\""},
        {"warning severity", S_FALSE, hr_of(0x80042504), u"Release too old.", S_OK, "[warning] \"Release too old.\""},
        {"release unreadable: no stored error", E_FAIL, S_OK, u"", S_OK, "[warning] \"Unspecified error\""},
        {"bad arguments", E_INVALIDARG, E_INVALIDARG, u"The parameter is incorrect.\r\n", S_OK,
         "[warning] \"The parameter is incorrect.\\r\\n\""},
        {"stored error unreadable", S_FALSE, hr_of(0xC0042502), u"offline", hr_of(0x80070005), "[warning] \"Access is denied.\""},
    };
    for (const auto& c : cases) {
        service.state.checkResult = c.check;
        service.state.storedError = c.stored;
        service.state.storedMessage = c.message;
        service.state.getLastErrorResult = c.getLastError;
        run("click 1009\ntype 1009 filer7\ntype 1013 root\ntype 1014 pw\nclick 1018\nshow\n");
        EXPECT_TRUE(shows("> click 1018\n" + kBox + c.box + "\n> show\ndialog \"Subsystem Credentials\"\n"))
            << c.name << '\n' << transcript;
    }
    ASSERT_FALSE(service.state.checked.empty());
    const FakeRecord& sent = service.state.checked.back();
    EXPECT_EQ(sent.dns, u"filer7");
    EXPECT_EQ(sent.user, u"root");
    EXPECT_EQ(sent.password, u"pw");
    EXPECT_EQ(sent.type, 2);
    EXPECT_EQ(service.state.liveObjects, 0);
}

TEST_F(CredentialsDialog, MissingNameOrLoginIsRefusedWithoutAskingTheService) {
    struct Case {
        const char* fill;
        const char* text;
    };
    const Case cases[] = {
        {"type 1013 root\n", "Please provide a valid DNS name or IP address."},
        {"type 1009 filer\n", "Please provide a valid user name."},
    };
    for (const auto& c : cases) {
        for (const char* button : {"click 1018\n", "click 1\n"}) {
            run(std::string("click 1009\n") + c.fill + button + "show\n");
            EXPECT_TRUE(shows(std::string(button) + kBox + "[error] \"" + c.text + "\"\n> show\ndialog \"Subsystem Credentials\""))
                << transcript;
        }
    }
    EXPECT_TRUE(service.state.checked.empty());
}

TEST_F(CredentialsDialog, RecordOfUnknownTypeOpensWithNoProtocolAndOkStoresIscsi) {
    service.state.stored = {{u"k1", u"odd", u"root", u"", 7, 0}};
    run("click 1010\nshow\nclick 1\nclick 12321\n");
    EXPECT_TRUE(shows("  radio 1015 \"&Fibre Channel\" ( )\n  radio 1012 \"&iSCSI\" ( )\n")) << transcript;
    ASSERT_EQ(service.state.commits.size(), 1u);
    EXPECT_EQ(service.state.commits[0].at(0).type, 3);
}

TEST_F(CredentialsDialog, EditsTakeNoMoreThanTheirLimitAndLongerValuesAreShownButRefused) {
    const std::u16string longName(300, u'n');
    service.state.stored = {{u"k1", longName, std::u16string(70, u'u'), u"", 2, 0}};
    run("click 1010\nshow\nclick 1\ntype 1009 " + std::string(300, 'x') + "\nshow\nclick 1\ntype 1013 root\nclick 1\n"
        "click 12321\n");
    // A framework box: captioned with the module's name.
    const std::string warning = "message box \"sanprovpanel\" [warning] ";
    EXPECT_TRUE(shows("  edit 1009 \"" + std::string(300, 'n') + "\"\n")) << transcript;
    EXPECT_TRUE(shows("> click 1\n" + warning + "\"Please enter no more than 256 characters.\"\n> type 1009"));
    EXPECT_TRUE(shows("  edit 1009 \"" + std::string(256, 'x') + "\"\n"));
    EXPECT_TRUE(shows("> click 1\n" + warning + "\"Please enter no more than 64 characters.\"\n> type 1013"));
    EXPECT_TRUE(shows("> click 1\nclosed dialog \"Subsystem Credentials\" with OK\n"));
    ASSERT_EQ(service.state.commits.size(), 1u);
    EXPECT_EQ(service.state.commits[0].at(0).dns, std::u16string(256, u'x'));
    EXPECT_EQ(service.state.commits[0].at(0).user, u"root");
}

TEST_F(CredentialsDialog, PasswordIsShownMasked) {
    service.state.stored = {{u"k1", u"filer", u"root", u"secret", 2, 0}};
    run("click 1010\nshow\n");
    EXPECT_TRUE(shows("  edit 1014 \"******\"\n")) << transcript;
    EXPECT_FALSE(shows("secret"));
}

}  // namespace
