#include <platform/errors.h>
#include <platform/library.h>
#include <platform/message.h>
#include <platform/text.h>

#include "system_module.h"

#include <dlfcn.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <unordered_map>

namespace {

enum class Origin {
    System,   // a Linux library found by the loader's search
    InTree,   // built with this tree: beside the program first, then the search
    BuiltIn,  // no file: the platform answers for it
};

struct LibraryEntry {
    std::string_view name;  // Windows base name, lower case, no ".dll"
    std::string_view file;
    Origin origin;
};

constexpr LibraryEntry kLibraries[] = {
    {"hbaapi", "libHBAAPI.so.2", Origin::System},
    {"ssleay32", "libssl.so.3", Origin::System},
    {"libeay32", "libcrypto.so.3", Origin::System},
    {"libssl", "libssl.so.3", Origin::System},
    {"libcrypto", "libcrypto.so.3", Origin::System},
    {"iscsidsc", "libsanprov_iscsidsc.so", Origin::InTree},
    {"kvxadmin", "libsanprov_kvxadmin.so", Origin::InTree},
    {"kernel32", "", Origin::BuiltIn},
    {"ntdll", "", Origin::BuiltIn},
};

// NSS's libssl3.so is not OpenSSL; loading it for OpenSSL would bind the wrong
// library's symbols.
constexpr std::string_view kForeignLibrary = "libssl3.so";


std::string lower(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

std::string base_name(std::string_view windowsName) {
    std::string name = lower(windowsName);
    if (name.size() > 4 && name.ends_with(".dll")) name.resize(name.size() - 4);
    return name;
}

const LibraryEntry* find_entry(const std::string& base) {
    const auto it = std::find_if(std::begin(kLibraries), std::end(kLibraries),
                                 [&](const LibraryEntry& e) { return e.name == base; });
    return it == std::end(kLibraries) ? nullptr : &*it;
}

// SANPROV_LIB_<NAME>: NAME is the base name upper-cased, other characters as '_'.
const char* override_for(const std::string& base) {
    std::string variable = "SANPROV_LIB_";
    for (unsigned char c : base) variable += std::isalnum(c) ? static_cast<char>(std::toupper(c)) : '_';
    const char* value = std::getenv(variable.c_str());
    return (value && *value) ? value : nullptr;
}

std::string beside_program(std::string_view file) {
    std::error_code ec;
    const auto program = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) return std::string(file);
    const auto candidate = program.parent_path() / file;
    return std::filesystem::exists(candidate, ec) ? candidate.string() : std::string(file);
}

// Built-in modules are the message layer's system modules, so FormatMessage
// finds their texts through the handle LoadLibrary gives.
HMODULE built_in_handle(const LibraryEntry* entry) {
    const std::u16string name(entry->name.begin(), entry->name.end());
    return platform::system_message_module(name);
}

bool is_linux_name(std::string_view name) {
    return name.find('/') != std::string_view::npos || name.ends_with(".so") || name.find(".so.") != std::string_view::npos;
}

struct Resolution {
    std::string file;  // empty: nothing to load
    HMODULE builtIn = nullptr;
};

Resolution resolve(std::string_view windowsName) {
    // A Linux path or library file name is taken as it is.
    if (is_linux_name(windowsName)) return {std::string(windowsName)};
    const std::string base = base_name(windowsName);
    if (base.empty()) return {};
    if (const char* path = override_for(base)) return {path};
    const LibraryEntry* entry = find_entry(base);
    if (!entry) return {};
    switch (entry->origin) {
    case Origin::System: return {std::string(entry->file)};
    case Origin::InTree: return {beside_program(entry->file)};
    case Origin::BuiltIn: return {{}, built_in_handle(entry)};
    }
    return {};
}

bool is_foreign(const std::string& file) {
    return std::filesystem::path(file).filename().string().starts_with(kForeignLibrary);
}

bool is_built_in(HMODULE module) {
    return module && std::any_of(std::begin(kLibraries), std::end(kLibraries), [&](const LibraryEntry& e) {
               return e.origin == Origin::BuiltIn && built_in_handle(&e) == module;
           });
}

// A library whose message texts the platform holds (the iSCSI discovery
// library's): its table is bound to the handle while the library is loaded.
std::span<const MessageTableEntry> message_table_of(const std::string& file) {
    const auto base = std::filesystem::path(file).filename().string();
    return base == "libsanprov_iscsidsc.so" ? platform::system_message_table(u"iscsidsc")
                                            : std::span<const MessageTableEntry>();
}

// Open dlopen handles and how often each was loaded; never destroyed, as
// libraries may be freed by code that runs at exit.
struct LoadedLibraries {
    std::mutex mutex;
    std::unordered_map<void*, unsigned> counts;

    void add(void* handle) {
        std::lock_guard lock(mutex);
        ++counts[handle];
    }
    bool contains(void* handle) {
        std::lock_guard lock(mutex);
        return counts.contains(handle);
    }
    // false when the handle is not loaded; `last` tells whether this was the final reference.
    bool remove_one(void* handle, bool& last) {
        std::lock_guard lock(mutex);
        const auto it = counts.find(handle);
        if (it == counts.end()) return false;
        last = --it->second == 0;
        if (last) counts.erase(it);
        return true;
    }
};
LoadedLibraries& loaded() {
    static auto* libraries = new LoadedLibraries;
    return *libraries;
}

}  // namespace

namespace platform {

std::string resolve_library_name(const std::string& windowsName) {
    std::string file = resolve(windowsName).file;
    return is_foreign(file) ? std::string() : file;
}

namespace detail {
HMODULE system_module(std::string_view windowsName) {
    const LibraryEntry* entry = find_entry(base_name(windowsName));
    return entry && entry->origin == Origin::BuiltIn ? built_in_handle(entry) : nullptr;
}
}  // namespace detail

}  // namespace platform

HMODULE LoadLibraryA(const char* name) {
    if (!name) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const Resolution resolution = resolve(name);
    if (resolution.builtIn) return resolution.builtIn;
    if (resolution.file.empty() || is_foreign(resolution.file)) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    void* handle = dlopen(resolution.file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    loaded().add(handle);
    if (auto table = message_table_of(resolution.file); !table.empty())
        platform::register_message_table(static_cast<HMODULE>(handle), table);
    return static_cast<HMODULE>(handle);
}

HMODULE LoadLibraryW(const WCHAR* name) {
    if (!name) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const auto narrow = platform::wide_to_utf8(name);
    if (!narrow) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    return LoadLibraryA(narrow->c_str());
}

FARPROC GetProcAddress(HMODULE module, const char* procName) {
    const bool builtIn = is_built_in(module);
    if (!builtIn && !loaded().contains(module)) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    // Values below 0x10000 are ordinals, which no library here exports by.
    if (builtIn || reinterpret_cast<uintptr_t>(procName) < 0x10000) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    dlerror();
    void* symbol = dlsym(module, procName);
    if (!symbol) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    return reinterpret_cast<FARPROC>(symbol);
}

BOOL FreeLibrary(HMODULE module) {
    if (is_built_in(module)) return TRUE;
    bool last = false;
    if (!loaded().remove_one(module, last)) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return FALSE;
    }
    if (last) platform::register_message_table(module, {});
    dlclose(module);
    return TRUE;
}
