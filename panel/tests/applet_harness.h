#pragma once
// Runs the applet headless as Control Panel opens it: a script in, the
// transcript out.
#include <sstream>
#include <string>

#include <ui/backend.h>
#include <ui/cpl.h>

inline std::string run_applet(const std::string& script) {
    std::istringstream in(script);
    std::ostringstream out;
    ui::set_backend(ui::make_headless_backend(in, out));
    CPlApplet(nullptr, CPL_INIT, 0, 0);
    CPlApplet(nullptr, CPL_DBLCLK, 0, 0);
    CPlApplet(nullptr, CPL_EXIT, 0, 0);
    ui::set_backend(nullptr);
    return out.str();
}

// The lines of a transcript that start with `prefix`.
inline std::string lines_with(const std::string& transcript, const std::string& prefix) {
    std::istringstream in(transcript);
    std::string line, out;
    while (std::getline(in, line))
        if (line.rfind(prefix, 0) == 0) out += line + '\n';
    return out;
}
