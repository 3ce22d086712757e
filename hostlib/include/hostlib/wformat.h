#pragma once
// The wide printf family over typed arguments: a platform::MessageArgs list in
// place of a va_list, with the conversions and integer sizes of
// platform::format_printf. Output is at most maxChars.
#include <string>
#include <string_view>

#include <platform/message.h>
#include <platform/printf_format.h>

namespace hostlib {

inline std::u16string format_wide(std::u16string_view format, const platform::MessageArgs& args,
                                  size_t maxChars = static_cast<size_t>(-1)) {
    return platform::format_printf(format, args, maxChars);
}

template <typename... T>
std::u16string wsprintf_typed(std::u16string_view format, const T&... args) {
    return format_wide(format, platform::make_message_args(args...));
}

}  // namespace hostlib
