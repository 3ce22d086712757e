#pragma once
// _com_error: the thrown form of a failure, an HRESULT with the error object
// that describes it.
#include <optional>
#include <string>

#include <platform/errorinfo.h>

class _com_error {
public:
    // Takes over the caller's reference on `perrinfo`, or takes one of its own
    // when `fAddRef` is set.
    explicit _com_error(HRESULT hr, IErrorInfo* perrinfo = nullptr, bool fAddRef = false) noexcept;
    _com_error(const _com_error& that) noexcept;
    _com_error& operator=(const _com_error& that) noexcept;
    virtual ~_com_error();

    HRESULT Error() const noexcept { return m_hresult; }
    // The dispatch error number of 0x80040200..0x8004FFFF codes, else 0.
    WORD WCode() const noexcept { return HRESULTToWCode(m_hresult); }
    // The error object with a new reference for the caller, or null.
    IErrorInfo* ErrorInfo() const noexcept;
    // The error object's description; empty when there is none.
    std::u16string Description() const;
    // The system's text for the HRESULT without its closing line break, or
    // "IDispatch error #%d" / "Unknown error 0x%0lX" when it has none. Made on
    // first use and owned by this object.
    const WCHAR* ErrorMessage() const;

    static WORD HRESULTToWCode(HRESULT hr) noexcept;

private:
    HRESULT m_hresult;
    IErrorInfo* m_perrinfo;
    mutable std::optional<std::u16string> m_message;
};
