#pragma once
// Message tables and FormatMessage.
//
// Each module keeps its table as one messages.inc of MSG(id, Name, u"text")
// entries, compiled in and registered under the module's handle (the program's
// own table under GetModuleHandleW(nullptr)). Every text ends with "\r\n", as a
// message compiler makes it. Inserts are typed: a MessageArgs list built by
// make_message_args(...), never a va_list.
#include <cstdint>
#include <span>
#include <string>
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
void register_message_table(HMODULE module, std::span<const MessageTableEntry> entries);

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
DWORD FormatMessageW(DWORD flags, const void* source, DWORD messageId, DWORD languageId, WCHAR* buffer, DWORD size,
                     const platform::MessageArgs* args);
DWORD FormatMessageA(DWORD flags, const void* source, DWORD messageId, DWORD languageId, char* buffer, DWORD size,
                     const platform::MessageArgs* args);
