#pragma once
// The Control Panel applet protocol.
#include <ui/wintypes.h>

constexpr UINT CPL_INIT = 1;
constexpr UINT CPL_GETCOUNT = 2;
constexpr UINT CPL_INQUIRE = 3;
constexpr UINT CPL_SELECT = 4;
constexpr UINT CPL_DBLCLK = 5;
constexpr UINT CPL_STOP = 6;
constexpr UINT CPL_EXIT = 7;
constexpr UINT CPL_NEWINQUIRE = 8;
constexpr UINT CPL_STARTWPARMSA = 9;
constexpr UINT CPL_STARTWPARMSW = 10;

struct CPLINFO {
    int idIcon;
    int idName;
    int idInfo;
    LONG_PTR lData;
};

using APPLET_PROC = LONG (*)(HWND hwndCpl, UINT msg, LPARAM lParam1, LPARAM lParam2);

extern "C" LONG CPlApplet(HWND hwndCpl, UINT msg, LPARAM lParam1, LPARAM lParam2);
