#include "filers_prop_page.h"

#include <numeric>

#include "admin_client.h"
#include "filer_details_dialog.h"
#include "resource.h"

IMPLEMENT_DYNCREATE(CFilersPropPage, CPropertyPage)

BEGIN_MESSAGE_MAP(CFilersPropPage, CPropertyPage)
ON_BN_CLICKED(IDC_ADD, &CFilersPropPage::OnAdd)
ON_BN_CLICKED(IDC_REMOVE, &CFilersPropPage::OnRemove)
ON_BN_CLICKED(IDC_DETAILS, &CFilersPropPage::OnDetails)
ON_NOTIFY(NM_DBLCLK, IDC_FILER_LIST, &CFilersPropPage::OnDblclkList)
END_MESSAGE_MAP()

namespace {
struct Column {
    UINT title;  // 0: none
    int weight;
    bool shown;
};
// Name, Type, and the hidden Login Name, Password, Unique ID and one more.
constexpr Column kColumns[] = {
    {IDS_COLUMN_NAME, 2, true},         {IDS_COLUMN_TYPE, 1, true},      {IDS_COLUMN_LOGIN, 0, false},
    {IDS_COLUMN_PASSWORD, 0, false},    {IDS_COLUMN_UNIQUE_ID, 0, false}, {0, 0, false},
};

UINT type_string(LONG type) {
    return type == kTypeFibreChannel ? IDS_TYPE_FIBRE_CHANNEL : type == kTypeIscsi ? IDS_TYPE_ISCSI : IDS_TYPE_UNKNOWN;
}
}  // namespace

std::vector<int> ColumnWidths(int clientWidth) {
    const int sum = std::accumulate(std::begin(kColumns), std::end(kColumns), 0,
                                    [](int s, const Column& c) { return c.shown ? s + c.weight : s; });
    const int unit = clientWidth / sum;
    std::vector<int> widths;
    int lastWeight = 0;
    for (const auto& c : kColumns) {
        if (!c.shown) continue;
        widths.push_back(unit * c.weight);
        lastWeight = c.weight;
    }
    // The last shown column takes what the division left over.
    widths.back() = clientWidth - unit * (sum - lastWeight);
    return widths;
}

CFilersPropPage::CFilersPropPage() : CPropertyPage(IDD_FILERS) {}

void CFilersPropPage::DoDataExchange(CDataExchange* pDX) {
    CPropertyPage::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_FILER_LIST, m_listCtrl);
}

BOOL CFilersPropPage::OnInitDialog() {
    CPropertyPage::OnInitDialog();
    m_listCtrl.SetExtendedStyle(m_listCtrl.GetExtendedStyle() | LVS_EX_FULLROWSELECT);

    RECT client;
    m_listCtrl.GetClientRect(&client);
    const std::vector<int> widths = ColumnWidths(client.right - client.left);
    for (int i = 0, shown = 0; i < static_cast<int>(std::size(kColumns)); ++i)
        if (kColumns[i].shown)
            m_listCtrl.InsertColumn(i, LoadStringResource(kColumns[i].title), LVCFMT_LEFT, widths[shown++]);

    CString text;
    if (FAILED(m_filerList.Load(text))) ShowError(text);

    m_listCtrl.DeleteAllItems();
    for (const auto& [key, record] : m_filerList.Records()) SetRow(*record, key, -1);
    SelectRow(0);
    return TRUE;
}

void CFilersPropPage::SetRow(const FILER_RECORD& record, ULONG key, int row) {
    if (row == -1 || row >= m_listCtrl.GetItemCount()) {
        row = m_listCtrl.InsertItem(m_listCtrl.GetItemCount(), record.wszDnsName);
        m_listCtrl.SetItemData(row, key);
    } else {
        m_listCtrl.SetItemText(row, 0, record.wszDnsName);
    }
    m_listCtrl.SetItemText(row, 1, LoadStringResource(type_string(record.hwpType)));
}

void CFilersPropPage::SelectRow(int row) {
    const int count = m_listCtrl.GetItemCount();
    if (count > 0) {
        m_listCtrl.SetItemState(-1, 0, LVIS_SELECTED | LVIS_FOCUSED);
        if (row >= count) row = count - 1;
        m_listCtrl.SetItemState(row, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
        m_listCtrl.EnsureVisible(row, FALSE);
    }
    for (int id : {IDC_REMOVE, IDC_DETAILS})
        if (CWnd* button = GetDlgItem(id)) button->EnableWindow(count > 0);
}

void CFilersPropPage::ShowError(const CString& text) {
    MessageBox(text, LoadStringResource(IDS_APPLET_NAME), MB_ICONERROR);
}

bool CFilersPropPage::SelectedKey(int& row, ULONG& key) {
    row = m_listCtrl.GetNextItem(-1, LVNI_SELECTED);
    const DWORD_PTR data = row < 0 ? static_cast<DWORD_PTR>(-1) : m_listCtrl.GetItemData(row);
    if (row < 0 || data == static_cast<DWORD_PTR>(-1) || data > 0xFFFFFFFFu) {
        MessageBox(LoadStringResource(IDS_SELECT_SUBSYSTEM), LoadStringResource(IDS_APPLET_NAME), MB_ICONWARNING);
        return false;
    }
    key = static_cast<ULONG>(data);
    return true;
}

void CFilersPropPage::OnAdd() {
    CFilerDetailsDialog dialog{CFilerEntry()};
    if (dialog.DoModal() != IDOK) return;
    ULONG key = 0;
    CString text;
    if (FAILED(m_filerList.Add(dialog.GetEntry(), key, text))) {
        ShowError(text);
        return;
    }
    SetRow(*m_filerList.Find(key), key, -1);
    SelectRow(m_listCtrl.GetItemCount() - 1);
    SetModified(TRUE);
}

void CFilersPropPage::OnRemove() {
    int row = -1;
    ULONG key = 0;
    if (!SelectedKey(row, key)) return;
    m_filerList.Remove(key);
    m_listCtrl.DeleteItem(row);
    SelectRow(row);
    SetModified(TRUE);
}

void CFilersPropPage::OnDetails() {
    int row = -1;
    ULONG key = 0;
    if (!SelectedKey(row, key)) return;
    FILER_RECORD* record = m_filerList.Find(key);
    if (!record) return;
    CFilerDetailsDialog dialog{CFilerEntry(*record)};
    if (dialog.DoModal() != IDOK) return;
    if (!dialog.GetEntry().CopyToRecord(*record)) {
        ShowError(LoadStringResource(IDS_OUT_OF_MEMORY));
        return;
    }
    SetRow(*record, key, row);
    SetModified(TRUE);
}

void CFilersPropPage::OnDblclkList(NMHDR*, LRESULT* result) {
    if (m_listCtrl.GetNextItem(-1, LVNI_SELECTED) >= 0) OnDetails();
    *result = 0;
}

void CFilersPropPage::SaveList() {
    CString text;
    if (FAILED(m_filerList.Commit(text))) {
        ShowError(text);
        SetModified(TRUE);
        return;
    }
    SetModified(FALSE);
}
