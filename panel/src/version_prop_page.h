#pragma once
// The Version page: the provider's name and version.
#include <ui/afxwin.h>

class CVersionPropPage : public CPropertyPage {
    DECLARE_DYNCREATE(CVersionPropPage)
public:
    CVersionPropPage();
    BOOL OnInitDialog() override;

protected:
    void DoDataExchange(CDataExchange* pDX) override;

private:
    CString m_strName;
    CString m_strVersion;

    DECLARE_MESSAGE_MAP()
};
