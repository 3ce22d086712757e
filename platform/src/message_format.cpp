#include "message_format.h"

#include <platform/text.h>

#include <algorithm>
#include <charconv>
#include <cctype>
#include <cmath>
#include <cstring>
#include <optional>

namespace {

using platform::MessageArg;
using platform::MessageArgs;

// One parsed !fmt! form: printf flags, width, precision, the integer size
// in bits that the Windows length prefix gives, and the conversion.
struct InsertForm {
    bool left = false, plus = false, space = false, alt = false, zero = false;
    bool widthFromInsert = false, precisionFromInsert = false;
    int width = 0;
    int precision = -1;
    int bits = 32;  // no prefix, "l" and "I32" are 32 bits on Windows
    char conv = 's';
};

bool starts_with(std::string_view s, std::string_view prefix) { return s.substr(0, prefix.size()) == prefix; }

// Windows length prefixes and the integer size each reads.
struct LengthPrefix {
    std::string_view text;
    int bits;
};
constexpr LengthPrefix kLengthPrefixes[] = {
    {"I64", 64}, {"I32", 32}, {"hh", 8}, {"ll", 64}, {"h", 16}, {"l", 32}, {"L", 64},
    {"w", 32},   {"I", 64},   {"z", 64}, {"j", 64},  {"t", 64},
};
constexpr std::string_view kConversions = "diouxXcCsSpeEfFgGaA";
// No field is wider than a message can be; an insert cannot ask for gigabytes.
constexpr int kMaxField = 0xFFFF;

int read_number(std::string_view& s) {
    int v = 0;
    for (; !s.empty() && s.front() >= '0' && s.front() <= '9'; s.remove_prefix(1))
        v = std::min(v * 10 + (s.front() - '0'), kMaxField);
    return v;
}

std::optional<InsertForm> parse_form(std::u16string_view form) {
    std::string ascii;
    for (char16_t c : form) {
        if (c > 0x7F) return std::nullopt;
        ascii.push_back(static_cast<char>(c));
    }
    std::string_view s = ascii;
    InsertForm f;
    for (; !s.empty(); s.remove_prefix(1)) {
        const char c = s.front();
        if (c == '-') f.left = true;
        else if (c == '+') f.plus = true;
        else if (c == ' ') f.space = true;
        else if (c == '#') f.alt = true;
        else if (c == '0') f.zero = true;
        else break;
    }
    if (starts_with(s, "*")) { f.widthFromInsert = true; s.remove_prefix(1); }
    else f.width = read_number(s);
    if (starts_with(s, ".")) {
        s.remove_prefix(1);
        if (starts_with(s, "*")) { f.precisionFromInsert = true; s.remove_prefix(1); }
        else f.precision = read_number(s);
    }
    for (const auto& p : kLengthPrefixes)
        if (starts_with(s, p.text)) {
            f.bits = p.bits;
            s.remove_prefix(p.text.size());
            break;
        }
    if (s.size() != 1 || kConversions.find(s.front()) == std::string_view::npos) return std::nullopt;
    f.conv = s.front();
    return f;
}

const MessageArg* arg_at(const MessageArgs* args, size_t number) {
    if (!args || number == 0 || number > args->items.size()) return nullptr;
    return &args->items[number - 1];
}

const std::u16string* wide_text(const MessageArg& a) { return std::get_if<std::u16string>(&a); }
const std::string* narrow_text(const MessageArg& a) { return std::get_if<std::string>(&a); }
bool is_text(const MessageArg& a) { return wide_text(a) || narrow_text(a); }

std::u16string text_of(const MessageArg& a) {
    if (const auto* w = wide_text(a)) return *w;
    return platform::utf8_to_wide_lossy(*narrow_text(a));
}

// The raw 64 bits of a numeric insert.
uint64_t bits_of(const MessageArg& a) {
    if (const auto* v = std::get_if<int64_t>(&a)) return static_cast<uint64_t>(*v);
    if (const auto* v = std::get_if<uint64_t>(&a)) return *v;
    if (const auto* v = std::get_if<double>(&a)) {
        // Out of range (or NaN) a double has no integer value; clamp rather than overflow.
        if (!(*v > -9.2e18 && *v < 9.2e18)) return *v > 0 ? static_cast<uint64_t>(INT64_MAX) : uint64_t{1} << 63;
        return static_cast<uint64_t>(static_cast<int64_t>(*v));
    }
    if (const auto* v = std::get_if<const void*>(&a)) return reinterpret_cast<uintptr_t>(*v);
    return 0;
}

double double_of(const MessageArg& a) {
    if (const auto* v = std::get_if<double>(&a)) return *v;
    if (const auto* v = std::get_if<uint64_t>(&a)) return static_cast<double>(*v);
    return static_cast<double>(static_cast<int64_t>(bits_of(a)));
}

int field_of(const MessageArg* a) {
    const int64_t v = a && !is_text(*a) ? static_cast<int64_t>(bits_of(*a)) : 0;
    return static_cast<int>(std::clamp<int64_t>(v, -kMaxField, kMaxField));
}

// Width and the zero flag as printf applies them: zeros go after the sign or prefix.
std::u16string pad(const InsertForm& f, std::string_view prefix, std::u16string body, bool zeroAllowed) {
    std::u16string out(prefix.begin(), prefix.end());
    const size_t len = prefix.size() + body.size();
    const size_t fill = f.width > 0 && static_cast<size_t>(f.width) > len ? f.width - len : 0;
    if (f.left) return out + body + std::u16string(fill, u' ');
    if (f.zero && zeroAllowed) return out + std::u16string(fill, u'0') + body;
    return std::u16string(fill, u' ') + out + body;
}

std::u16string widen_ascii(std::string_view s) { return std::u16string(s.begin(), s.end()); }

std::string digits_of(uint64_t v, int base, bool upper) {
    const char* set = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    std::string d;
    do {
        d.insert(d.begin(), set[v % base]);
        v /= base;
    } while (v);
    return d;
}

std::u16string format_integer(const InsertForm& f, const MessageArg& arg) {
    uint64_t raw = bits_of(arg);
    if (f.bits < 64) raw &= (uint64_t{1} << f.bits) - 1;
    const bool isSigned = f.conv == 'd' || f.conv == 'i';
    bool negative = false;
    if (isSigned && f.bits < 64 && (raw >> (f.bits - 1)) & 1) raw |= ~uint64_t{0} << f.bits;
    if (isSigned && static_cast<int64_t>(raw) < 0) {
        negative = true;
        raw = ~raw + 1;
    }
    const int base = f.conv == 'o' ? 8 : (f.conv == 'x' || f.conv == 'X') ? 16 : 10;
    std::string digits = digits_of(raw, base, f.conv == 'X');
    if (f.precision == 0 && raw == 0) digits.clear();
    if (f.precision > 0 && digits.size() < static_cast<size_t>(f.precision))
        digits.insert(0, f.precision - digits.size(), '0');
    std::string prefix;
    if (isSigned) prefix = negative ? "-" : f.plus ? "+" : f.space ? " " : "";
    if (f.alt && f.conv == 'o' && (digits.empty() || digits.front() != '0')) digits.insert(0, "0");
    if (f.alt && raw != 0 && f.conv == 'x') prefix = "0x";
    if (f.alt && raw != 0 && f.conv == 'X') prefix = "0X";
    return pad(f, prefix, widen_ascii(digits), f.precision < 0);
}

std::u16string format_double(const InsertForm& f, double v) {
    const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(f.conv)));
    const auto fmt = c == 'e' ? std::chars_format::scientific
                     : c == 'f' ? std::chars_format::fixed
                     : c == 'g' ? std::chars_format::general
                                : std::chars_format::hex;
    const bool negative = std::signbit(v);
    const double mag = std::fabs(v);
    const int precision = std::min(f.precision < 0 ? 6 : f.precision, 400);
    std::string digits(420 + 320, '\0');
    std::to_chars_result r = (c == 'a' && f.precision < 0)
                                 ? std::to_chars(digits.data(), digits.data() + digits.size(), mag, fmt)
                                 : std::to_chars(digits.data(), digits.data() + digits.size(), mag, fmt, precision);
    digits.resize(r.ec == std::errc() ? static_cast<size_t>(r.ptr - digits.data()) : 0);
    std::string prefix = negative ? "-" : f.plus ? "+" : f.space ? " " : "";
    if (c == 'a') prefix += "0x";
    if (f.conv != c) {
        for (auto& ch : digits) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
        for (auto& ch : prefix) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    }
    return pad(f, prefix, widen_ascii(digits), std::isfinite(v));
}

std::u16string format_char(const InsertForm& f, const MessageArg& arg) {
    const uint64_t v = bits_of(arg);
    const char32_t cp = (v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF)) ? 0xFFFD : static_cast<char32_t>(v);
    std::u16string body;
    if (cp >= 0x10000) {
        body.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
        body.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
    } else if (cp != 0) {
        body.push_back(static_cast<char16_t>(cp));
    }
    return pad(f, "", body, false);
}

std::u16string format_pointer(const InsertForm& f, const MessageArg& arg) {
    std::string digits = digits_of(bits_of(arg), 16, true);
    digits.insert(0, 16 - std::min<size_t>(16, digits.size()), '0');
    return pad(f, "", widen_ascii(digits), false);
}

// A number shown under a string form, or with no form at all.
std::u16string number_as_text(const MessageArg& arg) {
    if (const auto* v = std::get_if<int64_t>(&arg)) return widen_ascii(std::to_string(*v));
    if (const auto* v = std::get_if<uint64_t>(&arg)) return widen_ascii(std::to_string(*v));
    if (const auto* v = std::get_if<double>(&arg)) {
        char buf[64];
        const auto r = std::to_chars(buf, buf + sizeof buf, *v);
        return widen_ascii(std::string_view(buf, r.ec == std::errc() ? r.ptr - buf : 0));
    }
    return format_pointer(InsertForm{}, arg);
}

std::u16string format_string(const InsertForm& f, std::u16string text) {
    if (f.precision >= 0 && text.size() > static_cast<size_t>(f.precision)) {
        size_t cut = f.precision;
        if (cut > 0 && text[cut - 1] >= 0xD800 && text[cut - 1] <= 0xDBFF) --cut;  // keep surrogate pairs whole
        text.resize(cut);
    }
    return pad(f, "", std::move(text), false);
}

std::u16string format_insert(const InsertForm& f, const MessageArg* arg) {
    if (!arg) return format_string(f, u"");
    if (is_text(*arg)) return format_string(f, text_of(*arg));
    switch (f.conv) {
        case 'd': case 'i': case 'o': case 'u': case 'x': case 'X': return format_integer(f, *arg);
        case 'e': case 'E': case 'f': case 'F': case 'g': case 'G': case 'a': case 'A':
            return format_double(f, double_of(*arg));
        case 'c': case 'C': return format_char(f, *arg);
        case 'p': return format_pointer(f, *arg);
        default: return format_string(f, number_as_text(*arg));
    }
}

bool is_digit(char16_t c) { return c >= u'0' && c <= u'9'; }

}  // namespace

namespace platform::detail {

bool expand_message(std::u16string_view text, const MessageArgs* args, ExpandOptions options, std::u16string& out) {
    size_t i = 0;
    while (i < text.size()) {
        const char16_t c = text[i];
        if (c != u'%') {
            if (options.lineBreaksAsBlanks && (c == u'\r' || c == u'\n')) {
                out.push_back(u' ');
                i += (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') ? 2 : 1;
            } else {
                out.push_back(c);
                ++i;
            }
            continue;
        }
        if (i + 1 == text.size()) {
            out.push_back(u'%');
            break;
        }
        const char16_t e = text[i + 1];
        if (e == u'0') return true;  // ends the message, with no line break after it
        if (e == u'n') { out += u"\r\n"; i += 2; continue; }
        if (e == u'r') { out.push_back(u'\r'); i += 2; continue; }
        if (e == u't') { out.push_back(u'\t'); i += 2; continue; }
        if (!is_digit(e)) {
            // %% %. %! and the like give the character; left whole for a later formatting.
            if (options.ignoreInserts) out.push_back(u'%');
            out.push_back(e);
            i += 2;
            continue;
        }
        size_t j = i + 2;
        size_t number = e - u'0';
        if (j < text.size() && is_digit(text[j])) number = number * 10 + (text[j++] - u'0');
        std::u16string_view form = u"s";
        if (j < text.size() && text[j] == u'!') {
            const size_t close = text.find(u'!', j + 1);
            if (close == std::u16string_view::npos || close == j + 1) return false;
            form = text.substr(j + 1, close - j - 1);
            j = close + 1;
        }
        if (options.ignoreInserts) {
            out.append(text.substr(i, j - i));
            i = j;
            continue;
        }
        auto f = parse_form(form);
        if (!f) return false;
        // "*" takes the width, then the precision, from the inserts that follow.
        if (f->widthFromInsert) {
            const int w = field_of(arg_at(args, number++));
            f->left = f->left || w < 0;
            f->width = w < 0 ? -w : w;
        }
        if (f->precisionFromInsert) {
            const int p = field_of(arg_at(args, number++));
            f->precision = p < 0 ? -1 : p;
        }
        out += format_insert(*f, arg_at(args, number));
        i = j;
    }
    return true;
}

}  // namespace platform::detail
