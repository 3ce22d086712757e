#pragma once
// The service's COM security descriptor.
#include <platform/security.h>

// Fills `descriptor` (absolute form) with a DACL that allows `accessMask` to
// Administrators, LocalSystem and Backup Operators, in that order, and
// Administrators as owner and group. On success hands out the ACL (free with
// CoTaskMemFree) and the three SIDs (free with FreeSid) and returns 0; on
// failure frees what it built and returns the Win32 error (87 for a missing output).
DWORD BuildComSecurityDescriptor(DWORD accessMask, SECURITY_DESCRIPTOR* descriptor, PACL* acl, PSID* administrators,
                                 PSID* localSystem, PSID* backupOperators);
