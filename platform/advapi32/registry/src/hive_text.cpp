#include "hive_text.h"

#include <platform/text.h>

#include <cstdio>
#include <optional>

namespace platform::reg {
namespace {

constexpr std::string_view kHeader = "sanprov registry hive 1";

struct TypeName {
    DWORD type;
    std::string_view name;
};
constexpr TypeName kTypeNames[] = {
    {REG_NONE, "REG_NONE"},   {REG_SZ, "REG_SZ"},         {REG_EXPAND_SZ, "REG_EXPAND_SZ"},
    {REG_BINARY, "REG_BINARY"}, {REG_DWORD, "REG_DWORD"}, {REG_MULTI_SZ, "REG_MULTI_SZ"},
    {REG_QWORD, "REG_QWORD"},
};

constexpr char kHexDigits[] = "0123456789abcdef";

bool is_high(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool is_low(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

bool needs_escape(char16_t c) {
    constexpr std::u16string_view reserved = u"%\"[]\\";
    return c < 0x20 || c == 0x7F || is_high(c) || is_low(c) || reserved.find(c) != std::u16string_view::npos;
}

void append_utf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

std::string escape_name(std::u16string_view name) {
    std::string out;
    for (size_t i = 0; i < name.size(); ++i) {
        const char16_t c = name[i];
        if (is_high(c) && i + 1 < name.size() && is_low(name[i + 1])) {
            append_utf8(out, 0x10000 + ((static_cast<char32_t>(c) - 0xD800) << 10) + (name[i + 1] - 0xDC00));
            ++i;
        } else if (needs_escape(c)) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "%%%04X", static_cast<unsigned>(c));
            out += buf;
        } else {
            append_utf8(out, c);
        }
    }
    return out;
}

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::optional<uint32_t> parse_hex_number(std::string_view text, size_t maxDigits) {
    if (text.empty() || text.size() > maxDigits) return std::nullopt;
    uint32_t v = 0;
    for (char c : text) {
        const int d = hex_value(c);
        if (d < 0) return std::nullopt;
        v = (v << 4) | static_cast<uint32_t>(d);
    }
    return v;
}

std::optional<std::u16string> unescape_name(std::string_view text) {
    std::u16string out;
    size_t start = 0;
    auto flush = [&](size_t end) {
        if (end == start) return true;
        auto wide = utf8_to_wide(text.substr(start, end - start));
        if (wide) out += *wide;
        return wide.has_value();
    };
    for (size_t i = 0; i < text.size();) {
        if (text[i] != '%') {
            ++i;
            continue;
        }
        if (!flush(i) || i + 5 > text.size()) return std::nullopt;
        auto unit = parse_hex_number(text.substr(i + 1, 4), 4);
        if (!unit) return std::nullopt;
        out += static_cast<char16_t>(*unit);
        start = i += 5;
    }
    if (!flush(text.size())) return std::nullopt;
    return out;
}

std::string type_text(DWORD type) {
    for (const auto& t : kTypeNames)
        if (t.type == type) return std::string(t.name);
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08X", static_cast<unsigned>(type));
    return buf;
}

std::optional<DWORD> parse_type(std::string_view text) {
    for (const auto& t : kTypeNames)
        if (t.name == text) return t.type;
    if (text.substr(0, 2) != "0x") return std::nullopt;
    return parse_hex_number(text.substr(2), 8);
}

uint64_t little_endian(const std::vector<BYTE>& data) {
    uint64_t v = 0;
    for (size_t i = data.size(); i-- > 0;) v = (v << 8) | data[i];
    return v;
}

// The strings of a string value, for the comment only.
std::vector<std::u16string> strings_of(const RegValue& value) {
    std::u16string units(value.data.size() / 2, u'\0');
    for (size_t i = 0; i < units.size(); ++i)
        units[i] = static_cast<char16_t>(value.data[2 * i] | (value.data[2 * i + 1] << 8));
    std::vector<std::u16string> out;
    for (std::u16string_view rest = units; !rest.empty();) {
        const size_t nul = rest.find(u'\0');
        if (nul == 0 && !out.empty()) break;
        out.emplace_back(rest.substr(0, nul));
        if (value.type != REG_MULTI_SZ || nul == std::u16string_view::npos) break;
        rest.remove_prefix(nul + 1);
    }
    return out;
}

std::string readable(const RegValue& value) {
    const size_t n = value.data.size();
    if ((value.type == REG_DWORD && n == 4) || (value.type == REG_QWORD && n == 8))
        return "  ; " + std::to_string(little_endian(value.data));
    if ((value.type != REG_SZ && value.type != REG_EXPAND_SZ && value.type != REG_MULTI_SZ) || n % 2) return {};
    const auto strings = strings_of(value);
    if (strings.empty()) return {};
    std::string out = "  ;";
    const char* sep = " ";
    for (const auto& s : strings) {
        std::string text = wide_to_utf8_lossy(s);
        for (char& c : text)
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
        out += sep + ('"' + text + '"');
        sep = ", ";
    }
    return out;
}

void write_value(std::string& out, const std::u16string& name, const RegValue& value) {
    out += name.empty() ? std::string("@") : '"' + escape_name(name) + '"';
    out += '=' + type_text(value.type) + ':';
    for (BYTE b : value.data) {
        out += kHexDigits[b >> 4];
        out += kHexDigits[b & 0xF];
    }
    out += readable(value);
    out += '\n';
}

void write_key(std::string& out, const RegKey& key, const std::string& path, bool isRoot) {
    if (!isRoot || !key.values.empty()) out += "\n[" + path + "]\n";
    for (const auto& [name, value] : key.values) write_value(out, name, value);
    for (const auto& [name, child] : key.subkeys)
        write_key(out, *child, isRoot ? escape_name(name) : path + '\\' + escape_name(name), false);
}

RegKey* parse_section(RegKey& root, std::string_view line) {
    if (line.size() < 2 || line.back() != ']') return nullptr;
    std::string_view rest = line.substr(1, line.size() - 2);
    RegKey* key = &root;
    while (!rest.empty()) {
        const size_t cut = rest.find('\\');
        auto name = unescape_name(rest.substr(0, cut));
        if (!name || name->empty()) return nullptr;
        key = &key->make_child(*name);
        if (cut == std::string_view::npos) break;
        rest.remove_prefix(cut + 1);
        if (rest.empty()) return nullptr;
    }
    return key;
}

bool parse_value(RegKey& key, std::string_view line) {
    std::u16string name;
    size_t pos = 1;
    if (line[0] == '"') {
        const size_t close = line.find('"', 1);
        if (close == std::string_view::npos) return false;
        auto parsed = unescape_name(line.substr(1, close - 1));
        if (!parsed) return false;
        name = std::move(*parsed);
        pos = close + 1;
    } else if (line[0] != '@') {
        return false;
    }
    if (pos >= line.size() || line[pos] != '=') return false;
    const size_t colon = line.find(':', ++pos);
    if (colon == std::string_view::npos) return false;
    const auto type = parse_type(line.substr(pos, colon - pos));
    if (!type) return false;

    RegValue value{*type, {}};
    size_t i = colon + 1;
    for (; i + 1 < line.size() && hex_value(line[i]) >= 0; i += 2) {
        const int hi = hex_value(line[i]), lo = hex_value(line[i + 1]);
        if (lo < 0) return false;
        value.data.push_back(static_cast<BYTE>(hi << 4 | lo));
    }
    const size_t trail = line.find_first_not_of(" \t", i);
    if (trail != std::string_view::npos && line[trail] != ';') return false;
    *key.values.emplace(name).first = std::move(value);
    return true;
}

}  // namespace

std::string hive_to_text(const RegKey& root) {
    std::string out(kHeader);
    out += '\n';
    write_key(out, root, {}, true);
    return out;
}

std::unique_ptr<RegKey> hive_from_text(std::string_view text) {
    auto root = std::make_unique<RegKey>();
    RegKey* current = root.get();
    for (bool first = true; !text.empty(); first = false) {
        const size_t nl = text.find('\n');
        std::string_view line = text.substr(0, nl);
        text.remove_prefix(nl == std::string_view::npos ? text.size() : nl + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (first) {
            if (line != kHeader) return nullptr;
        } else if (line.empty() || line[0] == ';') {
            continue;
        } else if (line[0] == '[') {
            if (!(current = parse_section(*root, line))) return nullptr;
        } else if (!parse_value(*current, line)) {
            return nullptr;
        }
    }
    return root;
}

}  // namespace platform::reg
