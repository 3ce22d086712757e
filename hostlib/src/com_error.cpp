#include <hostlib/com_error.h>

#include <hostlib/trace.h>
#include <hostlib/wformat.h>

#include <platform/progid.h>
#include <platform/comalloc.h>
#include <platform/errorinfo.h>
#include <platform/library.h>
#include <platform/memory.h>

#include <cstring>

#include "com_holder.h"

namespace {

constexpr DWORD kUserDefaultLanguage = 0x400;
constexpr SIZE_T kFallbackBytes = 2048;

struct MessageSource {
    const WCHAR* library;  // null: the program's own module
    DWORD id;
};

MessageSource message_source(HRESULT hr) {
    const DWORD code = static_cast<DWORD>(hr);
    switch ((code >> 16) & 0x1FFF) {
    case 7: return {u"KERNEL32.DLL", code & 0xFFFF};
    case 0xFFF: return {u"ISCSIDSC.DLL", code};
    case 0x1000: return {u"NTDLL.DLL", code & ~0x10000000u};
    default: return {nullptr, code};
    }
}

// Holds a library loaded for one lookup.
class LookupModule {
public:
    explicit LookupModule(const WCHAR* library)
        : m_loaded(library ? LoadLibraryW(library) : nullptr),
          m_module(library ? m_loaded : GetModuleHandleW(nullptr)) {}
    ~LookupModule() {
        if (m_loaded) FreeLibrary(m_loaded);
    }
    LookupModule(const LookupModule&) = delete;
    LookupModule& operator=(const LookupModule&) = delete;
    HMODULE get() const { return m_module; }

private:
    HMODULE m_loaded;
    HMODULE m_module;
};

DWORD fallback_text(DWORD id, WCHAR** text) {
    auto* buffer = static_cast<WCHAR*>(LocalAlloc(LPTR, kFallbackBytes));
    *text = buffer;
    if (!buffer) return 0;
    const std::u16string message = hostlib::wsprintf_typed(u"Error 0x%x occured. Description is not found.", id);
    const size_t chars = std::min(message.size(), kFallbackBytes / sizeof(WCHAR) - 1);
    std::memcpy(buffer, message.data(), chars * sizeof(WCHAR));
    return static_cast<DWORD>(chars);
}

}  // namespace

DWORD get_message_text(HRESULT hr, WCHAR** text, const platform::MessageArgs* inserts) {
    *text = nullptr;
    const MessageSource source = message_source(hr);
    const LookupModule module(source.library);
    DWORD length = 0;
    if (module.get())
        length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_FROM_SYSTEM,
                                module.get(), source.id, kUserDefaultLanguage, reinterpret_cast<WCHAR*>(text), 0,
                                inserts);
    if (length && *text) return length;
    if (*text) *text = static_cast<WCHAR*>(LocalFree(*text));
    return fallback_text(source.id, text);
}

namespace {

// Error information whose description is the message text of `hr` with the
// inserts; the caller owns the reference (null when none could be made).
IErrorInfo* message_error_info(HRESULT hr, const platform::MessageArgs& inserts) {
    WCHAR* text = nullptr;
    get_message_text(hr, &text, &inserts);

    com_holder<IErrorInfo> info;
    com_holder<ICreateErrorInfo> creator;
    if (SUCCEEDED(CreateErrorInfo(creator.receive())) && creator) {
        creator->SetDescription(text);
        // The message id as the help topic: a caller that only receives the
        // error information (set_error_info_from) can still tell which error it was.
        creator->SetHelpContext(static_cast<DWORD>(hr));
        creator->QueryInterface(IID_PPV_ARGS(info.receive()));
    }
    LocalFree(text);
    return info.detach();
}

}  // namespace

void raise_com_error_args(const WCHAR* /*file*/, int /*line*/, HRESULT hr, const platform::MessageArgs& inserts) {
    if (hr == S_OK) throw _com_error(E_FAIL);
    // The thrown error takes the holder's reference.
    throw _com_error(hr, message_error_info(hr, inserts));
}

void set_error_info_message_args(DWORD messageId, const platform::MessageArgs& inserts) {
    com_holder<IErrorInfo> info(message_error_info(static_cast<HRESULT>(messageId), inserts));
    SetErrorInfo(0, info.get());
}

HRESULT set_error_info_from(REFCLSID clsid, REFIID iid, const _com_error& error) {
    com_holder<IErrorInfo> info(error.ErrorInfo());
    if (!info) return error.Error();
    com_holder<ICreateErrorInfo> creator;
    if (SUCCEEDED(info->QueryInterface(IID_PPV_ARGS(creator.receive()))) && creator) {
        GUID guid = GUID_NULL;
        if (SUCCEEDED(info->GetGUID(&guid)) && guid == GUID_NULL) creator->SetGUID(iid);
        BSTR source = nullptr;
        info->GetSource(&source);
        if (!source || !*source) {
            LPOLESTR progId = nullptr;
            if (SUCCEEDED(ProgIDFromCLSID(clsid, &progId)) && progId) {
                creator->SetSource(progId);
                CoTaskMemFree(progId);
            }
        }
        SysFreeString(source);
    }
    SetErrorInfo(0, info.get());
    return error.Error();
}

void ReportAssertion(const char* /*file*/, int /*line*/, bool condition) {
    trace_assert(condition, "assertion", "provider\\localerror", 164);
}
