// The listings: each answers from the picture of the objects, so it never
// waits for a subsystem that a LUN's work holds. Rows come sorted by
// subsystem, then name; an optional NAME (or id) narrows them.
#include <algorithm>
#include <functional>
#include <set>

#include <vdscmd/picture.h>

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

const char* TypeText(LONG type) {
    struct Name {
        LONG value;
        const char* text;
    };
    static constexpr Name kNames[] = {
        {VDS_LT_DEFAULT, "default"}, {VDS_LT_FAULT_TOLERANT, "fault-tolerant"},
        {VDS_LT_NON_FAULT_TOLERANT, "non-fault-tolerant"}, {VDS_LT_SIMPLE, "simple"}, {VDS_LT_SPAN, "span"},
        {VDS_LT_STRIPE, "stripe"}, {VDS_LT_MIRROR, "mirror"}, {VDS_LT_PARITY, "parity"},
    };
    for (const Name& name : kNames)
        if (name.value == type) return name.text;
    return "unknown";
}

// A table shows a long mask as its first entry and how many there are; the
// whole list stays in --json.
std::string ShortMask(const std::string& mask) {
    const size_t count = mask.empty() ? 0 : static_cast<size_t>(std::count(mask.begin(), mask.end(), ';')) + 1;
    if (count < 2) return mask;
    return mask.substr(0, mask.find(';')) + " (+" + std::to_string(count - 1) + " more)";
}

// The key a row sorts by within its subsystem, and the fields a NAME matches.
const char* const kNameFields[] = {"name", "address", "tag", "lun", "owner"};
const char* const kMatchFields[] = {"id", "name", "identification", "address", "tag"};

Row SortKey(const Row& row) {
    Row key = Row::array({row.value("subsystem", ""), nullptr, row.value("id", "")});
    for (const char* field : kNameFields)
        if (row.contains(field)) {
            key[1] = row[field];
            break;
        }
    return key;
}

bool Matches(const Row& row, const std::string& text) {
    for (const char* field : kMatchFields) {
        if (!row.contains(field)) continue;
        const Row& value = row[field];
        if ((value.is_string() && value.get<std::string>() == text) || (value.is_number() && value.dump() == text))
            return true;
    }
    return false;
}

// What a listing gives for the chosen subsystems of a view.
using Chosen = std::set<PictureKey>;
using Rows = std::function<void(const PictureView&, const Chosen&, std::vector<Row>&)>;

// The one listing loop: refuses a second argument, names a --subsystem or a
// NAME that matches nothing (exit 1), sorts and prints.
int List(Session& session, const char* what, const std::vector<std::string>& columns, const Rows& rows) {
    const auto& positional = session.Args().positional;
    if (positional.size() > 1) {
        session.Err() << "vdsctl: " << what << ": unexpected argument \"" << positional[1] << "\"\n" << std::flush;
        return kExitUsage;
    }
    const PictureView view = session.Host().Picture().View();
    Chosen chosen;
    for (const PictureSubsystem* s : session.ChosenSubsystems(view)) chosen.insert({s->provider, s->id});
    if (!session.Args().subsystem.empty() && chosen.empty()) return session.NoSuchSubsystem();
    std::vector<Row> all;
    rows(view, chosen, all);
    if (!positional.empty()) {
        std::erase_if(all, [&](const Row& row) { return !Matches(row, positional[0]); });
        if (all.empty()) {
            session.Err() << "vdsctl: " << what << ": nothing named \"" << positional[0] << "\"\n" << std::flush;
            return kExitFailed;
        }
    }
    std::stable_sort(all.begin(), all.end(), [](const Row& a, const Row& b) { return SortKey(a) < SortKey(b); });
    if (!session.Args().output.json)
        for (Row& row : all)
            if (row.contains("mask")) row["mask"] = ShortMask(row["mask"].get<std::string>());
    PrintTable(session.Out(), session.Args().output, columns, all);
    return 0;
}

template <typename E>
bool OfChosen(const Chosen& chosen, const E& entry) {
    return chosen.count({entry.provider, entry.subsystem}) != 0;
}

template <typename E>
std::string NameOf(const PictureView& view, const E& entry) {
    const PictureSubsystem* s = view.Subsystem(entry.provider, entry.subsystem);
    return s ? s->name : "";
}

// The entries of the chosen subsystems, each made a row.
template <typename E, typename Make>
Rows Each(std::vector<E> PictureView::*kind, Make make) {
    return [kind, make](const PictureView& view, const Chosen& chosen, std::vector<Row>& rows) {
        for (const E& entry : view.*kind)
            if (OfChosen(chosen, entry)) {
                Row row = make(entry);
                row["subsystem"] = NameOf(view, entry);
                rows.push_back(std::move(row));
            }
    };
}

Row LunRowOf(const PictureLun& lun) {
    Row row;
    row["id"] = IdText(lun.id);
    row["name"] = lun.name;
    row["size"] = lun.size;
    row["status"] = StatusText(lun.status);
    row["type"] = TypeText(lun.type);
    row["mask"] = lun.mask;
    row["identification"] = lun.identification;
    return row;
}

}  // namespace

std::vector<Com<IVdsIscsiTarget>> Targets(Subsystem& s) {
    IVdsSubSystemIscsi* iscsi = nullptr;
    if (FAILED(s.object->QueryInterface(IID_PPV_ARGS(&iscsi)))) return {};
    Com<IVdsSubSystemIscsi> owner(iscsi);
    return QueryOf<IVdsIscsiTarget>(iscsi, &IVdsSubSystemIscsi::QueryTargets);
}

Row LunRow(const Subsystem& s, IVdsLun* lun) {
    VDS_LUN_PROP prop{};
    Row row;
    if (FAILED(lun->GetProperties(&prop))) return row;
    row["subsystem"] = s.Name();
    row.update(LunRowOf(TakeLun(prop, s.entry.id)));
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
    std::sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) { return a["name"] < b["name"]; });
    PrintTable(session.Out(), session.Args().output, {"name", "type", "id", "version", "loaded"}, rows);
    return 0;
}

int ListSubsystems(Session& session) {
    const auto providerName = [&session](const GUID& id) {
        for (const auto& loaded : session.AllProviders())
            if (std::memcmp(&loaded->registration.providerId, &id, sizeof id) == 0) return ProviderName(loaded.get());
        return std::string();
    };
    return List(session, "subsystems", {"id", "name", "identification", "status", "health", "provider"},
                [&](const PictureView& view, const auto& chosen, std::vector<Row>& rows) {
                    for (const PictureSubsystem& s : view.subsystems) {
                        if (!chosen.count({s.provider, s.id})) continue;
                        Row row;
                        row["provider"] = providerName(s.provider);
                        row["id"] = IdText(s.id);
                        row["name"] = s.name;
                        row["identification"] = s.identification;
                        row["status"] = StatusText(s.status);
                        row["health"] = HealthText(s.health);
                        row["controllers"] = s.controllers;
                        row["flags"] = s.flags;
                        rows.push_back(row);
                    }
                });
}

int ListLuns(Session& session) {
    return List(session, "luns", {"id", "name", "size", "status", "mask", "subsystem"},
                Each(&PictureView::luns, LunRowOf));
}

int ListDrives(Session& session) {
    return List(session, "drives", {"id", "name", "size", "status", "health", "bus", "slot", "subsystem"},
                Each(&PictureView::drives, [](const PictureDrive& d) {
                    Row row;
                    row["id"] = IdText(d.id);
                    row["name"] = d.name;
                    row["size"] = d.size;
                    row["status"] = StatusText(d.status);
                    row["health"] = HealthText(d.health);
                    row["bus"] = d.bus;
                    row["slot"] = d.slot;
                    return row;
                }));
}

int ListControllers(Session& session, bool ports) {
    if (ports)
        return List(session, "ports", {"id", "name", "status", "controller", "subsystem"},
                    Each(&PictureView::ports, [](const PicturePort& p) {
                        Row row;
                        row["id"] = IdText(p.id);
                        row["name"] = p.name;
                        row["identification"] = p.identification;
                        row["status"] = StatusText(p.status);
                        row["controller"] = p.controllerName;
                        return row;
                    }));
    return List(session, "controllers", {"id", "name", "identification", "status", "ports", "subsystem"},
                Each(&PictureView::controllers, [](const PictureController& c) {
                    Row row;
                    row["id"] = IdText(c.id);
                    row["name"] = c.name;
                    row["identification"] = c.identification;
                    row["status"] = StatusText(c.status);
                    row["ports"] = c.ports;
                    return row;
                }));
}

int ListPlexes(Session& session, bool extentsToo) {
    if (extentsToo)
        return List(session, "extents", {"owner", "drive", "lun", "size", "used", "subsystem"},
                    [](const PictureView& view, const auto& chosen, std::vector<Row>& rows) {
                        for (const PictureDrive& d : view.drives) {
                            if (!OfChosen(chosen, d)) continue;
                            for (const PictureExtent& e : d.extents) {
                                Row row;
                                row["owner"] = "drive " + d.name;
                                row["drive"] = IdText(d.id);
                                row["lun"] = IdText(e.lun);
                                row["size"] = e.size;
                                row["used"] = e.used;
                                row["subsystem"] = NameOf(view, d);
                                rows.push_back(row);
                            }
                        }
                    });
    return List(session, "plexes", {"id", "lun", "size", "status", "type", "subsystem"},
                [](const PictureView& view, const auto& chosen, std::vector<Row>& rows) {
                    for (const PictureLun& lun : view.luns) {
                        if (!OfChosen(chosen, lun)) continue;
                        for (const PicturePlex& plex : lun.plexes) {
                            Row row;
                            row["id"] = IdText(plex.id);
                            row["lun"] = lun.name;
                            row["size"] = plex.size;
                            row["status"] = StatusText(plex.status);
                            row["type"] = TypeText(plex.type);
                            row["subsystem"] = NameOf(view, lun);
                            rows.push_back(row);
                        }
                    }
                });
}

int ListIscsi(Session& session, const std::string& what) {
    if (what == "targets")
        return List(session, "targets", {"id", "name", "alias", "chap", "subsystem"},
                    Each(&PictureView::targets, [](const PictureTarget& t) {
                        Row row;
                        row["id"] = IdText(t.id);
                        row["name"] = t.iscsiName;
                        row["alias"] = t.alias;
                        row["chap"] = t.chap;
                        return row;
                    }));
    if (what == "portal-groups")
        return List(session, "portal-groups", {"id", "tag", "portals", "subsystem"},
                    Each(&PictureView::portalGroups, [](const PicturePortalGroup& g) {
                        std::string portals;
                        for (const std::string& address : g.portals) portals += (portals.empty() ? "" : ",") + address;
                        Row row;
                        row["id"] = IdText(g.id);
                        row["tag"] = g.tag;
                        row["portals"] = portals;
                        return row;
                    }));
    return List(session, "portals", {"id", "address", "port", "status", "subsystem"},
                Each(&PictureView::portals, [](const PicturePortal& p) {
                    Row row;
                    row["id"] = IdText(p.id);
                    row["address"] = p.address;
                    row["port"] = p.port;
                    row["status"] = StatusText(p.status);
                    return row;
                }));
}

}  // namespace vdscmd
