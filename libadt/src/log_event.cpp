#include <adt/log.h>

#include <platform/errors.h>
#include <platform/eventlog.h>

#include "log_event.h"

namespace {

WORD event_type_for(int level) {
    if (level <= LOG_LEVEL_ERROR) return EVENTLOG_ERROR_TYPE;
    if (level == LOG_LEVEL_WARN) return EVENTLOG_WARNING_TYPE;
    return EVENTLOG_INFORMATION_TYPE;
}

}  // namespace

void log_event_copy(const char* source, int level, const char* message) {
    HANDLE eventLog = RegisterEventSourceA(nullptr, source);
    if (!eventLog) {
        log_write(nullptr, LOG_LEVEL_DEBUG, "RegisterEventSource(%s) failed, error %d", source ? source : "NULL",
                  static_cast<int>(GetLastError()));
        return;
    }
    LPCSTR inserts[1] = {message};
    if (!ReportEventA(eventLog, event_type_for(level), 0, LOG_EVENT_ID, nullptr, 1, 0, inserts, nullptr))
        log_write(nullptr, LOG_LEVEL_DEBUG, "ReportEvent(%s) failed, error %d", source ? source : "NULL",
                  static_cast<int>(GetLastError()));
    DeregisterEventSource(eventLog);
}
