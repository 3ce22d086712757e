#include <adt/pool.h>
#include <adt/zfd.h>

#include <cstring>
#include <platform/memory.h>
#include <platform/message.h>

char* zfd_error_text(DWORD code) {
    char* system = nullptr;
    const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, code, 0, reinterpret_cast<char*>(&system), 0, nullptr);
    if (n == 0 || !system) return nullptr;
    size_t length = std::strlen(system);
    if (length >= 3 && std::strcmp(system + length - 3, ".\r\n") == 0) system[length - 3] = '\0';
    char* text = pool_strdup(nullptr, system, ADT_HERE);
    LocalFree(system);
    return text;
}
