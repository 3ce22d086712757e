#pragma once
// The trace log: one text file named in the service's Parameters key, and an
// optional copy to the debugger output. No levels, no rotation. A line is
// "<local time> [<pid>.<tid>]: <text>\n", at most 1022 bytes with its line
// feed; a longer line is dropped whole, never cut.
#include <cstdint>
#include <string>

#include <platform/types.h>

// Writes one line. Never fails visibly; nothing is formatted when both outputs are off.
void trace_printf(const char* format, ...) __attribute__((format(printf, 1, 2)));

// A result code (HRESULT, Win32 or status) for a "%08lX" or "%lx" trace: its
// 32 bits. A plain cast of a negative HRESULT to unsigned long sign-extends it
// on LP64 and prints 16 digits.
constexpr unsigned long trace_code(int32_t code) { return static_cast<uint32_t>(code); }

// Writes "ASSERTION FAILED: (%s) AT %s(%d)" when the condition is false, then
// lets the caller go on: an assertion never stops the program.
void trace_assert(bool condition, const char* expression, const char* file, int line);
#define TRACE_ASSERT(cond) trace_assert(static_cast<bool>(cond), #cond, __FILE__, __LINE__)

// Reads the Parameters key and opens the trace file. The program calls it once,
// through trace_session; tests call it again after changing the registry.
void trace_open();
// Test tool: closes the trace file and turns the debugger copy off.
void trace_close();

// Opens the log and writes the start banner when built; writes the stop banner
// when destroyed. The program defines one as a static object, so the log is
// open before its entry point runs.
class trace_session {
public:
    trace_session();
    ~trace_session();
    trace_session(const trace_session&) = delete;
    trace_session& operator=(const trace_session&) = delete;
};

// "%s(): entering." when built, "%s(): leaving." when its scope ends, on a
// normal return and when an exception passes.
class TraceScope {
public:
    explicit TraceScope(const char* qualifiedName);
    ~TraceScope();
    TraceScope(const TraceScope&) = delete;
    TraceScope& operator=(const TraceScope&) = delete;

private:
    std::string m_name;
    bool m_armed = false;
};

// The catch-all frames: a COM method traces "Unexpected exception in function:
// %s , returns: 0x%08X" and returns `result` (E_FAIL or E_UNEXPECTED); other
// functions trace "Unexpected exception in function: %s.".
HRESULT trace_unexpected_exception(const char* function, HRESULT result);
void trace_unexpected_exception(const char* function);

// The program's version text, shown in the start banner.
inline constexpr const char* kSanprovVersion = "1.0.1094.0";
