#include "reg_command.h"

#include <platform/message.h>
#include <platform/registry.h>
#include <platform/text.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string_view>

namespace {

constexpr char kUsage[] =
    "usage: reg query KEY [/v NAME | /ve]\n"
    "       reg add KEY [/v NAME | /ve] [/t TYPE] [/d DATA] [/f]\n"
    "       reg delete KEY [/v NAME | /ve] [/f]\n"
    "KEY: HKLM\\..., HKCU\\..., HKCR\\..., HKU\\...; TYPE: REG_SZ (default), REG_EXPAND_SZ,\n"
    "REG_MULTI_SZ (entries split at \\0), REG_DWORD, REG_QWORD, REG_BINARY (hex), REG_NONE\n";

struct Root {
    const char* shortName;
    const char* longName;
    HKEY key;
};
const Root kRoots[] = {
    {"HKLM", "HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
    {"HKCU", "HKEY_CURRENT_USER", HKEY_CURRENT_USER},
    {"HKCR", "HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
    {"HKU", "HKEY_USERS", HKEY_USERS},
};

struct Type {
    const char* name;
    DWORD type;
};
constexpr Type kTypes[] = {
    {"REG_SZ", REG_SZ},       {"REG_EXPAND_SZ", REG_EXPAND_SZ}, {"REG_MULTI_SZ", REG_MULTI_SZ},
    {"REG_DWORD", REG_DWORD}, {"REG_QWORD", REG_QWORD},         {"REG_BINARY", REG_BINARY},
    {"REG_NONE", REG_NONE},
};

bool same_nocase(std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return std::toupper(x) == std::toupper(y); });
}

std::optional<DWORD> type_named(std::string_view name) {
    for (const Type& t : kTypes)
        if (same_nocase(name, t.name)) return t.type;
    return std::nullopt;
}

std::string type_name(DWORD type) {
    for (const Type& t : kTypes)
        if (t.type == type) return t.name;
    return "REG_0x" + std::to_string(type);
}

struct Command {
    std::string verb;
    HKEY root = nullptr;
    std::u16string path;
    std::optional<std::u16string> value;  // /v NAME, or /ve: the default value ("")
    DWORD type = REG_SZ;
    std::optional<std::string> data;
};

// The command line, or the reason it is not one.
std::optional<Command> parse(const std::vector<std::string>& args, std::string& why) {
    Command c;
    if (args.size() < 2) return why = "a verb and a key are needed", std::nullopt;
    c.verb = args[0];
    std::transform(c.verb.begin(), c.verb.end(), c.verb.begin(), [](char ch) { return std::tolower(ch); });
    if (c.verb != "query" && c.verb != "add" && c.verb != "delete") return why = "unknown verb " + args[0], std::nullopt;
    const std::string& key = args[1];
    const auto slash = key.find('\\');
    const std::string_view rootName = std::string_view(key).substr(0, slash);
    for (const Root& r : kRoots)
        if (same_nocase(rootName, r.shortName) || same_nocase(rootName, r.longName)) c.root = r.key;
    if (!c.root) return why = "the key must start with HKLM, HKCU, HKCR or HKU: " + key, std::nullopt;
    if (slash != std::string::npos) c.path = platform::utf8_to_wide_lossy(key.substr(slash + 1));
    bool typed = false;
    for (size_t i = 2; i < args.size(); ++i) {
        const std::string& a = args[i];
        const bool hasNext = i + 1 < args.size();
        if (same_nocase(a, "/v") && hasNext) c.value = platform::utf8_to_wide_lossy(args[++i]);
        else if (same_nocase(a, "/ve")) c.value = u"";
        else if (same_nocase(a, "/t") && hasNext) {
            const auto t = type_named(args[++i]);
            if (!t) return why = "unknown type " + args[i], std::nullopt;
            c.type = *t;
            typed = true;
        } else if (same_nocase(a, "/d") && hasNext) c.data = args[++i];
        else if (same_nocase(a, "/f")) continue;  // never asks anyway
        else return why = "unexpected argument " + a, std::nullopt;
    }
    if (c.verb != "add" && (typed || c.data)) return why = "/t and /d belong to add", std::nullopt;
    if (c.verb == "add" && c.data && !c.value) return why = "/d needs /v NAME or /ve", std::nullopt;
    return c;
}

std::vector<BYTE> wide_bytes(const std::u16string& text) {
    const auto* p = reinterpret_cast<const BYTE*>(text.c_str());
    return {p, p + (text.size() + 1) * sizeof(char16_t)};
}

// The bytes of a value of `type` written as `data`; nullopt when they cannot be.
std::optional<std::vector<BYTE>> encode(DWORD type, const std::string& data) {
    switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ: return wide_bytes(platform::utf8_to_wide_lossy(data));
    case REG_MULTI_SZ: {
        std::u16string all;
        for (size_t from = 0; from <= data.size();) {
            size_t at = data.find("\\0", from);
            if (at == std::string::npos) at = data.size();
            if (at > from) all += platform::utf8_to_wide_lossy(data.substr(from, at - from)) + u'\0';
            from = at + 2;
        }
        return wide_bytes(all);  // the list ends with an empty entry
    }
    case REG_DWORD:
    case REG_QWORD: {
        char* end = nullptr;
        errno = 0;
        const unsigned long long v = std::strtoull(data.c_str(), &end, 0);
        if (data.empty() || *end || errno || data[0] == '-' || (type == REG_DWORD && v > UINT32_MAX))
            return std::nullopt;
        std::vector<BYTE> bytes(type == REG_DWORD ? 4 : 8);
        for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<BYTE>(v >> (8 * i));
        return bytes;
    }
    default: {  // REG_BINARY, REG_NONE: hex digits
        if (data.size() % 2) return std::nullopt;
        std::vector<BYTE> bytes;
        for (size_t i = 0; i < data.size(); i += 2) {
            const std::string pair = data.substr(i, 2);
            if (!std::isxdigit(static_cast<unsigned char>(pair[0])) || !std::isxdigit(static_cast<unsigned char>(pair[1])))
                return std::nullopt;
            bytes.push_back(static_cast<BYTE>(std::stoul(pair, nullptr, 16)));
        }
        return bytes;
    }
    }
}

std::string utf16_text(const std::vector<BYTE>& bytes, size_t from, size_t units) {
    std::u16string text(units, u'\0');
    std::memcpy(text.data(), bytes.data() + from, units * sizeof(char16_t));
    return platform::wide_to_utf8_lossy(text);
}

// A value's data as `reg query` prints it.
std::string decode(DWORD type, const std::vector<BYTE>& bytes) {
    const size_t units = bytes.size() / 2;
    auto number = [&](size_t n) {
        uint64_t v = 0;
        for (size_t i = 0; i < n && i < bytes.size(); ++i) v |= uint64_t(bytes[i]) << (8 * i);
        char text[24];
        std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(v));
        return std::string(text);
    };
    switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ: {
        std::string text = utf16_text(bytes, 0, units);
        return text.substr(0, text.find('\0'));
    }
    case REG_MULTI_SZ: {
        std::string all = utf16_text(bytes, 0, units), out;
        for (size_t from = 0; from < all.size();) {
            const size_t end = std::min(all.find('\0', from), all.size());
            if (end == from) break;
            out += (out.empty() ? "" : "\\0") + all.substr(from, end - from);
            from = end + 1;
        }
        return out;
    }
    case REG_DWORD: return number(4);
    case REG_QWORD: return number(8);
    default: {
        static constexpr char kHex[] = "0123456789ABCDEF";
        std::string hex;
        for (BYTE b : bytes) hex += {kHex[b >> 4], kHex[b & 0xF]};
        return hex;
    }
    }
}

std::string error_text(LSTATUS status) {
    WCHAR text[512] = {};
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                   static_cast<DWORD>(status), 0, text, 512, nullptr);
    std::string said = platform::wide_to_utf8_lossy(std::u16string(text, n));
    while (!said.empty() && (said.back() == '\n' || said.back() == '\r')) said.pop_back();
    return said.empty() ? "error " + std::to_string(status) : said;
}

using Key = platform::RegKeyHolder;

std::string value_line(const std::u16string& name, DWORD type, const std::vector<BYTE>& data) {
    const std::string shown = name.empty() ? "(Default)" : platform::wide_to_utf8_lossy(name);
    return "    " + shown + "    " + type_name(type) + "    " + decode(type, data) + "\n";
}

LSTATUS query(const Command& c, const std::string& keyName, RegOutput& output) {
    Key key;
    if (const LSTATUS s = RegOpenKeyExW(c.root, c.path.c_str(), 0, KEY_READ, key.out()); s != ERROR_SUCCESS) return s;
    output.out += keyName + "\n";
    if (c.value) {
        DWORD type = 0, size = 0;
        if (const LSTATUS s = RegQueryValueExW(key.get(), c.value->c_str(), nullptr, &type, nullptr, &size);
            s != ERROR_SUCCESS)
            return s;
        std::vector<BYTE> data(size);
        if (const LSTATUS s = RegQueryValueExW(key.get(), c.value->c_str(), nullptr, &type, data.data(), &size);
            s != ERROR_SUCCESS)
            return s;
        output.out += value_line(*c.value, type, data);
        return ERROR_SUCCESS;
    }
    for (DWORD i = 0;; ++i) {
        WCHAR name[16384];
        DWORD length = 16384, type = 0, size = 0;
        if (RegEnumValueW(key.get(), i, name, &length, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) break;
        std::vector<BYTE> data(size);
        length = 16384;
        if (RegEnumValueW(key.get(), i, name, &length, nullptr, &type, data.data(), &size) != ERROR_SUCCESS) break;
        output.out += value_line(std::u16string(name, length), type, data);
    }
    for (DWORD i = 0;; ++i) {
        WCHAR name[256];
        DWORD length = 256;
        if (RegEnumKeyExW(key.get(), i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        output.out += keyName + "\\" + platform::wide_to_utf8_lossy(std::u16string(name, length)) + "\n";
    }
    return ERROR_SUCCESS;
}

LSTATUS add(const Command& c, RegOutput& output) {
    std::vector<BYTE> bytes;
    if (c.value) {
        const auto encoded = encode(c.type, c.data.value_or(""));
        if (!encoded) {
            output.err += "reg: the data is not a " + type_name(c.type) + ": " + c.data.value_or("") + "\n";
            return ERROR_INVALID_DATA;
        }
        bytes = *encoded;
    }
    Key key;
    if (const LSTATUS s = RegCreateKeyExW(c.root, c.path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                                          nullptr, key.out(), nullptr);
        s != ERROR_SUCCESS)
        return s;
    if (!c.value) return ERROR_SUCCESS;
    return RegSetValueExW(key.get(), c.value->c_str(), 0, c.type, bytes.data(), static_cast<DWORD>(bytes.size()));
}

LSTATUS remove(const Command& c) {
    if (!c.value) return c.path.empty() ? ERROR_ACCESS_DENIED : RegDeleteTreeW(c.root, c.path.c_str());
    Key key;
    if (const LSTATUS s = RegOpenKeyExW(c.root, c.path.c_str(), 0, KEY_SET_VALUE, key.out()); s != ERROR_SUCCESS) return s;
    return RegDeleteValueW(key.get(), c.value->c_str());
}

}  // namespace

int RunReg(const std::vector<std::string>& args, RegOutput& output) {
    std::string why;
    const auto command = parse(args, why);
    if (!command) {
        output.err += "reg: " + why + "\n" + kUsage;
        return 2;
    }
    LSTATUS status = ERROR_SUCCESS;
    if (command->verb == "query") status = query(*command, args[1], output);
    else if (command->verb == "add") status = add(*command, output);
    else status = remove(*command);
    if (status == ERROR_INVALID_DATA && !output.err.empty()) return 1;
    if (status != ERROR_SUCCESS) {
        output.err += "reg: " + command->verb + " " + args[1] + " failed: " + std::to_string(status) + " (" +
                      error_text(status) + ")\n";
        return 1;
    }
    if (command->verb != "query") output.out += "The operation completed successfully.\n";
    return 0;
}
