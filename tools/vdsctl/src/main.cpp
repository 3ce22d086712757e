// vdsctl: the disk-management client. Each command runs in sanprovd, which
// holds the providers; this program checks the line, sends it and prints what
// comes back. Help and refused lines are answered here: nothing is sent.
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include <vdscmd/arguments.h>
#include <vdscmd/client.h>

namespace {

// set-chap's secret: from the named file, else from standard input; one
// trailing line end is not part of it. Empty is a secret too: it clears the
// initiator's secret.
std::optional<std::string> ReadSecret(const std::string& file) {
    std::string secret;
    if (!file.empty()) {
        std::ifstream in(file, std::ios::binary);
        if (!in) return std::nullopt;
        secret.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        if (in.bad()) return std::nullopt;
    } else {
        secret.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
    }
    if (!secret.empty() && secret.back() == '\n') secret.pop_back();
    if (!secret.empty() && secret.back() == '\r') secret.pop_back();
    if (secret.size() > vdscmd::wire::kMaxSecret) return std::nullopt;
    return secret;
}

}  // namespace

int main(int argc, char** argv) {
    vdscmd::wire::Command command;
    command.args.assign(argv + 1, argv + argc);
    const vdscmd::CommandLine line = vdscmd::ParseCommandLine(command.args);
    switch (line.kind) {
    case vdscmd::CommandLine::Kind::Help: std::cout << line.text; return vdscmd::kExitDone;
    case vdscmd::CommandLine::Kind::Refused: std::cerr << line.text; return vdscmd::kExitUsage;
    case vdscmd::CommandLine::Kind::Version:
    case vdscmd::CommandLine::Kind::Run: break;
    }
    if (line.args.command == "set-chap") {
        command.secret = ReadSecret(line.args.secretFile);
        if (!command.secret) {
            std::cerr << "vdsctl: set-chap: cannot read the secret"
                      << (line.args.secretFile.empty() ? std::string(" from standard input")
                                                       : " from " + line.args.secretFile)
                      << " (at most " << vdscmd::wire::kMaxSecret << " bytes); nothing was sent\n";
            return vdscmd::kExitUsage;
        }
    }
    return vdscmd::RunInService(command);
}
