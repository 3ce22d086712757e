#include <gtest/gtest.h>

#include <memory>
#include <sstream>

#include <ui/afxwin.h>
#include <ui/backend.h>

namespace {

constexpr UINT kDialogId = 500;
constexpr int kName = 10, kFirst = 11, kSecond = 12, kThird = 13, kOther = 14, kPing = 15;

constexpr ui::ControlTemplate kControls[] = {
    {kName, ui::ControlKind::Edit, nullptr, {10, 10, 100, 14}, ui::WS_BORDER},
    {kFirst, ui::ControlKind::Radio, u"&One", {10, 30, 50, 10}, ui::WS_GROUP},
    {kSecond, ui::ControlKind::Radio, u"&Two", {10, 42, 50, 10}},
    {kThird, ui::ControlKind::Radio, u"T&hree", {10, 54, 50, 10}, ui::WS_GROUP},
    {kOther, ui::ControlKind::Radio, u"&Four", {10, 66, 50, 10}},
    {kPing, ui::ControlKind::Button, u"&Ping", {10, 80, 50, 14}},
    {IDOK, ui::ControlKind::DefaultButton, u"OK", {70, 80, 50, 14}},
    {IDCANCEL, ui::ControlKind::Button, u"Cancel", {130, 80, 50, 14}},
};
constexpr ui::StringEntry kStrings[] = {{1, u"text @one"}};
constexpr ui::DialogTemplate kDialogs[] = {{kDialogId, u"Test @dialog", false, 200, 100, u"MS Shell Dlg", 8, kControls}};
int g_anchor;
AFX_MODULE_STATE g_state{reinterpret_cast<HINSTANCE>(&g_anchor), u"uitest"};

class PingDialog : public CDialog {
public:
    PingDialog() : CDialog(kDialogId) {}
    CString m_name = CString(u"preset value that is long");
    int m_pings = 0;
    AFX_MODULE_STATE* m_stateSeen = nullptr;

protected:
    void DoDataExchange(CDataExchange* pDX) override {
        DDX_Text(pDX, kName, m_name);
        DDV_MaxChars(pDX, m_name, 5);
    }
    void OnPing() {
        ++m_pings;
        m_stateSeen = AfxGetModuleState();
    }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(PingDialog, CDialog)
ON_BN_CLICKED(kPing, &PingDialog::OnPing)
END_MESSAGE_MAP()

class WindowLayer : public ::testing::Test {
protected:
    WindowLayer() { ui::register_resources(g_state.m_hCurrentResourceHandle, {kStrings, kDialogs, {}}); }
    // Made and run in the module's state, as the module's entries do.
    std::string run(const std::string& script, INT_PTR& result) {
        std::istringstream in(script);
        std::ostringstream out;
        ui::set_backend(ui::make_headless_backend(in, out));
        {
            AFX_MANAGE_STATE(&g_state);
            dialog = std::make_unique<PingDialog>();
            result = dialog->DoModal();
        }
        ui::set_backend(nullptr);
        return out.str();
    }
    std::unique_ptr<PingDialog> dialog;
};

TEST_F(WindowLayer, ScriptActionsReachTheModelAndTheMessageMap) {
    INT_PTR result = 0;
    const std::string transcript = run("click 12\nclick 13\nclick 11\nclick 15\nclick 15\nclick 99\nselect 10 0\nshow\n"
                                       "type 10 abcdefgh\nshow\nclick 1\n",
                                       result);
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(dialog->m_pings, 2);
    EXPECT_EQ(dialog->m_stateSeen, &g_state);  // handlers run in the module state of their object
    EXPECT_EQ(dialog->m_name.str(), u"abcde");
    // Each group keeps one radio; the program's long value is shown whole.
    EXPECT_NE(transcript.find("dialog \"Test @dialog\"\n"
                              "  edit 10 \"preset value that is long\"\n"
                              "  radio 11 \"&One\" (x)\n"
                              "  radio 12 \"&Two\" ( )\n"
                              "  radio 13 \"T&hree\" (x)\n"
                              "  radio 14 \"&Four\" ( )\n"),
              std::string::npos)
        << transcript;
    EXPECT_NE(transcript.find("> click 99\n  (refused)\n> select 10 0\n  (refused)\n"), std::string::npos);
    // Typing stops at the limit the exchange set.
    EXPECT_NE(transcript.find("  edit 10 \"abcde\"\n"), std::string::npos);
    EXPECT_NE(transcript.find("closed dialog \"Test @dialog\" with OK\n"), std::string::npos);
}

TEST_F(WindowLayer, OkRefusesAValueLongerThanItsLimitAndTheScriptEndCancels) {
    INT_PTR result = 0;
    const std::string transcript = run("click 1\n", result);
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_NE(transcript.find("> click 1\n"
                              "message box \"uitest\" [warning] \"Please enter no more than 5 characters.\"\n"
                              "script ended: close\n"
                              "closed dialog \"Test @dialog\" with Cancel\n"),
              std::string::npos)
        << transcript;
}

TEST_F(WindowLayer, StringsComeFromTheCurrentModule) {
    WCHAR buffer[4];
    {
        AFX_MANAGE_STATE(&g_state);
        EXPECT_EQ(AfxLoadString(1, buffer, 4), 3);
        EXPECT_EQ(std::u16string(buffer), u"tex");
        CString text;
        EXPECT_TRUE(text.LoadString(1));
        EXPECT_EQ(text.str(), u"text @one");
        EXPECT_FALSE(text.LoadString(2));
    }
    EXPECT_EQ(AfxLoadString(1, buffer, 4), 0);  // outside the module's state
}

}  // namespace
