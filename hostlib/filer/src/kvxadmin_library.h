#pragma once
// The administration library ("kvxadmin.dll") as the filer API calls it: loaded
// by name for one call and let go after it, so what the library answers is
// always the library the platform's table names now.
#include <hostlib/heap_records.h>
#include <platform/kvxadmin.h>
#include <platform/library.h>

class kvxadmin_library {
public:
    // Raises HRESULT_FROM_WIN32(126) when the library cannot be loaded.
    kvxadmin_library();
    ~kvxadmin_library();
    kvxadmin_library(const kvxadmin_library&) = delete;
    kvxadmin_library& operator=(const kvxadmin_library&) = delete;

    // Raises HRESULT_FROM_WIN32(127) when the library lacks the entry.
    FARPROC entry(const char* name) const;

private:
    HMODULE module_;
};

// Calls one entry of the library and returns its status.
template <typename Fn, typename... Args>
DWORD kvxadmin_call(const char* name, Args... args) {
    const kvxadmin_library library;
    return reinterpret_cast<Fn>(library.entry(name))(args...);
}
#define KVXADMIN_CALL(entry, ...) kvxadmin_call<entry##_fn>(#entry, __VA_ARGS__)

// Raises a non-zero status as the HRESULT status | 0x10000000, without inserts.
void raise_kvxadmin_status(DWORD status);

// The library's results, freed on every path.
struct kvx_record_list_holder : kvx_record_list {
    kvx_record_list_holder() : kvx_record_list{} {}
    ~kvx_record_list_holder() { free_heap_record_list(this); }
    kvx_record_list_holder(const kvx_record_list_holder&) = delete;
    kvx_record_list_holder& operator=(const kvx_record_list_holder&) = delete;
};

struct kvx_buffer_holder : kvx_buffer {
    kvx_buffer_holder() : kvx_buffer{} {}
    ~kvx_buffer_holder() { free_heap_buffer(this); }
    kvx_buffer_holder(const kvx_buffer_holder&) = delete;
    kvx_buffer_holder& operator=(const kvx_buffer_holder&) = delete;
};
