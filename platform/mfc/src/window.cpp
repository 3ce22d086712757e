#include <ui/window.h>

#include <algorithm>

#include <ui/afxwin.h>
#include <ui/backend.h>

namespace ui {

Window::Window() = default;

Window::~Window() {
    for (CWnd* w : attached) w->m_hWnd = nullptr;
    if (standIn) standIn->m_hWnd = nullptr;
    if (owner && owner->m_hWnd == this) owner->m_hWnd = nullptr;
}

Window* Window::child(int wanted) const {
    for (const auto& c : children)
        if (c->id == wanted && c->kind == WindowKind::Control) return c.get();
    return nullptr;
}

Window* Window::add_child(std::unique_ptr<Window> w) {
    w->parent = this;
    children.push_back(std::move(w));
    return children.back().get();
}

int Window::client_width() const {
    const int w = px.right - px.left;
    return (style & WS_BORDER) ? w - 2 : w;
}

int Window::client_height() const {
    const int h = px.bottom - px.top;
    return (style & WS_BORDER) ? h - 2 : h;
}

namespace {
RECT to_pixels(const DialogRect& r) {
    const int x = dlu_to_px_x(r.x), y = dlu_to_px_y(r.y);
    return RECT{x, y, x + dlu_to_px_x(r.cx), y + dlu_to_px_y(r.cy)};
}

// The owner that handles a control's commands: its page or dialog.
CWnd* command_owner(const Window& control) {
    for (const Window* w = control.parent; w; w = w->parent)
        if (w->owner) return w->owner;
    return nullptr;
}

bool usable(const Window& w) {
    for (const Window* p = &w; p; p = p->parent)
        if (!p->visible) return false;
    return w.enabled;
}

void send_command(Window& control) {
    if (CWnd* owner = command_owner(control))
        owner->OnCommand(static_cast<WPARAM>(static_cast<UINT>(control.id) | (BN_CLICKED << 16)),
                         reinterpret_cast<LPARAM>(&control));
    backend().changed();
}

void send_notify(Window& control, UINT code) {
    if (CWnd* owner = command_owner(control)) {
        NMHDR header{&control, static_cast<UINT_PTR>(control.id), code};
        LRESULT result = 0;
        owner->OnNotify(static_cast<WPARAM>(control.id), reinterpret_cast<LPARAM>(&header), &result);
    }
    backend().changed();
}

// Radios of one group: from the last radio that starts a group up to the next.
void check_in_group(Window& radio) {
    auto& siblings = radio.parent->children;
    auto self = std::find_if(siblings.begin(), siblings.end(), [&](const auto& c) { return c.get() == &radio; });
    auto first = self;
    while (first != siblings.begin() && !((*first)->style & WS_GROUP) && (*std::prev(first))->control == ControlKind::Radio)
        --first;
    for (auto it = first; it != siblings.end() && (*it)->control == ControlKind::Radio; ++it) {
        if (it != first && ((*it)->style & WS_GROUP)) break;
        (*it)->checked = it->get() == &radio;
    }
}
}  // namespace

std::unique_ptr<Window> create_from_template(const DialogTemplate& t, WindowKind kind) {
    auto w = std::make_unique<Window>();
    w->kind = kind;
    w->id = static_cast<int>(t.id);
    w->text = t.caption ? t.caption : u"";
    w->dlu = DialogRect{0, 0, t.cx, t.cy};
    w->px = to_pixels(w->dlu);
    for (const auto& c : t.controls) {
        auto control = std::make_unique<Window>();
        control->control = c.kind;
        control->id = c.id;
        control->text = c.text ? c.text : u"";
        control->dlu = c.rect;
        control->px = to_pixels(c.rect);
        control->style = c.style;
        w->add_child(std::move(control));
    }
    return w;
}

std::vector<Window*>& open_windows() {
    static std::vector<Window*> windows;
    return windows;
}

bool user_click(Window& control) {
    if (!usable(control)) return false;
    switch (control.control) {
    case ControlKind::Radio:
        check_in_group(control);
        break;
    case ControlKind::Button:
    case ControlKind::DefaultButton:
        break;
    default:
        return false;
    }
    send_command(control);
    return true;
}

bool user_type(Window& edit, std::u16string_view text) {
    if (!usable(edit) || edit.control != ControlKind::Edit) return false;
    if (edit.limit > 0 && text.size() > static_cast<size_t>(edit.limit)) text = text.substr(0, edit.limit);
    edit.text = text;
    backend().changed();
    return true;
}

namespace {
void select_only(Window& list, int row) {
    for (size_t i = 0; i < list.rows.size(); ++i)
        list.rows[i].state = static_cast<int>(i) == row ? (LVIS_SELECTED | LVIS_FOCUSED) : 0;
}
}  // namespace

bool user_select_row(Window& list, int row) {
    if (!usable(list) || list.control != ControlKind::ListView) return false;
    if (row < 0 || row >= static_cast<int>(list.rows.size())) return false;
    select_only(list, row);
    backend().changed();
    return true;
}

bool user_double_click(Window& list, int row) {
    if (!usable(list) || list.control != ControlKind::ListView) return false;
    if (row >= static_cast<int>(list.rows.size())) return false;
    if (row >= 0) {
        select_only(list, row);
    } else {
        // A click on empty space clears the selection but keeps the focus mark.
        for (auto& r : list.rows) r.state &= ~LVIS_SELECTED;
    }
    send_notify(list, NM_DBLCLK);
    return true;
}

bool user_select_tab(Window& sheet, int index) {
    if (sheet.kind != WindowKind::Sheet || index < 0 || index >= static_cast<int>(sheet.tabs.size())) return false;
    auto* owner = dynamic_cast<CPropertySheet*>(sheet.owner);
    if (!owner) return false;
    owner->SetActivePage(index);
    backend().changed();
    return true;
}

bool user_close(Window& top) {
    Window* cancel = find_control(top, IDCANCEL);
    if (cancel && cancel->enabled) return user_click(*cancel);
    top.ended = true;
    top.result = IDCANCEL;
    return true;
}

Window* active_surface(Window& top) {
    if (top.kind != WindowKind::Sheet) return &top;
    for (const auto& c : top.children)
        if (c->kind == WindowKind::Page && c->visible) return c.get();
    return &top;
}

Window* find_control(Window& top, int wanted) {
    if (Window* w = active_surface(top)->child(wanted)) return w;
    return top.child(wanted);
}

}  // namespace ui
