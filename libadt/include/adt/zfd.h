#pragma once
// The system's message for a Windows error code, without its final ".\r\n";
// a new text the caller frees, NULL when the system has none or memory runs out.
#include <platform/types.h>

char* zfd_error_text(DWORD code);
