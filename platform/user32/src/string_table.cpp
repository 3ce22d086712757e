#include <platform/string_table.h>

#include <platform/errors.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>
#include <string_view>

namespace {

struct Tables {
    std::mutex lock;
    std::map<HMODULE, std::span<const StringTableEntry>> byModule;
};

// Built on first use: tables register during static construction.
Tables& tables() {
    static Tables instance;
    return instance;
}

}  // namespace

void platform::register_string_table(HMODULE module, std::span<const StringTableEntry> entries) {
    Tables& t = tables();
    std::lock_guard<std::mutex> guard(t.lock);
    t.byModule[module] = entries;
}

int LoadStringW(HINSTANCE instance, UINT id, LPWSTR buffer, int bufferMax) {
    const char16_t* text = nullptr;
    {
        Tables& t = tables();
        std::lock_guard<std::mutex> guard(t.lock);
        const auto it = t.byModule.find(instance);
        if (it != t.byModule.end())
            for (const StringTableEntry& entry : it->second)
                if (entry.id == id) text = entry.text;
    }
    if (!text || !buffer) {
        SetLastError(text ? ERROR_INVALID_PARAMETER : ERROR_RESOURCE_NAME_NOT_FOUND);
        return 0;
    }
    const std::u16string_view view(text);
    if (bufferMax == 0) {
        *reinterpret_cast<const WCHAR**>(buffer) = text;
        return static_cast<int>(view.size());
    }
    if (bufferMax < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const size_t chars = std::min(view.size(), static_cast<size_t>(bufferMax) - 1);
    std::memcpy(buffer, view.data(), chars * sizeof(WCHAR));
    buffer[chars] = 0;
    return static_cast<int>(chars);
}
