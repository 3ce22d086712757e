#pragma once
// One share of a drive allocated to a LUN plex.
#include <platform/guid.h>
#include <platform/types.h>

struct ExtentRecord {
    GUID driveId;
    GUID plexId;
    GUID lunId;
    ULONGLONG size;  // bytes
};
