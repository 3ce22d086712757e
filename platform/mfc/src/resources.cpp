#include <ui/resources.h>

#include <map>
#include <mutex>

namespace ui {
namespace {
std::map<HINSTANCE, ModuleResources>& modules() {
    static std::map<HINSTANCE, ModuleResources> table;
    return table;
}

const ModuleResources* resources_of(HINSTANCE module) {
    auto it = modules().find(module);
    return it == modules().end() ? nullptr : &it->second;
}

template <typename T, typename Span>
const T* find_by_id(const Span& items, UINT id) {
    for (const auto& item : items)
        if (item.id == id) return &item;
    return nullptr;
}
}  // namespace

void register_resources(HINSTANCE module, const ModuleResources& resources) { modules()[module] = resources; }

const DialogTemplate* find_dialog(HINSTANCE module, UINT id) {
    const auto* r = resources_of(module);
    return r ? find_by_id<DialogTemplate>(r->dialogs, id) : nullptr;
}

const IconTemplate* find_icon(HINSTANCE module, UINT id) {
    const auto* r = resources_of(module);
    return r ? find_by_id<IconTemplate>(r->icons, id) : nullptr;
}

const char16_t* find_string(HINSTANCE module, UINT id) {
    const auto* r = resources_of(module);
    const StringEntry* e = r ? find_by_id<StringEntry>(r->strings, id) : nullptr;
    return e ? e->text : nullptr;
}

}  // namespace ui
