#include <platform/com_error.h>

#include <cstdio>

#include <platform/memory.h>
#include <platform/message.h>
#include <platform/text.h>

namespace {

constexpr uint32_t kFirstDispatchCode = 0x80040200;
constexpr uint32_t kLastDispatchCode = 0x8004FFFF;
constexpr DWORD kUserDefaultLanguage = 0x0400;

std::u16string system_text(HRESULT hr) {
    WCHAR* text = nullptr;
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, static_cast<DWORD>(hr), kUserDefaultLanguage,
                                   reinterpret_cast<WCHAR*>(&text), 0, nullptr);
    if (n == 0 || !text) return {};
    std::u16string result(text, n);
    LocalFree(text);
    if (result.size() > 1 && result.back() == u'\n') {
        result.pop_back();
        if (result.back() == u'\r') result.pop_back();
    }
    return result;
}

std::u16string fallback_text(HRESULT hr, WORD wCode) {
    char buf[32];
    if (wCode != 0) std::snprintf(buf, sizeof buf, "IDispatch error #%d", wCode);
    else std::snprintf(buf, sizeof buf, "Unknown error 0x%X", static_cast<uint32_t>(hr));  // not zero-padded
    return platform::utf8_to_wide_lossy(buf);
}

}  // namespace

_com_error::_com_error(HRESULT hr, IErrorInfo* perrinfo, bool fAddRef) noexcept : m_hresult(hr), m_perrinfo(perrinfo) {
    if (m_perrinfo && fAddRef) m_perrinfo->AddRef();
}

_com_error::_com_error(const _com_error& that) noexcept
    : m_hresult(that.m_hresult), m_perrinfo(that.m_perrinfo) {
    if (m_perrinfo) m_perrinfo->AddRef();
}

_com_error& _com_error::operator=(const _com_error& that) noexcept {
    if (this == &that) return *this;
    if (that.m_perrinfo) that.m_perrinfo->AddRef();
    if (m_perrinfo) m_perrinfo->Release();
    m_hresult = that.m_hresult;
    m_perrinfo = that.m_perrinfo;
    m_message.reset();
    return *this;
}

_com_error::~_com_error() {
    if (m_perrinfo) m_perrinfo->Release();
}

IErrorInfo* _com_error::ErrorInfo() const noexcept {
    if (m_perrinfo) m_perrinfo->AddRef();
    return m_perrinfo;
}

std::u16string _com_error::Description() const {
    if (!m_perrinfo) return {};
    BSTR text = nullptr;
    if (FAILED(m_perrinfo->GetDescription(&text)) || !text) return {};
    std::u16string result(text, SysStringLen(text));
    SysFreeString(text);
    return result;
}

const WCHAR* _com_error::ErrorMessage() const {
    if (!m_message) {
        std::u16string text = system_text(m_hresult);
        m_message = text.empty() ? fallback_text(m_hresult, WCode()) : std::move(text);
    }
    return m_message->c_str();
}

WORD _com_error::HRESULTToWCode(HRESULT hr) noexcept {
    const auto code = static_cast<uint32_t>(hr);
    return code >= kFirstDispatchCode && code <= kLastDispatchCode ? static_cast<WORD>(code - kFirstDispatchCode) : 0;
}
