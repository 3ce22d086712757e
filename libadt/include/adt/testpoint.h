#pragma once
// Testpoint hooks: named points ("mem"/"alloc", "http"/"open", ...) through
// which a value passes. The registry that could change a value is never
// enabled, so every value passes unchanged.
#include <cstdint>

intptr_t testpoint_value(intptr_t value, const char* group, const char* name, const char* file, int line);

template <typename T>
T* testpoint_pointer(T* value, const char* group, const char* name, const char* file, int line) {
    return reinterpret_cast<T*>(testpoint_value(reinterpret_cast<intptr_t>(value), group, name, file, line));
}
