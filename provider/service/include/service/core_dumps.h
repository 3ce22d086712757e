#pragma once
// The service holds the appliances' passwords in clear while it runs, so its
// memory must never reach a core file (nor a debugger of another user):
// the process is made non-dumpable and its core size limit is set to 0.

// True when both took effect.
bool ForbidCoreDumps();
