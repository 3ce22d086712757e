// The FLTK backend: real windows drawn from the window model. Every user
// action goes through the model (ui::user_*) and the windows are then
// brought in line with it, so the model stays the one source of truth.
#include <X11/Xlib.h>

#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Group.H>
#include <FL/Fl_Hold_Browser.H>
#include <FL/Fl_Input.H>
#include <FL/Fl_RGB_Image.H>
#include <FL/Fl_Return_Button.H>
#include <FL/Fl_Round_Button.H>
#include <FL/Fl_Secret_Input.H>
#include <FL/fl_draw.H>
#include <FL/x.H>

#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <vector>

#include <platform/text.h>
#include <ui/backend.h>

#include "fltk_text.h"
#include "png_writer.h"

namespace ui {
namespace {

std::string utf8(std::u16string_view text) { return platform::wide_to_utf8_lossy(text); }

std::string file_name(const std::string& prefix, std::u16string_view title) {
    std::string name = prefix;
    for (char c : utf8(title)) {
        if (std::isalnum(static_cast<unsigned char>(c))) {
            name += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        } else if (c != '&' && name.back() != '-') {
            name += '-';
        }
    }
    while (name.back() == '-') name.pop_back();
    return name;
}

// The error, warning and information signs of the message window.
class MessageIcon : public Fl_Widget {
public:
    MessageIcon(int x, int y, UINT type) : Fl_Widget(x, y, 32, 32), m_type(type & MB_ICONMASK) {}
    void draw() override {
        fl_font(FL_HELVETICA_BOLD, 20);
        if (m_type == MB_ICONWARNING) {
            fl_color(fl_rgb_color(0xF2, 0xC0, 0x1E));
            fl_polygon(x() + 16, y() + 1, x() + 31, y() + 30, x() + 1, y() + 30);
            fl_color(FL_BLACK);
            fl_draw("!", x(), y() + 8, 32, 22, FL_ALIGN_CENTER);
            return;
        }
        const bool error = m_type == MB_ICONERROR;
        fl_color(error ? fl_rgb_color(0xD0, 0x30, 0x30) : fl_rgb_color(0x2A, 0x6E, 0xD0));
        fl_pie(x(), y(), 32, 32, 0, 360);
        fl_color(FL_WHITE);
        fl_draw(error ? "X" : "i", x(), y(), 32, 32, FL_ALIGN_CENTER);
    }

private:
    UINT m_type;
};

std::unique_ptr<Fl_RGB_Image> icon_image(const IconTemplate& icon) {
    const int size = static_cast<int>(icon.rows.size());
    auto* pixels = new uchar[size * size * 4]();
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size && icon.rows[y][x]; ++x) {
            for (const auto& [letter, rgb] : icon.palette) {
                if (letter != icon.rows[y][x]) continue;
                uchar* p = pixels + (y * size + x) * 4;
                p[0] = static_cast<uchar>(rgb >> 16);
                p[1] = static_cast<uchar>(rgb >> 8);
                p[2] = static_cast<uchar>(rgb);
                p[3] = 0xFF;
            }
        }
    }
    auto image = std::make_unique<Fl_RGB_Image>(pixels, size, size, 4);
    image->alloc_array = 1;  // the image frees the pixels
    return image;
}

struct View {
    Window* model = nullptr;
    std::unique_ptr<Fl_Double_Window> window;
    std::map<const Window*, Fl_Widget*> widgets;      // owned by their FLTK groups
    std::map<const Window*, std::string> listShown;   // the rows a browser shows now
    std::map<const Window*, std::vector<int>> widths;  // column widths, 0-terminated
    std::vector<Fl_Button*> tabs;
    std::set<std::string> shots;
    std::unique_ptr<Fl_RGB_Image> icon;
};

class FltkBackend final : public Backend {
public:
    FltkBackend(std::string screenshotDir, std::istream* script)
        : m_dir(std::move(screenshotDir)), m_script(script) {
        Fl::scheme("gtk+");
        Fl::visual(FL_RGB);
    }

    void run_modal(Window& model) override {
        auto view = std::make_unique<View>();
        view->model = &model;
        const int width = model.px.right - model.px.left, height = model.px.bottom - model.px.top;
        view->window = std::make_unique<Fl_Double_Window>(width, height);
        view->window->copy_label(utf8(model.text).c_str());
        view->window->callback(&FltkBackend::on_close, &model);
        view->window->end();
        view->window->set_modal();
        View& v = *view;
        m_views.push_back(std::move(view));
        sync(v);
        v.window->show();
        v.window->wait_for_expose();
        capture(v);
        while (!model.ended) {
            if (m_script) {
                std::string line;
                if (!next_script_action(*m_script, line)) {
                    user_close(model);
                    model.ended = true;
                    break;
                }
                if (!perform_script_action(line, m_shown)) std::fprintf(stderr, "cplhost: refused: %s\n", line.c_str());
                Fl::check();
                capture(v);
            } else {
                Fl::wait();
            }
        }
        v.window->hide();
        Fl::check();
        m_views.pop_back();
    }

    int message_box(std::u16string_view text, std::u16string_view caption, UINT type) override {
        const std::string body = fltk_label_text(text, Mnemonic::Keep);
        fl_font(FL_HELVETICA, 14);
        int textWidth = 340, textHeight = 0;
        fl_measure(body.c_str(), textWidth, textHeight);
        textWidth = std::max(textWidth, 200) + 12;  // the box's own inner margins
        textHeight += 6;
        const int width = textWidth + 80, height = std::max(textHeight, 32) + 75;
        Fl_Double_Window box(width, height);
        box.copy_label(utf8(caption).c_str());
        new MessageIcon(15, 15, type);
        auto* label = new Fl_Box(60, 15, textWidth, std::max(textHeight, 32));
        label->copy_label(body.c_str());
        label->labelsize(14);
        label->align(FL_ALIGN_LEFT | FL_ALIGN_INSIDE | FL_ALIGN_TOP | FL_ALIGN_WRAP);
        auto* ok = new Fl_Return_Button(width / 2 - 40, height - 40, 80, 26, "OK");
        ok->callback([](Fl_Widget* w, void*) { w->window()->hide(); });
        box.end();
        box.set_modal();
        box.show();
        box.wait_for_expose();
        Fl::flush();
        shoot(box, "message-" + std::to_string(++m_messages));
        if (m_script) {
            box.hide();
        } else {
            while (box.shown()) Fl::wait();
        }
        return IDOK;
    }

    void wait_cursor(bool busy) override {
        for (auto& v : m_views) v->window->cursor(busy ? FL_CURSOR_WAIT : FL_CURSOR_DEFAULT);
        Fl::flush();
    }

    void changed() override {
        for (auto& v : m_views) sync(*v);
    }

private:
    static void on_close(Fl_Widget*, void* model) { user_close(*static_cast<Window*>(model)); }

    static void on_click(Fl_Widget*, void* control) { user_click(*static_cast<Window*>(control)); }

    static void on_type(Fl_Widget* w, void* control) {
        user_type(*static_cast<Window*>(control), platform::utf8_to_wide_lossy(static_cast<Fl_Input*>(w)->value()));
    }

    static void on_list(Fl_Widget* w, void* control) {
        auto& list = *static_cast<Window*>(control);
        const int row = static_cast<Fl_Hold_Browser*>(w)->value() - 1;
        if (Fl::event_clicks()) {
            user_double_click(list, row);
        } else if (row >= 0) {
            user_select_row(list, row);
        }
    }

    struct TabTarget {
        Window* sheet;
        int index;
    };
    static void on_tab(Fl_Widget*, void* target) {
        auto* t = static_cast<TabTarget*>(target);
        user_select_tab(*t->sheet, t->index);
    }

    Fl_Widget* make_widget(View& v, Window& c, int dx, int dy) {
        const int x = dx + c.px.left, y = dy + c.px.top, w = c.px.right - c.px.left, h = c.px.bottom - c.px.top;
        switch (c.control) {
        case ControlKind::Label: {
            auto* box = new Fl_Box(x, y, w, h);
            box->align(FL_ALIGN_LEFT | FL_ALIGN_INSIDE | FL_ALIGN_TOP | FL_ALIGN_WRAP);
            box->labelsize(12);
            return box;
        }
        case ControlKind::GroupBox: {
            auto* box = new Fl_Box(FL_ENGRAVED_FRAME, x, y + 6, w, h - 6, nullptr);
            box->align(FL_ALIGN_TOP_LEFT | FL_ALIGN_INSIDE);
            box->labelsize(12);
            return box;
        }
        case ControlKind::Edit: {
            Fl_Input* input = (c.style & ES_PASSWORD) ? new Fl_Secret_Input(x, y, w, h) : new Fl_Input(x, y, w, h);
            input->textsize(12);
            input->when(FL_WHEN_CHANGED);
            input->callback(&FltkBackend::on_type, &c);
            return input;
        }
        case ControlKind::Button:
        case ControlKind::DefaultButton: {
            Fl_Button* button = c.control == ControlKind::DefaultButton ? new Fl_Return_Button(x, y, w, h)
                                                                        : new Fl_Button(x, y, w, h);
            button->labelsize(12);
            button->callback(&FltkBackend::on_click, &c);
            return button;
        }
        case ControlKind::Radio: {
            auto* radio = new Fl_Round_Button(x, y, w, h);
            radio->labelsize(12);
            radio->callback(&FltkBackend::on_click, &c);
            return radio;
        }
        case ControlKind::ListView: {
            constexpr int kHeader = 20;
            int left = x;
            for (const auto& column : c.columns) {
                auto* head = new Fl_Box(FL_THIN_UP_BOX, left, y, column.width, kHeader, nullptr);
                head->copy_label(fltk_label_text(column.title, Mnemonic::Strip).c_str());
                head->labelsize(12);
                head->align(FL_ALIGN_LEFT | FL_ALIGN_INSIDE);
                left += column.width;
            }
            auto* browser = new Fl_Hold_Browser(x, y + kHeader, w, h - kHeader);
            browser->textsize(12);
            browser->format_char(0);  // rows are plain text
            browser->column_char('\t');
            auto& widths = v.widths[&c];
            for (const auto& column : c.columns) widths.push_back(column.width);
            widths.push_back(0);
            browser->column_widths(widths.data());
            browser->when(FL_WHEN_CHANGED | FL_WHEN_NOT_CHANGED);
            browser->callback(&FltkBackend::on_list, &c);
            return browser;
        }
        }
        return nullptr;
    }

    void sync_list(View& v, const Window& c, Fl_Hold_Browser& browser) {
        std::string rows;
        int selected = 0;
        for (size_t i = 0; i < c.rows.size(); ++i) {
            for (size_t k = 0; k < c.columns.size(); ++k) {
                const std::string cell =
                    k < c.rows[i].cells.size() ? fltk_cell_text(c.rows[i].cells[k]) : std::string();
                rows += (k ? "\t" : "") + cell;
            }
            rows += '\n';
            if (c.rows[i].state & LVIS_SELECTED) selected = static_cast<int>(i) + 1;
        }
        if (v.listShown[&c] != rows) {
            v.listShown[&c] = rows;
            browser.clear();
            std::istringstream lines(rows);
            for (std::string line; std::getline(lines, line);) browser.add(line.c_str());
        }
        if (browser.value() != selected) {
            if (selected) {
                browser.value(selected);
            } else {
                browser.deselect();
            }
        }
        if (selected) browser.middleline(selected);
    }

    void sync_control(View& v, Window& c, int dx, int dy) {
        Fl_Widget*& widget = v.widgets[&c];
        if (!widget) widget = make_widget(v, c, dx, dy);
        if (!widget) return;
        switch (c.control) {
        case ControlKind::Edit: {
            auto* input = static_cast<Fl_Input*>(widget);
            const std::string text = utf8(c.text);
            if (text != input->value()) input->value(text.c_str());
            input->maximum_size(c.limit > 0 ? c.limit * 4 : 32767);
            break;
        }
        case ControlKind::ListView:
            sync_list(v, c, *static_cast<Fl_Hold_Browser*>(widget));
            break;
        case ControlKind::Radio:
            static_cast<Fl_Button*>(widget)->value(c.checked ? 1 : 0);
            [[fallthrough]];
        default: {
            const bool button = c.control == ControlKind::Button || c.control == ControlKind::DefaultButton ||
                                c.control == ControlKind::Radio;
            const std::string label = fltk_label_text(c.text, button ? Mnemonic::Keep : Mnemonic::Strip);
            if (!widget->label() || label != widget->label()) widget->copy_label(label.c_str());
        }
        }
        if (c.enabled) {
            widget->activate();
        } else {
            widget->deactivate();
        }
    }

    void sync(View& v) {
        Window& model = *v.model;
        v.window->begin();
        if (model.kind == WindowKind::Sheet) sync_tabs(v);
        for (auto& child : model.children) {
            if (child->kind == WindowKind::Page) {
                Fl_Widget*& group = v.widgets[child.get()];
                if (!group) {
                    group = new Fl_Group(child->px.left, child->px.top, child->px.right - child->px.left,
                                         child->px.bottom - child->px.top);
                    group->box(FL_THIN_UP_BOX);
                }
                static_cast<Fl_Group*>(group)->begin();
                for (auto& control : child->children) sync_control(v, *control, child->px.left, child->px.top);
                static_cast<Fl_Group*>(group)->end();
                v.window->begin();
                child->visible ? group->show() : group->hide();
            } else {
                sync_control(v, *child, 0, 0);
            }
        }
        v.window->end();
        if (model.smallIcon && !v.icon) {
            v.icon = icon_image(*model.smallIcon);
            v.window->icon(v.icon.get());
        }
        v.window->redraw();
    }

    void sync_tabs(View& v) {
        Window& sheet = *v.model;
        while (v.tabs.size() < sheet.tabs.size()) {
            const int i = static_cast<int>(v.tabs.size());
            auto* tab = new Fl_Button(7 + i * 100, 7, 98, 24);
            tab->copy_label(fltk_label_text(sheet.tabs[i], Mnemonic::Strip).c_str());
            tab->labelsize(12);
            tab->box(FL_UP_BOX);
            tab->down_box(FL_DOWN_BOX);
            m_tabTargets.push_back(std::make_unique<TabTarget>(TabTarget{&sheet, i}));
            tab->callback(&FltkBackend::on_tab, m_tabTargets.back().get());
            v.tabs.push_back(tab);
        }
        for (size_t i = 0; i < v.tabs.size(); ++i) v.tabs[i]->value(static_cast<int>(i) == sheet.activeTab);
    }

    // A picture of what the window shows now, once per page or dialog.
    void capture(View& v) {
        const Window& model = *v.model;
        std::string name = model.kind == WindowKind::Sheet && model.activeTab >= 0
                               ? file_name("sheet-", model.tabs[model.activeTab])
                               : file_name("dialog-", model.text);
        if (v.shots.insert(name).second) {
            Fl::flush();
            shoot(*v.window, name);
        }
    }

    void shoot(Fl_Window& window, const std::string& name) {
        if (m_dir.empty()) return;
        window.make_current();
        std::unique_ptr<uchar[]> pixels(fl_read_image(nullptr, 0, 0, window.w(), window.h()));
        if (!pixels || !write_png(m_dir + "/" + name + ".png", pixels.get(), window.w(), window.h()))
            std::fprintf(stderr, "cplhost: cannot save %s/%s.png\n", m_dir.c_str(), name.c_str());
    }

    std::string m_dir;
    std::istream* m_script;
    std::ostringstream m_shown;  // `show` in a script: the model as text, not needed on screen
    std::vector<std::unique_ptr<View>> m_views;
    std::vector<std::unique_ptr<TabTarget>> m_tabTargets;
    int m_messages = 0;
};

}  // namespace

std::unique_ptr<Backend> make_fltk_backend(const std::string& screenshot_dir, std::istream* script) {
    // FLTK ends the process when it cannot open the display: open it here
    // and hand FLTK the connection.
    if (!fl_display) {
        Display* display = XOpenDisplay(nullptr);
        if (!display) return nullptr;
        fl_open_display(display);
    }
    return std::make_unique<FltkBackend>(screenshot_dir, script);
}

}  // namespace ui
