// Modal dialogs, property sheets and their pages, the application object.
#include <ui/afxwin.h>

#include <algorithm>

#include <ui/backend.h>
#include <ui/window.h>

IMPLEMENT_DYNAMIC(CDialog, CWnd)
IMPLEMENT_DYNAMIC(CPropertyPage, CDialog)
IMPLEMENT_DYNAMIC(CPropertySheet, CWnd)

namespace {
// Keeps a top-level window on the open list while it runs.
class OpenWindow {
public:
    explicit OpenWindow(ui::Window& w) { ui::open_windows().push_back(&w); }
    ~OpenWindow() { ui::open_windows().pop_back(); }
    OpenWindow(const OpenWindow&) = delete;
    OpenWindow& operator=(const OpenWindow&) = delete;
};
}  // namespace

// ---- dialogs ----------------------------------------------------------------------------
BEGIN_MESSAGE_MAP(CDialog, CWnd)
ON_COMMAND(IDOK, &CDialog::OnOK)
ON_COMMAND(IDCANCEL, &CDialog::OnCancel)
END_MESSAGE_MAP()

CDialog::CDialog(UINT templateId, CWnd* parent)
    : m_nIDHelp(templateId), m_lpszTemplateName(templateId), m_pParentWnd(parent) {}

INT_PTR CDialog::DoModal() {
    const ui::DialogTemplate* t = ui::find_dialog(AfxGetResourceHandle(), m_lpszTemplateName);
    if (!t) return -1;
    auto window = ui::create_from_template(*t, ui::WindowKind::Dialog);
    window->owner = this;
    m_hWnd = window.get();
    {
        OpenWindow open(*window);
        OnInitDialog();
        if (!window->ended) ui::backend().run_modal(*window);
    }
    m_hWnd = nullptr;
    return window->result;
}

BOOL CDialog::OnInitDialog() {
    UpdateData(FALSE);
    return TRUE;
}

void CDialog::EndDialog(int result) {
    if (!m_hWnd) return;
    m_hWnd->ended = true;
    m_hWnd->result = result;
}

void CDialog::OnOK() {
    if (!UpdateData(TRUE)) return;
    EndDialog(IDOK);
}

void CDialog::OnCancel() { EndDialog(IDCANCEL); }

// ---- pages ------------------------------------------------------------------------------
BEGIN_MESSAGE_MAP(CPropertyPage, CDialog)
END_MESSAGE_MAP()

CPropertyPage::CPropertyPage(UINT templateId) : CDialog(templateId) {}

CPropertyPage::~CPropertyPage() {
    if (m_pSheet) std::erase(m_pSheet->m_pages, this);
}

void CPropertyPage::SetModified(BOOL changed) {
    m_bModified = changed != FALSE;
    if (m_pSheet) m_pSheet->PageChanged();
}

BOOL CPropertyPage::OnApply() {
    SetModified(FALSE);
    return TRUE;
}

// ---- sheets ----------------------------------------------------------------------------
namespace {
constexpr int kMargin = 7;
constexpr int kTabHeight = 24;
constexpr int kButtonWidth = 75;
constexpr int kButtonHeight = 23;
constexpr int kButtonGap = 6;

struct SheetButton {
    int id;
    ui::ControlKind kind;
    const char16_t* text;
};
constexpr SheetButton kSheetButtons[] = {
    {IDOK, ui::ControlKind::DefaultButton, u"OK"},
    {IDCANCEL, ui::ControlKind::Button, u"Cancel"},
    {ID_APPLY_NOW, ui::ControlKind::Button, u"&Apply"},
};
}  // namespace

BEGIN_MESSAGE_MAP(CPropertySheet, CWnd)
ON_COMMAND(IDOK, &CPropertySheet::OnOK)
ON_COMMAND(IDCANCEL, &CPropertySheet::OnCancel)
ON_COMMAND(ID_APPLY_NOW, &CPropertySheet::OnApplyNow)
END_MESSAGE_MAP()

CPropertySheet::CPropertySheet(const char16_t* caption, CWnd*, UINT selectPage)
    : m_strCaption(caption ? caption : u""), m_nCurPage(selectPage) {}

// Pages still in the list outlive the sheet: they forget it.
CPropertySheet::~CPropertySheet() {
    for (auto* page : m_pages) page->m_pSheet = nullptr;
}

void CPropertySheet::AddPage(CPropertyPage* page) {
    page->m_pSheet = this;
    m_pages.push_back(page);
}

BOOL CPropertySheet::SetActivePage(int index) {
    if (!m_hWnd || index < 0 || index >= GetPageCount()) return FALSE;
    CPropertyPage* page = m_pages[index];
    for (auto& c : m_hWnd->children)
        if (c->kind == ui::WindowKind::Page) c->visible = false;
    m_nCurPage = static_cast<UINT>(index);
    m_hWnd->activeTab = index;
    if (!page->m_hWnd) {
        // A page is made when it is first shown.
        const ui::DialogTemplate* t = ui::find_dialog(AfxGetResourceHandle(), page->TemplateId());
        if (!t) return FALSE;
        auto window = ui::create_from_template(*t, ui::WindowKind::Page);
        window->owner = page;
        window->px = RECT{kMargin, kMargin + kTabHeight, kMargin + window->px.right, kMargin + kTabHeight + window->px.bottom};
        page->m_hWnd = m_hWnd->add_child(std::move(window));
        AFX_MANAGE_STATE(page->m_pModuleState);
        page->OnInitDialog();
    }
    page->m_hWnd->visible = true;
    page->OnSetActive();
    return TRUE;
}

INT_PTR CPropertySheet::DoModal() {
    auto window = std::make_unique<ui::Window>();
    window->kind = ui::WindowKind::Sheet;
    window->text = m_strCaption;
    window->owner = this;
    int pageWidth = 0, pageHeight = 0;
    for (auto* page : m_pages) {
        const ui::DialogTemplate* t = ui::find_dialog(AfxGetResourceHandle(), page->TemplateId());
        window->tabs.push_back(t && t->caption ? t->caption : u"");
        if (t) {
            pageWidth = std::max(pageWidth, ui::dlu_to_px_x(t->cx));
            pageHeight = std::max(pageHeight, ui::dlu_to_px_y(t->cy));
        }
    }
    const int width = pageWidth + 2 * kMargin;
    const int buttonsTop = kMargin + kTabHeight + pageHeight + kMargin;
    window->px = RECT{0, 0, width, buttonsTop + kButtonHeight + kMargin};
    // The buttons stand right-aligned in a row, in tab order.
    const int count = static_cast<int>(std::size(kSheetButtons));
    int left = width - kMargin - count * kButtonWidth - (count - 1) * kButtonGap;
    for (const auto& b : kSheetButtons) {
        auto button = std::make_unique<ui::Window>();
        button->control = b.kind;
        button->id = b.id;
        button->text = b.text;
        button->px = RECT{left, buttonsTop, left + kButtonWidth, buttonsTop + kButtonHeight};
        button->enabled = b.id != ID_APPLY_NOW;
        left += kButtonWidth + kButtonGap;
        window->add_child(std::move(button));
    }
    m_hWnd = window.get();
    m_window = std::move(window);
    {
        OpenWindow open(*m_hWnd);
        OnInitDialog();
        if (!m_hWnd->ended) ui::backend().run_modal(*m_hWnd);
    }
    const int result = m_hWnd->result;
    for (auto* page : m_pages) page->m_hWnd = nullptr;
    m_hWnd = nullptr;
    m_window.reset();
    return result;
}

BOOL CPropertySheet::OnInitDialog() {
    if (!m_pages.empty()) SetActivePage(std::min<int>(static_cast<int>(m_nCurPage), GetPageCount() - 1));
    return TRUE;
}

void CPropertySheet::EndDialog(int result) {
    if (!m_hWnd) return;
    m_hWnd->ended = true;
    m_hWnd->result = result;
}

void CPropertySheet::PageChanged() {
    if (!m_hWnd) return;
    if (ui::Window* apply = m_hWnd->child(ID_APPLY_NOW))
        apply->enabled = std::any_of(m_pages.begin(), m_pages.end(), [](auto* p) { return p->IsModified(); });
}

void CPropertySheet::OnApplyNow() {
    for (auto* page : m_pages)
        if (page->m_hWnd) page->OnApply();
}

void CPropertySheet::OnOK() {
    OnApplyNow();
    EndDialog(IDOK);
}

void CPropertySheet::OnCancel() { EndDialog(IDCANCEL); }

// ---- application, cursor, icons ----------------------------------------------------------
BEGIN_MESSAGE_MAP(CWinApp, CCmdTarget)
END_MESSAGE_MAP()

CWinApp::CWinApp(const char16_t* appName) : m_pszAppName(appName) {
    if (appName) AfxGetModuleState()->m_pszAppName = appName;
}

namespace {
int g_waitCursors = 0;
}

CWaitCursor::CWaitCursor() {
    if (g_waitCursors++ == 0) ui::backend().wait_cursor(true);
}

CWaitCursor::~CWaitCursor() {
    if (--g_waitCursors == 0) ui::backend().wait_cursor(false);
}

int ui::wait_cursor_depth() { return g_waitCursors; }

HICON LoadIconW(HINSTANCE module, UINT id) { return ui::find_icon(module, id); }
