#pragma once
// String tables: each module registers its table of (id, text) entries under
// its handle, as its string resources; LoadString reads them.
#include <span>

#include <platform/types.h>

struct StringTableEntry {
    UINT id;
    const char16_t* text;
};

namespace platform {
// Registers (or replaces) the string table of a module. The entries are not
// copied: tables are static arrays that outlive the registration.
void register_string_table(HMODULE module, std::span<const StringTableEntry> entries);
}  // namespace platform

// Copies at most bufferMax - 1 characters and a NUL; returns the characters
// copied, 0 with ERROR_RESOURCE_NAME_NOT_FOUND for an unknown id. A bufferMax of
// 0 stores a read-only pointer to the text in `buffer` and returns its length.
int LoadStringW(HINSTANCE instance, UINT id, LPWSTR buffer, int bufferMax);
