#include <hostlib/heap_records.h>

#include <platform/memory.h>

void free_heap_record_list(kvx_record_list* list) {
    if (!list || !list->records) return;
    for (DWORD i = 0; i < list->count; ++i)
        for (WCHAR*& text : list->records[i].text)
            if (text) {
                HeapFree(GetProcessHeap(), 0, text);
                text = nullptr;
            }
    list->count = 0;
    HeapFree(GetProcessHeap(), 0, list->records);
    list->records = nullptr;
}

void free_heap_buffer(kvx_buffer* buffer) {
    if (!buffer || !buffer->data) return;
    HeapFree(GetProcessHeap(), 0, buffer->data);
    buffer->data = nullptr;
}
