#include <platform/printf_format.h>

#include <platform/text.h>

#include <algorithm>
#include <charconv>
#include <cctype>
#include <cmath>
#include <cstdint>

namespace platform {
namespace {

// No bounded field is wider than a message can be; an insert cannot ask for gigabytes.
constexpr int kMaxBoundedField = 0xFFFF;
constexpr int kUnboundedDigitsBelow = 100000;

// Length prefixes and the integer size each reads (0: the size stays as it was).
struct LengthPrefix {
    std::u16string_view text;
    int bits;
};
constexpr LengthPrefix kLengthPrefixes[] = {
    {u"I64", 64}, {u"I32", 32}, {u"hh", 8}, {u"ll", 64}, {u"h", 16}, {u"l", 0}, {u"L", 0},
    {u"w", 0},    {u"I", 64},   {u"z", 64}, {u"j", 64},  {u"t", 64},
};

bool is_digit(char16_t c) { return c >= u'0' && c <= u'9'; }

int read_field(std::u16string_view s, size_t& i, const PrintfOptions& o) {
    int v = 0;
    if (o.boundedFields)
        for (; i < s.size() && is_digit(s[i]); ++i) v = std::min(v * 10 + (s[i] - u'0'), kMaxBoundedField);
    else
        for (; i < s.size() && is_digit(s[i]) && v < kUnboundedDigitsBelow; ++i) v = v * 10 + (s[i] - u'0');
    return v;
}

void read_flags(std::u16string_view s, size_t& i, PrintfDirective& d) {
    for (; i < s.size(); ++i) {
        switch (s[i]) {
            case u'-': d.left = true; break;
            case u'+': d.plus = true; break;
            case u' ': d.space = true; break;
            case u'#': d.alt = true; break;
            case u'0': d.zero = true; break;
            default: return;
        }
    }
}

// Reads the directive after '%' at `i`; a single form takes at most one length prefix.
PrintfDirective parse_directive(std::u16string_view s, size_t& i, const PrintfOptions& o, bool singleForm) {
    PrintfDirective d;
    read_flags(s, i, d);
    if (i < s.size() && s[i] == u'*') d.widthFromArg = true, ++i;
    else d.width = read_field(s, i, o);
    if (i < s.size() && s[i] == u'.') {
        ++i;
        if (i < s.size() && s[i] == u'*') d.precisionFromArg = true, ++i;
        else d.precision = read_field(s, i, o);
    }
    for (bool more = true; more;) {
        more = false;
        for (const auto& p : kLengthPrefixes) {
            if (!s.substr(i).starts_with(p.text)) continue;
            if (p.bits) d.bits = p.bits;
            else if (p.text == u"L" && o.capitalLIs64) d.bits = 64;
            i += p.text.size();
            more = !singleForm;
            break;
        }
    }
    if (i < s.size() && s[i] < 0x80) d.conversion = static_cast<char>(s[i++]);
    return d;
}

bool knows(const PrintfOptions& o, char conversion) {
    return conversion != 0 && o.conversions.find(conversion) != std::string_view::npos;
}

const std::u16string* wide_text(const MessageArg* a) { return a ? std::get_if<std::u16string>(a) : nullptr; }
const std::string* narrow_text(const MessageArg* a) { return a ? std::get_if<std::string>(a) : nullptr; }
bool is_text(const MessageArg* a) { return wide_text(a) || narrow_text(a); }

std::u16string text_of(const MessageArg* a) {
    if (const auto* w = wide_text(a)) return *w;
    if (const auto* n = narrow_text(a)) return utf8_to_wide_lossy(*n);
    return {};
}

// The raw 64 bits of a numeric argument; a text or a missing one reads 0.
uint64_t integer_of(const MessageArg* a) {
    if (!a) return 0;
    if (const auto* v = std::get_if<int64_t>(a)) return static_cast<uint64_t>(*v);
    if (const auto* v = std::get_if<uint64_t>(a)) return *v;
    if (const auto* v = std::get_if<double>(a)) {
        // Out of range (or NaN) a double has no integer value; clamp rather than overflow.
        if (!(*v > -9.2e18 && *v < 9.2e18)) return *v > 0 ? static_cast<uint64_t>(INT64_MAX) : uint64_t{1} << 63;
        return static_cast<uint64_t>(static_cast<int64_t>(*v));
    }
    if (const auto* v = std::get_if<const void*>(a)) return reinterpret_cast<uintptr_t>(*v);
    return 0;
}

double double_of(const MessageArg* a, const PrintfOptions& o) {
    if (!a) return 0;
    if (const auto* v = std::get_if<double>(a)) return *v;
    if (const auto* v = std::get_if<uint64_t>(a)) return static_cast<double>(*v);
    if (const auto* v = std::get_if<int64_t>(a)) return static_cast<double>(*v);
    if (std::holds_alternative<const void*>(*a) && o.argumentKeepsItsType)
        return static_cast<double>(static_cast<int64_t>(integer_of(a)));
    return 0;
}

void take_width(PrintfDirective& d, const MessageArg* a, const PrintfOptions& o) {
    const auto v = static_cast<int64_t>(integer_of(a));
    if (o.boundedFields) {
        const int w = static_cast<int>(std::clamp<int64_t>(v, -kMaxBoundedField, kMaxBoundedField));
        d.left = d.left || w < 0;
        d.width = w < 0 ? -w : w;
        return;
    }
    const int w = static_cast<int>(v);
    if (w < -1) d.left = true;  // a negative "*" width means left-justified
    d.width = w == -1 || w == INT_MIN ? 0 : std::abs(w);
}

void take_precision(PrintfDirective& d, const MessageArg* a, const PrintfOptions& o) {
    const auto v = static_cast<int64_t>(integer_of(a));
    const int p = o.boundedFields ? static_cast<int>(std::clamp<int64_t>(v, -kMaxBoundedField, kMaxBoundedField))
                                  : static_cast<int>(v);
    d.precision = p < 0 ? -1 : p;
}

// Width and the zero flag as printf applies them: zeros go after the sign or prefix.
std::u16string pad(const PrintfDirective& d, std::string_view prefix, std::u16string body, bool zeroAllowed) {
    std::u16string out(prefix.begin(), prefix.end());
    const size_t len = prefix.size() + body.size();
    const size_t fill = d.width > 0 && static_cast<size_t>(d.width) > len ? d.width - len : 0;
    if (d.left) return out + body + std::u16string(fill, u' ');
    if (d.zero && zeroAllowed) return out + std::u16string(fill, u'0') + body;
    return std::u16string(fill, u' ') + out + body;
}

std::u16string widen_ascii(std::string_view s) { return std::u16string(s.begin(), s.end()); }

std::string digits_of(uint64_t v, int base, bool upper) {
    const char* set = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    std::string d;
    do {
        d.push_back(set[v % base]);
        v /= base;
    } while (v);
    std::reverse(d.begin(), d.end());
    return d;
}

std::u16string format_integer(const PrintfDirective& d, uint64_t raw) {
    if (d.bits < 64) raw &= (uint64_t{1} << d.bits) - 1;
    const char c = d.conversion;
    const bool isSigned = c == 'd' || c == 'i';
    bool negative = false;
    if (isSigned && d.bits < 64 && (raw >> (d.bits - 1)) & 1) raw |= ~uint64_t{0} << d.bits;
    if (isSigned && static_cast<int64_t>(raw) < 0) {
        negative = true;
        raw = ~raw + 1;
    }
    const int base = c == 'o' ? 8 : (c == 'x' || c == 'X') ? 16 : 10;
    std::string digits = digits_of(raw, base, c == 'X');
    if (d.precision == 0 && raw == 0) digits.clear();
    if (d.precision > 0 && digits.size() < static_cast<size_t>(d.precision))
        digits.insert(0, d.precision - digits.size(), '0');
    std::string prefix;
    if (isSigned) prefix = negative ? "-" : d.plus ? "+" : d.space ? " " : "";
    if (d.alt && c == 'o' && (digits.empty() || digits.front() != '0')) digits.insert(0, "0");
    if (d.alt && raw != 0 && c == 'x') prefix = "0x";
    if (d.alt && raw != 0 && c == 'X') prefix = "0X";
    return pad(d, prefix, widen_ascii(digits), d.precision < 0);
}

std::string chars_of(double mag, std::chars_format fmt, int precision) {
    std::string out(static_cast<size_t>(precision) + 340, '\0');
    const auto r = precision < 0 ? std::to_chars(out.data(), out.data() + out.size(), mag, fmt)
                                 : std::to_chars(out.data(), out.data() + out.size(), mag, fmt, precision);
    out.resize(r.ec == std::errc() ? static_cast<size_t>(r.ptr - out.data()) : 0);
    return out;
}

// "#": e and f keep their point; g keeps its point and trailing zeros.
std::string alt_float_digits(double mag, char c, int precision) {
    std::string digits;
    if (c == 'g') {
        const int p = std::max(precision, 1);
        digits = chars_of(mag, std::chars_format::scientific, p - 1);
        const int exponent = std::atoi(digits.c_str() + digits.find('e') + 1);
        if (exponent >= -4 && exponent < p) digits = chars_of(mag, std::chars_format::fixed, p - 1 - exponent);
    } else {
        digits = chars_of(mag, c == 'e' ? std::chars_format::scientific : std::chars_format::fixed, precision);
    }
    if (digits.find('.') == std::string::npos) digits.insert(std::min(digits.find('e'), digits.size()), ".");
    return digits;
}

std::u16string format_double(const PrintfDirective& d, double v, const PrintfOptions& o) {
    const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(d.conversion)));
    const auto fmt = c == 'e' ? std::chars_format::scientific
                     : c == 'f' ? std::chars_format::fixed
                     : c == 'g' ? std::chars_format::general
                                : std::chars_format::hex;
    const bool negative = std::signbit(v);
    const double mag = std::fabs(v);
    const int precision = std::min(d.precision < 0 ? 6 : d.precision, o.maxFloatPrecision);
    std::string digits = d.alt && o.altFloatForms && c != 'a' && std::isfinite(v) ? alt_float_digits(mag, c, precision)
                         : c == 'a' && d.precision < 0                             ? chars_of(mag, fmt, -1)
                                                                                   : chars_of(mag, fmt, precision);
    std::string prefix = negative ? "-" : d.plus ? "+" : d.space ? " " : "";
    if (c == 'a') prefix += "0x";
    if (d.conversion != c) {
        for (auto& ch : digits) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
        for (auto& ch : prefix) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    }
    return pad(d, prefix, widen_ascii(digits), std::isfinite(v));
}

std::u16string format_char(const PrintfDirective& d, uint64_t v, const PrintfOptions& o) {
    if (!o.unicodeChar) return pad(d, "", std::u16string(1, static_cast<char16_t>(v)), false);
    const char32_t cp = (v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF)) ? 0xFFFD : static_cast<char32_t>(v);
    std::u16string body;
    if (cp >= 0x10000) {
        body.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
        body.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
    } else if (cp != 0) {
        body.push_back(static_cast<char16_t>(cp));
    }
    return pad(d, "", body, false);
}

std::u16string pointer_digits(uint64_t v) {
    std::string digits = digits_of(v, 16, true);
    digits.insert(0, 16 - std::min<size_t>(16, digits.size()), '0');
    return widen_ascii(digits);
}

std::u16string format_pointer(const PrintfDirective& d, uint64_t v, const PrintfOptions& o) {
    return o.paddedPointer ? pad(d, "", pointer_digits(v), false) : pointer_digits(v);
}

// A number shown under a string conversion, by its own type.
std::u16string number_as_text(const MessageArg& arg) {
    if (const auto* v = std::get_if<int64_t>(&arg)) return widen_ascii(std::to_string(*v));
    if (const auto* v = std::get_if<uint64_t>(&arg)) return widen_ascii(std::to_string(*v));
    if (const auto* v = std::get_if<double>(&arg)) {
        char buf[64];
        const auto r = std::to_chars(buf, buf + sizeof buf, *v);
        return widen_ascii(std::string_view(buf, r.ec == std::errc() ? r.ptr - buf : 0));
    }
    return pointer_digits(integer_of(&arg));
}

std::u16string format_text(const PrintfDirective& d, std::u16string text, const PrintfOptions& o) {
    if (d.precision >= 0 && text.size() > static_cast<size_t>(d.precision)) {
        size_t cut = d.precision;
        if (o.wholeSurrogatePairs && cut > 0 && text[cut - 1] >= 0xD800 && text[cut - 1] <= 0xDBFF) --cut;
        text.resize(cut);
    }
    return pad(d, "", std::move(text), false);
}

}  // namespace

std::optional<PrintfDirective> parse_printf_form(std::u16string_view form, const PrintfOptions& options) {
    size_t i = 0;
    const PrintfDirective d = parse_directive(form, i, options, true);
    if (i != form.size() || !knows(options, d.conversion)) return std::nullopt;
    return d;
}

std::u16string format_printf_directive(PrintfDirective d, const MessageArgs* args, size_t& next,
                                       const PrintfOptions& o) {
    auto take = [&]() -> const MessageArg* {
        const size_t at = next++;
        return args && at < args->items.size() ? &args->items[at] : nullptr;
    };
    if (d.widthFromArg) take_width(d, take(), o);
    if (d.precisionFromArg) take_precision(d, take(), o);
    if (!knows(o, d.conversion)) return {};
    const MessageArg* arg = take();
    if (o.argumentKeepsItsType && (!arg || is_text(arg))) return format_text(d, text_of(arg), o);
    switch (d.conversion) {
        case 'd': case 'i': case 'o': case 'u': case 'x': case 'X': return format_integer(d, integer_of(arg));
        case 'e': case 'E': case 'f': case 'F': case 'g': case 'G': case 'a': case 'A':
            return format_double(d, double_of(arg, o), o);
        case 'c': case 'C': return format_char(d, integer_of(arg), o);
        case 'p': return format_pointer(d, integer_of(arg), o);
        default: return format_text(d, o.argumentKeepsItsType ? number_as_text(*arg) : text_of(arg), o);
    }
}

std::u16string format_printf(std::u16string_view format, const MessageArgs& args, size_t maxChars,
                             const PrintfOptions& options) {
    std::u16string out;
    size_t next = 0;
    for (size_t i = 0; i < format.size() && out.size() < maxChars;) {
        if (format[i] != u'%') {
            out.push_back(format[i++]);
            continue;
        }
        if (i + 1 < format.size() && format[i + 1] == u'%') {
            out.push_back(u'%');
            i += 2;
            continue;
        }
        ++i;
        out += format_printf_directive(parse_directive(format, i, options, false), &args, next, options);
    }
    if (out.size() > maxChars) out.resize(maxChars);
    return out;
}

}  // namespace platform
