#include <platform/debug.h>

#include <platform/text.h>

#include <cstdio>

void OutputDebugStringA(LPCSTR text) {
    if (text) std::fputs(text, stderr);
}

void OutputDebugStringW(LPCWSTR text) {
    if (text) std::fputs(platform::wide_to_utf8_lossy(text).c_str(), stderr);
}
