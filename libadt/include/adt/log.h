#pragma once
// The runtime's log writer: one line per call, appended to
// <log directory>/<name>.log, the file rotated when it reaches its size limit.
#define ADT_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))

enum log_level {
    LOG_LEVEL_EMERG = 0,
    LOG_LEVEL_ALERT = 1,
    LOG_LEVEL_CRIT = 2,
    LOG_LEVEL_ERROR = 3,
    LOG_LEVEL_WARN = 4,
    LOG_LEVEL_NOTICE = 5,
    LOG_LEVEL_INFO = 6,
    LOG_LEVEL_DEBUG = 7,
};

// The default log is named after the program identity and rotated at this size.
constexpr long LOG_DEFAULT_LIMIT = 3000000;
constexpr long LOG_NAMED_LIMIT = 300000;
constexpr int LOG_OLD_FILES = 3;

// One line to the named log (NULL: the default log). 0, or -1 when the file
// cannot be opened.
int log_write(const char* name, int level, const char* format, ...) ADT_PRINTF(3, 4);
// A line to the default log and, for every level but DEBUG, an event.
void log_report(int level, const char* format, ...) ADT_PRINTF(2, 3);
// A line to the default log and, while echo is on, the message on the console.
void log_console(int level, const char* format, ...) ADT_PRINTF(2, 3);
// "Error: Unable to allocate memory for <what>." at DEBUG through log_console.
void log_nomem(const char* what);

// The five-character name of a level ("ERROR", " WARN", ...); low three bits only.
const char* log_level_name(int level);
