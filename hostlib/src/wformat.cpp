#include <hostlib/wformat.h>

#include <platform/text.h>

#include <cstdio>
#include <type_traits>

namespace hostlib {
namespace {

struct Directive {
    std::string flags;
    int width = -1;
    int precision = -1;
    int bits = 32;  // integer size from the length modifier
    char conversion = 0;
};

class ArgReader {
public:
    explicit ArgReader(const platform::MessageArgs& args) : m_args(args) {}

    const platform::MessageArg* next() { return m_next < m_args.items.size() ? &m_args.items[m_next++] : nullptr; }

    int64_t next_integer() {
        const auto* a = next();
        if (!a) return 0;
        return std::visit(
            [](const auto& v) -> int64_t {
                using V = std::decay_t<decltype(v)>;
                if constexpr (std::is_same_v<V, int64_t> || std::is_same_v<V, uint64_t>) return static_cast<int64_t>(v);
                else if constexpr (std::is_same_v<V, double>) return static_cast<int64_t>(v);
                else if constexpr (std::is_same_v<V, const void*>) return static_cast<int64_t>(reinterpret_cast<intptr_t>(v));
                else return 0;
            },
            *a);
    }

    double next_double() {
        const auto* a = next();
        if (!a) return 0.0;
        return std::visit(
            [](const auto& v) -> double {
                using V = std::decay_t<decltype(v)>;
                if constexpr (std::is_arithmetic_v<V>) return static_cast<double>(v);
                else return 0.0;
            },
            *a);
    }

    std::u16string next_text() {
        const auto* a = next();
        if (!a) return {};
        if (const auto* w = std::get_if<std::u16string>(a)) return *w;
        if (const auto* n = std::get_if<std::string>(a)) return platform::utf8_to_wide_lossy(*n);
        return {};
    }

private:
    const platform::MessageArgs& m_args;
    size_t m_next = 0;
};

// Reads "%[flags][width][.precision][length]conversion" after the '%'.
size_t parse_directive(std::u16string_view f, size_t i, ArgReader& args, Directive& directive) {
    while (i < f.size() && std::u16string_view(u"-+ #0").find(f[i]) != std::u16string_view::npos)
        directive.flags.push_back(static_cast<char>(f[i++]));
    auto number = [&](int& out) {
        if (i < f.size() && f[i] == u'*') {
            out = static_cast<int>(args.next_integer());
            ++i;
            return;
        }
        if (i < f.size() && f[i] >= u'0' && f[i] <= u'9') {
            out = 0;
            while (i < f.size() && f[i] >= u'0' && f[i] <= u'9' && out < 100000) out = out * 10 + (f[i++] - u'0');
        }
    };
    number(directive.width);
    if (directive.width < -1) {  // a negative "*" width means left-justified
        directive.flags.push_back('-');
        directive.width = -directive.width;
    }
    if (i < f.size() && f[i] == u'.') {
        ++i;
        directive.precision = 0;
        number(directive.precision);
    }
    for (bool more = true; more && i < f.size();) {
        const std::u16string_view rest = f.substr(i);
        if (rest.starts_with(u"I64")) directive.bits = 64, i += 3;
        else if (rest.starts_with(u"I32")) directive.bits = 32, i += 3;
        else if (rest.starts_with(u"hh")) directive.bits = 8, i += 2;
        else if (rest.starts_with(u"ll")) directive.bits = 64, i += 2;
        else if (rest[0] == u'h') directive.bits = 16, ++i;
        else if (rest[0] == u'j' || rest[0] == u'z' || rest[0] == u't' || rest[0] == u'I') directive.bits = 64, ++i;
        else if (rest[0] == u'l' || rest[0] == u'L' || rest[0] == u'w') ++i;
        else more = false;
    }
    if (i < f.size() && f[i] < 128) directive.conversion = static_cast<char>(f[i++]);
    return i;
}

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
// The directive was rebuilt from validated parts with the length matching the value passed.
template <typename V>
std::string c_format(const std::string& directive, V value) {
    char small[128];
    const int n = std::snprintf(small, sizeof small, directive.c_str(), value);
    if (n < 0) return {};
    if (static_cast<size_t>(n) < sizeof small) return std::string(small, static_cast<size_t>(n));
    std::string big(static_cast<size_t>(n) + 1, '\0');
    std::snprintf(big.data(), big.size(), directive.c_str(), value);
    big.resize(static_cast<size_t>(n));
    return big;
}
#pragma GCC diagnostic pop

std::string printf_directive(const Directive& s, const char* length) {
    std::string out = "%" + s.flags;
    if (s.width >= 0) out += std::to_string(s.width);
    if (s.precision >= 0) out += "." + std::to_string(s.precision);
    return out + length + s.conversion;
}

std::u16string pad(std::u16string text, const Directive& s) {
    if (s.width > 0 && text.size() < static_cast<size_t>(s.width)) {
        const std::u16string fill(static_cast<size_t>(s.width) - text.size(), u' ');
        text = s.flags.find('-') != std::string::npos ? text + fill : fill + text;
    }
    return text;
}

std::u16string convert(const Directive& s, ArgReader& args) {
    switch (s.conversion) {
    case 'd':
    case 'i': {
        const int64_t v = args.next_integer();
        const int64_t sized = s.bits == 8 ? int64_t{static_cast<int8_t>(v)}
                              : s.bits == 16 ? int64_t{static_cast<int16_t>(v)}
                              : s.bits == 32 ? int64_t{static_cast<int32_t>(v)}
                                             : v;
        return platform::utf8_to_wide_lossy(c_format(printf_directive(s, "ll"), static_cast<long long>(sized)));
    }
    case 'u':
    case 'o':
    case 'x':
    case 'X': {
        const uint64_t v = static_cast<uint64_t>(args.next_integer());
        const uint64_t mask = s.bits == 64 ? ~uint64_t{0} : (uint64_t{1} << s.bits) - 1;
        return platform::utf8_to_wide_lossy(c_format(printf_directive(s, "ll"), static_cast<unsigned long long>(v & mask)));
    }
    case 'e':
    case 'E':
    case 'f':
    case 'g':
    case 'G':
        return platform::utf8_to_wide_lossy(c_format(printf_directive(s, ""), args.next_double()));
    case 'p':
        return platform::utf8_to_wide_lossy(
            c_format("%016llX", static_cast<unsigned long long>(args.next_integer())));
    case 'c':
    case 'C':
        return pad(std::u16string(1, static_cast<char16_t>(args.next_integer())), s);
    case 's':
    case 'S': {
        std::u16string text = args.next_text();
        if (s.precision >= 0 && text.size() > static_cast<size_t>(s.precision))
            text.resize(static_cast<size_t>(s.precision));
        return pad(std::move(text), s);
    }
    default:
        return {};
    }
}

}  // namespace

std::u16string format_wide(std::u16string_view format, const platform::MessageArgs& args, size_t maxChars) {
    std::u16string out;
    ArgReader reader(args);
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
        Directive directive;
        i = parse_directive(format, i + 1, reader, directive);
        out += convert(directive, reader);
    }
    if (out.size() > maxChars) out.resize(maxChars);
    return out;
}

}  // namespace hostlib
