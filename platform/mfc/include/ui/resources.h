#pragma once
// Resources of a module: its string table, dialog templates in dialog units
// and icons, registered once under the module's handle.
#include <span>
#include <string>
#include <vector>

#include <ui/wintypes.h>

namespace ui {

enum class ControlKind { Label, Edit, Button, DefaultButton, Radio, GroupBox, ListView };

// Control styles that change what the control does or shows.
constexpr DWORD ES_PASSWORD = 0x0020;
constexpr DWORD ES_AUTOHSCROLL = 0x0080;
constexpr DWORD WS_GROUP = 0x00020000;
constexpr DWORD WS_TABSTOP = 0x00010000;
constexpr DWORD WS_BORDER = 0x00800000;
constexpr DWORD LVS_REPORT = 0x0001;
constexpr DWORD LVS_SINGLESEL = 0x0004;
constexpr DWORD LVS_SHOWSELALWAYS = 0x0008;
constexpr DWORD LVS_ALIGNLEFT = 0x0800;

// Rectangles in dialog units: x, y, width, height.
struct DialogRect {
    int x, y, cx, cy;
};

struct ControlTemplate {
    int id;  // -1 for a control without an id
    ControlKind kind;
    const char16_t* text;
    DialogRect rect;
    DWORD style = 0;
};

struct DialogTemplate {
    UINT id;
    const char16_t* caption;
    bool child;  // a property page; else a popup with caption, system menu and modal frame
    int cx, cy;
    const char16_t* font;
    int pointSize;
    std::span<const ControlTemplate> controls;  // in tab order
};

// An icon group: one square image per size, each row a string of palette
// letters ('.' transparent). Larger sizes are drawn by scaling.
struct IconTemplate {
    UINT id;
    std::span<const int> sizes;
    std::span<const char* const> rows;
    std::span<const std::pair<char, unsigned>> palette;  // letter -> 0xRRGGBB
};

struct StringEntry {
    UINT id;
    const char16_t* text;
};

struct ModuleResources {
    std::span<const StringEntry> strings;
    std::span<const DialogTemplate> dialogs;
    std::span<const IconTemplate> icons;
};

// The tables are not copied; they are static arrays that outlive the module.
void register_resources(HINSTANCE module, const ModuleResources& resources);
const DialogTemplate* find_dialog(HINSTANCE module, UINT id);
const IconTemplate* find_icon(HINSTANCE module, UINT id);
// nullptr for an unknown id.
const char16_t* find_string(HINSTANCE module, UINT id);

// Dialog units to pixels for the dialog font ("MS Shell Dlg" 8 at 96 dpi:
// a base unit of 6 by 13 pixels).
constexpr int kBaseUnitX = 6;
constexpr int kBaseUnitY = 13;
constexpr int dlu_to_px_x(int x) { return x * kBaseUnitX / 4; }
constexpr int dlu_to_px_y(int y) { return y * kBaseUnitY / 8; }

}  // namespace ui
