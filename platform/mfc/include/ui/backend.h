#pragma once
// Backends mirror the window model for a person: the headless one plays a
// script of user actions and writes a transcript of what would be seen; the
// FLTK one draws real windows.
#include <iosfwd>
#include <memory>
#include <string>

#include <ui/window.h>

namespace ui {

class Backend {
public:
    virtual ~Backend() = default;
    // Shows the window and returns once it has ended (window.ended).
    virtual void run_modal(Window& window) = 0;
    // Returns the button pressed (IDOK: every box of the applet has only OK).
    virtual int message_box(std::u16string_view text, std::u16string_view caption, UINT type) = 0;
    virtual void wait_cursor(bool busy) = 0;
    // The model changed outside a user action (an owner's handler ran).
    virtual void changed() {}
};

// The backend in use; a headless one with an empty script until set.
Backend& backend();
void set_backend(std::unique_ptr<Backend> backend);

// Script lines (blank lines and '#' comments are skipped):
//   click <id>              press a button, radio or check box
//   type <id> <text>        replace an edit's text, as far as it accepts it
//   select <id> <row>       click a row of a list view
//   dblclick <id> [<row>]   double-click a row, or empty space without a row
//   tab <index>             bring a page of the sheet to the front
//   close                   the close box of the innermost window
//   show                    write the innermost window as it looks now
// A modal window still open when the script ends is closed as by `close`.
std::unique_ptr<Backend> make_headless_backend(std::istream& script, std::ostream& transcript);

// Real windows; `screenshot_dir` non-empty saves a PNG of every page, dialog
// and message box as it first appears. With a script, its actions are played
// on the windows (message boxes are answered) and the end of the script
// closes them; without one a person works them. Null when FLTK cannot open
// the display.
std::unique_ptr<Backend> make_fltk_backend(const std::string& screenshot_dir, std::istream* script);

// One script action at a time: the next action line, and the action played
// on the innermost open window (`show` writes it to `out`). False when the
// script has ended or the window cannot take the action.
bool next_script_action(std::istream& script, std::string& line);
bool perform_script_action(const std::string& line, std::ostream& out);

// The text form of a window as the headless transcript shows it.
std::string describe(const Window& window);

}  // namespace ui
