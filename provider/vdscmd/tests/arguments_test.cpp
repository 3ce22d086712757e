// vdsctl's command line: what runs, with which values; what is refused, and
// that the refusal names the command, the value and the command's usage line;
// help and version; and the sizes it takes.
#include <vdscmd/arguments.h>

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

using vdscmd::CommandLine;
using Line = std::vector<std::string>;

namespace {

std::string Show(const Line& line) {
    std::string text;
    for (const std::string& arg : line) text += "[" + arg + "]";
    return text;
}

}  // namespace

TEST(VdsArguments, LinesThatRunCarryTheirCheckedValues) {
    const struct {
        Line line;
        std::string command, provider, subsystem;
        std::optional<uint64_t> size;
        std::optional<uint32_t> type, policy;
        uint32_t seconds;
        Line positional;
    } cases[] = {
        {{"--json", "--subsystem", "zarvo-a", "rename-lun", "lun0", "new"}, "rename-lun", "", "zarvo-a", {}, {}, {}, 0, {"lun0", "new"}},
        {{"luns", "--subsystem=zarvo-b"}, "luns", "", "zarvo-b", {}, {}, {}, 0, {}},
        {{"--provider=FC", "luns"}, "luns", "fc", "", {}, {}, {}, 0, {}},
        {{"--provider", "iSCSI", "luns"}, "luns", "iscsi", "", {}, {}, {}, 0, {}},
        {{"--provider", "Zarvo VDS Hardware Provider (FCP)", "luns"}, "luns", "fc", "", {}, {}, {}, 0, {}},
        {{"luns", "--provider=zarvo vds hardware provider (iscsi)"}, "luns", "iscsi", "", {}, {}, {}, 0, {}},
        {{"create-lun", "--size", "1G", "--type", "Mirror"}, "create-lun", "", "", 1ull << 30, 13, {}, 0, {}},
        {{"create-lun", "--size=512", "--type=12"}, "create-lun", "", "", 512, 12, {}, 0, {}},
        {{"extend-lun", "lun0", "--size", "32MiB"}, "extend-lun", "", "", 32ull << 20, {}, {}, 0, {"lun0"}},
        {{"set-lb-policy", "lun0", "Round-Robin"}, "set-lb-policy", "", "", {}, {}, 2, 0, {"lun0", "Round-Robin"}},
        {{"set-lb-policy", "lun0", "4"}, "set-lb-policy", "", "", {}, {}, 4, 0, {"lun0", "4"}},
        {{"watch"}, "watch", "", "", {}, {}, {}, 0, {}},
        {{"watch", "60"}, "watch", "", "", {}, {}, {}, 60, {"60"}},
        {{"mask-lun", "lun0", ""}, "mask-lun", "", "", {}, {}, {}, 0, {"lun0", ""}},
        {{"rename-lun", "lun0", "--", "--odd-name"}, "rename-lun", "", "", {}, {}, {}, 0, {"lun0", "--odd-name"}},
        {{"set-chap"}, "set-chap", "", "", {}, {}, {}, 0, {}},
    };
    for (const auto& c : cases) {
        const CommandLine parsed = vdscmd::ParseCommandLine(c.line);
        ASSERT_EQ(CommandLine::Kind::Run, parsed.kind) << Show(c.line) << ": " << parsed.text;
        EXPECT_EQ(c.command, parsed.args.command) << Show(c.line);
        EXPECT_EQ(c.provider, parsed.args.provider) << Show(c.line);
        EXPECT_EQ(c.subsystem, parsed.args.subsystem) << Show(c.line);
        EXPECT_EQ(c.size, parsed.args.size) << Show(c.line);
        EXPECT_EQ(c.type, parsed.args.type) << Show(c.line);
        EXPECT_EQ(c.policy, parsed.args.policy) << Show(c.line);
        EXPECT_EQ(c.seconds, parsed.args.seconds) << Show(c.line);
        EXPECT_EQ(c.positional, parsed.args.positional) << Show(c.line);
    }
    const CommandLine chap = vdscmd::ParseCommandLine({"set-chap", "iqn.x", "--secret-file=/run/s"});
    EXPECT_EQ("/run/s", chap.args.secretFile);
    EXPECT_TRUE(vdscmd::ParseCommandLine({"--json", "--bytes", "luns"}).args.output.bytes);
}

// Each refusal names what was wrong and, for a known command, ends with that
// command's usage line.
TEST(VdsArguments, RefusedLinesNameTheCommandAndTheValue) {
    const struct {
        Line line;
        std::vector<std::string> said;
    } cases[] = {
        {{}, {"no command given", "vdsctl --help"}},
        {{"xyz"}, {"unknown command \"xyz\""}},
        {{"--json"}, {"no command given"}},
        {{"luns", "--frob"}, {"luns: unknown option \"--frob\"", "usage: vdsctl [OPTIONS] luns [NAME]\n"}},
        {{"--frob=1", "luns"}, {"unknown option \"--frob\""}},
        {{"-x", "luns"}, {"unknown option \"-x\""}},
        {{"--json=yes", "luns"}, {"--json takes no value"}},
        {{"luns", "--provider"}, {"luns: --provider needs a value"}},
        {{"create-lun", "--size"}, {"create-lun: --size needs a value", "usage: vdsctl [OPTIONS] create-lun --size"}},
        {{"--frob"}, {"unknown option \"--frob\"", "(vdsctl --help lists the commands)"}},
        {{"--provider", "xyz", "luns"}, {"luns: --provider \"xyz\" is not a provider", "usage: vdsctl [OPTIONS] luns [NAME]\n"}},
        {{"--provider", "fcp", "luns"}, {"--provider \"fcp\""}},
        {{"--provider", "", "luns"}, {"--provider \"\""}},
        {{"--provider=", "refresh"}, {"refresh: --provider \"\""}},
        {{"--subsystem=", "luns"}, {"luns: --subsystem needs a name or id"}},
        {{"luns", "one", "two"}, {"luns: unexpected argument \"two\""}},
        {{"luns", "--size", "1G"}, {"luns: --size does not apply to luns"}},
        {{"delete-lun", "lun0", "--type", "simple"}, {"--type does not apply to delete-lun"}},
        {{"create-lun"}, {"create-lun: --size SIZE is missing", "usage: vdsctl [OPTIONS] create-lun --size SIZE"}},
        {{"create-lun", "--size", "1", "--type", "raid7"}, {"--type \"raid7\" is not a LUN type", "mirror (13)"}},
        {{"create-lun", "--size", "1", "--type", "4"}, {"--type \"4\" is not a LUN type"}},
        {{"create-lun", "--size", "1", "--type="}, {"--type \"\" is not a LUN type"}},
        {{"extend-lun", "--size", "1G"}, {"extend-lun: LUN is missing", "usage: vdsctl [OPTIONS] extend-lun LUN --size SIZE"}},
        {{"extend-lun", "lun0"}, {"extend-lun: --size SIZE is missing"}},
        {{"rename-lun", "lun0"}, {"rename-lun: NAME is missing"}},
        {{"mask-lun", "lun0"}, {"mask-lun: INITIATORS is missing"}},
        {{"delete-lun", "a", "b"}, {"delete-lun: unexpected argument \"b\""}},
        {{"query-lun"}, {"query-lun: DEVICE is missing", "usage: vdsctl [OPTIONS] query-lun /dev/sdX"}},
        {{"move-portal", "10.0.0.1"}, {"move-portal: GROUP is missing"}},
        {{"set-alias"}, {"set-alias: ALIAS is missing"}},
        {{"rename-subsystem"}, {"rename-subsystem: NAME is missing"}},
        {{"set-chap", "a", "b"}, {"set-chap: unexpected argument \"b\""}},
        {{"set-chap", "--secret-file="}, {"set-chap: --secret-file needs a file"}},
        {{"set-lb-policy", "lun0", "fastest"}, {"set-lb-policy: POLICY \"fastest\" is not a policy", "round-robin (2)"}},
        {{"set-lb-policy", "lun0", "0"}, {"POLICY \"0\""}},
        {{"set-lb-policy", "lun0", "8"}, {"POLICY \"8\""}},
        {{"watch", "abc"}, {"watch: SECONDS \"abc\" is not a whole number", "usage: vdsctl [OPTIONS] watch [SECONDS]"}},
        {{"watch", "-5"}, {"SECONDS \"-5\""}},
        {{"watch", "1.5"}, {"SECONDS \"1.5\""}},
        {{"watch", "4294967296"}, {"SECONDS \"4294967296\""}},
        {{"watch", "1", "2"}, {"watch: unexpected argument \"2\""}},
        {{"help", "nosuch"}, {"unknown command \"nosuch\""}},
        {{"help", "luns", "more"}, {"unexpected argument \"more\""}},
    };
    for (const auto& c : cases) {
        const CommandLine parsed = vdscmd::ParseCommandLine(c.line);
        ASSERT_EQ(CommandLine::Kind::Refused, parsed.kind) << Show(c.line);
        EXPECT_EQ(0u, parsed.text.rfind("vdsctl: ", 0)) << parsed.text;
        EXPECT_NE(std::string::npos, parsed.text.find("usage: vdsctl")) << parsed.text;
        for (const std::string& part : c.said) EXPECT_NE(std::string::npos, parsed.text.find(part)) << Show(c.line) << "\n" << parsed.text;
    }
}

// Each size refusal says why and which forms are taken.
TEST(VdsArguments, SizesAreWholeNumbersWithAUnitAndNothingElse) {
    constexpr uint64_t kMax = std::numeric_limits<uint64_t>::max();
    const struct {
        const char* text;
        std::optional<uint64_t> bytes;
        const char* why;
    } cases[] = {
        {"1", 1, ""}, {"1B", 1, ""}, {"1b", 1, ""}, {"1k", 1024, ""}, {"1KB", 1024, ""}, {"1KiB", 1024, ""},
        {"64M", 64ull << 20, ""}, {"64mib", 64ull << 20, ""}, {"1g", 1ull << 30, ""}, {"2T", 2ull << 40, ""},
        {"1P", 1ull << 50, ""}, {"15E", 15ull << 60, ""}, {"007M", 7ull << 20, ""}, {"18446744073709551615", kMax, ""},
        {"", {}, "is not a size"}, {"0", {}, "is zero"}, {"0M", {}, "is zero"}, {"-1", {}, "is negative"},
        {"-1G", {}, "is negative"}, {"+1G", {}, "is not a size"}, {"1Gxyz", {}, "is not a size"},
        {"0x10M", {}, "is not a size"}, {"1e3M", {}, "is not a size"}, {"nan", {}, "is not a size"},
        {"inf", {}, "is not a size"}, {"1.5G", {}, "is not a size"}, {" 1G", {}, "is not a size"},
        {"1 G", {}, "is not a size"}, {"1GG", {}, "is not a size"}, {"G", {}, "is not a size"},
        {"16E", {}, "is too large"}, {"18446744073709551616", {}, "is too large"},
        {"99999999999999999999999K", {}, "is too large"}, {"17179869184G", {}, "is too large"},
    };
    for (const auto& c : cases) {
        std::string why;
        EXPECT_EQ(c.bytes, vdscmd::ParseSize(c.text, why)) << "\"" << c.text << "\"";
        EXPECT_EQ(std::string(c.why), why) << "\"" << c.text << "\"";
    }
    const CommandLine refused = vdscmd::ParseCommandLine({"create-lun", "--size", "1Gxyz"});
    EXPECT_NE(std::string::npos, refused.text.find("create-lun: --size \"1Gxyz\" is not a size: give a whole number"))
        << refused.text;
    EXPECT_NE(std::string::npos, refused.text.find("B, K, M, G, T, P or E")) << refused.text;
}

TEST(VdsArguments, HelpAndVersionAreAnsweredWithoutACommandRunning) {
    const struct {
        Line line;
        std::vector<std::string> said;
    } cases[] = {
        {{"--help"}, {"usage: vdsctl [OPTIONS] COMMAND", "create-lun --size SIZE", "mirror (13)", "round-robin (2)",
                      "Exit status: 0 done; 1 the operation failed", "2 the command line was refused"}},
        {{"-h"}, {"usage: vdsctl [OPTIONS] COMMAND"}},
        {{"help"}, {"usage: vdsctl [OPTIONS] COMMAND"}},
        {{"--json", "--help"}, {"usage: vdsctl [OPTIONS] COMMAND"}},
        {{"create-lun", "--help"}, {"usage: vdsctl [OPTIONS] create-lun --size SIZE [--mask INITIATORS] [--type TYPE]",
                                   "TYPE: default (1)", "SIZE: a whole number"}},
        {{"create-lun", "--size", "bad", "-h"}, {"usage: vdsctl [OPTIONS] create-lun"}},
        {{"help", "set-lb-policy"}, {"usage: vdsctl [OPTIONS] set-lb-policy LUN POLICY", "POLICY: failover (1)"}},
        {{"set-chap", "--help"}, {"An empty secret clears the initiator's secret"}},
        {{"watch", "--help"}, {"Exits 3 when sanprovd stops"}},
    };
    for (const auto& c : cases) {
        const CommandLine parsed = vdscmd::ParseCommandLine(c.line);
        ASSERT_EQ(CommandLine::Kind::Help, parsed.kind) << Show(c.line) << ": " << parsed.text;
        for (const std::string& part : c.said) EXPECT_NE(std::string::npos, parsed.text.find(part)) << Show(c.line) << "\n" << parsed.text;
    }
    EXPECT_EQ(CommandLine::Kind::Version, vdscmd::ParseCommandLine({"--version"}).kind);
    EXPECT_EQ(CommandLine::Kind::Refused, vdscmd::ParseCommandLine({"luns", "--help=1"}).kind);
}
