#pragma once
// The event log. Each report appends one JSON line to
// $SANPROV_ROOT/eventlog/<source>.jsonl (mode 0600; one locked append per line,
// so processes and threads that report at once leave whole lines):
//   {"time":"2024-05-01T12:34:56.789Z","source":"SanProvD","id":3221228474,
//    "type":"error","category":0,"inserts":["..."],"text":"...","data":"0a1b"}
// "text" is the event's message rendered from the source's message table with
// the inserts, as the event viewer shows it; "data" (the raw data in hex) is
// there only when the report carries some. The text also goes to syslog.
// A log is bounded: when a line would take it past its maximum size (the
// "MaxSize" of the source's log under the EventLog service key, 20 MiB by
// default) the oldest whole events are dropped and the file replaced.
#include <string_view>

#include <platform/types.h>

constexpr WORD EVENTLOG_SUCCESS = 0x0000;
constexpr WORD EVENTLOG_ERROR_TYPE = 0x0001;
constexpr WORD EVENTLOG_WARNING_TYPE = 0x0002;
constexpr WORD EVENTLOG_INFORMATION_TYPE = 0x0004;

// The server must be null or empty (this machine). A source name that cannot
// name a file ("", ".", "..", slashes, control characters) is refused with
// ERROR_INVALID_PARAMETER. Returns nullptr on failure, with the last error set.
HANDLE RegisterEventSourceW(LPCWSTR serverName, LPCWSTR sourceName);
HANDLE RegisterEventSourceA(LPCSTR serverName, LPCSTR sourceName);

// Records the type the caller gives, as the real call does (the service derives
// it from the id with platform::event_type_of). A null entry in `strings` is an
// empty insert. The user SID is not recorded. FALSE with the last error set for
// a bad handle or argument, or when the line cannot be written.
BOOL ReportEventW(HANDLE eventLog, WORD type, WORD category, DWORD eventId, void* userSid, WORD numStrings,
                  DWORD dataSize, LPCWSTR* strings, LPVOID rawData);
BOOL ReportEventA(HANDLE eventLog, WORD type, WORD category, DWORD eventId, void* userSid, WORD numStrings,
                  DWORD dataSize, LPCSTR* strings, LPVOID rawData);

BOOL DeregisterEventSource(HANDLE eventLog);

namespace platform {

// The event type of an id's two severity bits (id >> 30): 0 success,
// 1 information, 2 warning, 3 error.
WORD event_type_of(DWORD eventId);

// The message table that renders the events of `source` (compared without
// case), as its EventMessageFile does on Windows. Unbound sources use the
// program's own table (GetModuleHandleW(nullptr)). Applies to later reports.
void bind_event_source(std::u16string_view source, HMODULE module);

// An event written later from where nothing may allocate or take a lock of
// the process, such as the handler of a fatal signal. It is rendered when it
// is prepared (file, source, id, inserts, text); writing it adds only the time
// and appends the line under the log's file lock with plain system calls. It
// does not go to syslog and does not make room in a full log.
struct PreparedEvent {
    char path[4096] = {};
    char rest[4096] = {};  // the line after its time
    size_t restLength = 0;
};
// Renders the event as ReportEventW would write it; false (with the last
// error set) for a bad handle or argument, or a line longer than the room.
bool prepare_event(HANDLE eventLog, WORD type, DWORD eventId, WORD numStrings, LPCWSTR* strings,
                   PreparedEvent& event);
// Appends the prepared event with the time of now; safe in a signal handler.
bool write_prepared_event(const PreparedEvent& event) noexcept;

// The maximum size of the log `source` reports to, read from the registry
// when the source is registered (as RegisterEventSource reads it).
DWORD event_log_max_size(std::u16string_view source);

}  // namespace platform
