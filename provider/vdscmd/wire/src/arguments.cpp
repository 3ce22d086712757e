#include <vdscmd/arguments.h>

#include <algorithm>
#include <map>

namespace vdscmd {

const char* const kUsage = R"(usage: vdsctl [--json] [--bytes] [--provider fc|iscsi] [--subsystem NAME|ID] COMMAND [ARGS]

Listing:
  providers | subsystems | controllers | ports | drives | luns | plexes | extents
  targets | portal-groups | portals      (a NAME or id after the listing narrows it)
LUNs:
  create-lun --size SIZE [--mask INITIATORS] [--type TYPE]
  extend-lun LUN --size SIZE        mask-lun LUN INITIATORS
  rename-lun LUN NAME               delete-lun LUN
  set-lb-policy LUN POLICY          query-lun /dev/sdX
iSCSI:
  create-portal-group               move-portal PORTAL GROUP (address or id; tag or id)
  set-alias ALIAS                   set-chap [INITIATOR] [--secret-file FILE]
Subsystems and providers:
  rename-subsystem NAME             reenumerate | refresh
  watch [SECONDS]                   register | unregister
SIZE takes K, M, G or T (powers of 1024); LUN is an id or a name. Ids are the
service's: they hold until sanprovd stops. A name that matches more than one
object is refused; --subsystem narrows it. set-chap reads the secret from the
file, else from standard input.
)";

namespace {
const char* const kCommands[] = {
    "providers",  "subsystems",     "controllers",      "ports",       "drives",     "luns",
    "plexes",     "extents",        "targets",          "portal-groups", "portals",  "create-lun",
    "extend-lun", "mask-lun",       "rename-lun",       "delete-lun",  "set-lb-policy", "query-lun",
    "create-portal-group", "move-portal", "set-alias",  "set-chap",    "rename-subsystem", "reenumerate",
    "refresh",    "watch",          "register",         "unregister",
};
}  // namespace

std::optional<Arguments> ParseArguments(const std::vector<std::string>& argv) {
    Arguments args;
    const std::map<std::string, std::string Arguments::*> valued = {
        {"--provider", &Arguments::provider}, {"--subsystem", &Arguments::subsystem},
        {"--size", &Arguments::size},         {"--mask", &Arguments::mask},
        {"--type", &Arguments::type},         {"--secret-file", &Arguments::secretFile},
    };
    for (size_t i = 0; i < argv.size(); ++i) {
        const std::string& arg = argv[i];
        if (arg == "--json") {
            args.output.json = true;
        } else if (arg == "--bytes") {
            args.output.bytes = true;
        } else if (auto it = valued.find(arg); it != valued.end()) {
            if (++i >= argv.size()) return std::nullopt;
            args.*(it->second) = argv[i];
        } else if (arg.rfind("--", 0) == 0) {
            return std::nullopt;
        } else if (args.command.empty()) {
            args.command = arg;
        } else {
            args.positional.push_back(arg);
        }
    }
    if (std::find(std::begin(kCommands), std::end(kCommands), args.command) == std::end(kCommands)) return std::nullopt;
    return args;
}

}  // namespace vdscmd
