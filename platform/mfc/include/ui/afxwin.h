#pragma once
// The MFC classes the applet is written against, over the window model.
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <ui/resources.h>
#include <ui/wintypes.h>

// ---- module state --------------------------------------------------------
// Each module that uses the layer defines AfxGetStaticModuleState() with its
// own resource handle; entries into the module switch to it first.
struct AFX_MODULE_STATE {
    HINSTANCE m_hCurrentResourceHandle;
    const char16_t* m_lpszModuleName;  // the application name when none is given
    const char16_t* m_pszAppName = nullptr;
};
AFX_MODULE_STATE* AfxGetStaticModuleState();
AFX_MODULE_STATE* AfxGetModuleState();

class AFX_MAINTAIN_STATE2 {
public:
    explicit AFX_MAINTAIN_STATE2(AFX_MODULE_STATE* state);
    ~AFX_MAINTAIN_STATE2();
    AFX_MAINTAIN_STATE2(const AFX_MAINTAIN_STATE2&) = delete;
    AFX_MAINTAIN_STATE2& operator=(const AFX_MAINTAIN_STATE2&) = delete;

private:
    AFX_MODULE_STATE* m_pPrevModuleState;
};
#define AFX_MANAGE_STATE(p) AFX_MAINTAIN_STATE2 _ctlState(p)

HINSTANCE AfxGetResourceHandle();
const char16_t* AfxGetAppName();

// ---- strings ---------------------------------------------------------------
class CString {
public:
    CString() = default;
    CString(const char16_t* text) : m_text(text ? text : u"") {}
    CString(std::u16string_view text) : m_text(text) {}
    operator const char16_t*() const { return m_text.c_str(); }
    int GetLength() const { return static_cast<int>(m_text.size()); }
    bool IsEmpty() const { return m_text.empty(); }
    void Empty() { m_text.clear(); }
    // From the current module's string table; false for an unknown id.
    BOOL LoadString(UINT id);
    const std::u16string& str() const { return m_text; }
    bool operator==(const CString& other) const { return m_text == other.m_text; }

private:
    std::u16string m_text;
};

// Reads a string of the current module into buffer (at most bufferMax - 1
// characters and a NUL); 0 for an unknown id.
int AfxLoadString(UINT id, LPWSTR buffer, int bufferMax);

// ---- objects and runtime classes ------------------------------------------
class CObject;
struct CRuntimeClass {
    const char* m_lpszClassName;
    CObject* (*m_pfnCreateObject)();
    const CRuntimeClass* m_pBaseClass;
    CObject* CreateObject() const { return m_pfnCreateObject ? m_pfnCreateObject() : nullptr; }
    bool IsDerivedFrom(const CRuntimeClass* base) const;
};

class CObject {
public:
    virtual ~CObject() = default;
    virtual const CRuntimeClass* GetRuntimeClass() const;
    bool IsKindOf(const CRuntimeClass* cls) const { return GetRuntimeClass()->IsDerivedFrom(cls); }
    static const CRuntimeClass classCObject;
};

#define RUNTIME_CLASS(cls) (&cls::class##cls)
#define DECLARE_DYNAMIC(cls)   \
public:                        \
    static const CRuntimeClass class##cls; \
    const CRuntimeClass* GetRuntimeClass() const override;
#define DECLARE_DYNCREATE(cls) \
    DECLARE_DYNAMIC(cls)       \
    static CObject* CreateObject();
#define IMPLEMENT_DYNAMIC(cls, base) \
    const CRuntimeClass cls::class##cls = {#cls, nullptr, RUNTIME_CLASS(base)}; \
    const CRuntimeClass* cls::GetRuntimeClass() const { return RUNTIME_CLASS(cls); }
#define IMPLEMENT_DYNCREATE(cls, base) \
    CObject* cls::CreateObject() { return new cls; } \
    const CRuntimeClass cls::class##cls = {#cls, &cls::CreateObject, RUNTIME_CLASS(base)}; \
    const CRuntimeClass* cls::GetRuntimeClass() const { return RUNTIME_CLASS(cls); }

// ---- message maps ---------------------------------------------------------
class CCmdTarget;
using AFX_PMSG = void (CCmdTarget::*)();
using AFX_PNOTIFY = void (CCmdTarget::*)(NMHDR*, LRESULT*);
enum class AfxSig { End, Command, Notify };

struct AFX_MSGMAP_ENTRY {
    UINT nCode;
    UINT nID;
    AfxSig sig;
    AFX_PMSG pfn;
    AFX_PNOTIFY pfnNotify;
};
struct AFX_MSGMAP {
    const AFX_MSGMAP* (*pfnGetBaseMap)();
    const AFX_MSGMAP_ENTRY* lpEntries;
};

#define DECLARE_MESSAGE_MAP()                                 \
protected:                                                    \
    static const AFX_MSGMAP* GetThisMessageMap();             \
    const AFX_MSGMAP* GetMessageMap() const override;

#define BEGIN_MESSAGE_MAP(theClass, baseClass)                                         \
    const AFX_MSGMAP* theClass::GetMessageMap() const { return GetThisMessageMap(); } \
    const AFX_MSGMAP* theClass::GetThisMessageMap() {                                  \
        using TheBaseClass = baseClass;                                                \
        static const AFX_MSGMAP_ENTRY entries[] = {
#define END_MESSAGE_MAP()                                                       \
    {0, 0, AfxSig::End, nullptr, nullptr}};                                     \
    static const AFX_MSGMAP map = {&TheBaseClass::GetThisMessageMap, entries}; \
    return &map;                                                                \
    }
#define ON_COMMAND(id, memberFxn) \
    {BN_CLICKED, static_cast<UINT>(id), AfxSig::Command, static_cast<AFX_PMSG>(memberFxn), nullptr},
#define ON_BN_CLICKED(id, memberFxn) ON_COMMAND(id, memberFxn)
#define ON_NOTIFY(code, id, memberFxn) \
    {static_cast<UINT>(code), static_cast<UINT>(id), AfxSig::Notify, nullptr, static_cast<AFX_PNOTIFY>(memberFxn)},

class CCmdTarget : public CObject {
public:
    CCmdTarget();
    // Runs the handler the message map chain names for the command or
    // notification, in the owner's module state; false when none does.
    bool OnCmdMsg(UINT id, UINT code, NMHDR* notify, LRESULT* result);

protected:
    static const AFX_MSGMAP* GetThisMessageMap();
    virtual const AFX_MSGMAP* GetMessageMap() const;
    AFX_MODULE_STATE* m_pModuleState;  // the module that made the object
};

// ---- windows ----------------------------------------------------------------
class CDataExchange;

class CWnd : public CCmdTarget {
    DECLARE_DYNAMIC(CWnd)
public:
    CWnd() = default;
    ~CWnd() override;
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;

    HWND m_hWnd = nullptr;
    HWND GetSafeHwnd() const { return m_hWnd; }
    // The control with the id in this window; null when there is none. The
    // object lives as long as the control.
    CWnd* GetDlgItem(int id) const;
    BOOL EnableWindow(BOOL enable = TRUE);
    BOOL IsWindowEnabled() const;
    void SetWindowText(const char16_t* text);
    void GetWindowText(CString& text) const;
    HICON SetIcon(HICON icon, BOOL bigIcon);
    void GetClientRect(LPRECT rect) const;
    void CheckDlgButton(int id, UINT check);
    UINT IsDlgButtonChecked(int id) const;
    int MessageBox(const char16_t* text, const char16_t* caption = nullptr, UINT type = MB_OK);
    BOOL UpdateData(BOOL saveAndValidate = TRUE);
    virtual void DoDataExchange(CDataExchange* pDX);
    // A notification from a child control (WM_NOTIFY).
    virtual BOOL OnNotify(WPARAM wParam, LPARAM lParam, LRESULT* result);
    // A command from a child control (WM_COMMAND).
    virtual BOOL OnCommand(WPARAM wParam, LPARAM lParam);

    DECLARE_MESSAGE_MAP()
};

class CButton : public CWnd {
public:
    int GetCheck() const;
    void SetCheck(int check);
};

class CListCtrl : public CWnd {
public:
    DWORD GetExtendedStyle() const;
    DWORD SetExtendedStyle(DWORD exStyle);
    int InsertColumn(int col, const char16_t* heading, int format = LVCFMT_LEFT, int width = -1);
    int GetColumnWidth(int col) const;
    BOOL DeleteAllItems();
    BOOL DeleteItem(int item);
    int InsertItem(int item, const char16_t* text);
    BOOL SetItemText(int item, int subItem, const char16_t* text);
    CString GetItemText(int item, int subItem) const;
    BOOL SetItemData(int item, DWORD_PTR data);
    DWORD_PTR GetItemData(int item) const;
    int GetItemCount() const;
    BOOL SetItemState(int item, UINT state, UINT mask);
    UINT GetItemState(int item, UINT mask) const;
    int GetNextItem(int start, UINT flags) const;
    BOOL EnsureVisible(int item, BOOL partialOK);
};

class CDialog : public CWnd {
    DECLARE_DYNAMIC(CDialog)
public:
    explicit CDialog(UINT templateId, CWnd* parent = nullptr);
    virtual INT_PTR DoModal();
    virtual BOOL OnInitDialog();
    void EndDialog(int result);
    UINT m_nIDHelp;

protected:
    virtual void OnOK();
    virtual void OnCancel();
    UINT m_lpszTemplateName;
    CWnd* m_pParentWnd;

    DECLARE_MESSAGE_MAP()
};

class CPropertySheet;

class CPropertyPage : public CDialog {
    DECLARE_DYNAMIC(CPropertyPage)
public:
    explicit CPropertyPage(UINT templateId);
    ~CPropertyPage() override;
    void SetModified(BOOL changed = TRUE);
    bool IsModified() const { return m_bModified; }
    virtual BOOL OnSetActive() { return TRUE; }
    virtual BOOL OnApply();
    UINT TemplateId() const { return m_lpszTemplateName; }

protected:
    void OnOK() override {}
    void OnCancel() override {}

private:
    friend class CPropertySheet;
    CPropertySheet* m_pSheet = nullptr;
    bool m_bModified = false;

    DECLARE_MESSAGE_MAP()
};

class CPropertySheet : public CWnd {
    DECLARE_DYNAMIC(CPropertySheet)
    friend class CPropertyPage;

public:
    CPropertySheet(const char16_t* caption, CWnd* parent = nullptr, UINT selectPage = 0);
    ~CPropertySheet() override;
    void AddPage(CPropertyPage* page);
    int GetPageCount() const { return static_cast<int>(m_pages.size()); }
    CPropertyPage* GetPage(int index) const { return m_pages.at(index); }
    BOOL SetActivePage(int index);
    int GetActiveIndex() const { return m_nCurPage; }
    virtual INT_PTR DoModal();
    virtual BOOL OnInitDialog();
    void EndDialog(int result);
    // The Apply button follows the pages' modified flags.
    void PageChanged();

protected:
    void OnOK();
    void OnCancel();
    void OnApplyNow();

private:
    std::u16string m_strCaption;
    UINT m_nCurPage;
    std::vector<CPropertyPage*> m_pages;
    std::unique_ptr<ui::Window> m_window;

    DECLARE_MESSAGE_MAP()
};

class CWinApp : public CCmdTarget {
public:
    explicit CWinApp(const char16_t* appName = nullptr);
    const char16_t* m_pszAppName;

    DECLARE_MESSAGE_MAP()
};

// The hourglass for the life of the object.
class CWaitCursor {
public:
    CWaitCursor();
    ~CWaitCursor();
    CWaitCursor(const CWaitCursor&) = delete;
    CWaitCursor& operator=(const CWaitCursor&) = delete;
};

// A message box owned by the innermost open window, captioned with the
// application name.
int AfxMessageBox(const char16_t* text, UINT type = MB_OK);

HICON LoadIconW(HINSTANCE module, UINT id);

// ---- dialog data exchange ----------------------------------------------------
class CUserException {};

class CDataExchange {
public:
    CDataExchange(CWnd* dialog, BOOL saveAndValidate) : m_bSaveAndValidate(saveAndValidate), m_pDlgWnd(dialog) {}
    BOOL m_bSaveAndValidate;
    CWnd* m_pDlgWnd;
    int m_idLastControl = 0;
    ui::Window* PrepareCtrl(int id);
    // Puts the focus back on the last control and ends the exchange.
    [[noreturn]] void Fail();
};

void DDX_Control(CDataExchange* pDX, int id, CWnd& control);
void DDX_Text(CDataExchange* pDX, int id, CString& value);
// Saving: a longer value is refused with a warning. Loading: the edit accepts
// no more than `maxChars` characters from typing (a longer value set by the
// program is shown whole).
void DDV_MaxChars(CDataExchange* pDX, const CString& value, int maxChars);

namespace ui {
// How many wait cursors are up now.
int wait_cursor_depth();
}
