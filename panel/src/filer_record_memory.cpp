#include "filer_record_memory.h"

#include <algorithm>
#include <utility>

#include <platform/comalloc.h>

void free_record(FILER_RECORD* record) {
    if (!record) return;
    for (LPWSTR text : {record->wszKey, record->wszDnsName, record->wszUserName, record->wszPassword})
        CoTaskMemFree(text);
    CoTaskMemFree(record);
}

void CoTaskFree::operator()(void* p) const { CoTaskMemFree(p); }

LPWSTR co_task_string(std::u16string_view text) {
    auto* copy = static_cast<LPWSTR>(CoTaskMemAlloc((text.size() + 1) * sizeof(WCHAR)));
    if (!copy) return nullptr;
    std::copy(text.begin(), text.end(), copy);
    copy[text.size()] = 0;
    return copy;
}

ReturnedRecords::~ReturnedRecords() {
    for (ULONG i = 0; i < size(); ++i) free_record(m_array[i]);
    CoTaskMemFree(m_array);
}

RecordPtr ReturnedRecords::take(ULONG index) { return RecordPtr(std::exchange(m_array[index], nullptr)); }
