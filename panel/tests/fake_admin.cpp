#include "fake_admin.h"

#include <new>

#include <platform/classtable.h>
#include <platform/comalloc.h>

#include "filer_record_memory.h"

namespace {

FILER_RECORD* copy_out(const FakeRecord& r) {
    auto* record = static_cast<FILER_RECORD*>(CoTaskMemAlloc(sizeof(FILER_RECORD)));
    *record = FILER_RECORD{co_task_string(r.key), co_task_string(r.dns), co_task_string(r.user),
                           co_task_string(r.password), r.type, r.flags};
    return record;
}

template <typename Interface>
class RefCounted : public Interface {
public:
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_refs; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --m_refs;
        if (left == 0) delete this;
        return left;
    }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (riid != IID_IUnknown && riid != platform::uuid_of<Interface>()) {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        *ppv = static_cast<Interface*>(this);
        AddRef();
        return S_OK;
    }
    virtual ~RefCounted() = default;

private:
    ULONG m_refs = 1;
};

class FakeAdmin final : public RefCounted<IZarvoVdsProviderAdmin> {
public:
    explicit FakeAdmin(FakeAdminState& state) : m_state(state) { ++m_state.liveObjects; }
    ~FakeAdmin() override { --m_state.liveObjects; }

    HRESULT STDMETHODCALLTYPE GetLastError(DWORD, HRESULT* phr, LPWSTR* message) override {
        m_state.calls.push_back("GetLastError");
        if (FAILED(m_state.getLastErrorResult)) return m_state.getLastErrorResult;
        *phr = m_error;
        *message = m_message.empty() ? nullptr : co_task_string(m_message);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE LoadFilerList(DWORD, ULONG* count, FILER_RECORD*** records) override {
        m_state.calls.push_back("LoadFilerList");
        if (m_state.throwIn == "LoadFilerList") throw std::bad_alloc();
        *count = 0;
        *records = nullptr;
        if (FAILED(m_state.loadResult)) return store(m_state.loadResult);
        if (m_state.stored.empty()) return S_OK;
        *records = static_cast<FILER_RECORD**>(CoTaskMemAlloc(m_state.stored.size() * sizeof(FILER_RECORD*)));
        for (size_t i = 0; i < m_state.stored.size(); ++i) (*records)[i] = copy_out(m_state.stored[i]);
        *count = static_cast<ULONG>(m_state.stored.size());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE CommitFilerList(DWORD, ULONG count, FILER_RECORD** records) override {
        m_state.calls.push_back("CommitFilerList");
        if (m_state.throwIn == "CommitFilerList") throw std::bad_alloc();
        std::vector<FakeRecord> sent;
        for (ULONG i = 0; i < count; ++i) sent.push_back(fake_record_of(*records[i]));
        m_state.commits.push_back(sent);
        return FAILED(m_state.commitResult) ? store(m_state.commitResult) : S_OK;
    }
    HRESULT STDMETHODCALLTYPE CheckFilerEntry(DWORD, FILER_RECORD* record, HRESULT* phr, LPWSTR* message) override {
        m_state.calls.push_back("CheckFilerEntry");
        if (m_state.throwIn == "CheckFilerEntry") throw std::bad_alloc();
        m_state.checked.push_back(fake_record_of(*record));
        m_error = m_state.storedError;
        m_message = m_state.storedMessage;
        *phr = m_error;
        *message = m_message.empty() ? nullptr : co_task_string(m_message);
        return m_state.checkResult;
    }
    HRESULT STDMETHODCALLTYPE SetLastError(HRESULT hr, ...) override {
        m_error = hr;
        return S_OK;
    }

private:
    // Load and commit failures store an error only when the test set one.
    HRESULT store(HRESULT hr) {
        m_error = m_state.storedError;
        m_message = m_state.storedMessage;
        return hr;
    }

    FakeAdminState& m_state;
    HRESULT m_error = S_OK;
    std::u16string m_message;
};

class FakeAdminFactory final : public RefCounted<IClassFactory> {
public:
    explicit FakeAdminFactory(FakeAdminState& state) : m_state(state) {}
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown*, REFIID riid, void** ppv) override {
        if (FAILED(m_state.createResult)) return m_state.createResult;
        auto* object = new FakeAdmin(m_state);
        const HRESULT hr = object->QueryInterface(riid, ppv);
        object->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

private:
    FakeAdminState& m_state;
};

}  // namespace

FakeRecord fake_record_of(const FILER_RECORD& r) {
    return FakeRecord{std::u16string(text_of(r.wszKey)),      std::u16string(text_of(r.wszDnsName)),
                      std::u16string(text_of(r.wszUserName)), std::u16string(text_of(r.wszPassword)),
                      r.hwpType,                              r.dwUpdateFlags};
}

FakeAdminService::FakeAdminService() {
    auto* factory = new FakeAdminFactory(state);
    CoRegisterClassObject(CLSID_ZarvoVdsProviderAdmin, factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &m_cookie);
    factory->Release();
}

FakeAdminService::~FakeAdminService() { CoRevokeClassObject(m_cookie); }
