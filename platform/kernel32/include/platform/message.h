#pragma once
// Message tables and FormatMessage.
//
// Each module keeps its table as one messages.inc of MSG(id, Name, u"text")
// entries, compiled in and registered under the module's handle (the program's
// own table under GetModuleHandleW(nullptr)). Every text ends with "\r\n", as a
// message compiler makes it. Inserts are typed: a MessageArgs list built by
// make_message_args(...), never a va_list. A module builds its table as
//   constexpr MessageTableEntry kMessages[] = {
//   #define MSG(id, name, text) {id, #name, text},
//   #include "messages.inc"
//   #undef MSG
//   };
// and registers it with register_message_table.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>
#include <vector>

#include <platform/types.h>

struct MessageTableEntry {
    DWORD id;
    const char* name;
    const char16_t* text;
};

namespace platform {

using MessageArg = std::variant<int64_t, uint64_t, double, std::u16string, std::string, const void*>;

struct MessageArgs {
    std::vector<MessageArg> items;
};

namespace detail {
inline MessageArg to_message_arg(const char16_t* s) { return std::u16string(s ? s : u""); }
inline MessageArg to_message_arg(const std::u16string& s) { return s; }
inline MessageArg to_message_arg(std::u16string_view s) { return std::u16string(s); }
inline MessageArg to_message_arg(const char* s) { return std::string(s ? s : ""); }
inline MessageArg to_message_arg(const std::string& s) { return s; }
inline MessageArg to_message_arg(std::string_view s) { return std::string(s); }
inline MessageArg to_message_arg(double v) { return v; }
inline MessageArg to_message_arg(const void* p) { return p; }
template <typename T>
    requires std::is_integral_v<T>
MessageArg to_message_arg(T v) {
    if constexpr (std::is_signed_v<T>) return static_cast<int64_t>(v);
    else return static_cast<uint64_t>(v);
}
}  // namespace detail

template <typename... T>
MessageArgs make_message_args(const T&... values) {
    return MessageArgs{{detail::to_message_arg(values)...}};
}

// Registers (or replaces) the table of a module. Tables are looked up by id.
// The entries are not copied: they must outlive the registration (tables are
// static arrays). An empty table removes the module's registration, as the
// loader does when it unloads a library.
void register_message_table(HMODULE module, std::span<const MessageTableEntry> entries);

// The system's message tables, named by the library that holds each on Windows:
// "kernel32.dll" (Win32 and Windows Sockets errors, common COM HRESULTs; the one
// FORMAT_MESSAGE_FROM_SYSTEM searches), "ntdll.dll" (NT status) and
// "iscsidsc.dll" (iSCSI discovery). Names compare case-insensitively, ".dll"
// may be left out.
//
// system_message_module gives a handle that FORMAT_MESSAGE_FROM_HMODULE reads
// the table from: what LoadLibrary returns for the libraries that exist here
// only as message tables (kernel32, ntdll). For a library that is a real shared
// library here (iscsidsc), the loader registers system_message_table under the
// handle it returns. Both give nothing (nullptr, empty) for other names.
HMODULE system_message_module(std::u16string_view libraryName);
std::span<const MessageTableEntry> system_message_table(std::u16string_view libraryName);

}  // namespace platform

constexpr DWORD FORMAT_MESSAGE_ALLOCATE_BUFFER = 0x00000100;
constexpr DWORD FORMAT_MESSAGE_IGNORE_INSERTS = 0x00000200;
constexpr DWORD FORMAT_MESSAGE_FROM_STRING = 0x00000400;
constexpr DWORD FORMAT_MESSAGE_FROM_HMODULE = 0x00000800;
constexpr DWORD FORMAT_MESSAGE_FROM_SYSTEM = 0x00001000;
constexpr DWORD FORMAT_MESSAGE_ARGUMENT_ARRAY = 0x00002000;
constexpr DWORD FORMAT_MESSAGE_MAX_WIDTH_MASK = 0x000000FF;

// As the Windows call, with typed inserts in place of the va_list. With
// FORMAT_MESSAGE_ALLOCATE_BUFFER, `buffer` is really a WCHAR** and the text is
// freed with LocalFree. Returns the characters written without the NUL, or 0
// with the last error set (317 ERROR_MR_MID_NOT_FOUND for an unknown id).
//
// FROM_HMODULE with a null source reads the program's own table. The language
// is not checked: every table is English. Inserts are typed, so an insert is
// shown by its own type whatever its !fmt! says: a string shows as its text
// (with the form's width and precision), a number by the form (under a string
// form, in decimal); integer forms keep the Windows sizes (no prefix and "l" are
// 32 bits, "I64"/"ll" 64). An insert beyond the list reads as empty. Of the
// widths, only FORMAT_MESSAGE_MAX_WIDTH_MASK (line breaks of the text become
// blanks) is applied; other widths leave lines as they are.
// FormatMessageA is FormatMessageW in UTF-8 (the ANSI code page): a FROM_STRING
// source is UTF-8, the sizes count bytes.
DWORD FormatMessageW(DWORD flags, const void* source, DWORD messageId, DWORD languageId, WCHAR* buffer, DWORD size,
                     const platform::MessageArgs* args);
DWORD FormatMessageA(DWORD flags, const void* source, DWORD messageId, DWORD languageId, char* buffer, DWORD size,
                     const platform::MessageArgs* args);
