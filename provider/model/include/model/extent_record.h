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

// What QueryExtents matches an extent's ids on.
enum ExtentSelector : LONG {
    EXTENT_BY_DRIVE = 0,
    EXTENT_BY_PLEX = 1,
    EXTENT_BY_LUN = 2,
};
