#include "filer_list.h"

#include <algorithm>
#include <exception>
#include <vector>

#include <platform/comalloc.h>

#include "admin_client.h"
#include "resource.h"

ULONG CFilerList::s_counter = 0;

CFilerList::CFilerList() { s_counter = 0; }

CFilerList::~CFilerList() { FreeRecords(); }

void CFilerList::FreeRecords() {
    m_records.clear();
    s_counter = 0;
    m_mark = 0;
}

FILER_RECORD* CFilerList::Find(ULONG key) const {
    auto it = m_records.find(key);
    return it == m_records.end() ? nullptr : it->second.get();
}

HRESULT CFilerList::Load(CString& text) {
    text.Empty();
    FreeRecords();
    CWaitCursor wait;
    try {
        AdminPtr admin;
        if (const HRESULT hr = ActivateAdmin(admin); FAILED(hr)) {
            text = ActivationFailureText(hr);
            return hr;
        }
        ReturnedRecords returned;
        if (const HRESULT hr = admin->LoadFilerList(0, returned.count(), returned.array()); FAILED(hr))
            return ServiceFailure(*admin, hr, text);
        for (ULONG i = 0; i < returned.size(); ++i) {
            const ULONG key = NextKey();
            m_records.emplace(key, returned.take(i));
        }
    } catch (const std::exception&) {
        // Nothing half-loaded stays behind.
        FreeRecords();
        text = LoadStringResource(IDS_SERVICE_UNREACHABLE);
        return E_FAIL;
    }
    AdvanceMark();
    return S_OK;
}

HRESULT CFilerList::Commit(CString& text) {
    text.Empty();
    CWaitCursor wait;
    try {
        AdminPtr admin;
        if (const HRESULT hr = ActivateAdmin(admin); FAILED(hr)) {
            text = ActivationFailureText(hr);
            return hr;
        }
        // Only the records with changes travel. The service refuses a record
        // of a type it does not know, so a deletion of one is sent with a
        // type it accepts: a deletion reads the key alone.
        std::vector<FILER_RECORD*> changed;
        std::vector<FILER_RECORD> deletions;
        deletions.reserve(m_records.size());
        for (const auto& [key, record] : m_records) {
            if (record->dwUpdateFlags == 0) continue;
            const bool knownType = record->hwpType == kTypeFibreChannel || record->hwpType == kTypeIscsi;
            if (!knownType && record->dwUpdateFlags == FILER_RECORD_DELETE) {
                deletions.push_back(*record);
                deletions.back().hwpType = kTypeFibreChannel;
                changed.push_back(&deletions.back());
            } else {
                changed.push_back(record.get());
            }
        }
        const std::unique_ptr<FILER_RECORD*, CoTaskFree> array(
            static_cast<FILER_RECORD**>(CoTaskMemAlloc(changed.size() * sizeof(FILER_RECORD*))));
        if (!array) {
            text = LoadStringResource(IDS_OUT_OF_MEMORY);
            return STG_E_INSUFFICIENTMEMORY;
        }
        std::copy(changed.begin(), changed.end(), array.get());
        if (const HRESULT hr = admin->CommitFilerList(0, static_cast<ULONG>(changed.size()), array.get()); FAILED(hr))
            return ServiceFailure(*admin, hr, text);  // every change stays for the next commit
    } catch (const std::exception&) {
        text = LoadStringResource(IDS_SERVICE_UNREACHABLE);
        return E_FAIL;
    }
    AdvanceMark();
    std::erase_if(m_records, [](const auto& entry) { return entry.second->dwUpdateFlags == FILER_RECORD_DELETE; });
    for (auto& [key, record] : m_records) record->dwUpdateFlags = 0;
    return S_OK;
}

HRESULT CFilerList::Add(const CFilerEntry& entry, ULONG& key, CString& text) {
    text.Empty();
    RecordPtr record(entry.CreateRecord());
    if (!record) {
        text = LoadStringResource(IDS_OUT_OF_MEMORY);
        return STG_E_INSUFFICIENTMEMORY;
    }
    key = NextKey();
    m_records.emplace(key, std::move(record));
    return S_OK;
}

HRESULT CFilerList::Remove(ULONG key) {
    auto it = m_records.find(key);
    if (it == m_records.end()) return S_OK;
    if (key < m_mark) {
        it->second->dwUpdateFlags = FILER_RECORD_DELETE;  // sent as a deletion at the next commit
    } else {
        m_records.erase(it);  // the service never saw it
    }
    return S_OK;
}
