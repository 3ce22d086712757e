#pragma once
// The administration interface of the provider service: the one interface the
// applet and the service share. It lives here because the applet links nothing
// of the service; the service implements it, the applet reaches it through COM.
#include <platform/types.h>
#include <platform/unknown.h>

// One stored appliance as exchanged through IZarvoVdsProviderAdmin. The record
// and each string are separate CoTaskMem blocks; whoever receives records frees
// each string, then the record; an array of records is a CoTaskMem array of
// record pointers, freed after its records.
struct FILER_RECORD {
    LPWSTR wszKey;       // GUID text, lower case, no braces; NULL or "" in a commit asks for a new key
    LPWSTR wszDnsName;   // never NULL
    LPWSTR wszUserName;  // never NULL
    LPWSTR wszPassword;  // in clear; NULL counts as ""
    LONG hwpType;        // VDS_HWPROVIDER_TYPE: 2 Fibre Channel, 3 iSCSI
    DWORD dwUpdateFlags; // FILER_RECORD_DELETE | FILER_RECORD_CHANGED, no other bit
};
static_assert(sizeof(FILER_RECORD) == 4 * sizeof(void*) + 8);

constexpr DWORD FILER_RECORD_DELETE = 0x1;
constexpr DWORD FILER_RECORD_CHANGED = 0x2;

DEFINE_GUID(CLSID_ZarvoVdsProviderAdmin, 0x217ee458, 0x5c83, 0x479d, 0x9e, 0x7b, 0xb8, 0xcc, 0xf7, 0x95, 0x07, 0xe3);
DEFINE_GUID(IID_IZarvoVdsProviderAdmin, 0xbced7d13, 0x8ee5, 0x4350, 0xab, 0x48, 0x5c, 0xdd, 0xa3, 0xf3, 0x97, 0x1f);

inline constexpr const WCHAR* kZarvoVdsProviderAdminProgId = u"Zarvo.VdsProviderAdmin.1";
inline constexpr const WCHAR* kZarvoVdsProviderAdminVersionIndependentProgId = u"Zarvo.VdsProviderAdmin";
inline constexpr const WCHAR* kZarvoVdsProviderAdminDescription = u"Zarvo VDS Hardware Provider Administration";

struct IZarvoVdsProviderAdmin : IUnknown {
    // The error the object stored last and its text (CoTaskMem, NULL when none).
    virtual HRESULT STDMETHODCALLTYPE GetLastError(DWORD dwFlags, HRESULT* phr, LPWSTR* ppwszMessage) = 0;
    // The stored list; the array and every record in it are the caller's to free.
    virtual HRESULT STDMETHODCALLTYPE LoadFilerList(DWORD dwFlags, ULONG* pcpFiler, FILER_RECORD*** prgpFiler) = 0;
    // Applies the records' change flags to the stored list and saves it.
    virtual HRESULT STDMETHODCALLTYPE CommitFilerList(DWORD dwFlags, ULONG cpFiler, FILER_RECORD** rgpFiler) = 0;
    // Logs in to the record's appliance and checks its release; S_FALSE with the
    // reason in *phr and *ppwszMessage when the appliance is refused.
    virtual HRESULT STDMETHODCALLTYPE CheckFilerEntry(DWORD dwFlags, FILER_RECORD* pfr, HRESULT* phr,
                                                      LPWSTR* ppwszMessage) = 0;
    // Stores hr and its message text; the inserts %1, %2 … are wide strings
    // (const WCHAR*). For the object's own use: it does not cross processes.
    virtual HRESULT STDMETHODCALLTYPE SetLastError(HRESULT hr, ...) = 0;

protected:
    ~IZarvoVdsProviderAdmin() = default;
};

PLATFORM_INTERFACE_ID(IZarvoVdsProviderAdmin, IID_IZarvoVdsProviderAdmin);
