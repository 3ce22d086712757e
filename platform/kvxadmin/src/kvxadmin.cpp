// The administration library of this platform. The maker's library carries
// these requests to the appliance by its own protocol, which exists only on
// Windows; here every entry answers "not implemented" and touches no output,
// so the filer API raises that status instead of reading an empty answer.
#include <platform/kvxadmin.h>
#include <platform/errors.h>

#define KVX_EXPORT extern "C" __attribute__((visibility("default")))

KVX_EXPORT DWORD KvxNetGetSnapInfo(const WCHAR*, const WCHAR*, BYTE*, ULONGLONG*, ULONGLONG*, ULONGLONG*) {
    return KVX_STATUS_NOT_IMPLEMENTED;
}
KVX_EXPORT DWORD KvxNetLUNGetAttribute(const WCHAR*, const WCHAR*, const WCHAR*, kvx_record_list*) {
    return KVX_STATUS_NOT_IMPLEMENTED;
}
KVX_EXPORT DWORD KvxNetLUNSetAttribute(const WCHAR*, const WCHAR*, const WCHAR*, const WCHAR*) {
    return KVX_STATUS_NOT_IMPLEMENTED;
}
KVX_EXPORT DWORD KvxNetLUNMaxSize(const WCHAR*, const WCHAR*, const LONG*, ULONGLONG*) {
    return KVX_STATUS_NOT_IMPLEMENTED;
}
KVX_EXPORT DWORD KvxNetEMSDorv(const WCHAR*, DWORD, const WCHAR*, const WCHAR*, const WCHAR*, const WCHAR*, LONG, BYTE) {
    return KVX_STATUS_NOT_IMPLEMENTED;
}
KVX_EXPORT DWORD KvxNetFileRestore(const WCHAR*, const WCHAR*, const WCHAR*, const WCHAR*) {
    return KVX_STATUS_NOT_IMPLEMENTED;
}
KVX_EXPORT DWORD KvxNetLUNWopaStatus(const WCHAR*, const WCHAR*, LONG*) { return KVX_STATUS_NOT_IMPLEMENTED; }
KVX_EXPORT DWORD KvxNetLUNFileType(const WCHAR*, const WCHAR*, LONG*) { return KVX_STATUS_NOT_IMPLEMENTED; }
KVX_EXPORT DWORD KvxNetLUNSize(const WCHAR*, const WCHAR*, ULONGLONG*) { return KVX_STATUS_NOT_IMPLEMENTED; }
KVX_EXPORT DWORD KvxNetLUNRawRead(const WCHAR*, const WCHAR*, const ULONGLONG*, const DWORD*, kvx_buffer*) {
    return KVX_STATUS_NOT_IMPLEMENTED;
}
KVX_EXPORT DWORD KvxNetLUNRawWrite(const WCHAR*, const WCHAR*, const ULONGLONG*, const DWORD*, const BYTE*) {
    return KVX_STATUS_NOT_IMPLEMENTED;
}
KVX_EXPORT DWORD KvxNetLUNInitiatorLoggedIn(const WCHAR*, const WCHAR*, LONG*) { return KVX_STATUS_NOT_IMPLEMENTED; }
KVX_EXPORT DWORD KvxNetLUNReverseMap(const WCHAR*, const WCHAR*, const DWORD*, kvx_record_list*) {
    return KVX_STATUS_NOT_IMPLEMENTED;
}
KVX_EXPORT DWORD KvxNetLUNHasReservations(const WCHAR*, const WCHAR*, LONG*) { return KVX_STATUS_NOT_IMPLEMENTED; }

// The client's administration-library transport: no reply, and an error code
// that the client turns into a failed reply ("RPC Error - ...", 13011).
KVX_EXPORT DWORD FapiInvoke(const WCHAR*, const WCHAR*, WCHAR** reply) {
    if (reply) *reply = nullptr;
    return ERROR_NOT_SUPPORTED;
}
