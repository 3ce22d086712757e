#include "admin_client.h"

#include <platform/classtable.h>
#include <platform/message.h>

#include "filer_record_memory.h"
#include "resource.h"

namespace {
constexpr DWORD kAdminContexts = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER;
constexpr int kStringBuffer = 1024;
}  // namespace

HRESULT ActivateAdmin(AdminPtr& admin) {
    IZarvoVdsProviderAdmin* object = nullptr;
    const HRESULT hr = CoCreateInstance(CLSID_ZarvoVdsProviderAdmin, nullptr, kAdminContexts, IID_IZarvoVdsProviderAdmin,
                                        reinterpret_cast<void**>(&object));
    admin.reset(SUCCEEDED(hr) ? object : nullptr);
    return hr;
}

CString ActivationFailureText(HRESULT hr) {
    return LoadStringResource(hr == HRESULT_FROM_WIN32(RPC_S_SERVER_TOO_BUSY) ? IDS_SERVICE_BUSY
                                                                                 : IDS_SERVICE_UNREACHABLE);
}

CString LoadStringResource(UINT id) {
    WCHAR buffer[kStringBuffer];
    AfxLoadString(id, buffer, kStringBuffer);
    return CString(buffer);
}

std::u16string SystemMessage(HRESULT hr) {
    WCHAR buffer[kStringBuffer];
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                   static_cast<DWORD>(hr), 0, buffer, kStringBuffer, nullptr);
    std::u16string text(buffer, n);
    while (!text.empty() && (text.back() == u'\n' || text.back() == u'\r')) text.pop_back();
    return text;
}

CString FailureText(HRESULT hr, std::u16string_view text) {
    if (!text.empty()) return CString(text);
    const std::u16string system = SystemMessage(hr);
    return system.empty() ? LoadStringResource(IDS_SERVICE_UNREACHABLE) : CString(system);
}

HRESULT ServiceFailure(IZarvoVdsProviderAdmin& admin, HRESULT callResult, CString& text) {
    HRESULT status = S_OK;
    LPWSTR message = nullptr;
    const HRESULT hr = admin.GetLastError(0, &status, &message);
    const CoTaskText owned(message);
    // A call that failed without storing an error keeps its own result, so
    // a failure is never taken for success.
    if (FAILED(hr) || status == S_OK) {
        text = FailureText(callResult, {});
        return callResult;
    }
    text = FailureText(status, text_of(message));
    return status;
}
