#pragma once
// The error convention: inside the filer API and the SAN model a failure
// travels as a thrown _com_error whose error information describes it with the
// message text of its HRESULT; every COM boundary catches it and hands it to
// its caller with set_error_info_from.
#include <platform/com_error.h>
#include <platform/guid.h>
#include <platform/message.h>

// Raises `hr` with its message text, formatted with the inserts ("%1" a wide
// string, "%3!d!" an integer, in order), as a _com_error. The source file and
// line name the raising site for diagnostics only. A code of 0 raises E_FAIL:
// a failure path never reaches a COM caller as success.
[[noreturn]] void raise_com_error_args(const WCHAR* file, int line, HRESULT hr, const platform::MessageArgs& inserts);

template <typename... T>
[[noreturn]] void raise_com_error(const WCHAR* file, int line, HRESULT hr, const T&... inserts) {
    raise_com_error_args(file, line, hr, platform::make_message_args(inserts...));
}

#define RAISE_COM_ERROR(hr, ...) raise_com_error(u"" __FILE__, __LINE__, (hr)__VA_OPT__(, ) __VA_ARGS__)

// Makes a message of the table, with its inserts, the calling thread's error
// information: a failure that is returned rather than raised still tells its
// caller what failed and where, as the event it was reported with does.
void set_error_info_message_args(DWORD messageId, const platform::MessageArgs& inserts);

template <typename... T>
void set_error_info_message(DWORD messageId, const T&... inserts) {
    set_error_info_message_args(messageId, platform::make_message_args(inserts...));
}

// The message text of an HRESULT with its inserts, chosen by its facility bits:
// 7 the Win32 table (by the low 16 bits), 0xFFF the iSCSI discovery table,
// 0x1000 the NT status table (bit 28 cleared), anything else the program's own
// table. Without a text: "Error 0x%x occured. Description is not found." with
// the id looked up. The caller frees `*text` with LocalFree. Returns its length.
DWORD get_message_text(HRESULT hr, WCHAR** text, const platform::MessageArgs* inserts);

// Makes the error's error information the calling thread's COM error
// information (filling an empty GUID with `iid` and an empty source with the
// ProgID of `clsid`) and returns its HRESULT. Never throws.
HRESULT set_error_info_from(REFCLSID clsid, REFIID iid, const _com_error& error);

// The error module's assertion hook: a false condition writes one assertion
// line naming the error module itself; the caller's file and line are not shown.
void ReportAssertion(const char* file, int line, bool condition);

// The host library's debug-message hooks. They produce no output in this program.
template <typename... T>
void debug_print(const WCHAR* /*format*/, const WCHAR* /*file*/, int /*line*/, const T&... /*inserts*/) {}
template <typename... T>
void debug_print_ex(const void* /*context*/, const WCHAR* /*format*/, const WCHAR* /*file*/, int /*line*/,
                    const T&... /*inserts*/) {}
