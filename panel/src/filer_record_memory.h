#pragma once
// Ownership of FILER_RECORDs and CoTaskMem texts on the applet's side.
#include <memory>
#include <string_view>

#include <platform/provider_admin.h>

// Frees the record's strings, then the record.
void free_record(FILER_RECORD* record);

struct RecordFree {
    void operator()(FILER_RECORD* record) const { free_record(record); }
};
using RecordPtr = std::unique_ptr<FILER_RECORD, RecordFree>;

struct CoTaskFree {
    void operator()(void* p) const;
};
using CoTaskText = std::unique_ptr<WCHAR, CoTaskFree>;

// A CoTaskMem copy with its terminator; an empty text is a block holding
// only the terminator. Null when it cannot be allocated.
LPWSTR co_task_string(std::u16string_view text);

// The text of a CoTaskMem string that may be null.
inline std::u16string_view text_of(const WCHAR* text) { return text ? std::u16string_view(text) : std::u16string_view(); }

// The records and array that LoadFilerList handed out, freed on scope exit
// except the records taken.
class ReturnedRecords {
public:
    ReturnedRecords() = default;
    ~ReturnedRecords();
    ReturnedRecords(const ReturnedRecords&) = delete;
    ReturnedRecords& operator=(const ReturnedRecords&) = delete;
    ULONG* count() { return &m_count; }
    FILER_RECORD*** array() { return &m_array; }
    ULONG size() const { return m_array ? m_count : 0; }
    RecordPtr take(ULONG index);

private:
    ULONG m_count = 0;
    FILER_RECORD** m_array = nullptr;
};
