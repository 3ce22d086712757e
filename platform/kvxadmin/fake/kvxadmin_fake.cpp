// A stand-in for the administration library that answers, so the filer API's
// administration-library path can be tested. It answers from a small script
// that the test sets through the kvxfake_ entries, records the last call as
// text and allocates its results on the process heap, as the real one does.
#include <platform/kvxadmin.h>
#include <platform/memory.h>

#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#define KVX_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

struct fake_state {
    std::mutex lock;
    std::map<std::string, DWORD> statuses;  // entry name -> status to answer
    ULONGLONG value = 1;                    // every scalar output
    DWORD record_count = 1;                 // records of a list answer
    bool records_missing = false;           // a count without its array
    std::u16string last_call;
    std::vector<BYTE> last_data;
};

fake_state& state() {
    static fake_state s;
    return s;
}

std::u16string text(const WCHAR* value) { return value ? std::u16string(value) : std::u16string(u"<null>"); }

// Records the call and answers its scripted status.
DWORD enter(const char* entry, std::initializer_list<std::u16string> arguments) {
    auto& s = state();
    std::lock_guard hold(s.lock);
    s.last_call.assign(entry, entry + std::strlen(entry));
    for (const auto& a : arguments) s.last_call += u"|" + a;
    const auto it = s.statuses.find(entry);
    return it == s.statuses.end() ? KVX_STATUS_SUCCESS : it->second;
}

ULONGLONG value() {
    std::lock_guard hold(state().lock);
    return state().value;
}

WCHAR* heap_text(const std::u16string& value) {
    auto* copy = static_cast<WCHAR*>(HeapAlloc(GetProcessHeap(), 0, (value.size() + 1) * sizeof(WCHAR)));
    std::memcpy(copy, value.c_str(), (value.size() + 1) * sizeof(WCHAR));
    return copy;
}

// `count` records, each of three texts: the first names the record's index.
void fill_records(kvx_record_list* list, const std::u16string& first, const std::u16string& third) {
    DWORD count;
    {
        std::lock_guard hold(state().lock);
        count = state().record_count;
        if (state().records_missing) {
            list->count = count;
            list->records = nullptr;
            return;
        }
    }
    list->count = count;
    list->records = count ? static_cast<kvx_record*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY,
                                                                count * sizeof(kvx_record)))
                          : nullptr;
    for (DWORD i = 0; i < count; ++i) {
        const std::u16string index(1, static_cast<char16_t>(u'0' + i % 10));
        list->records[i].text[0] = heap_text(first + (i ? index : u""));
        list->records[i].text[1] = nullptr;
        list->records[i].text[2] = heap_text(third + (i ? index : u""));
    }
}

}  // namespace

// Script and record.
KVX_EXPORT void kvxfake_reset() {
    auto& s = state();
    std::lock_guard hold(s.lock);
    s.statuses.clear();
    s.value = 1;
    s.record_count = 1;
    s.records_missing = false;
    s.last_call.clear();
    s.last_data.clear();
}
KVX_EXPORT void kvxfake_set_status(const char* entry, DWORD status) {
    std::lock_guard hold(state().lock);
    state().statuses[entry] = status;
}
KVX_EXPORT void kvxfake_set_value(ULONGLONG value) {
    std::lock_guard hold(state().lock);
    state().value = value;
}
KVX_EXPORT void kvxfake_set_record_count(DWORD count) {
    std::lock_guard hold(state().lock);
    state().record_count = count;
}
KVX_EXPORT void kvxfake_set_records_missing(bool missing) {
    std::lock_guard hold(state().lock);
    state().records_missing = missing;
}
// The last call as "Entry|argument|argument...", null arguments as "<null>".
KVX_EXPORT const WCHAR* kvxfake_last_call() { return state().last_call.c_str(); }
KVX_EXPORT const BYTE* kvxfake_last_data(DWORD* length) {
    *length = static_cast<DWORD>(state().last_data.size());
    return state().last_data.data();
}

// The library's entries.
KVX_EXPORT DWORD KvxNetGetSnapInfo(const WCHAR* filer, const WCHAR* path, BYTE* id, ULONGLONG* v1, ULONGLONG* v2,
                                   ULONGLONG* v3) {
    if (DWORD status = enter(__func__, {text(filer), text(path)})) return status;
    for (int i = 0; i < 16; ++i) id[i] = static_cast<BYTE>(i + 1);
    *v1 = value();
    *v2 = value() * 2;
    *v3 = value() * 3;
    return KVX_STATUS_SUCCESS;
}
KVX_EXPORT DWORD KvxNetLUNGetAttribute(const WCHAR* filer, const WCHAR* path, const WCHAR* name,
                                       kvx_record_list* records) {
    if (DWORD status = enter(__func__, {text(filer), text(path), text(name)})) return status;
    fill_records(records, text(path), u"value of " + text(name));
    return KVX_STATUS_SUCCESS;
}
KVX_EXPORT DWORD KvxNetLUNSetAttribute(const WCHAR* filer, const WCHAR* path, const WCHAR* name, const WCHAR* v) {
    return enter(__func__, {text(filer), text(path), text(name), text(v)});
}
KVX_EXPORT DWORD KvxNetLUNMaxSize(const WCHAR* filer, const WCHAR* path, const LONG* with_reserve, ULONGLONG* size) {
    if (DWORD status = enter(__func__, {text(filer), text(path), *with_reserve ? u"1" : u"0"})) return status;
    *size = *with_reserve ? value() / 2 : value();
    return KVX_STATUS_SUCCESS;
}
KVX_EXPORT DWORD KvxNetEMSDorv(const WCHAR* filer, DWORD id, const WCHAR* source, const WCHAR* version,
                               const WCHAR* category, const WCHAR* description, LONG level, BYTE report) {
    const std::string numbers = std::to_string(id) + "|" + std::to_string(level) + "|" + std::to_string(report);
    return enter(__func__, {text(filer), std::u16string(numbers.begin(), numbers.end()), text(source),
                            text(version), text(category), text(description)});
}
KVX_EXPORT DWORD KvxNetFileRestore(const WCHAR* filer, const WCHAR* path, const WCHAR* snapshot,
                                   const WCHAR* restore_path) {
    return enter(__func__, {text(filer), text(path), text(snapshot), text(restore_path)});
}
KVX_EXPORT DWORD KvxNetLUNWopaStatus(const WCHAR* filer, const WCHAR* path, LONG* running) {
    if (DWORD status = enter(__func__, {text(filer), text(path)})) return status;
    *running = static_cast<LONG>(value());
    return KVX_STATUS_SUCCESS;
}
KVX_EXPORT DWORD KvxNetLUNFileType(const WCHAR* filer, const WCHAR* path, LONG* type) {
    if (DWORD status = enter(__func__, {text(filer), text(path)})) return status;
    *type = static_cast<LONG>(value());
    return KVX_STATUS_SUCCESS;
}
KVX_EXPORT DWORD KvxNetLUNSize(const WCHAR* filer, const WCHAR* path, ULONGLONG* size) {
    if (DWORD status = enter(__func__, {text(filer), text(path)})) return status;
    *size = value();
    return KVX_STATUS_SUCCESS;
}
// The block holds `value` bytes (the length asked for when value is 1), byte i = offset + i.
KVX_EXPORT DWORD KvxNetLUNRawRead(const WCHAR* filer, const WCHAR* path, const ULONGLONG* offset,
                                  const DWORD* length, kvx_buffer* block) {
    if (DWORD status = enter(__func__, {text(filer), text(path)})) return status;
    const DWORD count = value() == 1 ? *length : static_cast<DWORD>(value());
    block->byteCount = count;
    block->data = static_cast<BYTE*>(HeapAlloc(GetProcessHeap(), 0, count));
    for (DWORD i = 0; i < count; ++i) block->data[i] = static_cast<BYTE>(*offset + i);
    return KVX_STATUS_SUCCESS;
}
KVX_EXPORT DWORD KvxNetLUNRawWrite(const WCHAR* filer, const WCHAR* path, const ULONGLONG* offset,
                                   const DWORD* length, const BYTE* data) {
    const std::string numbers = std::to_string(*offset) + "|" + std::to_string(*length);
    if (DWORD status = enter(__func__, {text(filer), text(path), std::u16string(numbers.begin(), numbers.end())}))
        return status;
    std::lock_guard hold(state().lock);
    state().last_data.assign(data, data + *length);
    return KVX_STATUS_SUCCESS;
}
KVX_EXPORT DWORD KvxNetLUNInitiatorLoggedIn(const WCHAR* filer, const WCHAR* initiator, LONG* logged_in) {
    if (DWORD status = enter(__func__, {text(filer), text(initiator)})) return status;
    *logged_in = static_cast<LONG>(value());
    return KVX_STATUS_SUCCESS;
}
KVX_EXPORT DWORD KvxNetLUNReverseMap(const WCHAR* filer, const WCHAR* initiator, const DWORD* lun_id,
                                     kvx_record_list* records) {
    const std::string id = std::to_string(*lun_id);
    if (DWORD status = enter(__func__, {text(filer), text(initiator), std::u16string(id.begin(), id.end())}))
        return status;
    fill_records(records, u"/vol/vol1/lun" + std::u16string(id.begin(), id.end()), u"");
    return KVX_STATUS_SUCCESS;
}
KVX_EXPORT DWORD KvxNetLUNHasReservations(const WCHAR* filer, const WCHAR* path, LONG* held) {
    if (DWORD status = enter(__func__, {text(filer), text(path)})) return status;
    *held = static_cast<LONG>(value());
    return KVX_STATUS_SUCCESS;
}
