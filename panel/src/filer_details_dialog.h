#pragma once
// "Subsystem Credentials": enters or edits one appliance.
#include <ui/afxwin.h>

#include "filer_entry.h"

class CFilerDetailsDialog : public CDialog {
    DECLARE_DYNAMIC(CFilerDetailsDialog)
public:
    explicit CFilerDetailsDialog(const CFilerEntry& entry, CWnd* parent = nullptr);
    const CFilerEntry& GetEntry() const { return m_entry; }

    BOOL OnInitDialog() override;

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    // Controls into the entry; false when a value does not fit its edit.
    bool SaveControls();
    bool Validate();
    void OnVerify();
    void OnOkButton();
    void OnCancelButton();

private:
    CString m_strHost;
    CString m_strLogin;
    CString m_strPassword;
    CString m_strUniqueId;
    CFilerEntry m_entry;

    DECLARE_MESSAGE_MAP()
};
