#pragma once
// Value ranges shared by the argument checks of the VDS objects.
#include <platform/vds.h>

// The published statuses 0, 1, 2, 4 and 5 (unknown, online, not ready, offline, failed).
inline bool IsPublishedStatus(LONG status) {
    return status == 0 || status == 1 || status == 2 || status == 4 || status == 5;
}

inline bool IsMaintenanceOperation(LONG operation) { return operation >= BlinkLight && operation <= Ping; }
