#pragma once
// printf-style formatting of a wide format with typed arguments: the
// counterpart of the wide printf family, taking a platform::MessageArgs list in
// place of a va_list. Conversions: d i u o x X c C s S p e E f g G %, with flags,
// width and precision ("*" takes an argument). Integer size follows the length
// modifier as on Windows: none and "l" 32 bits, "h" 16, "hh" 8, "ll", "I64",
// "j", "z", "t" 64. "s" and "S" take any string argument (wide or UTF-8).
// A missing argument reads as 0 or an empty text; output is at most maxChars.
#include <string>
#include <string_view>

#include <platform/message.h>

namespace hostlib {

std::u16string format_wide(std::u16string_view format, const platform::MessageArgs& args,
                           size_t maxChars = static_cast<size_t>(-1));

template <typename... T>
std::u16string wsprintf_typed(std::u16string_view format, const T&... args) {
    return format_wide(format, platform::make_message_args(args...));
}

}  // namespace hostlib
