#include "filer_details_dialog.h"

#include "admin_client.h"
#include "resource.h"

IMPLEMENT_DYNAMIC(CFilerDetailsDialog, CDialog)

BEGIN_MESSAGE_MAP(CFilerDetailsDialog, CDialog)
ON_BN_CLICKED(IDC_VERIFY, &CFilerDetailsDialog::OnVerify)
ON_BN_CLICKED(IDOK, &CFilerDetailsDialog::OnOkButton)
ON_BN_CLICKED(IDCANCEL, &CFilerDetailsDialog::OnCancelButton)
END_MESSAGE_MAP()

namespace {
constexpr int kMaxHost = 256;
constexpr int kMaxLogin = 64;
constexpr int kMaxPassword = 64;

// The icon of a result's severity bits (31 and 30).
UINT severity_icon(HRESULT hr) {
    constexpr UINT kIcons[] = {MB_ICONINFORMATION, MB_ICONINFORMATION, MB_ICONWARNING, MB_ICONERROR};
    return kIcons[(static_cast<uint32_t>(hr) >> 30) & 3u];
}
}  // namespace

CFilerDetailsDialog::CFilerDetailsDialog(const CFilerEntry& entry, CWnd* parent)
    : CDialog(IDD_FILER_DETAILS, parent), m_entry(entry) {}

void CFilerDetailsDialog::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_Text(pDX, IDC_HOST, m_strHost);
    DDV_MaxChars(pDX, m_strHost, kMaxHost);
    DDX_Text(pDX, IDC_LOGIN, m_strLogin);
    DDV_MaxChars(pDX, m_strLogin, kMaxLogin);
    DDX_Text(pDX, IDC_PASSWORD, m_strPassword);
    DDV_MaxChars(pDX, m_strPassword, kMaxPassword);
}

BOOL CFilerDetailsDialog::OnInitDialog() {
    m_strHost = CString(m_entry.m_dnsName);
    m_strLogin = CString(m_entry.m_userName);
    m_strPassword = CString(m_entry.m_password);
    CheckDlgButton(IDC_FIBRE_CHANNEL, m_entry.m_type == kTypeFibreChannel);
    CheckDlgButton(IDC_ISCSI, m_entry.m_type == kTypeIscsi);
    m_strUniqueId = CString(m_entry.m_key);
    return CDialog::OnInitDialog();
}

bool CFilerDetailsDialog::SaveControls() {
    if (!UpdateData(TRUE)) return false;
    m_entry.m_dnsName = m_strHost.str();
    m_entry.m_userName = m_strLogin.str();
    m_entry.m_password = m_strPassword.str();
    m_entry.m_key = m_strUniqueId.str();
    m_entry.m_flags |= FILER_RECORD_CHANGED;
    m_entry.m_type = IsDlgButtonChecked(IDC_FIBRE_CHANNEL) ? kTypeFibreChannel : kTypeIscsi;
    return true;
}

bool CFilerDetailsDialog::Validate() {
    const UINT missing = m_strHost.IsEmpty() ? IDS_NEED_DNS_NAME : m_strLogin.IsEmpty() ? IDS_NEED_USER_NAME : 0;
    if (!missing) return true;
    MessageBox(LoadStringResource(missing), LoadStringResource(IDS_APPLET_NAME), MB_ICONERROR);
    return false;
}

void CFilerDetailsDialog::OnVerify() {
    if (!SaveControls() || !Validate()) return;
    CString text;
    const HRESULT hr = m_entry.Verify(text);
    MessageBox(text, LoadStringResource(IDS_APPLET_NAME), severity_icon(hr));
}

void CFilerDetailsDialog::OnOkButton() {
    if (!SaveControls() || !Validate()) return;
    CDialog::OnOK();
}

void CFilerDetailsDialog::OnCancelButton() { CDialog::OnCancel(); }
