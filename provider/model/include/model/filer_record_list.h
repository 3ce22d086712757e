#pragma once
// The stored appliance list: one per process, loaded from the service's
// Parameters\Filers key on first use and saved after each commit. The
// providers read it at every list pass; the administration class changes it.
#include <model/filer_record.h>
#include <platform/critical_section.h>
#include <platform/provider_admin.h>

#include <map>
#include <memory>
#include <set>
#include <string>

inline constexpr const WCHAR* kFilersKey = u"SYSTEM\\CurrentControlset\\Services\\SanProvD\\Parameters\\Filers";
// At most this many records are read from the registry.
inline constexpr DWORD kMaxFilerRecords = 250;

class filer_record_list {
public:
    filer_record_list();
    ~filer_record_list();
    filer_record_list(const filer_record_list&) = delete;
    filer_record_list& operator=(const filer_record_list&) = delete;

    // Reads the registry into an empty list (S_FALSE when the list already
    // holds records or the Filers key does not exist). A record missing one
    // of its values is skipped and reported once to the event log.
    HRESULT Load();
    // Applies deletions and writes changed records, all in one replacement of
    // the hive. When any record cannot be deleted or written nothing is
    // written, every record keeps its marks and that failure is returned.
    HRESULT Save();
    // A new record marked changed; an empty key gets a new one. Only for keys
    // the list does not hold. A NULL password is "".
    CFilerRecord* Add(const std::u16string& key, const std::u16string& dnsName, const std::u16string& userName,
                      const WCHAR* password, int32_t type);
    void Clear();

    // Every walk of the map and every change of a record in it holds the lock.
    CRITICAL_SECTION m_lock;
    std::map<std::u16string, std::unique_ptr<CFilerRecord>> m_map;

private:
    void ReportIncomplete(const std::u16string& key);
    std::set<std::u16string> m_reportedIncomplete;  // each is reported once per process
};

// The process's list.
filer_record_list& process_filer_record_list();

// Record utilities of the administration interface.
// TRUE when the record must be refused; the reason is traced.
bool IsBadFilerRecReadPtr(const FILER_RECORD* pfr);
// What a commit accepts: as above, except that the type is checked only for a
// record to be added or changed, and a key must be usable as a registry key
// name (at most 254 units, no "\" or "/").
bool IsBadFilerRecForCommit(const FILER_RECORD* pfr);
// Frees the readable strings, then the record when it is readable.
void free_filer_record(FILER_RECORD* pfr);
// A new key: a GUID in text, lower case, no braces; empty when none can be made.
std::u16string new_guid_key();
