// sanprovd: the provider service and COM local server.
#include <hostlib/trace.h>
#include <platform/text.h>
#include <service/core_dumps.h>
#include <service/service_module.h>

#include <fstream>
#include <string>

namespace {
// Open before the entry point runs, closed after it returns.
trace_session g_traceSession;

// The whole command line of the process, as the system keeps it.
std::u16string process_command_line() {
    std::ifstream in("/proc/self/cmdline", std::ios::binary);
    std::string line, arg;
    while (std::getline(in, arg, '\0')) line += (line.empty() ? "" : " ") + arg;
    return platform::utf8_to_wide_lossy(line);
}
}  // namespace

int main() {
    // Before the stored list, and with it the passwords, can be read.
    ForbidCoreDumps();
    CServiceModule& module = _Module();
    module.Init();
    return module.WinMain(process_command_line());
}
