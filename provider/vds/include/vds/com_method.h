#pragma once
// The rules every COM method of the VDS layer follows: entering and leaving
// traced under its qualified name, each bad argument traced with its reason,
// the result traced as "returning", and any exception that reaches the method
// turned into E_FAIL.
#include <exception>

#include <hostlib/trace.h>
#include <platform/errors.h>

template <typename Body>
HRESULT RunComMethod(const char* name, Body&& body) {
    TraceScope scope(name);
    HRESULT hr = S_OK;
    try {
        hr = body();
    } catch (...) {
        return trace_unexpected_exception(name, E_FAIL);
    }
    trace_printf("%s(): returning %08lX", name, static_cast<unsigned long>(static_cast<ULONG>(hr)));
    return hr;
}

// "<name>(): <reason>".
void TraceBadArgument(const char* name, const char* reason);
// "<name>(): not supported." and VDS_E_NOT_SUPPORTED.
HRESULT NotSupported(const char* name);

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
