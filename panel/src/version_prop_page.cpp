#include "version_prop_page.h"

#include "admin_client.h"
#include "resource.h"

IMPLEMENT_DYNCREATE(CVersionPropPage, CPropertyPage)

BEGIN_MESSAGE_MAP(CVersionPropPage, CPropertyPage)
END_MESSAGE_MAP()

CVersionPropPage::CVersionPropPage() : CPropertyPage(IDD_VERSION) {}

void CVersionPropPage::DoDataExchange(CDataExchange* pDX) {
    CPropertyPage::DoDataExchange(pDX);
    DDX_Text(pDX, IDC_VERSION_NAME, m_strName);
    DDX_Text(pDX, IDC_VERSION_NUMBER, m_strVersion);
}

BOOL CVersionPropPage::OnInitDialog() {
    m_strName = LoadStringResource(IDS_APPLET_NAME);
    m_strVersion = CString(u"1.0");
    return CPropertyPage::OnInitDialog();
}
