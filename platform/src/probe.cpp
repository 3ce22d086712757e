#include <platform/probe.h>

BOOL IsBadReadPtr(const void* pointer, ULONG_PTR bytes) { return bytes != 0 && pointer == nullptr; }

BOOL IsBadWritePtr(void* pointer, ULONG_PTR bytes) { return bytes != 0 && pointer == nullptr; }

BOOL IsBadStringPtrW(const WCHAR* text, ULONG_PTR /*maxChars*/) { return text == nullptr; }

RPC_STATUS UuidCreateNil(UUID* uuid) {
    if (!uuid) return RPC_S_INVALID_ARG_VALUE;
    *uuid = GUID{};
    return RPC_S_OK;
}
