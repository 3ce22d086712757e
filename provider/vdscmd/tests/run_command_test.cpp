// The service checks a command line as the client does: a line that a client
// sent unchecked is refused before any provider is loaded.
#include <vdscmd/arguments.h>
#include <vdscmd/commands.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

class CollectedOutput final : public vdscmd::CommandOutput {
public:
    void Write(vdscmd::wire::Kind kind, std::string_view bytes) override {
        (kind == vdscmd::wire::Kind::Out ? out : err).append(bytes);
    }
    bool Gone() override { return false; }
    std::string out, err;
};

}  // namespace

TEST(VdsRunCommand, ARefusedLineOrHelpLoadsNoProvider) {
    vdscmd::VdsHost host;
    const std::atomic<bool> stopping{false};
    const struct {
        std::vector<std::string> line;
        int status;
        const char* said;
    } cases[] = {
        {{"create-lun", "--size", "nan"}, vdscmd::kExitUsage, "create-lun: --size \"nan\" is not a size"},
        {{"--provider", "xyz", "refresh"}, vdscmd::kExitUsage, "refresh: --provider \"xyz\""},
        {{"set-lb-policy", "lun0", "9"}, vdscmd::kExitUsage, "POLICY \"9\""},
        {{"refresh", "--help"}, vdscmd::kExitDone, "usage: vdsctl [OPTIONS] refresh"},
    };
    for (const auto& c : cases) {
        CollectedOutput output;
        EXPECT_EQ(c.status, vdscmd::RunCommand(host, {c.line, std::nullopt}, output, stopping)) << c.said;
        EXPECT_NE(std::string::npos, (output.out + output.err).find(c.said)) << output.out << output.err;
    }
    EXPECT_TRUE(host.Providers().empty());
}
