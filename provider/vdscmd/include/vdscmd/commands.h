#pragma once
// vdsctl's commands, run on the providers of a host: the parsing of the
// command line, the calls, and what is printed (tables or JSON, progress,
// notifications, errors). sanprovd runs them for its clients; tests run them
// in process.
#include <atomic>
#include <string_view>

#include <vdscmd/arguments.h>
#include <vdscmd/vds_host.h>
#include <vdscmd/wire.h>

namespace vdscmd {

// Where a command's output goes, in the order it is written.
class CommandOutput {
public:
    virtual ~CommandOutput() = default;
    // `kind` is wire::Kind::Out (standard output) or wire::Kind::Err.
    virtual void Write(wire::Kind kind, std::string_view bytes) = 0;
    // The client went away: a command that only shows (watch) ends; any other
    // goes on to its end.
    virtual bool Gone() = 0;
};

// Runs one command line; gives its exit status (kExitUsage for a line the
// command-line check refuses: nothing is loaded or called for it). `stopping`
// ends a watch when the service stops.
int RunCommand(VdsHost& host, const wire::Command& command, CommandOutput& output, const std::atomic<bool>& stopping);

}  // namespace vdscmd
