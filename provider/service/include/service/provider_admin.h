#pragma once
// CProviderAdmin: the administration class through which the applet reads,
// changes and checks the stored appliance list. One object per client
// operation; its stored error lives as long as the object.
#include <model/filer_record_list.h>
#include <platform/provider_admin.h>

#include <atomic>

class CProviderAdmin final : public IZarvoVdsProviderAdmin {
public:
    // With its first reference; nullptr when memory ran out.
    static CProviderAdmin* Create();

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    HRESULT STDMETHODCALLTYPE GetLastError(DWORD dwFlags, HRESULT* phr, LPWSTR* ppwszMessage) override;
    HRESULT STDMETHODCALLTYPE LoadFilerList(DWORD dwFlags, ULONG* pcpFiler, FILER_RECORD*** prgpFiler) override;
    HRESULT STDMETHODCALLTYPE CommitFilerList(DWORD dwFlags, ULONG cpFiler, FILER_RECORD** rgpFiler) override;
    HRESULT STDMETHODCALLTYPE CheckFilerEntry(DWORD dwFlags, FILER_RECORD* pfr, HRESULT* phr,
                                              LPWSTR* ppwszMessage) override;
    // The inserts are const WCHAR* (as many as the message of hr uses).
    HRESULT STDMETHODCALLTYPE SetLastError(HRESULT hr, ...) override;

private:
    CProviderAdmin();
    ~CProviderAdmin();
    HRESULT ApplyCommit(ULONG cpFiler, FILER_RECORD** rgpFiler);
    HRESULT CopyOutList(ULONG* pcpFiler, FILER_RECORD*** prgpFiler);
    HRESULT CheckAppliance(const FILER_RECORD& record);

    std::atomic<ULONG> m_refs{1};
    HRESULT m_hrLastError = 0;
    LPWSTR m_wszLastError = nullptr;
    filer_record_list* m_pList;
};

// The class object of CProviderAdmin, for the class table.
IClassFactory* ProviderAdminClassFactory();
