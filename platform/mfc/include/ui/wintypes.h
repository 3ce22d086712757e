#pragma once
// The window-system types and constants that the applet and its host use.
#include <platform/types.h>

namespace ui {
struct Window;
struct IconTemplate;
}

using HWND = ui::Window*;
using HICON = const ui::IconTemplate*;
using WPARAM = uintptr_t;
using LPARAM = intptr_t;
using LRESULT = intptr_t;
using INT_PTR = intptr_t;
using UINT_PTR = uintptr_t;

struct RECT {
    LONG left, top, right, bottom;
};
using LPRECT = RECT*;

// Dialog results and the standard command ids.
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int ID_APPLY_NOW = 0x3021;

// Message boxes: buttons and icons.
constexpr UINT MB_OK = 0x00000000;
constexpr UINT MB_ICONERROR = 0x00000010;
constexpr UINT MB_ICONHAND = MB_ICONERROR;
constexpr UINT MB_ICONWARNING = 0x00000030;
constexpr UINT MB_ICONEXCLAMATION = MB_ICONWARNING;
constexpr UINT MB_ICONINFORMATION = 0x00000040;
constexpr UINT MB_ICONMASK = 0x000000F0;

// Notification codes.
constexpr UINT BN_CLICKED = 0;
constexpr UINT NM_FIRST = 0;
constexpr UINT NM_DBLCLK = static_cast<UINT>(NM_FIRST - 3);

struct NMHDR {
    HWND hwndFrom;
    UINT_PTR idFrom;
    UINT code;
};

// Icons.
constexpr WPARAM ICON_SMALL = 0;
constexpr WPARAM ICON_BIG = 1;

// List view: styles, states, next-item flags and column formats.
constexpr DWORD LVS_EX_FULLROWSELECT = 0x00000020;
constexpr UINT LVIS_FOCUSED = 0x0001;
constexpr UINT LVIS_SELECTED = 0x0002;
constexpr UINT LVNI_ALL = 0x0000;
constexpr UINT LVNI_SELECTED = 0x0002;
constexpr int LVCFMT_LEFT = 0x0000;
