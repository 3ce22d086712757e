#pragma once
// The debugger output: here the process's standard error.
#include <platform/types.h>

void OutputDebugStringA(LPCSTR text);
void OutputDebugStringW(LPCWSTR text);
