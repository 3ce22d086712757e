#pragma once
// vdsctl's command line, read alike by the client (to refuse a bad line
// without reaching the service, and to know where set-chap's secret comes
// from) and by the service (to run it).
#include <optional>
#include <string>
#include <vector>

namespace vdscmd {

extern const char* const kUsage;

struct OutputOptions {
    bool json = false;
    bool bytes = false;
};

struct Arguments {
    OutputOptions output;
    std::string provider;    // "fc", "iscsi" or empty for both
    std::string subsystem;   // name or id
    std::string size;
    std::string mask;
    std::string type;
    std::string secretFile;  // set-chap's secret; read by the client only
    std::string command;
    std::vector<std::string> positional;
};

// nullopt for a line that is not a known command with known options.
std::optional<Arguments> ParseArguments(const std::vector<std::string>& args);

}  // namespace vdscmd
