#pragma once
// The Subsystems page: the appliances the service manages.
#include <vector>

#include <ui/afxwin.h>

#include "filer_list.h"

// Column widths that fill `clientWidth` by the shown columns' weights.
std::vector<int> ColumnWidths(int clientWidth);

class CFilersPropPage : public CPropertyPage {
    DECLARE_DYNCREATE(CFilersPropPage)
public:
    CFilersPropPage();

    BOOL OnInitDialog() override;
    // Commits the list; a failure is shown and leaves the page modified.
    void SaveList();

    void SetRow(const FILER_RECORD& record, ULONG key, int row);
    void SelectRow(int row);

    CFilerList& List() { return m_filerList; }

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    void OnAdd();
    void OnRemove();
    void OnDetails();
    void OnDblclkList(NMHDR* notify, LRESULT* result);

private:
    // The selected row's key, or false after telling the user to select one.
    bool SelectedKey(int& row, ULONG& key);
    void ShowError(const CString& text);

    CListCtrl m_listCtrl;
    CFilerList m_filerList;

    DECLARE_MESSAGE_MAP()
};
