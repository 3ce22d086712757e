// cplhost: loads a Control Panel applet library by name and sends it the
// applet messages as Control Panel does.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <platform/errors.h>
#include <platform/library.h>
#include <platform/text.h>
#include <ui/backend.h>
#include <ui/cpl.h>
#include <ui/resources.h>

namespace {

struct Options {
    bool list = false;
    std::string ui = "fltk";
    std::string script;
    std::string transcript;
    std::string screenshots;
    std::string library;
    int applet = 0;
    std::vector<std::string> parameters;  // opens with CPL_STARTWPARMSW
};

constexpr const char* kUsage =
    "usage: cplhost [--list] [--ui=headless|fltk] [--script FILE] [--transcript FILE]\n"
    "               [--screenshots DIR] [--applet N] LIBRARY [PARAMETERS...]\n"
    "       cplhost --help\n";

// What a headless script may say; the ids are the controls' ids, as `show`
// prints them.
constexpr const char* kHelp =
    "  --list            the applets the library holds\n"
    "  --ui=headless     no window: user actions come from --script, and what the\n"
    "                    user would see goes to --transcript (or standard output)\n"
    "  --ui=fltk         a window (the default)\n"
    "  --applet N        the library's applet N (default 0)\n"
    "\n"
    "Headless script: one action a line on the window in front (a dialog opened\n"
    "by an action is in front until it closes); blank lines and lines that start\n"
    "with # are skipped. The transcript shows each action after \"> \" and\n"
    "\"(refused)\" after one that could not be done.\n"
    "  show               describe the window: its tabs and each control with its id\n"
    "  click ID           press the button ID (1 is OK, 2 is Cancel)\n"
    "  type ID TEXT       replace the text of the edit control ID (the rest of the line)\n"
    "  select ID ROW      select row ROW (from 0) of the list ID\n"
    "  dblclick ID [ROW]  double-click the list ID (on row ROW)\n"
    "  tab N              show page N (from 0) of a property sheet\n"
    "  close              close the window as its close box does\n"
    "A message box is written to the transcript and answers OK by itself. When the\n"
    "script ends, the windows still open are closed.\n";

bool value_of(int argc, char** argv, int& i, const char* name, std::string& out) {
    const size_t n = std::strlen(name);
    if (std::strncmp(argv[i], name, n) != 0) return false;
    if (argv[i][n] == '=') {
        out = argv[i] + n + 1;
        return true;
    }
    if (argv[i][n] == 0 && i + 1 < argc) {
        out = argv[++i];
        return true;
    }
    return false;
}

bool parse(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        std::string applet;
        if (!o.library.empty()) {
            o.parameters.emplace_back(argv[i]);
        } else if (std::strcmp(argv[i], "--list") == 0) {
            o.list = true;
        } else if (value_of(argc, argv, i, "--ui", o.ui) || value_of(argc, argv, i, "--script", o.script) ||
                   value_of(argc, argv, i, "--transcript", o.transcript) ||
                   value_of(argc, argv, i, "--screenshots", o.screenshots)) {
        } else if (value_of(argc, argv, i, "--applet", applet)) {
            o.applet = std::atoi(applet.c_str());
        } else if (argv[i][0] == '-') {
            return false;
        } else {
            o.library = argv[i];
        }
    }
    return !o.library.empty() && (o.ui == "headless" || o.ui == "fltk");
}

std::string module_string(HMODULE module, int id) {
    const char16_t* text = ui::find_string(module, static_cast<UINT>(id));
    return text ? platform::wide_to_utf8_lossy(text) : std::string();
}


}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(kUsage, stdout);
        std::fputs(kHelp, stdout);
        return 0;
    }
    if (!parse(argc, argv, options)) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    // The applet stays loaded until the host exits, as Control Panel keeps
    // it: the platform state inside it (COM, the transport to the service)
    // is made once per process and has no unload.
    const HMODULE module = LoadLibraryA(options.library.c_str());
    if (!module) {
        std::fprintf(stderr, "cplhost: cannot load %s (%u)\n", options.library.c_str(), GetLastError());
        return 1;
    }
    const auto applet = platform::get_proc<APPLET_PROC>(module, "CPlApplet");
    if (!applet) {
        std::fprintf(stderr, "cplhost: %s exports no CPlApplet\n", options.library.c_str());
        return 1;
    }
    if (applet(nullptr, CPL_INIT, 0, 0) == 0) {
        std::fprintf(stderr, "cplhost: the applet refused to start\n");
        return 1;
    }
    const LONG count = applet(nullptr, CPL_GETCOUNT, 0, 0);
    std::vector<CPLINFO> infos(count > 0 ? count : 0);
    for (LONG i = 0; i < count; ++i) applet(nullptr, CPL_INQUIRE, i, reinterpret_cast<LPARAM>(&infos[i]));

    int status = 0;
    if (options.list) {
        for (LONG i = 0; i < count; ++i)
            std::printf("%d\ticon %d\t%s\t%s\n", i, infos[i].idIcon, module_string(module, infos[i].idName).c_str(),
                        module_string(module, infos[i].idInfo).c_str());
    } else if (options.applet < 0 || options.applet >= count) {
        std::fprintf(stderr, "cplhost: the library holds no applet %d\n", options.applet);
        status = 1;
    } else {
        std::ifstream scriptFile;
        std::istringstream noScript;
        std::ofstream transcriptFile;
        if (!options.script.empty()) {
            scriptFile.open(options.script);
            if (!scriptFile) {
                std::fprintf(stderr, "cplhost: cannot read %s\n", options.script.c_str());
                return 1;
            }
        }
        if (!options.transcript.empty()) transcriptFile.open(options.transcript);
        std::istream& script = options.script.empty() ? static_cast<std::istream&>(noScript) : scriptFile;
        std::ostream& transcript = options.transcript.empty() ? std::cout : transcriptFile;

        std::unique_ptr<ui::Backend> backend = options.ui == "fltk" ? ui::make_fltk_backend(options.screenshots, options.script.empty() ? nullptr : &script)
                                                                    : ui::make_headless_backend(script, transcript);
        if (!backend) {
            std::fprintf(stderr, "cplhost: cannot open a window on the display\n");
            status = 1;
        } else {
            ui::set_backend(std::move(backend));
            const LONG_PTR data = infos[options.applet].lData;
            LONG result;
            if (options.parameters.empty()) {
                result = applet(nullptr, CPL_DBLCLK, options.applet, data);
            } else {
                std::string joined;
                for (const auto& p : options.parameters) joined += (joined.empty() ? "" : " ") + p;
                const std::u16string wide = platform::utf8_to_wide_lossy(joined);
                result = applet(nullptr, CPL_STARTWPARMSW, options.applet, reinterpret_cast<LPARAM>(wide.c_str()));
            }
            ui::set_backend(nullptr);
            if (result != 0) {
                std::fprintf(stderr, "cplhost: the applet answered %08X\n", static_cast<unsigned>(result));
                status = 1;
            }
        }
    }
    for (LONG i = 0; i < count; ++i) applet(nullptr, CPL_STOP, i, infos[i].lData);
    applet(nullptr, CPL_EXIT, 0, 0);
    return status;
}
