#pragma once
// Event-log reporting under the service's own event source, with the program's
// message table as the message file. CEventLogReporter holds the reporting
// operations; the service module derives from it, so they are its LogEvent
// forms. None returns a result or throws: an event that cannot be reported is
// dropped.
#include <string>

#include <platform/com_error.h>
#include <platform/delayload.h>
#include <platform/message.h>
#include <platform/types.h>

// Events raised by the reporting operations themselves (ids of the message table).
inline constexpr DWORD EVENT_COM_ERROR_INFORMATION = 0x40000BB8;
inline constexpr DWORD EVENT_COM_ERROR_WARNING = 0x80000BB9;
inline constexpr DWORD EVENT_COM_ERROR_ERROR = 0xC0000BBA;
inline constexpr DWORD EVENT_TEXT_INFORMATION = 0x40000BBB;
inline constexpr DWORD EVENT_TEXT_WARNING = 0x80000BBC;
inline constexpr DWORD EVENT_TEXT_ERROR = 0xC0000BBD;
inline constexpr DWORD EVENT_EXCEPTION_CAUGHT = 0xC0000BBE;
inline constexpr DWORD EVENT_DLL_NOT_FOUND = 0xC0000BCB;
inline constexpr DWORD EVENT_ENTRY_POINT_NOT_FOUND = 0xC0000BCC;
inline constexpr DWORD EVENT_ENTRY_ORDINAL_NOT_FOUND = 0xC0000BCD;

class CEventLogReporter {
public:
    // Longest formatted text; a longer one is cut.
    static constexpr size_t kMaxFormattedChars = 32766;

    CEventLogReporter() = default;
    virtual ~CEventLogReporter() = default;

    // The event source: the service name. The service module answers with the
    // name it loaded; the default is the service's own name.
    virtual const WCHAR* EventSourceName() const { return u"SanProvD"; }

    // Raw form: one event with the type of the id's severity.
    void LogEvent(DWORD eventId, WORD numStrings, const WCHAR* const* strings, DWORD rawDataSize = 0,
                  const void* rawData = nullptr) const;

    // Formatted form: the text (wide printf format, typed arguments) as the one
    // insert of 0x40000BBB (type 0 or 4), 0x80000BBC (type 2) or 0xC0000BBD.
    void LogEventV(WORD eventType, const WCHAR* format, const platform::MessageArgs& args) const;
    template <typename... T>
    void LogEvent(WORD eventType, const WCHAR* format, const T&... args) const {
        LogEventV(eventType, format, platform::make_message_args(args...));
    }
    // The same as an error event (0xC0000BBD). A format with exactly one
    // integer argument reads as the exception-location form below.
    template <typename... T>
    void LogEvent(const WCHAR* format, const T&... args) const {
        LogEventV(kErrorType, format, platform::make_message_args(args...));
    }

    // Exception location: 0xC0000BBE "Exception caught at %1(%2)." with the
    // file as given and the line in decimal.
    void LogEvent(const WCHAR* sourceFile, int line) const;

    // A caught COM error, as 0x40000BB8, 0x80000BB9 or 0xC0000BBA by its
    // severity, with its description (else the system's text for its HRESULT,
    // else the HRESULT as text) as the insert.
    void LogEvent(const _com_error& error) const;

private:
    static constexpr WORD kErrorType = 1;
};

// The process's reporter: the service module once it is built, until then a
// reporter for the default source. Used where no module object is at hand.
CEventLogReporter& process_event_reporter();
void set_process_event_reporter(CEventLogReporter* reporter);

// "0x%08lX" of the HRESULT in the calling thread's buffer; valid on that thread
// until its next call. For event inserts.
const WCHAR* HresultToString(HRESULT hr);

// Exception filter around calls into a delay-loaded library: reports a missing
// library (0xC0000BCB) or entry point (0xC0000BCC by name, 0xC0000BCD by
// ordinal) and answers EXCEPTION_EXECUTE_HANDLER; any other exception
// EXCEPTION_CONTINUE_SEARCH.
LONG DelayLoadFailureReporter(const EXCEPTION_POINTERS* info);
