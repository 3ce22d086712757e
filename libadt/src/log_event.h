#pragma once
// The event-log copy of log_report: one event (id 101, category 0) with the
// message as its only insert, its type from the level.
constexpr unsigned LOG_EVENT_ID = 101;

void log_event_copy(const char* source, int level, const char* message);
