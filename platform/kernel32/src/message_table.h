#pragma once
// Message lookup over the registered and the system tables (used by FormatMessage).
#include <optional>
#include <string_view>

#include <platform/message.h>

namespace platform::detail {

// The text of `id` in the table of `module`: nullopt with `error` set to
// ERROR_RESOURCE_TYPE_NOT_FOUND when the module has no table, to
// ERROR_MR_MID_NOT_FOUND when the table lacks the id.
std::optional<std::u16string_view> find_module_message(HMODULE module, DWORD id, DWORD& error);

// The text of `id` in the table FORMAT_MESSAGE_FROM_SYSTEM searches.
std::optional<std::u16string_view> find_system_message(DWORD id);

}  // namespace platform::detail
