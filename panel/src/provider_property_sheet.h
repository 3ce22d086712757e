#pragma once
// The applet's property sheet: the Subsystems and Version pages.
#include <memory>

#include <ui/afxwin.h>

#include "filers_prop_page.h"
#include "version_prop_page.h"

class CProviderPropertySheet : public CPropertySheet {
public:
    CProviderPropertySheet();
    ~CProviderPropertySheet() override;

    BOOL OnInitDialog() override;
    CFilersPropPage* FilersPage() const { return m_pFilersPage.get(); }

protected:
    void OnApplyNow();
    void OnOK();

private:
    // Saves the Subsystems page when the sheet has one.
    void SaveFilers();

    std::unique_ptr<CFilersPropPage> m_pFilersPage;
    std::unique_ptr<CVersionPropPage> m_pVersionPage;

    DECLARE_MESSAGE_MAP()
};
