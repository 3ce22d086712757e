#include <platform/errorinfo.h>

#include <atomic>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <utility>


namespace {

using Text = std::optional<std::u16string>;

HRESULT copy_out(const Text& text, BSTR* out) {
    if (!out) return E_INVALIDARG;
    *out = nullptr;
    if (!text) return S_OK;
    *out = SysAllocStringLen(text->data(), static_cast<UINT>(text->size()));
    return *out ? S_OK : E_OUTOFMEMORY;
}

Text text_of(LPCOLESTR s) { return s ? Text(std::u16string(s)) : std::nullopt; }

// One object serves both faces, so the creator's ICreateErrorInfo and the
// reader's IErrorInfo see the same fields. An error object may be handed to
// several threads, hence the lock.
class ErrorObject final : public IErrorInfo, public ICreateErrorInfo {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IErrorInfo) *ppv = static_cast<IErrorInfo*>(this);
        else if (riid == IID_ICreateErrorInfo) *ppv = static_cast<ICreateErrorInfo*>(this);
        else {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_refs; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --m_refs;
        if (left == 0) delete this;
        return left;
    }

    HRESULT STDMETHODCALLTYPE GetGUID(GUID* pGUID) override {
        if (!pGUID) return E_INVALIDARG;
        std::lock_guard lock(m_lock);
        *pGUID = m_guid;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetSource(BSTR* out) override { return get(m_source, out); }
    HRESULT STDMETHODCALLTYPE GetDescription(BSTR* out) override { return get(m_description, out); }
    HRESULT STDMETHODCALLTYPE GetHelpFile(BSTR* out) override { return get(m_helpFile, out); }
    HRESULT STDMETHODCALLTYPE GetHelpContext(DWORD* out) override {
        if (!out) return E_INVALIDARG;
        std::lock_guard lock(m_lock);
        *out = m_helpContext;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE SetGUID(REFGUID rguid) override {
        std::lock_guard lock(m_lock);
        m_guid = rguid;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetSource(LPOLESTR s) override { return set(m_source, s); }
    HRESULT STDMETHODCALLTYPE SetDescription(LPOLESTR s) override { return set(m_description, s); }
    HRESULT STDMETHODCALLTYPE SetHelpFile(LPOLESTR s) override { return set(m_helpFile, s); }
    HRESULT STDMETHODCALLTYPE SetHelpContext(DWORD context) override {
        std::lock_guard lock(m_lock);
        m_helpContext = context;
        return S_OK;
    }

private:
    ~ErrorObject() = default;

    HRESULT get(const Text& field, BSTR* out) {
        std::lock_guard lock(m_lock);
        return copy_out(field, out);
    }
    HRESULT set(Text& field, LPCOLESTR s) {
        try {
            Text value = text_of(s);
            std::lock_guard lock(m_lock);
            field = std::move(value);
            return S_OK;
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
    }

    std::atomic<ULONG> m_refs{1};
    std::mutex m_lock;
    GUID m_guid = GUID_NULL;
    Text m_source, m_description, m_helpFile;
    DWORD m_helpContext = 0;
};

// The thread's slot gives its reference back when the thread ends.
struct ErrorSlot {
    IErrorInfo* info = nullptr;
    ~ErrorSlot() {
        if (info) info->Release();
    }
};
thread_local ErrorSlot t_errorSlot;

}  // namespace

HRESULT CreateErrorInfo(ICreateErrorInfo** pperrinfo) {
    if (!pperrinfo) return E_INVALIDARG;
    auto* object = new (std::nothrow) ErrorObject;
    *pperrinfo = object;
    return object ? S_OK : E_OUTOFMEMORY;
}

HRESULT SetErrorInfo(ULONG dwReserved, IErrorInfo* perrinfo) {
    if (dwReserved != 0) return E_INVALIDARG;
    if (perrinfo) perrinfo->AddRef();
    // Released after the slot changed: the old object's release may run code
    // that reads or sets error information itself.
    IErrorInfo* old = std::exchange(t_errorSlot.info, perrinfo);
    if (old) old->Release();
    return S_OK;
}

HRESULT GetErrorInfo(ULONG dwReserved, IErrorInfo** pperrinfo) {
    if (dwReserved != 0 || !pperrinfo) return E_INVALIDARG;
    *pperrinfo = std::exchange(t_errorSlot.info, nullptr);
    return *pperrinfo ? S_OK : S_FALSE;
}
