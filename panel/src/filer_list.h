#pragma once
// The applet's copy of the service's appliance list, with the changes made
// since it was loaded kept as flags on the records until they are committed.
#include <map>

#include <ui/afxwin.h>

#include "filer_entry.h"
#include "filer_record_memory.h"

class CFilerList {
public:
    CFilerList();
    ~CFilerList();
    CFilerList(const CFilerList&) = delete;
    CFilerList& operator=(const CFilerList&) = delete;

    HRESULT Load(CString& text);
    HRESULT Commit(CString& text);
    HRESULT Add(const CFilerEntry& entry, ULONG& key, CString& text);
    HRESULT Remove(ULONG key);
    void FreeRecords();

    FILER_RECORD* Find(ULONG key) const;
    const std::map<ULONG, RecordPtr>& Records() const { return m_records; }
    // Records whose key is below the mark are known to the service.
    ULONG Mark() const { return m_mark; }
    static ULONG Counter() { return s_counter; }

private:
    ULONG NextKey() { return s_counter++; }
    void AdvanceMark() { m_mark = s_counter++; }

    std::map<ULONG, RecordPtr> m_records;
    ULONG m_mark = 0;
    static ULONG s_counter;  // one for the process
};
