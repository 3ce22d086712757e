// The listings: each answers from the providers' current reading.
#include <functional>

#include "session.h"

namespace vdscmd {
namespace {

const char* StatusText(LONG status) {
    switch (status) {
        case 1: return "online";
        case 2: return "not ready";
        case 4: return "offline";
        case 5: return "failed";
        default: return "unknown";
    }
}

const char* HealthText(LONG health) {
    static const char* const kNames[] = {"unknown",        "healthy",           "rebuilding",
                                         "stale",          "failing",           "failing redundancy",
                                         "failed redundancy", "failed redundancy failing", "failed"};
    return health >= 0 && health <= 8 ? kNames[health] : "unknown";
}

// Walks each subsystem's objects of one kind and gives rows.
using SubsystemRows = std::function<void(Subsystem&, std::vector<Row>&)>;

int ListPerSubsystem(Session& session, const std::vector<std::string>& columns, const SubsystemRows& walk) {
    std::vector<Row> rows;
    for (Subsystem& s : session.Subsystems()) walk(s, rows);
    PrintTable(session.Out(), session.Args().output, columns, rows);
    return 0;
}

void AddExtents(std::vector<Row>& rows, VDS_DRIVE_EXTENT* extents, LONG count, const std::string& owner) {
    for (LONG i = 0; i < count; ++i) {
        Row row;
        row["owner"] = owner;
        row["drive"] = IdText(extents[i].id);
        row["lun"] = IdText(extents[i].LunId);
        row["size"] = extents[i].ullSize;
        row["used"] = extents[i].bUsed != FALSE;
        rows.push_back(row);
    }
    CoTaskMemFree(extents);
}

void ControllerRows(Subsystem& s, bool ports, std::vector<Row>& rows) {
    for (auto& controller : QueryOf<IVdsController>(s.object.get(), &IVdsSubSystem::QueryControllers)) {
        VDS_CONTROLLER_PROP prop{};
        if (FAILED(controller->GetProperties(&prop))) continue;
        const std::string name = Utf8(prop.pwszFriendlyName);
        if (!ports) {
            Row row;
            row["id"] = IdText(prop.id);
            row["name"] = name;
            row["identification"] = Utf8(prop.pwszIdentification);
            row["status"] = StatusText(prop.status);
            row["ports"] = prop.sNumberOfPorts;
            row["subsystem"] = s.Name();
            rows.push_back(row);
        } else {
            IVdsControllerControllerPort* cp = nullptr;
            if (SUCCEEDED(controller->QueryInterface(IID_PPV_ARGS(&cp)))) {
                Com<IVdsControllerControllerPort> owner(cp);
                for (auto& port : QueryOf<IVdsControllerPort>(cp, &IVdsControllerControllerPort::QueryControllerPorts)) {
                    VDS_PORT_PROP portProp{};
                    if (FAILED(port->GetProperties(&portProp))) continue;
                    Row row;
                    row["id"] = IdText(portProp.id);
                    row["name"] = Utf8(portProp.pwszFriendlyName);
                    row["identification"] = Utf8(portProp.pwszIdentification);
                    row["status"] = StatusText(portProp.status);
                    row["controller"] = name;
                    row["subsystem"] = s.Name();
                    FreeStrings(portProp);
                    rows.push_back(row);
                }
            }
        }
        FreeStrings(prop);
    }
}

void PortalRows(Subsystem& s, std::vector<Row>& rows) {
    IVdsSubSystemIscsi* iscsi = nullptr;
    if (FAILED(s.object->QueryInterface(IID_PPV_ARGS(&iscsi)))) return;
    Com<IVdsSubSystemIscsi> owner(iscsi);
    for (auto& portal : QueryOf<IVdsIscsiPortal>(iscsi, &IVdsSubSystemIscsi::QueryPortals)) {
        VDS_ISCSI_PORTAL_PROP prop{};
        if (FAILED(portal->GetProperties(&prop))) continue;
        Row row;
        row["id"] = IdText(prop.id);
        row["address"] = AddressText(prop.address);
        row["port"] = prop.address.ulPort;
        row["status"] = StatusText(prop.status);
        row["subsystem"] = s.Name();
        rows.push_back(row);
    }
}

void TargetRow(Session& session, Subsystem& s, IVdsIscsiTarget* target, std::vector<Row>& rows) {
    VDS_ISCSI_TARGET_PROP prop{};
    if (const HRESULT hr = target->GetProperties(&prop); FAILED(hr)) {
        session.Report("target properties", hr);
        return;
    }
    Row row;
    row["id"] = IdText(prop.id);
    row["name"] = Utf8(prop.pwszIscsiName);
    row["alias"] = Utf8(prop.pwszFriendlyName);
    row["chap"] = prop.bChapEnabled != FALSE;
    row["subsystem"] = s.Name();
    CoTaskMemFree(prop.pwszIscsiName);
    CoTaskMemFree(prop.pwszFriendlyName);
    rows.push_back(row);
}

void PortalGroupRows(Subsystem& s, IVdsIscsiTarget* target, std::vector<Row>& rows) {
    for (auto& group : QueryOf<IVdsIscsiPortalGroup>(target, &IVdsIscsiTarget::QueryPortalGroups)) {
        VDS_ISCSI_PORTALGROUP_PROP prop{};
        if (FAILED(group->GetProperties(&prop))) continue;
        std::string portals;
        for (auto& portal : QueryOf<IVdsIscsiPortal>(group.get(), &IVdsIscsiPortalGroup::QueryAssociatedPortals)) {
            VDS_ISCSI_PORTAL_PROP portalProp{};
            if (FAILED(portal->GetProperties(&portalProp))) continue;
            portals += (portals.empty() ? "" : ",") + AddressText(portalProp.address);
        }
        Row row;
        row["id"] = IdText(prop.id);
        row["tag"] = prop.tag;
        row["portals"] = portals;
        row["subsystem"] = s.Name();
        rows.push_back(row);
    }
}

}  // namespace

std::vector<Com<IVdsIscsiTarget>> Targets(Subsystem& s) {
    IVdsSubSystemIscsi* iscsi = nullptr;
    if (FAILED(s.object->QueryInterface(IID_PPV_ARGS(&iscsi)))) return {};
    Com<IVdsSubSystemIscsi> owner(iscsi);
    return QueryOf<IVdsIscsiTarget>(iscsi, &IVdsSubSystemIscsi::QueryTargets);
}

std::string AddressText(const VDS_IPADDRESS& address) {
    if (address.type == VDS_IPT_IPV4) {
        const ULONG a = address.ipv4Address;
        return std::to_string((a >> 24) & 255) + "." + std::to_string((a >> 16) & 255) + "." +
               std::to_string((a >> 8) & 255) + "." + std::to_string(a & 255);
    }
    return Utf8(address.wszTextAddress);
}

Row LunRow(const Subsystem& s, IVdsLun* lun) {
    VDS_LUN_PROP prop{};
    Row row;
    if (FAILED(lun->GetProperties(&prop))) return row;
    row["subsystem"] = s.Name();
    row["id"] = IdText(prop.id);
    row["name"] = Utf8(prop.pwszFriendlyName);
    row["size"] = prop.ullSize;
    row["status"] = StatusText(prop.status);
    row["type"] = prop.type;
    row["mask"] = Utf8(prop.pwszUnmaskingList);
    row["identification"] = Utf8(prop.pwszIdentification);
    FreeStrings(prop);
    return row;
}

int ListProviders(Session& session) {
    std::vector<Row> rows;
    for (const auto& loaded : session.AllProviders()) {
        Row row;
        row["name"] = Utf8(loaded->registration.name);
        row["id"] = IdText(loaded->registration.providerId);
        row["clsid"] = IdText(loaded->registration.clsid);
        row["version"] = Utf8(loaded->registration.version);
        row["type"] = loaded->type == VDS_HWT_ISCSI ? "iSCSI" : loaded->type == VDS_HWT_FIBRE_CHANNEL ? "FC" : "unknown";
        const HRESULT hr = loaded->loaded;
        row["loaded"] = SUCCEEDED(hr) ? "yes" : loaded->LoadFailure();
        rows.push_back(row);
    }
    PrintTable(session.Out(), session.Args().output, {"name", "type", "id", "version", "loaded"}, rows);
    return 0;
}

int ListSubsystems(Session& session) {
    std::vector<Row> rows;
    for (Subsystem& s : session.Subsystems()) {
        Row row;
        row["provider"] = ProviderName(s.provider);
        row["id"] = s.Id();
        row["name"] = s.Name();
        row["identification"] = Utf8(s.prop.pwszIdentification);
        row["status"] = StatusText(s.prop.status);
        row["health"] = HealthText(s.prop.health);
        row["controllers"] = s.prop.sMaxNumberOfControllers;
        row["flags"] = s.prop.ulFlags;
        rows.push_back(row);
    }
    PrintTable(session.Out(), session.Args().output, {"id", "name", "identification", "status", "health", "provider"},
               rows);
    return 0;
}

int ListLuns(Session& session) {
    return ListPerSubsystem(session, {"id", "name", "size", "status", "mask", "subsystem"}, [](Subsystem& s, auto& rows) {
        for (auto& lun : QueryOf<IVdsLun>(s.object.get(), &IVdsSubSystem::QueryLuns)) rows.push_back(LunRow(s, lun.get()));
    });
}

int ListDrives(Session& session) {
    return ListPerSubsystem(session, {"id", "name", "size", "status", "health", "bus", "slot", "subsystem"},
                            [](Subsystem& s, auto& rows) {
                                for (auto& drive : QueryOf<IVdsDrive>(s.object.get(), &IVdsSubSystem::QueryDrives)) {
                                    VDS_DRIVE_PROP prop{};
                                    if (FAILED(drive->GetProperties(&prop))) continue;
                                    Row row;
                                    row["id"] = IdText(prop.id);
                                    row["name"] = Utf8(prop.pwszFriendlyName);
                                    row["size"] = prop.ullSize;
                                    row["status"] = StatusText(prop.status);
                                    row["health"] = HealthText(prop.health);
                                    row["bus"] = prop.sInternalBusNumber;
                                    row["slot"] = prop.sSlotNumber;
                                    row["subsystem"] = s.Name();
                                    FreeStrings(prop);
                                    rows.push_back(row);
                                }
                            });
}

int ListControllers(Session& session, bool ports) {
    const std::vector<std::string> columns = ports ? std::vector<std::string>{"id", "name", "status", "controller", "subsystem"}
                                                   : std::vector<std::string>{"id", "name", "identification", "status", "ports", "subsystem"};
    return ListPerSubsystem(session, columns, [ports](Subsystem& s, auto& rows) { ControllerRows(s, ports, rows); });
}

int ListPlexes(Session& session, bool extentsToo) {
    const std::vector<std::string> columns = extentsToo ? std::vector<std::string>{"owner", "drive", "lun", "size", "used"}
                                                        : std::vector<std::string>{"id", "lun", "size", "status", "type"};
    return ListPerSubsystem(session, columns, [extentsToo](Subsystem& s, auto& rows) {
        if (extentsToo) {
            for (auto& drive : QueryOf<IVdsDrive>(s.object.get(), &IVdsSubSystem::QueryDrives)) {
                VDS_DRIVE_PROP prop{};
                drive->GetProperties(&prop);
                VDS_DRIVE_EXTENT* extents = nullptr;
                LONG count = 0;
                if (SUCCEEDED(drive->QueryExtents(&extents, &count)))
                    AddExtents(rows, extents, count, "drive " + Utf8(prop.pwszFriendlyName));
                FreeStrings(prop);
            }
            return;
        }
        for (auto& lun : QueryOf<IVdsLun>(s.object.get(), &IVdsSubSystem::QueryLuns)) {
            VDS_LUN_PROP lunProp{};
            lun->GetProperties(&lunProp);
            const std::string lunName = Utf8(lunProp.pwszFriendlyName);
            FreeStrings(lunProp);
            for (auto& plex : QueryOf<IVdsLunPlex>(lun.get(), &IVdsLun::QueryPlexes)) {
                VDS_LUN_PLEX_PROP prop{};
                if (FAILED(plex->GetProperties(&prop))) continue;
                Row row;
                row["id"] = IdText(prop.id);
                row["lun"] = lunName;
                row["size"] = prop.ullSize;
                row["status"] = StatusText(prop.status);
                row["type"] = prop.type;
                rows.push_back(row);
            }
        }
    });
}

int ListIscsi(Session& session, const std::string& what) {
    std::vector<std::string> columns;
    if (what == "targets") columns = {"id", "name", "alias", "chap", "subsystem"};
    if (what == "portal-groups") columns = {"id", "tag", "portals", "subsystem"};
    if (what == "portals") columns = {"id", "address", "port", "status", "subsystem"};
    return ListPerSubsystem(session, columns, [&session, what](Subsystem& s, auto& rows) {
        if (what == "portals") return PortalRows(s, rows);
        for (auto& target : Targets(s)) {
            if (what == "targets")
                TargetRow(session, s, target.get(), rows);
            else
                PortalGroupRows(s, target.get(), rows);
        }
    });
}

}  // namespace vdscmd
