#pragma once
// Named ids of the program's message table (res/messages.inc).
#include <platform/types.h>

namespace res {
#define MSG(id, name, text) inline constexpr DWORD name = id;
#include "../../messages.inc"
#undef MSG
}  // namespace res
