#include <model/filer_record_list.h>

#include <hostlib/autolock.h>
#include <hostlib/event_log.h>
#include <hostlib/trace.h>
#include <model/password_protection.h>
#include <platform/comalloc.h>
#include <platform/errors.h>
#include <platform/guid.h>
#include <platform/probe.h>
#include <platform/registry.h>
#include <platform/text.h>
#include <res/message_ids.h>

#include <cstring>
#include <vector>

namespace {

constexpr DWORD kMaxKeyUnits = 254;
constexpr DWORD kMaxValueBytes = 16384;

std::string narrow(const std::u16string& text) { return platform::wide_to_utf8_lossy(text); }

using RegKey = platform::RegKeyHolder;

// A string value as the list accepts it: REG_SZ or REG_EXPAND_SZ ending in a
// zero unit, REG_MULTI_SZ ending in two, of even length and at most 16,384
// bytes. `binary` also accepts REG_BINARY of even length (a protected
// password that holds a zero unit).
DWORD read_string(HKEY key, const WCHAR* name, std::u16string& text, bool binary = false, DWORD* typeOut = nullptr) {
    std::vector<BYTE> data(kMaxValueBytes);
    DWORD type = 0;
    DWORD size = kMaxValueBytes;
    const LSTATUS status = RegQueryValueExW(key, name, nullptr, &type, data.data(), &size);
    if (status != ERROR_SUCCESS) return static_cast<DWORD>(status);
    if (size % 2) return ERROR_INVALID_DATA;
    std::u16string units(size / 2, u'\0');
    std::memcpy(units.data(), data.data(), size);
    const auto ends_in = [&](size_t zeros) {
        if (units.size() < zeros) return false;
        for (size_t i = 0; i < zeros; ++i)
            if (units[units.size() - 1 - i] != 0) return false;
        return true;
    };
    const bool ok = ((type == REG_SZ || type == REG_EXPAND_SZ) && ends_in(1)) || (type == REG_MULTI_SZ && ends_in(2)) ||
                    (binary && type == REG_BINARY);
    if (!ok) return ERROR_INVALID_DATA;
    if (type != REG_BINARY) units.resize(std::char_traits<char16_t>::length(units.c_str()));
    text = std::move(units);
    if (typeOut) *typeOut = type;
    return ERROR_SUCCESS;
}

DWORD read_type(HKEY key, int32_t& type) {
    DWORD value = 0, valueType = 0, size = sizeof value;
    const LSTATUS status =
        RegQueryValueExW(key, u"type", nullptr, &valueType, reinterpret_cast<BYTE*>(&value), &size);
    if (status == ERROR_MORE_DATA) return ERROR_INVALID_DATA;
    if (status != ERROR_SUCCESS) return static_cast<DWORD>(status);
    if (valueType != REG_DWORD || size != sizeof value) return ERROR_INVALID_DATA;
    if (value <= 3) type = static_cast<int32_t>(value);  // a larger value is not a known type
    return ERROR_SUCCESS;
}

LSTATUS write_string(HKEY key, const WCHAR* name, const std::u16string& text) {
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                          static_cast<DWORD>((text.size() + 1) * sizeof(WCHAR)));
}

// The protected password as a value. A ciphertext with a zero unit inside the
// password's length would reload cut short as a string, so it is stored whole
// as binary; every other one keeps the string form.
LSTATUS write_password(HKEY key, const std::vector<WCHAR>& cipher, size_t passwordUnits) {
    bool zeroInside = false;
    for (size_t i = 0; i < passwordUnits && i < cipher.size(); ++i) zeroInside |= cipher[i] == 0;
    if (zeroInside)
        return RegSetValueExW(key, u"password", 0, REG_BINARY, reinterpret_cast<const BYTE*>(cipher.data()),
                              static_cast<DWORD>(cipher.size() * sizeof(WCHAR)));
    std::u16string text(cipher.begin(), cipher.end());
    text.resize(std::char_traits<char16_t>::length(text.c_str()));
    return write_string(key, u"password", text);
}

LPWSTR task_copy(const std::u16string& text) {
    auto* p = static_cast<LPWSTR>(CoTaskMemAlloc((text.size() + 1) * sizeof(WCHAR)));
    if (p) std::memcpy(p, text.c_str(), (text.size() + 1) * sizeof(WCHAR));
    return p;
}

bool bad_record(const FILER_RECORD* pfr, bool commit) {
    const auto refuse = [](const char* reason) {
        trace_printf("IsBadFilerRecReadPtr(): %s", reason);
        return true;
    };
    if (IsBadReadPtr(pfr, sizeof(FILER_RECORD))) return refuse("bad FILER_RECORD*");
    if (pfr->wszKey && IsBadStringPtrW(pfr->wszKey, UINT_PTR(-1))) return refuse("bad pfr->wszKey");
    if (commit && pfr->wszKey) {
        // The key names a registry key: no separators, no more units than a key name may have.
        const std::u16string_view key(pfr->wszKey);
        if (key.size() > kMaxKeyUnits || key.find_first_of(u"\\/") != key.npos) return refuse("bad pfr->wszKey");
    }
    if (IsBadStringPtrW(pfr->wszDnsName, UINT_PTR(-1))) return refuse("bad pfr->wszDnsName");
    if (IsBadStringPtrW(pfr->wszUserName, UINT_PTR(-1))) return refuse("bad pfr->wszUserName");
    if (pfr->wszPassword && IsBadStringPtrW(pfr->wszPassword, UINT_PTR(-1))) return refuse("bad pfr->wszPassword");
    const bool typeMatters = !commit || (pfr->dwUpdateFlags & FILER_RECORD_CHANGED);
    if (typeMatters && pfr->hwpType != 2 && pfr->hwpType != 3) return refuse("invalid pfr->hwpType");
    if (pfr->dwUpdateFlags & ~(FILER_RECORD_DELETE | FILER_RECORD_CHANGED)) return refuse("invalid pfr->dwUpdateFlags");
    return false;
}

}  // namespace

DWORD CFilerRecord::LoadFromRegistry(HKEY filers, const std::u16string& name) {
    DWORD result = ERROR_SUCCESS;
    RegKey key;
    result = static_cast<DWORD>(RegOpenKeyExW(filers, name.c_str(), 0, KEY_READ, key.out()));
    if (result == ERROR_SUCCESS) {
        m_strKey = name;
        std::u16string stored;
        if ((result = read_string(key.get(), u"name", m_strDnsName)) == ERROR_SUCCESS &&
            (result = read_type(key.get(), m_iType)) == ERROR_SUCCESS &&
            (result = read_string(key.get(), u"username", m_strUserName)) == ERROR_SUCCESS &&
            (result = read_string(key.get(), u"password", stored, true)) == ERROR_SUCCESS) {
            if (!DecryptString(m_strKey, std::vector<WCHAR>(stored.begin(), stored.end()), m_strPassword)) {
                trace_printf("DecryptString() failed with code 0x%0lx, assuming cleartext (in %s(%d))",
                             trace_code(crypto_failure()), "provider\\filerlogondata", 104);
                m_strPassword = stored;
                result = 1;
            }
        }
    }
    m_iFlags = 0;
    trace_printf("CFilerRecord::LoadFromRegistry(): returning %08lX", trace_code(result));
    return result;
}

HRESULT CFilerRecord::SaveToRegistry(HKEY filers) {
    HRESULT hr = S_OK;
    RegKey key;
    std::vector<WCHAR> cipher;
    // Everything that can fail without the registry comes first, so such a
    // failure leaves no key behind.
    if (m_strKey.empty()) {
        hr = E_INVALIDARG;
    } else if (!EncryptString(m_strKey, m_strPassword, cipher)) {
        hr = crypto_failure();
        trace_printf("CFilerRecord::SaveToRegistry(): EncryptString() failed with code 0x%0lx (in %s(%d))",
                     trace_code(hr), "provider\\filerlogondata", __LINE__);
    } else if (LSTATUS s = RegCreateKeyExW(filers, m_strKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                           KEY_ALL_ACCESS, nullptr, key.out(), nullptr);
               s != ERROR_SUCCESS) {
        hr = HRESULT_FROM_WIN32(static_cast<DWORD>(s));
    } else {
        const DWORD type = static_cast<DWORD>(m_iType);
        LSTATUS w = write_string(key.get(), u"name", m_strDnsName);
        if (w == ERROR_SUCCESS)
            w = RegSetValueExW(key.get(), u"type", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&type), sizeof type);
        if (w == ERROR_SUCCESS) w = write_string(key.get(), u"username", m_strUserName);
        if (w == ERROR_SUCCESS) w = write_password(key.get(), cipher, m_strPassword.size());
        hr = w == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(static_cast<DWORD>(w));
    }
    if (SUCCEEDED(hr)) m_iFlags = 0;
    trace_printf("CFilerRecord::SaveToRegistry(): returning %08lX", trace_code(hr));
    return hr;
}

FILER_RECORD* CFilerRecord::CopyOut() const {
    auto* r = static_cast<FILER_RECORD*>(CoTaskMemAlloc(sizeof(FILER_RECORD)));
    if (!r) return nullptr;
    *r = FILER_RECORD{task_copy(m_strKey), task_copy(m_strDnsName), task_copy(m_strUserName),
                      task_copy(m_strPassword), m_iType, static_cast<DWORD>(m_iFlags)};
    if (!r->wszKey || !r->wszDnsName || !r->wszUserName || !r->wszPassword) {
        free_filer_record(r);
        return nullptr;
    }
    return r;
}

filer_record_list::filer_record_list() { InitializeCriticalSection(&m_lock); }

filer_record_list::~filer_record_list() {
    Clear();
    DeleteCriticalSection(&m_lock);
}

HRESULT filer_record_list::Load() {
    CCriticalSectionHolder hold(&m_lock);
    if (!m_map.empty()) return S_FALSE;
    trace_printf("Loading filer information from registry...");
    if (!ensure_crypto_keys()) {
        const HRESULT hr = crypto_failure();
        trace_printf("Can't setup crypto client (0x%0lx)", trace_code(hr));
        return hr;
    }
    RegKey filers;
    if (LSTATUS s = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kFilersKey, 0, KEY_READ, filers.out()); s != ERROR_SUCCESS) {
        trace_printf("Can't open registry key %s (0x%0lx)", narrow(kFilersKey).c_str(), trace_code(s));
        return s == ERROR_FILE_NOT_FOUND ? S_FALSE : HRESULT_FROM_WIN32(static_cast<DWORD>(s));
    }
    DWORD index = 0;
    for (; index < kMaxFilerRecords; ++index) {
        WCHAR name[kMaxKeyUnits + 1] = {};
        DWORD length = kMaxKeyUnits + 1;
        const LSTATUS s = RegEnumKeyExW(filers.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (s == ERROR_NO_MORE_ITEMS) break;
        if (s != ERROR_SUCCESS) {
            trace_printf("Failed to read Filer information from registry key  %s (0x%0lx), Index %d ",
                         narrow(kFilersKey).c_str(), trace_code(s), static_cast<int>(index));
            break;
        }
        auto record = std::make_unique<CFilerRecord>();
        // A record missing one of its values was left half written: it names
        // no appliance that can be reached, so it is not offered as one.
        if (record->LoadFromRegistry(filers.get(), name) == ERROR_FILE_NOT_FOUND) {
            ReportIncomplete(name);
            continue;
        }
        m_map[name] = std::move(record);
    }
    if (index == 0) trace_printf("No Filer records found in the registry");
    if (index == kMaxFilerRecords)
        trace_printf("Loaded only first %d filer records from the  registry %s", static_cast<int>(kMaxFilerRecords),
                     narrow(kFilersKey).c_str());
    return S_OK;
}

HRESULT filer_record_list::Save() {
    CCriticalSectionHolder hold(&m_lock);
    if (m_map.empty()) return S_OK;
    if (!ensure_crypto_keys()) {
        const HRESULT hr = crypto_failure();
        trace_printf("Can't setup crypto client (0x%0lx)", trace_code(hr));
        return hr;
    }
    // The whole save is one replacement of the hive: a crash leaves the old
    // list or the new one, and a record that cannot be written leaves the
    // stored list as it was (every record keeps its marks for the next save).
    platform::RegistryTransaction transaction;
    RegKey filers;
    if (LSTATUS s = RegCreateKeyExW(HKEY_LOCAL_MACHINE, kFilersKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                    KEY_ALL_ACCESS, nullptr, filers.out(), nullptr);
        s != ERROR_SUCCESS) {
        trace_printf("Can't open registry key %s (0x%0lx)", narrow(kFilersKey).c_str(), trace_code(s));
        return HRESULT_FROM_WIN32(static_cast<DWORD>(s));
    }
    std::vector<decltype(m_map)::iterator> deleted;
    std::vector<std::pair<CFilerRecord*, int32_t>> written;  // with the marks it had
    const auto undo = [&](HRESULT hr) {
        for (auto& [record, flags] : written) record->m_iFlags = flags;
        return hr;
    };
    for (auto it = m_map.begin(); it != m_map.end(); ++it) {
        CFilerRecord& record = *it->second;
        if (record.m_iFlags & FILER_RECORD_DELETE) {
            if (!record.m_strKey.empty()) {
                const LSTATUS s = RegDeleteTreeW(filers.get(), record.m_strKey.c_str());
                if (s != ERROR_SUCCESS && s != ERROR_FILE_NOT_FOUND) return undo(HRESULT_FROM_WIN32(static_cast<DWORD>(s)));
            }
            deleted.push_back(it);
        } else if (record.m_iFlags & FILER_RECORD_CHANGED) {
            const int32_t flags = record.m_iFlags;
            if (const HRESULT hr = record.SaveToRegistry(filers.get()); FAILED(hr)) return undo(hr);
            written.emplace_back(&record, flags);
        }
    }
    if (const LSTATUS s = transaction.Commit(); s != ERROR_SUCCESS) {
        trace_printf("Can't write registry key %s (0x%0lx)", narrow(kFilersKey).c_str(), trace_code(s));
        return undo(HRESULT_FROM_WIN32(static_cast<DWORD>(s)));
    }
    for (auto it : deleted) m_map.erase(it);
    return S_OK;
}

void filer_record_list::ReportIncomplete(const std::u16string& key) {
    trace_printf("Filer record %s in the registry is incomplete, skipped", narrow(key).c_str());
    if (!m_reportedIncomplete.insert(key).second) return;
    const WCHAR* inserts[] = {key.c_str()};
    process_event_reporter().LogEvent(res::MSG_SUBSYSTEM_RECORD_INCOMPLETE, WORD{1}, inserts);
}

CFilerRecord* filer_record_list::Add(const std::u16string& key, const std::u16string& dnsName,
                                     const std::u16string& userName, const WCHAR* password, int32_t type) {
    CCriticalSectionHolder hold(&m_lock);
    auto record = std::make_unique<CFilerRecord>();
    record->m_strKey = key.empty() ? new_guid_key() : key;
    record->m_strDnsName = dnsName;
    record->m_strUserName = userName;
    record->m_strPassword = password ? password : u"";
    record->m_iType = type;
    record->m_iFlags = FILER_RECORD_CHANGED;
    CFilerRecord* added = record.get();
    m_map[added->m_strKey] = std::move(record);
    return added;
}

void filer_record_list::Clear() {
    CCriticalSectionHolder hold(&m_lock);
    m_map.clear();
}

filer_record_list& process_filer_record_list() {
    static filer_record_list list;
    return list;
}

bool IsBadFilerRecReadPtr(const FILER_RECORD* pfr) { return bad_record(pfr, false); }

bool IsBadFilerRecForCommit(const FILER_RECORD* pfr) { return bad_record(pfr, true); }

void free_filer_record(FILER_RECORD* pfr) {
    if (IsBadReadPtr(pfr, sizeof(FILER_RECORD))) return;
    for (LPWSTR text : {pfr->wszKey, pfr->wszDnsName, pfr->wszUserName, pfr->wszPassword})
        if (text && !IsBadStringPtrW(text, UINT_PTR(-1))) CoTaskMemFree(text);
    CoTaskMemFree(pfr);
}

std::u16string new_guid_key() {
    GUID id{};
    if (FAILED(CoCreateGuid(&id))) return {};
    WCHAR* text = nullptr;
    if (UuidToStringW(&id, &text) != RPC_S_OK || !text) return {};
    std::u16string key(text);
    RpcStringFreeW(&text);
    return key;
}
