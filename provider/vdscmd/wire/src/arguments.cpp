#include <vdscmd/arguments.h>

#include <algorithm>
#include <cctype>
#include <limits>

namespace vdscmd {
namespace {

// The options a command may take beyond the global ones.
enum Option : unsigned { kSize = 1, kMask = 2, kType = 4, kSecretFile = 8 };

struct CommandSpec {
    const char* group;
    const char* name;
    const char* synopsis;                 // what follows the name in the usage line
    std::vector<const char*> arguments;   // the positional arguments' names, the optional ones last
    size_t required;                      // how many of them must be given
    unsigned options;
    unsigned requiredOptions;
    const char* help;                     // what COMMAND --help says beyond the usage line
};

struct NamedValue {
    const char* name;
    uint32_t value;
};

// VDS_LUN_TYPE values a LUN can be asked for.
const NamedValue kLunTypes[] = {
    {"default", 1}, {"fault-tolerant", 2}, {"non-fault-tolerant", 3}, {"simple", 10},
    {"span", 11},   {"stripe", 12},        {"mirror", 13},             {"parity", 14},
};

// VDS_LOADBALANCE_POLICY_ENUM values a policy can be set to.
const NamedValue kPolicies[] = {
    {"failover", 1},           {"round-robin", 2},    {"round-robin-with-subset", 3}, {"least-queue-depth", 4},
    {"weighted-paths", 5},     {"least-blocks", 6},   {"vendor-specific", 7},
};

// --provider: the two kinds, and the names the providers register (and
// `vdsctl providers` prints).
const std::pair<const char*, const char*> kProviders[] = {
    {"fc", "fc"},
    {"iscsi", "iscsi"},
    {"Zarvo VDS Hardware Provider (FCP)", "fc"},
    {"Zarvo VDS Hardware Provider (iSCSI)", "iscsi"},
};

const std::vector<CommandSpec>& Commands() {
    static const std::vector<CommandSpec> commands = {
        {"Listing", "providers", "", {}, 0, 0, 0, "The registered providers, their version and whether they loaded."},
        {"Listing", "subsystems", "[NAME]", {"NAME"}, 0, 0, 0, "One subsystem per appliance the providers read."},
        {"Listing", "controllers", "[NAME]", {"NAME"}, 0, 0, 0, "The subsystems' controllers."},
        {"Listing", "ports", "[NAME]", {"NAME"}, 0, 0, 0, "The controllers' ports."},
        {"Listing", "drives", "[NAME]", {"NAME"}, 0, 0, 0, "The appliances' disks."},
        {"Listing", "luns", "[NAME]", {"NAME"}, 0, 0, 0, "The LUNs with their size, status and mask."},
        {"Listing", "plexes", "[NAME]", {"NAME"}, 0, 0, 0, "The LUNs' plexes."},
        {"Listing", "extents", "[NAME]", {"NAME"}, 0, 0, 0, "The drives' extents and the LUNs that use them."},
        {"Listing", "targets", "[NAME]", {"NAME"}, 0, 0, 0, "The iSCSI targets."},
        {"Listing", "portal-groups", "[NAME]", {"NAME"}, 0, 0, 0, "The iSCSI targets' portal groups."},
        {"Listing", "portals", "[NAME]", {"NAME"}, 0, 0, 0, "The iSCSI portals."},
        {"LUNs", "create-lun", "--size SIZE [--mask INITIATORS] [--type TYPE]", {}, 0, kSize | kMask | kType, kSize,
         "Creates a LUN of SIZE on the one subsystem chosen (--subsystem, --provider), unmasked to INITIATORS\n"
         "(';'-separated port WWNs or iSCSI names)."},
        {"LUNs", "extend-lun", "LUN --size SIZE", {"LUN"}, 1, kSize, kSize, "Grows the LUN by SIZE."},
        {"LUNs", "mask-lun", "LUN INITIATORS", {"LUN", "INITIATORS"}, 2, 0, 0,
         "Sets the initiators the LUN is unmasked to (';'-separated; '' masks it from every host)."},
        {"LUNs", "rename-lun", "LUN NAME", {"LUN", "NAME"}, 2, 0, 0, "Gives the LUN a new name."},
        {"LUNs", "delete-lun", "LUN", {"LUN"}, 1, 0, 0, "Deletes the LUN."},
        {"LUNs", "set-lb-policy", "LUN POLICY", {"LUN", "POLICY"}, 2, 0, 0,
         "Sets the LUN's multipath load-balance policy."},
        {"LUNs", "query-lun", "/dev/sdX", {"DEVICE"}, 1, 0, 0, "Finds the LUN of a host disk."},
        {"iSCSI", "create-portal-group", "", {}, 0, 0, 0, "Creates a portal group on the subsystem's target."},
        {"iSCSI", "move-portal", "PORTAL GROUP", {"PORTAL", "GROUP"}, 2, 0, 0,
         "Moves a portal (address or id) into a portal group (tag or id)."},
        {"iSCSI", "set-alias", "ALIAS", {"ALIAS"}, 1, 0, 0, "Sets the target's alias."},
        {"iSCSI", "set-chap", "[INITIATOR] [--secret-file FILE]", {"INITIATOR"}, 0, kSecretFile, 0,
         "Sets the CHAP secret the target expects from INITIATOR (default: this host's initiator). The secret is\n"
         "read from FILE, else from standard input (one trailing line end dropped), never from the command line.\n"
         "An empty secret clears the initiator's secret."},
        {"Subsystems and providers", "rename-subsystem", "NAME", {"NAME"}, 1, 0, 0, "Gives the subsystem a new name."},
        {"Subsystems and providers", "reenumerate", "", {}, 0, 0, 0,
         "Reads the stored appliance list again: added appliances arrive, removed ones depart."},
        {"Subsystems and providers", "refresh", "", {}, 0, 0, 0, "Reads every appliance again."},
        {"Subsystems and providers", "watch", "[SECONDS]", {"SECONDS"}, 0, 0, 0,
         "Prints every notification the providers send, for SECONDS (a whole number; 0 or none: until\n"
         "interrupted). Exits 3 when sanprovd stops meanwhile."},
        {"Subsystems and providers", "register", "", {}, 0, 0, 0, "Registers both providers."},
        {"Subsystems and providers", "unregister", "", {}, 0, 0, 0, "Unregisters both providers."},
    };
    return commands;
}

const CommandSpec* FindCommand(const std::string& name) {
    for (const CommandSpec& spec : Commands())
        if (name == spec.name) return &spec;
    return nullptr;
}

std::string Lower(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower;
}

std::string Quoted(std::string_view value) { return "\"" + std::string(value) + "\""; }

template <size_t N>
std::string Names(const NamedValue (&values)[N]) {
    std::string text;
    for (const NamedValue& v : values)
        text += (text.empty() ? "" : ", ") + std::string(v.name) + " (" + std::to_string(v.value) + ")";
    return text;
}

std::string UsageLine(const CommandSpec& spec) {
    std::string line = "usage: vdsctl [OPTIONS] " + std::string(spec.name);
    if (*spec.synopsis) line += " " + std::string(spec.synopsis);
    return line + "\n";
}

const char* const kSizeForms = "a whole number of bytes with an optional unit B, K, M, G, T, P or E (powers of 1024)";

// The usage line, what the command does and the values it takes.
std::string CommandHelp(const CommandSpec& spec) {
    std::string text = UsageLine(spec) + spec.help + "\n";
    if (spec.options & kSize) text += "SIZE: " + std::string(kSizeForms) + ", e.g. 512M.\n";
    if (spec.options & kType) text += "TYPE: " + Names(kLunTypes) + ".\n";
    if (std::string(spec.name) == "set-lb-policy") text += "POLICY: " + Names(kPolicies) + ".\n";
    return text;
}

const char* const kShortUsage = "usage: vdsctl [OPTIONS] COMMAND [ARGS]   (vdsctl --help lists the commands)\n";

// A whole decimal number, without sign or spaces, within 32 bits.
std::optional<uint32_t> ParseWhole(std::string_view text) {
    if (text.empty() || text.size() > 10) return std::nullopt;
    uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    if (value > std::numeric_limits<uint32_t>::max()) return std::nullopt;
    return static_cast<uint32_t>(value);
}

// A name of the table (any case) or one of its numbers.
template <size_t N>
std::optional<uint32_t> ParseNamed(const NamedValue (&values)[N], std::string_view text) {
    const std::string lower = Lower(text);
    const auto number = ParseWhole(text);
    for (const NamedValue& v : values)
        if (lower == v.name || (number && *number == v.value)) return v.value;
    return std::nullopt;
}

class Parser {
public:
    explicit Parser(const std::vector<std::string>& argv) : m_argv(argv) {}
    CommandLine Parse();

private:
    void ReadOptions();
    void TakeOption(const std::string& arg, size_t& i);
    bool CheckCommand(const CommandSpec& spec);
    bool CheckValues(const CommandSpec& spec);
    CommandLine Refuse(const std::string& message, const CommandSpec* spec) {
        m_line.kind = CommandLine::Kind::Refused;
        m_line.text = "vdsctl: " + (spec ? std::string(spec->name) + ": " : std::string()) + message + "\n" +
                      (spec ? UsageLine(*spec) : kShortUsage);
        return m_line;
    }
    bool Fail(const std::string& message, const CommandSpec* spec) {
        Refuse(message, spec);
        return false;
    }
    // An option's fault is told once the command (and its usage line) is known.
    void OptionFault(const std::string& message) {
        if (m_optionFault.empty()) m_optionFault = message;
    }

    const std::vector<std::string>& m_argv;
    CommandLine m_line;
    bool m_help = false;
    bool m_version = false;
    std::string m_optionFault;
    unsigned m_given = 0;  // the command options given
    std::string m_provider, m_size, m_type;
    bool m_providerGiven = false, m_subsystemGiven = false, m_secretFileGiven = false;
};

CommandLine Parser::Parse() {
    ReadOptions();
    Arguments& args = m_line.args;
    if (!m_optionFault.empty()) return Refuse(m_optionFault, FindCommand(args.command));
    if (m_version && !m_help) {
        m_line.kind = CommandLine::Kind::Version;
        return m_line;
    }
    std::string topic = args.command;
    if (args.command == "help") {
        if (args.positional.size() > 1) return Refuse("unexpected argument " + Quoted(args.positional[1]), nullptr);
        topic = args.positional.empty() ? "" : args.positional[0];
        m_help = true;
    }
    const CommandSpec* spec = topic.empty() ? nullptr : FindCommand(topic);
    if (!topic.empty() && !spec) return Refuse("unknown command " + Quoted(topic), nullptr);
    if (m_help) {
        m_line.kind = CommandLine::Kind::Help;
        m_line.text = spec ? CommandHelp(*spec) : UsageText();
        return m_line;
    }
    if (!spec) return Refuse("no command given", nullptr);
    if (!CheckCommand(*spec) || !CheckValues(*spec)) return m_line;
    m_line.kind = CommandLine::Kind::Run;
    return m_line;
}

void Parser::ReadOptions() {
    bool optionsEnd = false;
    for (size_t i = 0; i < m_argv.size(); ++i) {
        const std::string& arg = m_argv[i];
        // "-5" is a (bad) value, not an option: the check of that value names it.
        const bool option = !optionsEnd && arg.size() > 1 && arg[0] == '-' && !std::isdigit(static_cast<unsigned char>(arg[1]));
        if (option && arg == "--") {
            optionsEnd = true;
        } else if (option) {
            TakeOption(arg, i);
        } else if (m_line.args.command.empty()) {
            m_line.args.command = arg;
        } else {
            m_line.args.positional.push_back(arg);
        }
    }
}

// One option, "--name value" or "--name=value".
void Parser::TakeOption(const std::string& arg, size_t& i) {
    const size_t equals = arg.rfind("--", 0) == 0 ? arg.find('=') : std::string::npos;
    const std::string name = arg.substr(0, equals);
    std::optional<std::string> inlineValue;
    if (equals != std::string::npos) inlineValue = arg.substr(equals + 1);
    struct Flag {
        const char* name;
        bool* to;
    };
    const Flag flags[] = {{"--json", &m_line.args.output.json}, {"--bytes", &m_line.args.output.bytes},
                          {"--help", &m_help},                  {"-h", &m_help},
                          {"--version", &m_version}};
    for (const Flag& flag : flags) {
        if (name != flag.name) continue;
        if (inlineValue) return OptionFault(name + " takes no value");
        *flag.to = true;
        return;
    }
    struct Valued {
        const char* name;
        std::string* to;
        unsigned option;  // 0: global
        bool* given;
    };
    Arguments& args = m_line.args;
    const Valued valued[] = {
        {"--provider", &m_provider, 0, &m_providerGiven},       {"--subsystem", &args.subsystem, 0, &m_subsystemGiven},
        {"--size", &m_size, kSize, nullptr},           {"--mask", &args.mask, kMask, nullptr},
        {"--type", &m_type, kType, nullptr},           {"--secret-file", &args.secretFile, kSecretFile, &m_secretFileGiven},
    };
    for (const Valued& option : valued) {
        if (name != option.name) continue;
        if (!inlineValue && i + 1 >= m_argv.size()) return OptionFault(name + " needs a value");
        *option.to = inlineValue ? *inlineValue : m_argv[++i];
        m_given |= option.option;
        if (option.given) *option.given = true;
        return;
    }
    OptionFault("unknown option " + Quoted(name));
}

bool Parser::CheckCommand(const CommandSpec& spec) {
    static const std::pair<unsigned, const char*> kOptionNames[] = {
        {kSize, "--size SIZE"}, {kMask, "--mask INITIATORS"}, {kType, "--type TYPE"}, {kSecretFile, "--secret-file FILE"}};
    for (const auto& [option, text] : kOptionNames) {
        const std::string name = std::string(text).substr(0, std::string(text).find(' '));
        if ((m_given & option) && !(spec.options & option)) return Fail(name + " does not apply to " + spec.name, &spec);
        if ((spec.requiredOptions & option) && !(m_given & option)) return Fail(std::string(text) + " is missing", &spec);
    }
    const auto& given = m_line.args.positional;
    if (given.size() < spec.required) return Fail(std::string(spec.arguments[given.size()]) + " is missing", &spec);
    if (given.size() > spec.arguments.size()) return Fail("unexpected argument " + Quoted(given[spec.arguments.size()]), &spec);
    return true;
}

bool Parser::CheckValues(const CommandSpec& spec) {
    Arguments& args = m_line.args;
    const std::string command = spec.name;
    if (m_providerGiven) {
        const std::string lower = Lower(m_provider);
        const auto known = std::find_if(std::begin(kProviders), std::end(kProviders),
                                        [&](const auto& p) { return Lower(p.first) == lower; });
        if (known == std::end(kProviders))
            return Fail("--provider " + Quoted(m_provider) + " is not a provider: give fc, iscsi or a name that "
                        "'vdsctl providers' prints", &spec);
        args.provider = known->second;
    }
    if (m_subsystemGiven && args.subsystem.empty()) return Fail("--subsystem needs a name or id", &spec);
    if (m_secretFileGiven && args.secretFile.empty()) return Fail("--secret-file needs a file", &spec);
    if (m_given & kSize) {
        std::string why;
        args.size = ParseSize(m_size, why);
        if (!args.size)
            return Fail("--size " + Quoted(m_size) + " " + why + ": give " + kSizeForms + ", e.g. 512M", &spec);
    }
    if (m_given & kType) {
        args.type = ParseNamed(kLunTypes, m_type);
        if (!args.type) return Fail("--type " + Quoted(m_type) + " is not a LUN type: give " + Names(kLunTypes), &spec);
    }
    if (command == "set-lb-policy") {
        args.policy = ParseNamed(kPolicies, args.positional[1]);
        if (!args.policy)
            return Fail("POLICY " + Quoted(args.positional[1]) + " is not a policy: give " + Names(kPolicies), &spec);
    }
    if (command == "watch" && !args.positional.empty()) {
        const auto seconds = ParseWhole(args.positional[0]);
        if (!seconds)
            return Fail("SECONDS " + Quoted(args.positional[0]) + " is not a whole number of seconds", &spec);
        args.seconds = *seconds;
    }
    return true;
}

}  // namespace

std::optional<uint64_t> ParseSize(std::string_view text, std::string& why) {
    static const std::pair<const char*, unsigned> kUnits[] = {
        {"", 0},    {"b", 0},    {"k", 10},   {"kb", 10},  {"kib", 10}, {"m", 20},   {"mb", 20},
        {"mib", 20}, {"g", 30},   {"gb", 30},  {"gib", 30}, {"t", 40},   {"tb", 40},  {"tib", 40},
        {"p", 50},  {"pb", 50},  {"pib", 50}, {"e", 60},   {"eb", 60},  {"eib", 60},
    };
    size_t digits = 0;
    while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') ++digits;
    const std::string unit = Lower(text.substr(digits));
    const auto found = std::find_if(std::begin(kUnits), std::end(kUnits), [&](const auto& u) { return unit == u.first; });
    if (!text.empty() && text[0] == '-') {
        why = "is negative";
        return std::nullopt;
    }
    if (digits == 0 || found == std::end(kUnits)) {
        why = "is not a size";
        return std::nullopt;
    }
    uint64_t value = 0;
    for (size_t i = 0; i < digits; ++i) {
        const uint64_t digit = static_cast<uint64_t>(text[i] - '0');
        if (value > (std::numeric_limits<uint64_t>::max() - digit) / 10) {
            why = "is too large";
            return std::nullopt;
        }
        value = value * 10 + digit;
    }
    if (value > (std::numeric_limits<uint64_t>::max() >> found->second)) {
        why = "is too large";
        return std::nullopt;
    }
    if (value == 0) {
        why = "is zero";
        return std::nullopt;
    }
    return value << found->second;
}

CommandLine ParseCommandLine(const std::vector<std::string>& argv) { return Parser(argv).Parse(); }

const std::string& UsageText() {
    static const std::string text = [] {
        std::string usage =
            "usage: vdsctl [OPTIONS] COMMAND [ARGS]\n"
            "       vdsctl COMMAND --help | vdsctl help [COMMAND] | vdsctl --version\n"
            "\n"
            "A listing takes an optional NAME or id that narrows its rows.\n"
            "\n"
            "Options (before or after the command; --opt=value or --opt value):\n"
            "  --provider fc|iscsi   only that provider (any case, or a name 'vdsctl providers' prints)\n"
            "  --subsystem NAME|ID   only that subsystem\n"
            "  --json                JSON for scripts, one document per line\n"
            "  --bytes               sizes in bytes\n"
            "  -h, --help            this help; after a command, what that command does\n"
            "  --version             the providers' version\n";
        std::string group;
        for (const CommandSpec& spec : Commands()) {
            const bool listing = std::string(spec.group) == "Listing";
            if (group != spec.group) {
                group = spec.group;
                usage += "\n" + group + ":\n" + (listing ? "  " : "");
            }
            if (listing) {
                usage += std::string(spec.name) + (std::string(spec.name) == "portals" ? "\n" : " | ");
                continue;
            }
            usage += "  " + std::string(spec.name) + (*spec.synopsis ? " " + std::string(spec.synopsis) : "") + "\n";
        }
        usage +=
            "\n"
            "SIZE is a whole number with an optional unit B, K, M, G, T, P or E (powers of 1024; KB and KiB\n"
            "alike); extend-lun adds SIZE.\n"
            "TYPE is " + Names(kLunTypes) + ".\n"
            "POLICY is " + Names(kPolicies) + ".\n"
            "LUN is an id or a name. Ids are the service's: they hold until sanprovd stops. A name that\n"
            "matches more than one object is refused; --subsystem narrows it. set-chap reads the secret from\n"
            "--secret-file FILE, else from standard input; an empty secret clears the initiator's secret.\n"
            "\n"
            "Exit status: 0 done; 1 the operation failed (or a provider could not read every stored appliance);\n"
            "2 the command line was refused (nothing was sent); 3 sanprovd could not be reached or went away.\n";
        return usage;
    }();
    return text;
}

}  // namespace vdscmd
