#pragma once
// The entry points of the appliance maker's administration library
// ("kvxadmin.dll"), loaded by name. Every call takes the appliance name first,
// then its arguments as wide texts (an absent one as null), and returns a
// status: 0 for success. Record lists and data blocks it hands out come from
// the process heap and are freed with free_heap_record_list and free_heap_buffer.
#include <platform/types.h>

// One record: three texts.
struct kvx_record {
    WCHAR* text[3];
};

struct kvx_record_list {
    DWORD count;
    kvx_record* records;
};

struct kvx_buffer {
    DWORD byteCount;
    BYTE* data;
};

// Statuses with a meaning for the caller.
inline constexpr DWORD KVX_STATUS_SUCCESS = 0;
inline constexpr DWORD KVX_STATUS_UNSUCCESSFUL = 0xC0000001;     // a file restore did not start
inline constexpr DWORD KVX_STATUS_NOT_IMPLEMENTED = 0xC0000002;  // the in-tree library's answer to everything
inline constexpr DWORD KVX_STATUS_INVALID_PARAMETER = 0xC000000D;  // the LUN has no such attribute

extern "C" {
using KvxNetGetSnapInfo_fn = DWORD (*)(const WCHAR* filer, const WCHAR* path, BYTE* id16, ULONGLONG* value1,
                                       ULONGLONG* value2, ULONGLONG* value3);
using KvxNetLUNGetAttribute_fn = DWORD (*)(const WCHAR* filer, const WCHAR* path, const WCHAR* name,
                                           kvx_record_list* records);
using KvxNetLUNSetAttribute_fn = DWORD (*)(const WCHAR* filer, const WCHAR* path, const WCHAR* name,
                                           const WCHAR* value);
using KvxNetLUNMaxSize_fn = DWORD (*)(const WCHAR* filer, const WCHAR* path, const LONG* with_snapshot_reserve,
                                      ULONGLONG* size);
using KvxNetEMSDorv_fn = DWORD (*)(const WCHAR* filer, DWORD event_id, const WCHAR* event_source,
                                   const WCHAR* app_version, const WCHAR* category, const WCHAR* description,
                                   LONG log_level, BYTE send_support_report);
using KvxNetFileRestore_fn = DWORD (*)(const WCHAR* filer, const WCHAR* path, const WCHAR* snapshot,
                                       const WCHAR* restore_path);
using KvxNetLUNWopaStatus_fn = DWORD (*)(const WCHAR* filer, const WCHAR* path, LONG* running);
using KvxNetLUNFileType_fn = DWORD (*)(const WCHAR* filer, const WCHAR* path, LONG* type);
using KvxNetLUNSize_fn = DWORD (*)(const WCHAR* filer, const WCHAR* path, ULONGLONG* size);
using KvxNetLUNRawRead_fn = DWORD (*)(const WCHAR* filer, const WCHAR* path, const ULONGLONG* offset,
                                      const DWORD* length, kvx_buffer* block);
using KvxNetLUNRawWrite_fn = DWORD (*)(const WCHAR* filer, const WCHAR* path, const ULONGLONG* offset,
                                       const DWORD* length, const BYTE* data);
using KvxNetLUNInitiatorLoggedIn_fn = DWORD (*)(const WCHAR* filer, const WCHAR* initiator, LONG* logged_in);
using KvxNetLUNReverseMap_fn = DWORD (*)(const WCHAR* filer, const WCHAR* initiator, const DWORD* lun_id,
                                         kvx_record_list* records);
using KvxNetLUNHasReservations_fn = DWORD (*)(const WCHAR* filer, const WCHAR* path, LONG* held);
// The management-API request entry of the client's administration-library
// transport: 0 with a reply the caller frees with LocalFree, or a Windows error code.
using FapiInvoke_fn = DWORD (*)(const WCHAR* host, const WCHAR* request, WCHAR** reply);
}
