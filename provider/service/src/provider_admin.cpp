#include <service/provider_admin.h>

#include <vds/module_lock.h>

#include <hostlib/autolock.h>
#include <hostlib/trace.h>
#include <model/filer_control.h>
#include <platform/bstr.h>
#include <platform/comalloc.h>
#include <platform/errorinfo.h>
#include <platform/memory.h>
#include <platform/message.h>
#include <platform/probe.h>

#include <cstdarg>
#include <new>
#include <string>
#include <vector>

namespace {

constexpr HRESULT kInvalidSubsystemRecord = static_cast<HRESULT>(0xC0042501u);
constexpr DWORD kMessageChars = 65535;

HRESULT returning(const char* method, HRESULT hr) {
    trace_printf("CProviderAdmin::%s(): returning %08lX", method, trace_code(hr));
    return hr;
}

HRESULT invalid(const char* method, const char* reason) {
    trace_printf("CProviderAdmin::%s(): %s", method, reason);
    return E_INVALIDARG;
}

template <typename T>
bool writable(T* p) {
    return !IsBadWritePtr(p, sizeof(T));
}

// A failed allocation as an HRESULT: the last error's form, never success.
HRESULT allocation_failure() {
    const DWORD error = ::GetLastError();
    return error ? HRESULT_FROM_WIN32(error) : E_OUTOFMEMORY;
}

LPWSTR task_copy(const WCHAR* text) {
    if (!text) return nullptr;
    const size_t n = std::char_traits<char16_t>::length(text) + 1;
    auto* copy = static_cast<LPWSTR>(CoTaskMemAlloc(n * sizeof(WCHAR)));
    if (copy) std::char_traits<char16_t>::copy(copy, text, n);
    return copy;
}

// The number of inserts a message uses: the highest %N of its text.
int inserts_used(HRESULT hr) {
    WCHAR* text = nullptr;
    constexpr DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS |
                            FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_FROM_SYSTEM;
    if (!FormatMessageW(flags, nullptr, static_cast<DWORD>(hr), 0, reinterpret_cast<WCHAR*>(&text), 0, nullptr))
        return 0;
    int highest = 0;
    for (const WCHAR* p = text; *p; ++p) {
        if (*p != u'%') continue;
        if (p[1] == u'%') {
            ++p;
            continue;
        }
        int n = 0;
        while (p[1] >= u'0' && p[1] <= u'9' && n < 100) n = n * 10 + (*++p - u'0');
        highest = std::max(highest, std::min(n, 99));
    }
    LocalFree(text);
    return highest;
}


}  // namespace


CProviderAdmin* CProviderAdmin::Create() { return new (std::nothrow) CProviderAdmin; }

CProviderAdmin::CProviderAdmin() : m_pList(&process_filer_record_list()) {
    TraceScope scope("CProviderAdmin::CProviderAdmin");
    ModuleLock();
}

CProviderAdmin::~CProviderAdmin() {
    TraceScope scope("CProviderAdmin::~CProviderAdmin");
    CoTaskMemFree(m_wszLastError);
    ModuleUnlock();
}

HRESULT CProviderAdmin::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid != IID_IUnknown && riid != IID_IZarvoVdsProviderAdmin) return E_NOINTERFACE;
    AddRef();
    *ppv = static_cast<IZarvoVdsProviderAdmin*>(this);
    return S_OK;
}

ULONG CProviderAdmin::AddRef() { return ++m_refs; }

ULONG CProviderAdmin::Release() {
    const ULONG left = --m_refs;
    if (left == 0) delete this;
    return left;
}

HRESULT CProviderAdmin::GetLastError(DWORD dwFlags, HRESULT* phr, LPWSTR* ppwszMessage) {
    TraceScope scope("CProviderAdmin::GetLastError");
    if (dwFlags != 0 || !writable(phr) || !writable(ppwszMessage)) return returning("GetLastError", E_INVALIDARG);
    *ppwszMessage = task_copy(m_wszLastError);
    *phr = m_hrLastError;
    return returning("GetLastError", S_OK);
}

HRESULT CProviderAdmin::SetLastError(HRESULT hr, ...) {
    CoTaskMemFree(m_wszLastError);
    m_wszLastError = nullptr;
    m_hrLastError = hr;
    if (hr == 0) return S_OK;

    platform::MessageArgs inserts;
    va_list args;
    va_start(args, hr);
    for (int i = inserts_used(hr); i > 0; --i) {
        const WCHAR* insert = va_arg(args, const WCHAR*);
        inserts.items.emplace_back(std::u16string(insert ? insert : u""));
    }
    va_end(args);

    auto* text = static_cast<LPWSTR>(CoTaskMemAlloc(kMessageChars * sizeof(WCHAR)));
    if (!text) return allocation_failure();
    constexpr DWORD flags = FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_FROM_SYSTEM;
    if (!FormatMessageW(flags, nullptr, static_cast<DWORD>(hr), 0, text, kMessageChars, &inserts)) {
        const DWORD error = ::GetLastError();
        CoTaskMemFree(text);
        return error ? HRESULT_FROM_WIN32(error) : E_FAIL;
    }
    m_wszLastError = text;
    return S_OK;
}

HRESULT CProviderAdmin::LoadFilerList(DWORD dwFlags, ULONG* pcpFiler, FILER_RECORD*** prgpFiler) {
    TraceScope scope("CProviderAdmin::LoadFilerList");
    if (dwFlags != 0) return invalid("LoadFilerList", "bad flags");
    if (!writable(pcpFiler)) return invalid("LoadFilerList", "bad pcpFiler");
    if (!writable(prgpFiler)) return invalid("LoadFilerList", "bad prgpFiler");
    *pcpFiler = 0;
    *prgpFiler = nullptr;
    HRESULT hr = m_pList->Load();
    if (SUCCEEDED(hr)) hr = CopyOutList(pcpFiler, prgpFiler);
    // The applet shows the stored error of a failed load.
    if (FAILED(hr)) SetLastError(hr);
    return returning("LoadFilerList", SUCCEEDED(hr) ? S_OK : hr);
}

HRESULT CProviderAdmin::CopyOutList(ULONG* pcpFiler, FILER_RECORD*** prgpFiler) {
    CCriticalSectionHolder hold(&m_pList->m_lock);
    const auto count = static_cast<ULONG>(m_pList->m_map.size());
    if (count == 0) return S_OK;
    auto** array = static_cast<FILER_RECORD**>(CoTaskMemAlloc(count * sizeof(FILER_RECORD*)));
    if (!array) return allocation_failure();
    ULONG made = 0;
    for (const auto& [key, record] : m_pList->m_map) {
        if (!(array[made] = record->CopyOut())) {
            const HRESULT hr = allocation_failure();
            for (ULONG i = 0; i < made; ++i) free_filer_record(array[i]);
            CoTaskMemFree(array);
            return hr;
        }
        ++made;
    }
    *pcpFiler = count;
    *prgpFiler = array;
    return S_OK;
}

HRESULT CProviderAdmin::CommitFilerList(DWORD dwFlags, ULONG cpFiler, FILER_RECORD** rgpFiler) {
    TraceScope scope("CProviderAdmin::CommitFilerList");
    if (dwFlags != 0) return invalid("CommitFilerList", "bad flags");
    if (cpFiler != 0 && IsBadReadPtr(rgpFiler, UINT_PTR(cpFiler) * sizeof(FILER_RECORD*)))
        return invalid("CommitFilerList", "bad rgpFiler");
    for (ULONG i = 0; i < cpFiler; ++i)
        if (IsBadFilerRecForCommit(rgpFiler[i])) return invalid("CommitFilerList", "bad element in rgpFiler");
    HRESULT hr = m_pList->Load();
    if (SUCCEEDED(hr)) hr = ApplyCommit(cpFiler, rgpFiler);
    if (SUCCEEDED(hr)) hr = m_pList->Save();
    if (FAILED(hr)) SetLastError(hr);
    return returning("CommitFilerList", hr);
}

HRESULT CProviderAdmin::ApplyCommit(ULONG cpFiler, FILER_RECORD** rgpFiler) {
    CCriticalSectionHolder hold(&m_pList->m_lock);
    auto& map = m_pList->m_map;
    const auto find = [&](const FILER_RECORD& r) -> CFilerRecord* {
        if (!r.wszKey || !*r.wszKey) return nullptr;
        auto it = map.find(r.wszKey);
        return it == map.end() ? nullptr : it->second.get();
    };
    // Every deletion must name a stored record before anything changes, so a
    // stale list changes nothing.
    for (ULONG i = 0; i < cpFiler; ++i)
        if ((rgpFiler[i]->dwUpdateFlags & FILER_RECORD_DELETE) && !find(*rgpFiler[i])) return kInvalidSubsystemRecord;
    for (ULONG i = 0; i < cpFiler; ++i) {
        const FILER_RECORD& r = *rgpFiler[i];
        CFilerRecord* stored = find(r);
        if (r.dwUpdateFlags & FILER_RECORD_DELETE) stored->m_iFlags |= FILER_RECORD_DELETE;
        if (!(r.dwUpdateFlags & FILER_RECORD_CHANGED)) continue;
        if (!stored) {
            m_pList->Add(r.wszKey ? r.wszKey : u"", r.wszDnsName, r.wszUserName, r.wszPassword, r.hwpType);
            continue;
        }
        stored->m_strDnsName = r.wszDnsName;
        stored->m_strUserName = r.wszUserName;
        stored->m_strPassword = r.wszPassword ? r.wszPassword : u"";
        stored->m_iType = r.hwpType;
        stored->m_iFlags |= FILER_RECORD_CHANGED;
    }
    return S_OK;
}

HRESULT CProviderAdmin::CheckFilerEntry(DWORD dwFlags, FILER_RECORD* pfr, HRESULT* phr, LPWSTR* ppwszMessage) {
    TraceScope scope("CProviderAdmin::CheckFilerEntry");
    HRESULT hr = S_OK;
    if (dwFlags != 0 || IsBadFilerRecReadPtr(pfr) || !writable(phr) || !writable(ppwszMessage)) {
        hr = E_INVALIDARG;
        SetLastError(E_INVALIDARG);
    } else {
        SetLastError(0);
        hr = CheckAppliance(*pfr);
    }
    if (FAILED(hr) && (static_cast<uint32_t>(hr) & 0x1FFF0000u) == 0x00040000u) hr = S_FALSE;
    GetLastError(0, phr, ppwszMessage);
    return returning("CheckFilerEntry", hr);
}

HRESULT CProviderAdmin::CheckAppliance(const FILER_RECORD& record) {
    CFilerControl control;
    control.m_strFilerName = record.wszDnsName;
    control.m_strUserName = record.wszUserName;
    control.m_strPassword = record.wszPassword ? record.wszPassword : u"";
    const WCHAR* dns = record.wszDnsName;

    HRESULT hr = control.FilerValidateConnection();
    if (FAILED(hr)) {
        SetLastError(hr, dns);
        return hr;
    }
    std::u16string versionText;
    if (FAILED(hr = control.FilerGetVersion(control.m_strFilerName, versionText))) {
        // The facade reported why (an unsupported or unreadable release): keep
        // that error for the applet, which shows it.
        IErrorInfo* info = nullptr;
        if (GetErrorInfo(0, &info) == S_OK && info) {
            DWORD code = 0;
            BSTR description = nullptr;
            info->GetHelpContext(&code);
            info->GetDescription(&description);
            if (code && FAILED(static_cast<HRESULT>(code))) {
                hr = static_cast<HRESULT>(code);
                m_hrLastError = hr;
                CoTaskMemFree(m_wszLastError);
                m_wszLastError = task_copy(description);
            }
            SysFreeString(description);
            info->Release();
        }
        return hr;
    }
    filer_version version;
    try {
        version = filer_version::from_string(versionText);
    } catch (...) {
        return E_FAIL;
    }
    if (FAILED(hr = CheckMinimumZarvoVersion(record.hwpType, version))) SetLastError(hr, dns, version.c_str());
    return hr;
}

namespace {

class CProviderAdminFactory final : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (riid != IID_IUnknown && riid != IID_IClassFactory) return E_NOINTERFACE;
        *ppv = static_cast<IClassFactory*>(this);
        return S_OK;
    }
    // A process-wide static: the class table's references do not own it.
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        CProviderAdmin* admin = CProviderAdmin::Create();
        if (!admin) return E_OUTOFMEMORY;
        const HRESULT hr = admin->QueryInterface(riid, ppv);
        admin->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        if (lock) ModuleLock();
        else ModuleUnlock();
        return S_OK;
    }
};

}  // namespace

IClassFactory* ProviderAdminClassFactory() {
    static CProviderAdminFactory factory;
    return &factory;
}
