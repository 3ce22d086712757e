#include "message_table.h"

#include <platform/errors.h>
#include <platform/text.h>

#include <array>
#include <mutex>
#include <shared_mutex>
#include <unordered_map>

namespace {

constexpr MessageTableEntry kWin32Table[] = {
#define MSG(id, name, text) {static_cast<DWORD>(id), #name, text},
#include "messages/win32/messages.inc"
#undef MSG
};

constexpr MessageTableEntry kNtStatusTable[] = {
#define MSG(id, name, text) {static_cast<DWORD>(id), #name, text},
#include "messages/ntstatus/messages.inc"
#undef MSG
};

constexpr MessageTableEntry kIscsiDiscoveryTable[] = {
#define MSG(id, name, text) {static_cast<DWORD>(id), #name, text},
#include "messages/iscsidsc/messages.inc"
#undef MSG
};

using TextById = std::unordered_map<DWORD, std::u16string_view>;

TextById index_table(std::span<const MessageTableEntry> entries) {
    TextById texts;
    texts.reserve(entries.size());
    for (const auto& e : entries) texts.emplace(e.id, e.text ? std::u16string_view(e.text) : std::u16string_view());
    return texts;
}

// A system table and the pseudo-handle of its module (the address of its record).
struct SystemModule {
    std::u16string_view name;
    std::span<const MessageTableEntry> entries;
    HMODULE handle() const { return reinterpret_cast<HMODULE>(const_cast<SystemModule*>(this)); }
};

constexpr std::array<SystemModule, 3> kSystemModules{{
    {u"kernel32", kWin32Table},
    {u"ntdll", kNtStatusTable},
    {u"iscsidsc", kIscsiDiscoveryTable},
}};
// The table FORMAT_MESSAGE_FROM_SYSTEM searches.
const SystemModule& kernel32() { return kSystemModules[0]; }

const SystemModule* system_module_named(std::u16string_view name) {
    constexpr std::u16string_view kSuffix = u".dll";
    if (name.size() > kSuffix.size() &&
        platform::equal_wide_nocase(name.substr(name.size() - kSuffix.size()), kSuffix))
        name.remove_suffix(kSuffix.size());
    for (const auto& m : kSystemModules)
        if (platform::equal_wide_nocase(name, m.name)) return &m;
    return nullptr;
}

const SystemModule* system_module_of(HMODULE module) {
    for (const auto& m : kSystemModules)
        if (m.handle() == module) return &m;
    return nullptr;
}

// System tables never change: indexed once, read without a lock.
const TextById& system_texts(const SystemModule& m) {
    static const std::array<TextById, kSystemModules.size()> indexed = [] {
        std::array<TextById, kSystemModules.size()> all;
        for (size_t i = 0; i < kSystemModules.size(); ++i) all[i] = index_table(kSystemModules[i].entries);
        return all;
    }();
    return indexed[static_cast<size_t>(&m - kSystemModules.data())];
}

std::optional<std::u16string_view> find_in(const TextById& texts, DWORD id) {
    const auto it = texts.find(id);
    if (it == texts.end()) return std::nullopt;
    return it->second;
}

std::optional<std::u16string_view> find_in_system_module(const SystemModule& m, DWORD id) {
    auto text = find_in(system_texts(m), id);
    // A Win32 error as an HRESULT (0x8007xxxx) reads as the Win32 error.
    if (!text && &m == &kernel32() && (id & 0xFFFF0000u) == 0x80070000u) text = find_in(system_texts(m), id & 0xFFFFu);
    return text;
}

class TableRegistry {
public:
    static TableRegistry& instance() {
        static TableRegistry registry;
        return registry;
    }

    void set(HMODULE module, std::span<const MessageTableEntry> entries) {
        TextById texts = index_table(entries);
        std::unique_lock lock(mutex_);
        if (entries.empty()) tables_.erase(module);
        else tables_[module] = std::move(texts);
    }

    std::optional<std::u16string_view> find(HMODULE module, DWORD id, DWORD& error) const {
        std::shared_lock lock(mutex_);
        const auto table = tables_.find(module);
        if (table == tables_.end()) {
            error = ERROR_RESOURCE_TYPE_NOT_FOUND;
            return std::nullopt;
        }
        auto text = find_in(table->second, id);
        if (!text) error = ERROR_MR_MID_NOT_FOUND;
        return text;
    }

private:
    mutable std::shared_mutex mutex_;
    std::unordered_map<HMODULE, TextById> tables_;
};

}  // namespace

namespace platform {

void register_message_table(HMODULE module, std::span<const MessageTableEntry> entries) {
    TableRegistry::instance().set(module, entries);
}

HMODULE system_message_module(std::u16string_view libraryName) {
    const SystemModule* m = system_module_named(libraryName);
    return m ? m->handle() : nullptr;
}

std::span<const MessageTableEntry> system_message_table(std::u16string_view libraryName) {
    const SystemModule* m = system_module_named(libraryName);
    return m ? m->entries : std::span<const MessageTableEntry>();
}

namespace detail {

std::optional<std::u16string_view> find_module_message(HMODULE module, DWORD id, DWORD& error) {
    if (const SystemModule* m = system_module_of(module)) {
        auto text = find_in_system_module(*m, id);
        if (!text) error = ERROR_MR_MID_NOT_FOUND;
        return text;
    }
    return TableRegistry::instance().find(module, id, error);
}

std::optional<std::u16string_view> find_system_message(DWORD id) { return find_in_system_module(kernel32(), id); }

}  // namespace detail
}  // namespace platform
