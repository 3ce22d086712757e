// Windows, controls and dialog data exchange over the window model.
#include <ui/afxwin.h>

#include <algorithm>
#include <map>
#include <string>
#include <utility>

#include <ui/backend.h>
#include <ui/window.h>

IMPLEMENT_DYNAMIC(CWnd, CObject)

BEGIN_MESSAGE_MAP(CWnd, CCmdTarget)
END_MESSAGE_MAP()

CWnd::~CWnd() {
    if (!m_hWnd) return;
    if (m_hWnd->owner == this) m_hWnd->owner = nullptr;
    std::erase(m_hWnd->attached, this);
}

CWnd* CWnd::GetDlgItem(int id) const {
    if (!m_hWnd) return nullptr;
    ui::Window* control = m_hWnd->child(id);
    if (!control) return nullptr;
    // One stand-in object per control window, as the handle map keeps.
    if (!control->standIn) {
        control->standIn = std::make_unique<CWnd>();
        control->standIn->m_hWnd = control;
    }
    return control->standIn.get();
}

BOOL CWnd::EnableWindow(BOOL enable) {
    if (!m_hWnd) return FALSE;
    const bool wasDisabled = !m_hWnd->enabled;
    m_hWnd->enabled = enable != FALSE;
    return wasDisabled;
}

BOOL CWnd::IsWindowEnabled() const { return m_hWnd && m_hWnd->enabled; }

void CWnd::SetWindowText(const char16_t* text) {
    if (m_hWnd) m_hWnd->text = text ? text : u"";
}

void CWnd::GetWindowText(CString& text) const { text = m_hWnd ? CString(m_hWnd->text) : CString(); }

HICON CWnd::SetIcon(HICON icon, BOOL bigIcon) {
    if (!m_hWnd || bigIcon) return nullptr;
    return std::exchange(m_hWnd->smallIcon, icon);
}

void CWnd::GetClientRect(LPRECT rect) const {
    *rect = RECT{0, 0, m_hWnd ? m_hWnd->client_width() : 0, m_hWnd ? m_hWnd->client_height() : 0};
}

int CWnd::MessageBox(const char16_t* text, const char16_t* caption, UINT type) {
    return ui::backend().message_box(text ? text : u"", caption ? caption : AfxGetAppName(), type);
}

int AfxMessageBox(const char16_t* text, UINT type) {
    return ui::backend().message_box(text ? text : u"", AfxGetAppName(), type);
}

BOOL CWnd::UpdateData(BOOL saveAndValidate) {
    CDataExchange dx(this, saveAndValidate);
    try {
        DoDataExchange(&dx);
    } catch (const CUserException&) {
        return FALSE;
    }
    return TRUE;
}

void CWnd::DoDataExchange(CDataExchange*) {}

BOOL CWnd::OnCommand(WPARAM wParam, LPARAM) {
    return OnCmdMsg(static_cast<UINT>(wParam & 0xFFFF), static_cast<UINT>((wParam >> 16) & 0xFFFF), nullptr, nullptr);
}

BOOL CWnd::OnNotify(WPARAM, LPARAM lParam, LRESULT* result) {
    auto* header = reinterpret_cast<NMHDR*>(lParam);
    return OnCmdMsg(static_cast<UINT>(header->idFrom), header->code, header, result);
}

void CWnd::CheckDlgButton(int id, UINT check) {
    if (ui::Window* control = m_hWnd ? m_hWnd->child(id) : nullptr) control->checked = check != 0;
}

UINT CWnd::IsDlgButtonChecked(int id) const {
    const ui::Window* control = m_hWnd ? m_hWnd->child(id) : nullptr;
    return control && control->checked ? 1 : 0;
}

int CButton::GetCheck() const { return m_hWnd && m_hWnd->checked ? 1 : 0; }
void CButton::SetCheck(int check) {
    if (m_hWnd) m_hWnd->checked = check != 0;
}

// ---- list view ------------------------------------------------------------------
namespace {
bool valid_row(const ui::Window* list, int item) {
    return list && item >= 0 && item < static_cast<int>(list->rows.size());
}
}  // namespace

DWORD CListCtrl::GetExtendedStyle() const { return m_hWnd ? m_hWnd->exStyle : 0; }

DWORD CListCtrl::SetExtendedStyle(DWORD exStyle) {
    return m_hWnd ? std::exchange(m_hWnd->exStyle, exStyle) : 0;
}

int CListCtrl::InsertColumn(int col, const char16_t* heading, int format, int width) {
    if (!m_hWnd || col < 0) return -1;
    auto& columns = m_hWnd->columns;
    col = std::min(col, static_cast<int>(columns.size()));
    columns.insert(columns.begin() + col, ui::ListColumn{heading ? heading : u"", width < 0 ? 0 : width, format});
    for (auto& row : m_hWnd->rows)
        if (static_cast<int>(row.cells.size()) > col) row.cells.insert(row.cells.begin() + col, u"");
    return col;
}

int CListCtrl::GetColumnWidth(int col) const {
    return m_hWnd && col >= 0 && col < static_cast<int>(m_hWnd->columns.size()) ? m_hWnd->columns[col].width : 0;
}

BOOL CListCtrl::DeleteAllItems() {
    if (!m_hWnd) return FALSE;
    m_hWnd->rows.clear();
    m_hWnd->topRow = 0;
    return TRUE;
}

BOOL CListCtrl::DeleteItem(int item) {
    if (!valid_row(m_hWnd, item)) return FALSE;
    m_hWnd->rows.erase(m_hWnd->rows.begin() + item);
    return TRUE;
}

int CListCtrl::InsertItem(int item, const char16_t* text) {
    if (!m_hWnd) return -1;
    auto& rows = m_hWnd->rows;
    item = std::clamp(item, 0, static_cast<int>(rows.size()));
    ui::ListRow row;
    row.cells.assign(std::max<size_t>(m_hWnd->columns.size(), 1), u"");
    row.cells[0] = text ? text : u"";
    rows.insert(rows.begin() + item, std::move(row));
    return item;
}

BOOL CListCtrl::SetItemText(int item, int subItem, const char16_t* text) {
    if (!valid_row(m_hWnd, item) || subItem < 0) return FALSE;
    auto& cells = m_hWnd->rows[item].cells;
    if (static_cast<int>(cells.size()) <= subItem) cells.resize(subItem + 1);
    cells[subItem] = text ? text : u"";
    return TRUE;
}

CString CListCtrl::GetItemText(int item, int subItem) const {
    if (!valid_row(m_hWnd, item) || subItem < 0) return CString();
    const auto& cells = m_hWnd->rows[item].cells;
    return subItem < static_cast<int>(cells.size()) ? CString(cells[subItem]) : CString();
}

BOOL CListCtrl::SetItemData(int item, DWORD_PTR data) {
    if (!valid_row(m_hWnd, item)) return FALSE;
    m_hWnd->rows[item].data = data;
    return TRUE;
}

DWORD_PTR CListCtrl::GetItemData(int item) const { return valid_row(m_hWnd, item) ? m_hWnd->rows[item].data : 0; }

int CListCtrl::GetItemCount() const { return m_hWnd ? static_cast<int>(m_hWnd->rows.size()) : 0; }

BOOL CListCtrl::SetItemState(int item, UINT state, UINT mask) {
    if (!m_hWnd) return FALSE;
    auto apply = [&](ui::ListRow& row) { row.state = (row.state & ~mask) | (state & mask); };
    if (item == -1) {
        for (auto& row : m_hWnd->rows) apply(row);
        return TRUE;
    }
    if (!valid_row(m_hWnd, item)) return FALSE;
    // A single-selection list keeps one selected and one focused row.
    for (auto& row : m_hWnd->rows) row.state &= ~(state & mask);
    apply(m_hWnd->rows[item]);
    return TRUE;
}

UINT CListCtrl::GetItemState(int item, UINT mask) const {
    return valid_row(m_hWnd, item) ? m_hWnd->rows[item].state & mask : 0;
}

int CListCtrl::GetNextItem(int start, UINT flags) const {
    if (!m_hWnd) return -1;
    for (int i = std::max(start + 1, 0); i < static_cast<int>(m_hWnd->rows.size()); ++i)
        if (flags == LVNI_ALL || (m_hWnd->rows[i].state & LVIS_SELECTED)) return i;
    return -1;
}

BOOL CListCtrl::EnsureVisible(int item, BOOL) {
    if (!valid_row(m_hWnd, item)) return FALSE;
    constexpr int kHeaderHeight = 20, kRowHeight = 17;
    const int shown = std::max(1, (m_hWnd->client_height() - kHeaderHeight) / kRowHeight);
    if (item < m_hWnd->topRow) m_hWnd->topRow = item;
    if (item >= m_hWnd->topRow + shown) m_hWnd->topRow = item - shown + 1;
    return TRUE;
}

// ---- dialog data exchange ------------------------------------------------------------
ui::Window* CDataExchange::PrepareCtrl(int id) {
    m_idLastControl = id;
    return m_pDlgWnd && m_pDlgWnd->m_hWnd ? m_pDlgWnd->m_hWnd->child(id) : nullptr;
}

void CDataExchange::Fail() { throw CUserException(); }

void DDX_Control(CDataExchange* pDX, int id, CWnd& control) {
    if (control.m_hWnd) return;
    if (ui::Window* window = pDX->PrepareCtrl(id)) {
        control.m_hWnd = window;
        window->attached.push_back(&control);
    }
}

void DDX_Text(CDataExchange* pDX, int id, CString& value) {
    ui::Window* edit = pDX->PrepareCtrl(id);
    if (!edit) return;
    if (pDX->m_bSaveAndValidate) {
        value = CString(edit->text);
    } else {
        edit->text = value.str();
    }
}

void DDV_MaxChars(CDataExchange* pDX, const CString& value, int maxChars) {
    if (!pDX->m_bSaveAndValidate) {
        if (ui::Window* edit = pDX->PrepareCtrl(pDX->m_idLastControl)) edit->limit = maxChars;
        return;
    }
    if (value.GetLength() <= maxChars) return;
    const std::string text = "Please enter no more than " + std::to_string(maxChars) + " characters.";
    AfxMessageBox(std::u16string(text.begin(), text.end()).c_str(), MB_ICONEXCLAMATION);
    pDX->Fail();
}
