// The changes of a subsystem's iSCSI target, portal groups and portals.
#include <cstring>

#include "session.h"

namespace vdscmd {
namespace {

// Runs a change on the one iSCSI target of the chosen subsystems.
template <typename Action>
int OnTarget(Session& session, const char* what, Action&& action) {
    std::vector<Candidate<IVdsIscsiTarget>> targets;
    for (Subsystem& s : session.Subsystems())
        for (auto& target : Targets(s)) {
            VDS_ISCSI_TARGET_PROP prop{};
            std::string id, name;
            if (SUCCEEDED(target->GetProperties(&prop))) {
                id = IdText(prop.id);
                name = Utf8(prop.pwszIscsiName);
                CoTaskMemFree(prop.pwszIscsiName);
                CoTaskMemFree(prop.pwszFriendlyName);
            }
            targets.push_back({std::move(target), id, name, s.Name() + " (" + s.Id() + ")"});
        }
    int status = 0;
    auto target = session.Single(std::move(targets), what, "(target)", "targets", status);
    if (!target) return status;
    ForgetErrorInfo();
    return session.Done(what, action(target.get()));
}

std::vector<Com<IVdsIscsiPortal>> PortalsNamed(Subsystem& s, const std::string& text) {
    std::vector<Com<IVdsIscsiPortal>> found;
    IVdsSubSystemIscsi* iscsi = nullptr;
    if (FAILED(s.object->QueryInterface(IID_PPV_ARGS(&iscsi)))) return found;
    Com<IVdsSubSystemIscsi> owner(iscsi);
    for (auto& portal : QueryOf<IVdsIscsiPortal>(iscsi, &IVdsSubSystemIscsi::QueryPortals)) {
        VDS_ISCSI_PORTAL_PROP prop{};
        if (SUCCEEDED(portal->GetProperties(&prop)) && (AddressText(prop.address) == text || IdText(prop.id) == text))
            found.push_back(std::move(portal));
    }
    return found;
}

std::vector<Com<IVdsIscsiPortalGroup>> GroupsNamed(Subsystem& s, const std::string& text) {
    std::vector<Com<IVdsIscsiPortalGroup>> found;
    for (auto& target : Targets(s))
        for (auto& group : QueryOf<IVdsIscsiPortalGroup>(target.get(), &IVdsIscsiTarget::QueryPortalGroups)) {
            VDS_ISCSI_PORTALGROUP_PROP prop{};
            if (SUCCEEDED(group->GetProperties(&prop)) && (std::to_string(prop.tag) == text || IdText(prop.id) == text))
                found.push_back(std::move(group));
        }
    return found;
}

}  // namespace

int CreatePortalGroup(Session& session) {
    return OnTarget(session, "create-portal-group", [&](IVdsIscsiTarget* target) {
        IVdsAsync* raw = nullptr;
        HRESULT hr = target->CreatePortalGroup(&raw);
        if (FAILED(hr)) return hr;
        Com<IVdsAsync> async(raw);
        VDS_ASYNC_OUTPUT output{};
        hr = session.WaitFor(async.get(), output);
        if (output.cpg.pPortalGroupUnk) {
            IVdsIscsiPortalGroup* group = nullptr;
            output.cpg.pPortalGroupUnk->QueryInterface(IID_PPV_ARGS(&group));
            output.cpg.pPortalGroupUnk->Release();
            Com<IVdsIscsiPortalGroup> owned(group);
            if (group) {
                VDS_ISCSI_PORTALGROUP_PROP prop{};
                group->GetProperties(&prop);
                Row row;
                row["id"] = IdText(prop.id);
                row["tag"] = prop.tag;
                PrintTable(session.Out(), session.Args().output, {"id", "tag"}, {row});
            }
        }
        return hr;
    });
}

// A portal named by its id or address, and a portal group by its id or tag,
// both of one subsystem.
int MovePortal(Session& session) {
    const auto& args = session.Args().positional;
    // Every (portal, group) pair that the two texts name; the portals run beside the candidates.
    std::vector<Candidate<IVdsIscsiPortalGroup>> candidates;
    std::vector<Com<IVdsIscsiPortal>> portals;
    for (Subsystem& s : session.Subsystems()) {
        auto named = PortalsNamed(s, args[0]);
        auto groups = GroupsNamed(s, args[1]);
        for (auto& portal : named) {
            for (auto& group : groups) {
                IVdsIscsiPortalGroup* again = nullptr;
                group->QueryInterface(IID_PPV_ARGS(&again));
                VDS_ISCSI_PORTAL_PROP prop{};
                portal->GetProperties(&prop);
                candidates.push_back({Com<IVdsIscsiPortalGroup>(again), IdText(prop.id), args[0] + " -> " + args[1],
                                      s.Name() + " (" + s.Id() + ")"});
                IVdsIscsiPortal* held = nullptr;
                portal->QueryInterface(IID_PPV_ARGS(&held));
                portals.emplace_back(held);
            }
        }
    }
    int status = 0;
    auto group = session.Single(std::move(candidates), "move-portal", args[0] + " " + args[1], "portals", status);
    if (!group) return status;
    VDS_ISCSI_PORTAL_PROP prop{};
    HRESULT hr = portals.front()->GetProperties(&prop);
    IVdsAsync* raw = nullptr;
    ForgetErrorInfo();
    if (SUCCEEDED(hr)) hr = group->AddPortal(prop.id, &raw);
    if (SUCCEEDED(hr)) {
        Com<IVdsAsync> async(raw);
        VDS_ASYNC_OUTPUT output{};
        hr = session.WaitFor(async.get(), output);
    }
    return session.Done("move-portal", hr);
}

int SetAlias(Session& session) {
    return OnTarget(session, "set-alias", [&](IVdsIscsiTarget* target) {
        std::u16string alias = Wide(session.Args().positional[0]);
        return target->SetFriendlyName(alias.data());
    });
}

// The secret never comes on the command line (every local user can read that):
// the client reads it from a file or its standard input. An empty one clears
// the initiator's secret on the target.
int SetChap(Session& session, const std::optional<std::string>& secret) {
    if (!secret) {
        session.Err() << "vdsctl: set-chap: no secret came with the command\n" << std::flush;
        return kExitUsage;
    }
    return OnTarget(session, "set-chap", [&](IVdsIscsiTarget* target) {
        std::string copy = *secret;
        VDS_ISCSI_SHARED_SECRET shared{reinterpret_cast<UCHAR*>(copy.data()), static_cast<ULONG>(copy.size())};
        std::u16string initiator = session.Args().positional.empty() ? u"" : Wide(session.Args().positional[0]);
        const HRESULT hr = target->SetSharedSecret(&shared, initiator.empty() ? nullptr : initiator.data());
        explicit_bzero(copy.data(), copy.size());
        return hr;
    });
}

}  // namespace vdscmd
