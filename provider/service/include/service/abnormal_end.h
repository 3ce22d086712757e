#pragma once
// Whatever ends the service abnormally leaves one event naming the cause: an
// exception nothing caught reports itself; a fatal signal's event is rendered
// ahead (its handler may not allocate or lock) and written by the handler.
#include <hostlib/event_log.h>

// Prepares the event of each fatal signal under the reporter's source and
// installs the handlers, which write it and end the process by that signal.
void ArmFatalSignalEvents(const CEventLogReporter& reporter);

// True for the first abnormal end of the process only: it writes the event,
// the ones that follow from it (the abort after an exception) do not.
bool ClaimAbnormalEnd() noexcept;
