// FormatMessageW / FormatMessageA: choose the message, expand it, hand it out
// with the Windows buffer rules.
#include "message_format.h"
#include "message_table.h"

#include <platform/errors.h>
#include <platform/library.h>
#include <platform/memory.h>
#include <platform/message.h>
#include <platform/text.h>

#include <algorithm>
#include <cstring>
#include <optional>

namespace {

constexpr DWORD kSourceFlags = FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_FROM_SYSTEM;

// The message text the flags select; nullopt with `error` set when there is none.
std::optional<std::u16string_view> select_message(DWORD flags, const void* source, DWORD id, DWORD& error) {
    std::optional<std::u16string_view> text;
    error = ERROR_MR_MID_NOT_FOUND;
    if (flags & FORMAT_MESSAGE_FROM_HMODULE) {
        const auto module = source ? static_cast<HMODULE>(const_cast<void*>(source)) : GetModuleHandleW(nullptr);
        text = platform::detail::find_module_message(module, id, error);
    }
    if (!text && (flags & FORMAT_MESSAGE_FROM_SYSTEM)) {
        text = platform::detail::find_system_message(id);
        error = ERROR_MR_MID_NOT_FOUND;
    }
    return text;
}

// The formatted message in wide text; `fromString` is the FROM_STRING source.
std::optional<std::u16string> format_wide(DWORD flags, std::optional<std::u16string_view> fromString,
                                          const void* source, DWORD id, const platform::MessageArgs* args) {
    const DWORD from = flags & kSourceFlags;
    const bool fromStringOnly = from == FORMAT_MESSAGE_FROM_STRING;
    if (from == 0 || ((from & FORMAT_MESSAGE_FROM_STRING) && !fromStringOnly) || (fromStringOnly && !fromString)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return std::nullopt;
    }
    std::optional<std::u16string_view> text = fromString;
    if (!fromStringOnly) {
        DWORD error = 0;
        text = select_message(flags, source, id, error);
        if (!text) {
            SetLastError(error);
            return std::nullopt;
        }
    }
    const platform::detail::ExpandOptions options{
        .ignoreInserts = (flags & FORMAT_MESSAGE_IGNORE_INSERTS) != 0,
        .lineBreaksAsBlanks = (flags & FORMAT_MESSAGE_MAX_WIDTH_MASK) == FORMAT_MESSAGE_MAX_WIDTH_MASK,
    };
    std::u16string out;
    if (!platform::detail::expand_message(*text, args, options, out)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return std::nullopt;
    }
    return out;
}

// Hands the text out: into the caller's buffer of `size` characters, or, with
// ALLOCATE_BUFFER, into a LocalAlloc block of at least `size` characters whose
// address goes to *(Char**)buffer (which the caller has already cleared, so a
// failure leaves nothing to free).
template <typename Char>
DWORD deliver(DWORD flags, const std::basic_string<Char>& text, Char* buffer, DWORD size) {
    const size_t needed = text.size() + 1;
    Char* target = buffer;
    if (flags & FORMAT_MESSAGE_ALLOCATE_BUFFER) {
        if (!buffer) { SetLastError(ERROR_INVALID_PARAMETER); return 0; }
        auto** out = reinterpret_cast<Char**>(buffer);
        target = static_cast<Char*>(LocalAlloc(LMEM_FIXED, std::max<size_t>(needed, size) * sizeof(Char)));
        if (!target) { SetLastError(ERROR_NOT_ENOUGH_MEMORY); return 0; }
        *out = target;
    } else if (needed > size) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    } else if (!buffer) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::memcpy(target, text.c_str(), needed * sizeof(Char));
    return static_cast<DWORD>(text.size());
}

}  // namespace

DWORD FormatMessageW(DWORD flags, const void* source, DWORD messageId, DWORD, WCHAR* buffer, DWORD size,
                     const platform::MessageArgs* args) {
    std::optional<std::u16string_view> fromString;
    if (source && (flags & FORMAT_MESSAGE_FROM_STRING)) fromString = static_cast<const WCHAR*>(source);
    if ((flags & FORMAT_MESSAGE_ALLOCATE_BUFFER) && buffer) *reinterpret_cast<WCHAR**>(buffer) = nullptr;
    const auto text = format_wide(flags, fromString, source, messageId, args);
    return text ? deliver(flags, *text, buffer, size) : 0;
}

DWORD FormatMessageA(DWORD flags, const void* source, DWORD messageId, DWORD, char* buffer, DWORD size,
                     const platform::MessageArgs* args) {
    std::optional<std::u16string> wideSource;
    if (source && (flags & FORMAT_MESSAGE_FROM_STRING))
        wideSource = platform::utf8_to_wide_lossy(static_cast<const char*>(source));
    if ((flags & FORMAT_MESSAGE_ALLOCATE_BUFFER) && buffer) *reinterpret_cast<char**>(buffer) = nullptr;
    const auto text = format_wide(flags, wideSource, source, messageId, args);
    return text ? deliver(flags, platform::wide_to_utf8_lossy(*text), buffer, size) : 0;
}
