#include <functional>
#include <map>

#include <model/filer_record_list.h>
#include <platform/stand_in_files.h>
#include <platform/vds_admin.h>
#include <vds/provider_ids.h>

#include "session.h"

namespace vdscmd {
namespace {

using Handler = std::function<int(Session&, const wire::Command&)>;

template <int (*F)(Session&)>
int Plain(Session& s, const wire::Command&) {
    return F(s);
}

const std::map<std::string, Handler>& Handlers() {
    static const std::map<std::string, Handler> handlers = {
        {"providers", Plain<ListProviders>},
        {"subsystems", Plain<ListSubsystems>},
        {"controllers", [](Session& s, const wire::Command&) { return ListControllers(s, false); }},
        {"ports", [](Session& s, const wire::Command&) { return ListControllers(s, true); }},
        {"drives", Plain<ListDrives>},
        {"luns", Plain<ListLuns>},
        {"plexes", [](Session& s, const wire::Command&) { return ListPlexes(s, false); }},
        {"extents", [](Session& s, const wire::Command&) { return ListPlexes(s, true); }},
        {"targets", [](Session& s, const wire::Command&) { return ListIscsi(s, "targets"); }},
        {"portal-groups", [](Session& s, const wire::Command&) { return ListIscsi(s, "portal-groups"); }},
        {"portals", [](Session& s, const wire::Command&) { return ListIscsi(s, "portals"); }},
        {"create-lun", Plain<CreateLun>},
        {"extend-lun", Plain<ExtendLun>},
        {"mask-lun", Plain<MaskLun>},
        {"rename-lun", Plain<RenameLun>},
        {"delete-lun", Plain<DeleteLun>},
        {"set-lb-policy", Plain<SetLbPolicy>},
        {"query-lun", Plain<QueryLun>},
        {"create-portal-group", Plain<CreatePortalGroup>},
        {"move-portal", Plain<MovePortal>},
        {"set-alias", Plain<SetAlias>},
        {"set-chap", [](Session& s, const wire::Command& c) { return SetChap(s, c.secret); }},
        {"rename-subsystem", Plain<RenameSubsystem>},
        {"reenumerate", Plain<Reenumerate>},
        {"refresh", Plain<Refresh>},
        {"watch", Plain<Watch>},
    };
    return handlers;
}

// What keeps the providers from a full reading: reported with every command
// (it exits non-zero) until a list pass reads every stored appliance.
int ReportLoadFailures(Session& session) {
    int status = 0;
    if (const HRESULT hr = session.Host().RegistrationsRead(); FAILED(hr))
        status = session.Report("reading the provider registrations", hr);
    if (const HRESULT hr = process_filer_record_list().Load(); FAILED(hr))
        status = session.Report("reading the stored appliance list", hr);
    for (const auto& file : platform::configured_stand_in_files())
        if (const DWORD error = platform::check_stand_in_file(file))
            status = session.Report("loading " + file.path + " (" + file.variable + ")", HRESULT_FROM_WIN32(error));
    if (session.Args().command == "reenumerate") return status;  // it reports its own pass
    for (const auto& loaded : session.AllProviders())
        if (FAILED(loaded->loaded)) status = session.ReportText("loading " + ProviderName(loaded.get()), loaded->LoadFailure());
    return status;
}

int RegisterProviders(VdsHost& host, const Arguments& args, CommandOutput& output) {
    const bool unregister = args.command == "unregister";
    const HRESULT hr = RegisterZarvoProviders(unregister);
    host.LoadProviders();  // the held providers follow the registrations
    const std::string text = FAILED(hr) ? "vdsctl: " + args.command + " failed: " + ErrorText(hr) + "\n"
                                        : args.command + ": done\n";
    output.Write(FAILED(hr) ? wire::Kind::Err : wire::Kind::Out, text);
    return FAILED(hr) ? kExitFailed : kExitDone;
}

// The version each registered provider registered with; the providers'
// own when none is registered. Nothing is loaded for it.
int PrintVersion(CommandOutput& output) {
    std::vector<VdsProviderRegistration> registrations;
    std::string text;
    if (SUCCEEDED(platform::vds_registered_providers(registrations)))
        for (const VdsProviderRegistration& r : registrations) text += Utf8(r.name) + " " + Utf8(r.version) + "\n";
    if (text.empty()) text = "Zarvo VDS Hardware Provider " + Utf8(kZarvoProviderVersion) + " (not registered)\n";
    output.Write(wire::Kind::Out, text);
    return kExitDone;
}

}  // namespace

int RunCommand(VdsHost& host, const wire::Command& command, CommandOutput& output, const std::atomic<bool>& stopping) {
    const CommandLine line = ParseCommandLine(command.args);
    switch (line.kind) {
    case CommandLine::Kind::Refused: output.Write(wire::Kind::Err, line.text); return kExitUsage;
    case CommandLine::Kind::Help: output.Write(wire::Kind::Out, line.text); return kExitDone;
    case CommandLine::Kind::Version: return PrintVersion(output);
    case CommandLine::Kind::Run: break;
    }
    const Arguments& args = line.args;
    if (args.command == "register" || args.command == "unregister") return RegisterProviders(host, args, output);
    const auto handler = Handlers().find(args.command);
    if (handler == Handlers().end()) {
        output.Write(wire::Kind::Err, "vdsctl: unknown command \"" + args.command + "\"\n");
        return kExitUsage;
    }
    host.EnsureLoaded();
    Session session(host, args, output, stopping);
    const int failures = ReportLoadFailures(session);
    const int status = handler->second(session, command);
    return status ? status : failures;
}

}  // namespace vdscmd
