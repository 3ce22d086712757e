#pragma once
// printf-style directives over typed arguments: the wide printf family with a
// MessageArgs list in place of a va_list, and the !fmt! forms of message inserts.
// Both read "%[flags][width][.precision][length]conversion" with the flags
// "-+ #0", "*" for a width or precision taken from the arguments, and the
// Windows integer sizes: none, "l", "w" and "I32" 32 bits, "h" 16, "hh" 8,
// "ll", "I64", "I", "j", "z", "t" 64. The two differ where an argument does not
// suit its conversion and in how far a field may reach; PrintfOptions names each
// difference, and kPrintfOptions and kMessageInsertOptions are the two sets.
#include <climits>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include <platform/message.h>

namespace platform {

struct PrintfOptions {
    // Conversions that format. printf prints nothing for another character; a
    // message form ending in one is malformed.
    std::string_view conversions = "diouxXcCsSpeEfgG";
    // "L" reads 64 bits (message forms); printf leaves the size as it was.
    bool capitalLIs64 = false;
    // Widths and precisions, written or from "*", saturate at 0xFFFF and a "*"
    // width of -1 is width 1 left-justified. Otherwise written digits are read
    // while the value is below 100000, a "*" argument is cut to an int, and a
    // "*" width of -1 means no width.
    bool boundedFields = false;
    // An argument is shown by its own type: a text under a numeric conversion as
    // its text, a number under %s as its value, a missing one as empty, a pointer
    // under a float conversion as its value. Otherwise each argument is read as
    // its conversion asks: a text reads as 0, a number under %s as empty, a
    // pointer under a float conversion as 0, a missing argument as 0 or empty.
    bool argumentKeepsItsType = false;
    // %c takes a code point (U+FFFD when invalid, a surrogate pair above U+FFFF,
    // nothing for 0); otherwise the low 16 bits as one unit, 0 included.
    bool unicodeChar = false;
    // %p applies the width and "-"; otherwise it is always 16 digits.
    bool paddedPointer = false;
    // A %s precision never splits a surrogate pair.
    bool wholeSurrogatePairs = false;
    // "#" keeps the point (and %g's trailing zeros) of e, f and g.
    bool altFloatForms = true;
    int maxFloatPrecision = INT_MAX;
};

inline constexpr PrintfOptions kPrintfOptions{};
inline constexpr PrintfOptions kMessageInsertOptions{
    .conversions = "diouxXcCsSpeEfFgGaA",
    .capitalLIs64 = true,
    .boundedFields = true,
    .argumentKeepsItsType = true,
    .unicodeChar = true,
    .paddedPointer = true,
    .wholeSurrogatePairs = true,
    .altFloatForms = false,
    .maxFloatPrecision = 400,
};

struct PrintfDirective {
    bool left = false, plus = false, space = false, alt = false, zero = false;
    bool widthFromArg = false, precisionFromArg = false;
    int width = 0;  // 0: none
    int precision = -1;
    int bits = 32;
    char conversion = 0;
};

// `form` is one whole directive without its '%' (a message insert's !fmt!): at
// most one length prefix and a conversion of options.conversions, ASCII only.
// Gives nothing for anything else.
std::optional<PrintfDirective> parse_printf_form(std::u16string_view form, const PrintfOptions& options);

// Formats one directive, taking its "*" fields and then its value from `args`
// (which may be null) at `next`, which it advances past each one taken.
std::u16string format_printf_directive(PrintfDirective directive, const MessageArgs* args, size_t& next,
                                       const PrintfOptions& options);

// The wide sprintf: "%%" gives '%', directives take the arguments in order; a
// directive cut short or with an unknown conversion prints nothing. The result
// holds at most maxChars characters.
std::u16string format_printf(std::u16string_view format, const MessageArgs& args,
                             size_t maxChars = static_cast<size_t>(-1),
                             const PrintfOptions& options = kPrintfOptions);

}  // namespace platform
