#include "filer_entry.h"

#include <array>
#include <exception>

#include <platform/comalloc.h>
#include <platform/guid.h>

#include "admin_client.h"
#include "filer_record_memory.h"
#include "resource.h"

namespace {
std::u16string new_key() {
    GUID guid{};
    if (FAILED(CoCreateGuid(&guid))) return {};
    WCHAR* text = nullptr;
    if (UuidToStringW(&guid, &text) != RPC_S_OK) return {};
    std::u16string key(text);
    RpcStringFreeW(&text);
    return key;
}

// The entry's four strings as new CoTaskMem copies, all or none.
bool copy_strings(const CFilerEntry& entry, std::array<LPWSTR, 4>& out) {
    const std::u16string* sources[] = {&entry.m_key, &entry.m_dnsName, &entry.m_userName, &entry.m_password};
    for (size_t i = 0; i < out.size(); ++i) {
        out[i] = co_task_string(*sources[i]);
        if (!out[i]) {
            for (size_t k = 0; k < i; ++k) CoTaskMemFree(out[k]);
            return false;
        }
    }
    return true;
}

void assign(FILER_RECORD& record, const std::array<LPWSTR, 4>& strings, LONG type, DWORD flags) {
    record.wszKey = strings[0];
    record.wszDnsName = strings[1];
    record.wszUserName = strings[2];
    record.wszPassword = strings[3];
    record.hwpType = type;
    record.dwUpdateFlags = flags;
}
}  // namespace

CFilerEntry::CFilerEntry() : m_key(new_key()), m_type(kTypeFibreChannel), m_flags(FILER_RECORD_CHANGED) {}

CFilerEntry::CFilerEntry(const FILER_RECORD& record)
    : m_key(text_of(record.wszKey)),
      m_dnsName(text_of(record.wszDnsName)),
      m_userName(text_of(record.wszUserName)),
      m_password(text_of(record.wszPassword)),
      m_type(record.hwpType),
      m_flags(record.dwUpdateFlags) {}

FILER_RECORD* CFilerEntry::CreateRecord() const {
    auto* record = static_cast<FILER_RECORD*>(CoTaskMemAlloc(sizeof(FILER_RECORD)));
    if (!record) return nullptr;
    *record = FILER_RECORD{};
    std::array<LPWSTR, 4> strings{};
    if (!copy_strings(*this, strings)) {
        CoTaskMemFree(record);
        return nullptr;
    }
    assign(*record, strings, m_type, m_flags);
    return record;
}

bool CFilerEntry::CopyToRecord(FILER_RECORD& record) const {
    std::array<LPWSTR, 4> strings{};
    if (!copy_strings(*this, strings)) return false;
    for (LPWSTR old : {record.wszKey, record.wszDnsName, record.wszUserName, record.wszPassword}) CoTaskMemFree(old);
    assign(record, strings, m_type, m_flags);
    return true;
}

HRESULT CFilerEntry::Verify(CString& text) const {
    text.Empty();
    CWaitCursor wait;
    try {
        AdminPtr admin;
        if (const HRESULT hr = ActivateAdmin(admin); FAILED(hr)) {
            text = ActivationFailureText(hr);
            return hr;
        }
        const RecordPtr record(CreateRecord());
        if (!record) {
            text = LoadStringResource(IDS_OUT_OF_MEMORY);
            return STG_E_INSUFFICIENTMEMORY;
        }
        HRESULT status = S_OK;
        LPWSTR message = nullptr;
        const HRESULT hr = admin->CheckFilerEntry(0, record.get(), &status, &message);
        const CoTaskText ownedMessage(message);
        if (hr == S_FALSE) {
            HRESULT stored = S_OK;
            LPWSTR storedMessage = nullptr;
            const HRESULT got = admin->GetLastError(0, &stored, &storedMessage);
            const CoTaskText ownedStored(storedMessage);
            const HRESULT result = FAILED(got) ? got : stored != S_OK ? stored : hr;
            text = FailureText(result, FAILED(got) ? std::u16string_view() : text_of(storedMessage));
            return result;
        }
        if (status != S_OK) {
            text = FailureText(status, text_of(message));
            return status;
        }
        // Only a check that passed says so; a failure without a stored
        // error shows the failure's own text.
        text = hr == S_OK ? LoadStringResource(IDS_CREDENTIALS_VERIFIED) : FailureText(hr, {});
        return hr;
    } catch (const std::exception&) {
        text = LoadStringResource(IDS_SERVICE_UNREACHABLE);
        return E_FAIL;
    }
}
