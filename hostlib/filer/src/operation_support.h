#pragma once
// Small helpers shared by the request operations of the filer API.
#include <filer/request_frame.h>
#include <platform/types.h>

#include <string>

// A narrow (ANSI code page) argument as the wide text of a message insert.
inline std::u16string widened(const char* text) { return ansi_to_wide(text ? text : ""); }

// Optional text children that an empty value leaves out as well as a null one.
inline bool has_text(const WCHAR* text) { return text && *text; }

// The appliance's error number for a LUN that does not exist, or that is not
// yet available after a replication break.
inline constexpr int32_t kErrnoNoSuchLun = 9017;
// No LUN is mapped at that LUN id in that initiator group.
inline constexpr int32_t kErrnoNoSuchLunMap = 9016;
