#pragma once
// Raising a filer API failure: the message-table id with its typed inserts,
// thrown as a COM error whose description is the formatted message text.
#include <hostlib/com_error.h>
#include <res/message_ids.h>

#define FAPI_RAISE(id, ...) RAISE_COM_ERROR(static_cast<HRESULT>(id) __VA_OPT__(, ) __VA_ARGS__)
