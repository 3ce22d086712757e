#pragma once
// The retained window model: the one description of every open window that
// the backends draw and the user actions change.
#include <memory>
#include <string>
#include <vector>

#include <ui/resources.h>

class CWnd;

namespace ui {

enum class WindowKind { Dialog, Sheet, Page, Control };

struct ListColumn {
    std::u16string title;
    int width;
    int format;
};

struct ListRow {
    std::vector<std::u16string> cells;  // one per column; missing cells are empty
    uintptr_t data = 0;
    UINT state = 0;  // LVIS_SELECTED | LVIS_FOCUSED
};

struct Window {
    WindowKind kind = WindowKind::Control;
    ControlKind control = ControlKind::Label;  // for controls
    int id = -1;
    std::u16string text;
    DialogRect dlu{};
    RECT px{};  // in the parent's client pixels
    DWORD style = 0;
    bool enabled = true;
    bool visible = true;
    bool checked = false;
    int limit = 0;  // characters an edit accepts from typing; 0 = no limit of ours
    HICON smallIcon = nullptr;
    Window* parent = nullptr;
    std::vector<std::unique_ptr<Window>> children;
    CWnd* owner = nullptr;  // the object whose message map handles this window's commands
    std::vector<CWnd*> attached;  // objects bound to this window (DDX_Control)
    std::unique_ptr<CWnd> standIn;  // the object GetDlgItem gives for it

    Window();
    ~Window();  // objects bound to the window lose their handle
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;

    // List view.
    std::vector<ListColumn> columns;
    std::vector<ListRow> rows;
    DWORD exStyle = 0;
    int topRow = 0;  // first row scrolled into view

    // Sheet.
    std::vector<std::u16string> tabs;
    int activeTab = -1;

    // Modal state.
    bool ended = false;
    int result = 0;

    Window* child(int id) const;
    Window* add_child(std::unique_ptr<Window> w);
    // Client width in pixels (a bordered control loses a pixel on each side).
    int client_width() const;
    int client_height() const;
};

// Builds a dialog or page with its controls from a template.
std::unique_ptr<Window> create_from_template(const DialogTemplate& t, WindowKind kind);

// The top-level windows open now, innermost last (the modal one).
std::vector<Window*>& open_windows();

// What a person does, applied to the model and dispatched to the owners.
// Each returns false when the target cannot take the action (disabled,
// hidden, not that kind of control).
bool user_click(Window& control);
bool user_type(Window& edit, std::u16string_view text);
bool user_select_row(Window& list, int row);
bool user_double_click(Window& list, int row);  // row -1: empty space
bool user_select_tab(Window& sheet, int index);
bool user_close(Window& top);  // the title bar's close box: Cancel

// The visible page of a sheet (or the window itself).
Window* active_surface(Window& top);
// A control found by id in the window or, for a sheet, its active page and its buttons.
Window* find_control(Window& top, int id);

}  // namespace ui
