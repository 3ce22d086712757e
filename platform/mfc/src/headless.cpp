// The headless backend: a script of user actions in, a transcript out.
#include <istream>
#include <ostream>
#include <sstream>

#include <platform/text.h>
#include <ui/afxwin.h>
#include <ui/backend.h>

namespace ui {
namespace {

std::string utf8(std::u16string_view text) {
    std::string out;
    for (char c : platform::wide_to_utf8_lossy(text)) {
        switch (c) {
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        default: out += c;
        }
    }
    return out;
}

std::string quoted(std::u16string_view text) { return '"' + utf8(text) + '"'; }

const char* icon_name(UINT type) {
    switch (type & MB_ICONMASK) {
    case MB_ICONERROR: return "error";
    case MB_ICONWARNING: return "warning";
    case MB_ICONINFORMATION: return "information";
    default: return "none";
    }
}

const char* kind_name(ControlKind kind) {
    switch (kind) {
    case ControlKind::Label: return "label";
    case ControlKind::Edit: return "edit";
    case ControlKind::Button: return "button";
    case ControlKind::DefaultButton: return "button";
    case ControlKind::Radio: return "radio";
    case ControlKind::GroupBox: return "group";
    case ControlKind::ListView: return "list";
    }
    return "control";
}

void describe_control(std::ostream& out, const Window& c) {
    out << "  " << kind_name(c.control);
    if (c.id >= 0) out << ' ' << c.id;
    if (c.control == ControlKind::Edit && (c.style & ES_PASSWORD)) {
        out << ' ' << quoted(std::u16string(c.text.size(), u'*'));
    } else if (c.control != ControlKind::ListView) {
        out << ' ' << quoted(c.text);
    }
    if (c.control == ControlKind::Radio) out << (c.checked ? " (x)" : " ( )");
    if (c.control == ControlKind::DefaultButton) out << " default";
    if (!c.enabled) out << " disabled";
    out << '\n';
    if (c.control != ControlKind::ListView) return;
    out << "    columns:";
    for (const auto& col : c.columns) out << ' ' << quoted(col.title) << ' ' << col.width;
    out << '\n';
    for (size_t i = 0; i < c.rows.size(); ++i) {
        const auto& row = c.rows[i];
        out << "    row " << i << ':';
        for (size_t k = 0; k < c.columns.size(); ++k) out << ' ' << quoted(k < row.cells.size() ? row.cells[k] : u"");
        if (row.state & LVIS_SELECTED) out << " selected";
        if (row.state & LVIS_FOCUSED) out << " focused";
        out << '\n';
    }
}

void describe_controls(std::ostream& out, const Window& w) {
    for (const auto& c : w.children)
        if (c->kind == WindowKind::Control && c->visible) describe_control(out, *c);
}

std::string window_title(const Window& w) {
    return (w.kind == WindowKind::Sheet ? "sheet " : "dialog ") + quoted(w.text);
}

class HeadlessBackend final : public Backend {
public:
    HeadlessBackend(std::istream& script, std::ostream& transcript) : m_script(script), m_out(transcript) {}

    void run_modal(Window& window) override {
        m_out << "open " << window_title(window) << '\n';
        while (!window.ended) {
            std::string line;
            if (!next_script_action(m_script, line)) {
                m_out << "script ended: close\n";
                user_close(window);
                window.ended = true;  // a window that refuses to close is dropped all the same
                break;
            }
            m_out << "> " << line << '\n';
            if (!perform_script_action(line, m_out)) m_out << "  (refused)\n";
        }
        m_out << "closed " << window_title(window) << " with "
              << (window.result == IDOK ? "OK" : window.result == IDCANCEL ? "Cancel" : std::to_string(window.result))
              << '\n';
    }

    int message_box(std::u16string_view text, std::u16string_view caption, UINT type) override {
        m_out << "message box " << quoted(caption) << " [" << icon_name(type) << "] " << quoted(text) << '\n';
        return IDOK;
    }

    void wait_cursor(bool) override {}

private:
    std::istream& m_script;
    std::ostream& m_out;
};

std::unique_ptr<Backend>& current() {
    static std::unique_ptr<Backend> backend;
    return backend;
}

}  // namespace

std::string describe(const Window& window) {
    std::ostringstream out;
    out << window_title(window);
    if (window.smallIcon) out << " icon " << window.smallIcon->id;
    out << '\n';
    if (window.kind == WindowKind::Sheet) {
        out << "  tabs:";
        for (size_t i = 0; i < window.tabs.size(); ++i) {
            const bool active = static_cast<int>(i) == window.activeTab;
            out << ' ' << (active ? "[" : "") << quoted(window.tabs[i]) << (active ? "]" : "");
        }
        out << '\n';
        for (const auto& c : window.children)
            if (c->kind == WindowKind::Page && c->visible) describe_controls(out, *c);
    }
    describe_controls(out, window);
    return out.str();
}

bool next_script_action(std::istream& script, std::string& line) {
    while (std::getline(script, line)) {
        const auto start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line[start] == '#') continue;
        line.erase(0, start);
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
        return true;
    }
    return false;
}

bool perform_script_action(const std::string& line, std::ostream& out) {
    if (open_windows().empty()) return false;
    Window& top = *open_windows().back();
    std::istringstream in(line);
    std::string verb;
    in >> verb;
    if (verb == "show") {
        out << describe(top);
        return true;
    }
    if (verb == "close") return user_close(top);
    if (verb == "tab") {
        int index = -1;
        in >> index;
        return user_select_tab(top, index);
    }
    int id = 0;
    if (!(in >> id)) return false;
    Window* control = find_control(top, id);
    if (!control) return false;
    if (verb == "click") return user_click(*control);
    if (verb == "type") {
        std::string rest;
        std::getline(in, rest);
        if (!rest.empty() && rest.front() == ' ') rest.erase(0, 1);
        return user_type(*control, platform::utf8_to_wide_lossy(rest));
    }
    if (verb == "select") {
        int row = -1;
        return (in >> row) && user_select_row(*control, row);
    }
    if (verb == "dblclick") {
        int row = -1;
        if (!(in >> row)) row = -1;
        return user_double_click(*control, row);
    }
    return false;
}

std::unique_ptr<Backend> make_headless_backend(std::istream& script, std::ostream& transcript) {
    return std::make_unique<HeadlessBackend>(script, transcript);
}

Backend& backend() {
    if (!current()) {
        static std::istringstream noScript;
        static std::ostringstream noTranscript;
        current() = make_headless_backend(noScript, noTranscript);
    }
    return *current();
}

void set_backend(std::unique_ptr<Backend> backend) { current() = std::move(backend); }

}  // namespace ui
