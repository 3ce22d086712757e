#include "provider_property_sheet.h"

#include <new>

#include "admin_client.h"
#include "resource.h"

BEGIN_MESSAGE_MAP(CProviderPropertySheet, CPropertySheet)
ON_COMMAND(ID_APPLY_NOW, &CProviderPropertySheet::OnApplyNow)
ON_COMMAND(IDOK, &CProviderPropertySheet::OnOK)
END_MESSAGE_MAP()

CProviderPropertySheet::CProviderPropertySheet()
    : CPropertySheet(LoadStringResource(IDS_SHEET_CAPTION), nullptr, 0),
      m_pFilersPage(new (std::nothrow) CFilersPropPage),
      m_pVersionPage(new (std::nothrow) CVersionPropPage) {
    if (m_pFilersPage) AddPage(m_pFilersPage.get());
    if (m_pVersionPage) AddPage(m_pVersionPage.get());
}

CProviderPropertySheet::~CProviderPropertySheet() = default;

BOOL CProviderPropertySheet::OnInitDialog() {
    const BOOL result = CPropertySheet::OnInitDialog();
    SetIcon(LoadIconW(AfxGetResourceHandle(), IDI_APPLET), FALSE);
    return result;
}

void CProviderPropertySheet::SaveFilers() {
    if (m_pFilersPage) m_pFilersPage->SaveList();
}

void CProviderPropertySheet::OnApplyNow() { SaveFilers(); }

void CProviderPropertySheet::OnOK() {
    SaveFilers();  // a failure has been shown; the sheet closes all the same
    EndDialog(IDOK);
}
