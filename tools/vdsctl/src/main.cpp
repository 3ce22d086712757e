// vdsctl: the disk-management client. Each command runs in sanprovd, which
// holds the providers; this program sends it and prints what comes back.
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
// trailing line end is not part of it.
std::optional<std::string> ReadSecret(const std::string& file) {
    std::string secret;
    if (!file.empty()) {
        std::ifstream in(file, std::ios::binary);
        if (!in) return std::nullopt;
        secret.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
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
    const auto args = vdscmd::ParseArguments(command.args);
    if (!args) {
        std::cerr << vdscmd::kUsage;
        return 2;
    }
    if (args->command == "set-chap") {
        command.secret = ReadSecret(args->secretFile);
        if (!command.secret) {
            std::cerr << "vdsctl: set-chap: cannot read the secret"
                      << (args->secretFile.empty() ? std::string(" from standard input") : " from " + args->secretFile)
                      << " (at most " << vdscmd::wire::kMaxSecret << " bytes)\n";
            return 1;
        }
    }
    return vdscmd::RunInService(command);
}
