#include <vds/com_method.h>

#include <platform/vds.h>

void TraceBadArgument(const char* name, const char* reason) { trace_printf("%s(): %s", name, reason); }

HRESULT NotSupported(const char* name) {
    trace_printf("%s(): not supported.", name);
    return VDS_E_NOT_SUPPORTED;
}

ArgumentChecks& ArgumentChecks::Check(bool bad, const char* reason, HRESULT failure) {
    if (m_rule == Rule::FirstDecides && Failed()) return *this;
    if (bad) {
        if (reason) TraceBadArgument(m_name, reason);
        m_result = failure;
    }
    return *this;
}
