#pragma once
// The rules every COM method of the VDS layer follows: entering and leaving
// traced under its qualified name, each bad argument traced with its reason,
// the result traced as "returning", and any exception that reaches the method
// turned into E_FAIL.
#include <exception>

#include <hostlib/trace.h>
#include <platform/errors.h>
#include <platform/probe.h>

template <typename Body>
HRESULT RunComMethod(const char* name, Body&& body) {
    TraceScope scope(name);
    HRESULT hr = S_OK;
    try {
        hr = body();
    } catch (...) {
        return trace_unexpected_exception(name, E_FAIL);
    }
    trace_printf("%s(): returning %08lX", name, trace_code(hr));
    return hr;
}

// "<name>(): <reason>".
void TraceBadArgument(const char* name, const char* reason);
// "<name>(): not supported." and VDS_E_NOT_SUPPORTED.
HRESULT NotSupported(const char* name);

// Out-arguments, records and texts the caller hands in: a bad one is traced
// as "<name>(): <reason>" and the check answers true.
template <typename Pointer>
bool BadWrite(Pointer* pointer, const char* name, const char* reason) {
    if (!IsBadWritePtr(pointer, sizeof(*pointer))) return false;
    TraceBadArgument(name, reason);
    return true;
}

template <typename Record>
bool BadRead(const Record* record, const char* name, const char* reason) {
    if (!IsBadReadPtr(record, sizeof(*record))) return false;
    TraceBadArgument(name, reason);
    return true;
}

bool BadString(const WCHAR* text, const char* name, const char* reason);

// A whole method the provider does not carry out: its one argument is still
// checked (E_POINTER when bad), then VDS_E_NOT_SUPPORTED.
template <typename Pointer>
HRESULT NotSupportedAfterWriteCheck(const char* name, Pointer* out, const char* reason) {
    return RunComMethod(name, [&]() -> HRESULT {
        return BadWrite(out, name, reason) ? E_POINTER : NotSupported(name);
    });
}

template <typename Record>
HRESULT NotSupportedAfterReadCheck(const char* name, const Record* in, const char* reason) {
    return RunComMethod(name, [&]() -> HRESULT {
        return BadRead(in, name, reason) ? E_POINTER : NotSupported(name);
    });
}

// SetStatus on an object whose status the provider does not change: an
// unpublished status is refused with E_INVALIDARG, a published one is not supported.
HRESULT StatusNotSupported(const char* name, LONG status);

// Argument checks of one method, run in order. By default the first failing
// check decides and the later ones are not run; the subsystem's methods run
// every check and let the last failing one decide.
class ArgumentChecks {
public:
    enum class Rule { FirstDecides, LastDecides };
    explicit ArgumentChecks(const char* name, Rule rule = Rule::FirstDecides) : m_name(name), m_rule(rule) {}

    // A check that fails when `bad` is true; a null reason traces nothing.
    ArgumentChecks& Check(bool bad, const char* reason, HRESULT failure);
    bool Failed() const { return FAILED(m_result); }
    HRESULT Result() const { return m_result; }

private:
    const char* m_name;
    Rule m_rule;
    HRESULT m_result = S_OK;
};
