#pragma once
// vdsctl's command line, read alike by the client (to refuse a bad line
// without reaching the service, to answer --help itself, and to know where
// set-chap's secret comes from) and by the service (to run it). Every value
// is checked here, so a command never starts on a value it would have to
// guess at.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vdscmd {

// vdsctl's exit statuses; every command holds to them.
constexpr int kExitDone = 0;
constexpr int kExitFailed = 1;   // the operation failed, or a provider could not read every appliance
constexpr int kExitUsage = 2;    // the command line was refused: nothing was sent
constexpr int kExitService = 3;  // sanprovd could not be reached, or went away before the command ended

struct OutputOptions {
    bool json = false;
    bool bytes = false;
};

struct Arguments {
    OutputOptions output;
    std::string provider;                 // "fc", "iscsi" or empty for both
    std::string subsystem;                // name or id
    std::optional<uint64_t> size;         // --size, in bytes
    std::string mask;
    std::optional<uint32_t> type;         // --type, a VDS_LUN_TYPE
    std::string secretFile;               // set-chap's secret; read by the client only
    std::string command;
    std::vector<std::string> positional;
    std::optional<uint32_t> policy;       // set-lb-policy's POLICY, a VDS_LOADBALANCE_POLICY_ENUM
    uint32_t seconds = 0;                 // watch's SECONDS (0: no end)
};

// What a line asks for. A refused line carries the message to print on
// standard error (naming the command and the value, then the usage line);
// help carries the text for standard output.
struct CommandLine {
    enum class Kind { Run, Help, Version, Refused };
    Kind kind = Kind::Refused;
    Arguments args;
    std::string text;
};

CommandLine ParseCommandLine(const std::vector<std::string>& argv);

// The whole help: every command, the values they take and the exit statuses.
const std::string& UsageText();

// A size: a whole decimal number with an optional unit B, K (KB, KiB), M, G,
// T, P or E, each a power of 1024, in any case; nothing else. Zero, signs and
// sizes beyond 64 bits are refused. On refusal `why` says why.
std::optional<uint64_t> ParseSize(std::string_view text, std::string& why);

}  // namespace vdscmd
