#include <vds/com_method.h>

#include <platform/vds.h>
#include <vds/vds_status.h>

void TraceBadArgument(const char* name, const char* reason) { trace_printf("%s(): %s", name, reason); }

HRESULT NotSupported(const char* name) {
    trace_printf("%s(): not supported.", name);
    return VDS_E_NOT_SUPPORTED;
}

bool BadString(const WCHAR* text, const char* name, const char* reason) {
    // Any length: the text is read up to its terminator.
    if (!IsBadStringPtrW(text, ~ULONG_PTR{0})) return false;
    TraceBadArgument(name, reason);
    return true;
}

HRESULT StatusNotSupported(const char* name, LONG status) {
    return RunComMethod(name, [&]() -> HRESULT {
        if (!IsPublishedStatus(status)) {
            TraceBadArgument(name, "bogus status code");
            return E_INVALIDARG;
        }
        return NotSupported(name);
    });
}

ArgumentChecks& ArgumentChecks::Check(bool bad, const char* reason, HRESULT failure) {
    if (m_rule == Rule::FirstDecides && Failed()) return *this;
    if (bad) {
        if (reason) TraceBadArgument(m_name, reason);
        m_result = failure;
    }
    return *this;
}
