// vdsctl: loads the registered providers in this process, as the
// disk-management service does, and runs one command on them.
#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <platform/com_scoped.h>
#include <platform/comalloc.h>
#include <platform/guid.h>

#include "output.h"
#include "vds_host.h"

namespace {

template <typename T>
using Com = platform::com_unique_ptr<T>;

constexpr const char* kUsage = R"(usage: vdsctl [--json] [--bytes] [--provider fc|iscsi] [--subsystem NAME|ID] COMMAND [ARGS]

Listing:
  providers | subsystems | controllers | ports | drives | luns | plexes | extents
  targets | portal-groups | portals
LUNs:
  create-lun --size SIZE [--mask INITIATORS] [--type TYPE]
  extend-lun LUN --size SIZE        mask-lun LUN INITIATORS
  rename-lun LUN NAME               delete-lun LUN
  set-lb-policy LUN POLICY          query-lun /dev/sdX
iSCSI:
  create-portal-group               move-portal PORTAL GROUP (address or id; tag or id)
  set-alias ALIAS                   set-chap SECRET [INITIATOR]
Subsystems and providers:
  rename-subsystem NAME             reenumerate | refresh
  watch [SECONDS]                   register | unregister
SIZE takes K, M, G or T (powers of 1024); LUN is an id or a name.
)";

struct Arguments {
    OutputOptions output;
    std::string provider;   // "fc", "iscsi" or empty for both
    std::string subsystem;  // name or id
    std::string size;
    std::string mask;
    std::string type;
    std::string command;
    std::vector<std::string> positional;
};

struct Subsystem {
    LoadedProvider* provider;
    Com<IVdsSubSystem> object;
    VDS_SUB_SYSTEM_PROP prop;
};

class Session {
public:
    explicit Session(const Arguments& args) : m_args(args) { m_host.LoadProviders(); }

    const Arguments& Args() const { return m_args; }
    VdsHost& Host() { return m_host; }

    std::vector<LoadedProvider*> Providers() {
        std::vector<LoadedProvider*> chosen;
        for (LoadedProvider& loaded : m_host.Providers()) {
            VDS_HWPROVIDER_TYPE type = VDS_HWT_UNKNOWN;
            Com<IVdsHwProviderType> typed;
            IVdsHwProviderType* raw = nullptr;
            if (loaded.provider && SUCCEEDED(loaded.provider->QueryInterface(IID_PPV_ARGS(&raw)))) {
                typed.reset(raw);
                typed->GetProviderType(&type);
            }
            if (m_args.provider == "fc" && type != VDS_HWT_FIBRE_CHANNEL) continue;
            if (m_args.provider == "iscsi" && type != VDS_HWT_ISCSI) continue;
            if (loaded.hw) chosen.push_back(&loaded);
        }
        return chosen;
    }

    std::vector<Subsystem> Subsystems() {
        std::vector<Subsystem> all;
        for (LoadedProvider* provider : Providers()) {
            IEnumVdsObject* raw = nullptr;
            if (FAILED(provider->hw->QuerySubSystems(&raw))) continue;
            Com<IEnumVdsObject> enumerator(raw);
            for (auto& object : Items<IVdsSubSystem>(enumerator.get())) {
                Subsystem subsystem{provider, std::move(object), {}};
                subsystem.object->GetProperties(&subsystem.prop);
                if (!m_args.subsystem.empty() && !Matches(subsystem.prop, m_args.subsystem)) {
                    FreeStrings(subsystem.prop);
                    continue;
                }
                all.push_back(std::move(subsystem));
            }
        }
        return all;
    }

    template <typename I>
    static std::vector<Com<I>> Items(IEnumVdsObject* enumerator) {
        std::vector<Com<I>> items;
        if (!enumerator) return items;
        for (;;) {
            IUnknown* object = nullptr;
            ULONG fetched = 0;
            const HRESULT hr = enumerator->Next(1, &object, &fetched);
            if (FAILED(hr) || fetched == 0) break;
            I* item = nullptr;
            object->QueryInterface(IID_PPV_ARGS(&item));
            object->Release();
            if (item) items.emplace_back(item);
        }
        return items;
    }

    // The object of an id of the type, from whichever provider has it.
    template <typename I>
    Com<I> ById(const std::string& text, VDS_OBJECT_TYPE type) {
        const auto id = platform::guid_from_text(text);
        if (!id) return nullptr;
        for (LoadedProvider* provider : Providers()) {
            IUnknown* object = nullptr;
            if (!provider->priv || FAILED(provider->priv->GetObject(*id, type, &object))) continue;
            I* item = nullptr;
            object->QueryInterface(IID_PPV_ARGS(&item));
            object->Release();
            if (item) return Com<I>(item);
        }
        return nullptr;
    }

    Com<IVdsLun> FindLun(const std::string& text) {
        if (auto byId = ById<IVdsLun>(text, VDS_OT_LUN)) return byId;
        for (Subsystem& subsystem : Subsystems()) {
            IEnumVdsObject* raw = nullptr;
            if (FAILED(subsystem.object->QueryLuns(&raw))) continue;
            Com<IEnumVdsObject> luns(raw);
            for (auto& lun : Items<IVdsLun>(luns.get())) {
                VDS_LUN_PROP prop{};
                if (FAILED(lun->GetProperties(&prop))) continue;
                const bool match = Utf8(prop.pwszFriendlyName) == text || Utf8(prop.pwszIdentification) == text;
                FreeStrings(prop);
                if (match) return std::move(lun);
            }
        }
        return nullptr;
    }

    static bool Matches(const VDS_SUB_SYSTEM_PROP& prop, const std::string& text) {
        return IdText(prop.id) == text || Utf8(prop.pwszFriendlyName) == text || Utf8(prop.pwszIdentification) == text;
    }
    template <typename Prop>
    static void FreeStrings(Prop& prop) {
        CoTaskMemFree(prop.pwszFriendlyName);
        CoTaskMemFree(prop.pwszIdentification);
        prop.pwszFriendlyName = prop.pwszIdentification = nullptr;
    }
    static void FreeStrings(VDS_LUN_PROP& prop) {
        CoTaskMemFree(prop.pwszFriendlyName);
        CoTaskMemFree(prop.pwszIdentification);
        CoTaskMemFree(prop.pwszUnmaskingList);
    }

    // Prints the notifications that arrived (waiting a little for the first).
    void PrintNotifications(std::chrono::milliseconds wait = std::chrono::milliseconds(0)) {
        for (const VDS_NOTIFICATION& n : m_host.Notifications().Take(wait)) {
            if (m_args.output.json)
                std::cout << NotificationRow(n).dump() << "\n";
            else
                std::cout << NotificationText(n) << "\n";
        }
    }

    // Waits on an async operation with a progress bar; gives the operation's result.
    // The bar is drawn again only when the percentage moves, so a log holds
    // one step per change rather than one every 100 ms.
    HRESULT WaitFor(IVdsAsync* async, VDS_ASYNC_OUTPUT& output) {
        std::optional<ULONG> shown;
        for (;;) {
            HRESULT status = S_OK;
            ULONG percent = 0;
            if (FAILED(async->QueryStatus(&status, &percent)) || status != VDS_E_OPERATION_PENDING || percent >= 100)
                break;
            if (!m_args.output.json && shown != percent) ShowProgress(*(shown = percent));
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        HRESULT result = S_OK;
        const HRESULT waited = async->Wait(&result, &output);
        if (!m_args.output.json) ShowProgress(100);
        return FAILED(waited) ? waited : result;
    }

private:
    Arguments m_args;
    VdsHost m_host;
};

// ---- Sizes ------------------------------------------------------------------------

std::optional<ULONGLONG> ParseSize(const std::string& text) {
    if (text.empty()) return std::nullopt;
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (end == text.c_str() || value < 0) return std::nullopt;
    ULONGLONG unit = 1;
    switch (std::toupper(static_cast<unsigned char>(*end))) {
        case 0: break;
        case 'K': unit = 1ull << 10; break;
        case 'M': unit = 1ull << 20; break;
        case 'G': unit = 1ull << 30; break;
        case 'T': unit = 1ull << 40; break;
        default: return std::nullopt;
    }
    return static_cast<ULONGLONG>(value * static_cast<double>(unit));
}

// ---- Masks ---------------------------------------------------------------------------

// VDS takes a Fibre Channel initiator as the 16 hexadecimal digits of its port
// WWN; the appliance, and so the mask a listing shows, writes it as eight
// colon-separated pairs. The provider skips an entry in the listed form, so a
// mask copied from a listing would map nothing: such entries lose their colons.
bool IsColonWwn(std::string_view entry) {
    if (entry.size() != 23) return false;
    for (size_t i = 0; i < entry.size(); ++i)
        if (i % 3 == 2 ? entry[i] != ':' : !std::isxdigit(static_cast<unsigned char>(entry[i]))) return false;
    return true;
}

std::u16string MaskForVds(const std::string& list) {
    std::string result;
    for (size_t start = 0; start <= list.size();) {
        const size_t end = std::min(list.find(';', start), list.size());
        const std::string_view entry(list.data() + start, end - start);
        if (start != 0) result += ';';
        if (IsColonWwn(entry)) {
            for (char c : entry)
                if (c != ':') result += c;
        } else {
            result += entry;
        }
        start = end + 1;
    }
    return Wide(result);
}

// ---- Listing ------------------------------------------------------------------------

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

std::string ProviderName(LoadedProvider* provider) { return Utf8(provider->registration.name); }

int ListProviders(Session& session) {
    std::vector<Row> rows;
    for (LoadedProvider& loaded : session.Host().Providers()) {
        Row row;
        row["name"] = Utf8(loaded.registration.name);
        row["id"] = IdText(loaded.registration.providerId);
        row["clsid"] = IdText(loaded.registration.clsid);
        row["version"] = Utf8(loaded.registration.version);
        VDS_HWPROVIDER_TYPE type = VDS_HWT_UNKNOWN;
        IVdsHwProviderType* typed = nullptr;
        if (loaded.provider && SUCCEEDED(loaded.provider->QueryInterface(IID_PPV_ARGS(&typed)))) {
            typed->GetProviderType(&type);
            typed->Release();
        }
        row["type"] = type == VDS_HWT_ISCSI ? "iSCSI" : type == VDS_HWT_FIBRE_CHANNEL ? "FC" : "unknown";
        row["loaded"] = SUCCEEDED(loaded.loaded) ? "yes" : ErrorText(loaded.loaded);
        rows.push_back(row);
    }
    PrintTable(session.Args().output, {"name", "type", "id", "version", "loaded"}, rows);
    return 0;
}

int ListSubsystems(Session& session) {
    std::vector<Row> rows;
    for (Subsystem& s : session.Subsystems()) {
        Row row;
        row["provider"] = ProviderName(s.provider);
        row["id"] = IdText(s.prop.id);
        row["name"] = Utf8(s.prop.pwszFriendlyName);
        row["identification"] = Utf8(s.prop.pwszIdentification);
        row["status"] = StatusText(s.prop.status);
        row["health"] = HealthText(s.prop.health);
        row["controllers"] = s.prop.sMaxNumberOfControllers;
        row["flags"] = s.prop.ulFlags;
        rows.push_back(row);
        Session::FreeStrings(s.prop);
    }
    PrintTable(session.Args().output, {"id", "name", "identification", "status", "health", "provider"}, rows);
    return 0;
}

// Walks each subsystem's objects of one kind (through `query`) and gives rows.
using SubsystemRows = std::function<void(Subsystem&, std::vector<Row>&)>;

int ListPerSubsystem(Session& session, const std::vector<std::string>& columns, const SubsystemRows& walk) {
    std::vector<Row> rows;
    for (Subsystem& s : session.Subsystems()) {
        walk(s, rows);
        Session::FreeStrings(s.prop);
    }
    PrintTable(session.Args().output, columns, rows);
    return 0;
}

Row LunRow(Subsystem& s, IVdsLun* lun) {
    VDS_LUN_PROP prop{};
    Row row;
    if (FAILED(lun->GetProperties(&prop))) return row;
    row["subsystem"] = Utf8(s.prop.pwszFriendlyName);
    row["id"] = IdText(prop.id);
    row["name"] = Utf8(prop.pwszFriendlyName);
    row["size"] = prop.ullSize;
    row["status"] = StatusText(prop.status);
    row["type"] = prop.type;
    row["mask"] = Utf8(prop.pwszUnmaskingList);
    row["identification"] = Utf8(prop.pwszIdentification);
    Session::FreeStrings(prop);
    return row;
}

template <typename I>
std::vector<Com<I>> Query(HRESULT hr, IEnumVdsObject* raw) {
    Com<IEnumVdsObject> enumerator(raw);
    if (FAILED(hr)) return {};
    return Session::Items<I>(enumerator.get());
}

template <typename I, typename Owner>
std::vector<Com<I>> QueryOf(Owner* owner, HRESULT (Owner::*method)(IEnumVdsObject**)) {
    IEnumVdsObject* raw = nullptr;
    const HRESULT hr = (owner->*method)(&raw);
    return Query<I>(hr, raw);
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
                                    row["subsystem"] = Utf8(s.prop.pwszFriendlyName);
                                    Session::FreeStrings(prop);
                                    rows.push_back(row);
                                }
                            });
}

int ListControllers(Session& session, bool ports) {
    const std::vector<std::string> columns = ports ? std::vector<std::string>{"id", "name", "status", "controller", "subsystem"}
                                                   : std::vector<std::string>{"id", "name", "identification", "status", "ports", "subsystem"};
    return ListPerSubsystem(session, columns, [ports](Subsystem& s, auto& rows) {
        IEnumVdsObject* raw = nullptr;
        const HRESULT hr = s.object->QueryControllers(&raw);
        for (auto& controller : Query<IVdsController>(hr, raw)) {
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
                row["subsystem"] = Utf8(s.prop.pwszFriendlyName);
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
                        row["subsystem"] = Utf8(s.prop.pwszFriendlyName);
                        Session::FreeStrings(portProp);
                        rows.push_back(row);
                    }
                }
            }
            Session::FreeStrings(prop);
        }
    });
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
                Session::FreeStrings(prop);
            }
            return;
        }
        for (auto& lun : QueryOf<IVdsLun>(s.object.get(), &IVdsSubSystem::QueryLuns)) {
            VDS_LUN_PROP lunProp{};
            lun->GetProperties(&lunProp);
            const std::string lunName = Utf8(lunProp.pwszFriendlyName);
            Session::FreeStrings(lunProp);
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

int ListIscsi(Session& session, const std::string& what) {
    std::vector<std::string> columns;
    if (what == "targets") columns = {"id", "name", "alias", "chap", "subsystem"};
    if (what == "portal-groups") columns = {"id", "tag", "portals", "subsystem"};
    if (what == "portals") columns = {"id", "address", "port", "status", "subsystem"};
    return ListPerSubsystem(session, columns, [what](Subsystem& s, auto& rows) {
        const std::string subsystem = Utf8(s.prop.pwszFriendlyName);
        if (what == "portals") {
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
                row["subsystem"] = subsystem;
                rows.push_back(row);
            }
            return;
        }
        for (auto& target : Targets(s)) {
            if (what == "targets") {
                VDS_ISCSI_TARGET_PROP prop{};
                if (const HRESULT hr = target->GetProperties(&prop); FAILED(hr)) {
                    ReportError("target properties", hr);
                    continue;
                }
                Row row;
                row["id"] = IdText(prop.id);
                row["name"] = Utf8(prop.pwszIscsiName);
                row["alias"] = Utf8(prop.pwszFriendlyName);
                row["chap"] = prop.bChapEnabled != FALSE;
                row["subsystem"] = subsystem;
                CoTaskMemFree(prop.pwszIscsiName);
                CoTaskMemFree(prop.pwszFriendlyName);
                rows.push_back(row);
                continue;
            }
            for (auto& group : QueryOf<IVdsIscsiPortalGroup>(target.get(), &IVdsIscsiTarget::QueryPortalGroups)) {
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
                row["subsystem"] = subsystem;
                rows.push_back(row);
            }
        }
    });
}

// ---- Changes ------------------------------------------------------------------------

Subsystem* OneSubsystem(std::vector<Subsystem>& all, int& status) {
    if (all.empty()) {
        std::cerr << "vdsctl: no subsystem" << "\n";
        status = 1;
        return nullptr;
    }
    return &all.front();
}

int Done(Session& session, const std::string& what, HRESULT hr) {
    session.PrintNotifications();
    if (FAILED(hr)) return ReportError(what, hr);
    if (!session.Args().output.json) std::cout << what << ": done\n";
    return 0;
}

int CreateLun(Session& session) {
    const auto size = ParseSize(session.Args().size);
    if (!size) return ReportError("create-lun (--size)", E_INVALIDARG);
    auto all = session.Subsystems();
    int status = 0;
    Subsystem* s = OneSubsystem(all, status);
    if (!s) return status;
    const VDS_LUN_TYPE type = session.Args().type.empty() ? VDS_LT_DEFAULT
                                                          : static_cast<VDS_LUN_TYPE>(std::atoi(session.Args().type.c_str()));
    std::u16string mask = MaskForVds(session.Args().mask);
    VDS_HINTS hints{};
    IVdsAsync* raw = nullptr;
    HRESULT hr = s->object->CreateLun(type, *size, nullptr, 0, mask.data(), &hints, &raw);
    if (FAILED(hr)) return Done(session, "create-lun", hr);
    Com<IVdsAsync> async(raw);
    VDS_ASYNC_OUTPUT output{};
    hr = session.WaitFor(async.get(), output);
    if (SUCCEEDED(hr) && output.cl.pLunUnk) {
        IVdsLun* lun = nullptr;
        output.cl.pLunUnk->QueryInterface(IID_PPV_ARGS(&lun));
        output.cl.pLunUnk->Release();
        if (lun) {
            Com<IVdsLun> owned(lun);
            const Row row = LunRow(*s, lun);
            PrintTable(session.Args().output, {"id", "name", "size", "status", "mask"}, {row});
        }
    }
    for (Subsystem& each : all) Session::FreeStrings(each.prop);
    return Done(session, "create-lun", hr);
}

template <typename Action>
int OnLun(Session& session, const char* what, size_t arguments, Action&& action) {
    if (session.Args().positional.size() < arguments) return ReportError(std::string(what) + " (arguments)", E_INVALIDARG);
    auto lun = session.FindLun(session.Args().positional[0]);
    if (!lun) return ReportError(std::string(what) + " " + session.Args().positional[0], VDS_E_OBJECT_NOT_FOUND);
    return Done(session, what, action(lun.get()));
}

int ExtendLun(Session& session) {
    const auto size = ParseSize(session.Args().size);
    if (!size) return ReportError("extend-lun (--size)", E_INVALIDARG);
    return OnLun(session, "extend-lun", 1, [&](IVdsLun* lun) {
        IVdsAsync* raw = nullptr;
        HRESULT hr = lun->Extend(*size, nullptr, 0, &raw);
        if (FAILED(hr)) return hr;
        Com<IVdsAsync> async(raw);
        VDS_ASYNC_OUTPUT output{};
        return session.WaitFor(async.get(), output);
    });
}

int SetLbPolicy(Session& session) {
    return OnLun(session, "set-lb-policy", 2, [&](IVdsLun* lun) -> HRESULT {
        IVdsLunMpio* mpio = nullptr;
        HRESULT hr = lun->QueryInterface(IID_PPV_ARGS(&mpio));
        if (FAILED(hr)) return hr;
        Com<IVdsLunMpio> owned(mpio);
        VDS_LOADBALANCE_POLICY_ENUM current{};
        VDS_PATH_POLICY* paths = nullptr;
        LONG count = 0;
        hr = mpio->GetLoadBalancePolicy(&current, &paths, &count);
        if (FAILED(hr)) return hr;
        const auto policy = static_cast<VDS_LOADBALANCE_POLICY_ENUM>(std::atoi(session.Args().positional[1].c_str()));
        hr = mpio->SetLoadBalancePolicy(policy, paths, count);
        CoTaskMemFree(paths);
        return hr;
    });
}

template <typename Action>
int OnTarget(Session& session, const char* what, Action&& action) {
    auto all = session.Subsystems();
    HRESULT hr = VDS_E_OBJECT_NOT_FOUND;
    for (Subsystem& s : all) {
        auto targets = Targets(s);
        if (!targets.empty()) {
            hr = action(targets.front().get());
            break;
        }
    }
    for (Subsystem& s : all) Session::FreeStrings(s.prop);
    return Done(session, what, hr);
}

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
            if (group) {
                VDS_ISCSI_PORTALGROUP_PROP prop{};
                group->GetProperties(&prop);
                Row row;
                row["id"] = IdText(prop.id);
                row["tag"] = prop.tag;
                PrintTable(session.Args().output, {"id", "tag"}, {row});
                group->Release();
            }
        }
        return hr;
    });
}

// A portal named by its id or address, and a portal group by its id or tag:
// ids hold for one process only, so later invocations name them.
Com<IVdsIscsiPortal> FindPortal(Session& session, Subsystem& s, const std::string& text) {
    if (auto byId = session.ById<IVdsIscsiPortal>(text, VDS_OT_PORTAL)) return byId;
    IVdsSubSystemIscsi* iscsi = nullptr;
    if (FAILED(s.object->QueryInterface(IID_PPV_ARGS(&iscsi)))) return nullptr;
    Com<IVdsSubSystemIscsi> owner(iscsi);
    for (auto& portal : QueryOf<IVdsIscsiPortal>(iscsi, &IVdsSubSystemIscsi::QueryPortals)) {
        VDS_ISCSI_PORTAL_PROP prop{};
        if (SUCCEEDED(portal->GetProperties(&prop)) && AddressText(prop.address) == text) return std::move(portal);
    }
    return nullptr;
}

Com<IVdsIscsiPortalGroup> FindPortalGroup(Session& session, Subsystem& s, const std::string& text) {
    if (auto byId = session.ById<IVdsIscsiPortalGroup>(text, VDS_OT_PORTAL_GROUP)) return byId;
    for (auto& target : Targets(s))
        for (auto& group : QueryOf<IVdsIscsiPortalGroup>(target.get(), &IVdsIscsiTarget::QueryPortalGroups)) {
            VDS_ISCSI_PORTALGROUP_PROP prop{};
            if (SUCCEEDED(group->GetProperties(&prop)) && std::to_string(prop.tag) == text) return std::move(group);
        }
    return nullptr;
}

int MovePortal(Session& session) {
    if (session.Args().positional.size() < 2) return ReportError("move-portal (arguments)", E_INVALIDARG);
    auto all = session.Subsystems();
    HRESULT hr = VDS_E_OBJECT_NOT_FOUND;
    for (Subsystem& s : all) {
        auto portal = FindPortal(session, s, session.Args().positional[0]);
        auto group = FindPortalGroup(session, s, session.Args().positional[1]);
        if (!portal || !group) continue;
        VDS_ISCSI_PORTAL_PROP prop{};
        hr = portal->GetProperties(&prop);
        IVdsAsync* raw = nullptr;
        if (SUCCEEDED(hr)) hr = group->AddPortal(prop.id, &raw);
        if (SUCCEEDED(hr)) {
            Com<IVdsAsync> async(raw);
            VDS_ASYNC_OUTPUT output{};
            hr = session.WaitFor(async.get(), output);
        }
        break;
    }
    for (Subsystem& s : all) Session::FreeStrings(s.prop);
    return Done(session, "move-portal", hr);
}

// ---- Host devices --------------------------------------------------------------------

std::string ReadAttribute(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::string text;
    std::getline(in, text);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\n')) text.pop_back();
    return text;
}

// The unit serial number page as sysfs gives it (page 0x80: a 4-byte head, then the serial).
std::string ReadSerial(const std::filesystem::path& device) {
    std::ifstream in(device / "vpd_pg80", std::ios::binary);
    std::string page((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (page.size() > 4) return page.substr(4, static_cast<unsigned char>(page[3]));
    return ReadAttribute(device / "serial");
}

int QueryLun(Session& session) {
    if (session.Args().positional.empty()) return ReportError("query-lun (device)", E_INVALIDARG);
    const std::string devicePath = session.Args().positional[0];
    const char* root = std::getenv("SANPROV_SYSFS_ROOT");
    const std::filesystem::path device = std::filesystem::path(root ? root : "/sys") / "block" /
                                         std::filesystem::path(devicePath).filename() / "device";
    std::string vendor = ReadAttribute(device / "vendor"), product = ReadAttribute(device / "model"),
                revision = ReadAttribute(device / "rev"), serial = ReadSerial(device);
    VDS_LUN_INFORMATION info{};
    info.m_version = 1;
    info.m_BusType = VDSBusTypeScsi;
    info.m_szVendorId = vendor.data();
    info.m_szProductId = product.data();
    info.m_szProductRevision = revision.data();
    info.m_szSerialNumber = serial.data();
    std::u16string path = Wide(devicePath);
    for (LoadedProvider* provider : session.Providers()) {
        IVdsHwProviderPrivate* priv = nullptr;
        if (FAILED(provider->provider->QueryInterface(IID_PPV_ARGS(&priv)))) continue;
        Com<IVdsHwProviderPrivate> owned(priv);
        GUID lunId{};
        const HRESULT hr = priv->QueryIfCreatedLun(path.data(), &info, &lunId);
        if (hr == S_OK) {
            Row row;
            row["device"] = devicePath;
            row["lun"] = IdText(lunId);
            row["provider"] = ProviderName(provider);
            PrintTable(session.Args().output, {"device", "lun", "provider"}, {row});
            return 0;
        }
    }
    std::cerr << "vdsctl: " << devicePath << " is not a LUN of a loaded provider\n";
    return 1;
}

// ---- Provider-wide -----------------------------------------------------------------

int ForEachProvider(Session& session, const char* what, HRESULT (IVdsHwProvider::*method)()) {
    HRESULT result = S_OK;
    for (LoadedProvider* provider : session.Providers()) {
        const HRESULT hr = (provider->hw->*method)();
        if (FAILED(hr)) {
            ReportError(std::string(what) + " (" + ProviderName(provider) + ")", hr);
            result = hr;
        }
    }
    session.PrintNotifications();
    if (SUCCEEDED(result) && !session.Args().output.json) std::cout << what << ": done\n";
    return FAILED(result) ? 1 : 0;
}

// Prints notifications as they arrive; refreshes every few seconds so changes
// made on the appliances by others show.
int Watch(Session& session) {
    const int seconds = session.Args().positional.empty() ? 0 : std::atoi(session.Args().positional[0].c_str());
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    auto nextRefresh = std::chrono::steady_clock::now();
    std::cout.setf(std::ios::unitbuf);
    while (seconds == 0 || std::chrono::steady_clock::now() < end) {
        if (std::chrono::steady_clock::now() >= nextRefresh) {
            ReloadStoredList();
            for (LoadedProvider* provider : session.Providers()) {
                provider->hw->Reenumerate();
                provider->hw->Refresh();
            }
            nextRefresh = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        }
        session.PrintNotifications(std::chrono::milliseconds(200));
    }
    return 0;
}

// ---- Command line ------------------------------------------------------------------

std::optional<Arguments> Parse(int argc, char** argv) {
    Arguments args;
    const std::map<std::string, std::string Arguments::*> valued = {
        {"--provider", &Arguments::provider}, {"--subsystem", &Arguments::subsystem}, {"--size", &Arguments::size},
        {"--mask", &Arguments::mask},         {"--type", &Arguments::type},
    };
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--json") {
            args.output.json = true;
        } else if (arg == "--bytes") {
            args.output.bytes = true;
        } else if (auto it = valued.find(arg); it != valued.end()) {
            if (++i >= argc) return std::nullopt;
            args.*(it->second) = argv[i];
        } else if (arg.rfind("--", 0) == 0) {
            return std::nullopt;
        } else if (args.command.empty()) {
            args.command = arg;
        } else {
            args.positional.push_back(arg);
        }
    }
    if (args.command.empty()) return std::nullopt;
    return args;
}

}  // namespace

int main(int argc, char** argv) {
    const auto args = Parse(argc, argv);
    if (!args) {
        std::cerr << kUsage;
        return 2;
    }
    const std::string& command = args->command;
    if (command == "register" || command == "unregister") {
        const HRESULT hr = RegisterZarvoProviders(command == "unregister");
        if (FAILED(hr)) return ReportError(command, hr);
        std::cout << command << ": done\n";
        return 0;
    }

    using Handler = std::function<int(Session&)>;
    const std::map<std::string, Handler> commands = {
        {"providers", ListProviders},
        {"subsystems", ListSubsystems},
        {"controllers", [](Session& s) { return ListControllers(s, false); }},
        {"ports", [](Session& s) { return ListControllers(s, true); }},
        {"drives", ListDrives},
        {"luns", ListLuns},
        {"plexes", [](Session& s) { return ListPlexes(s, false); }},
        {"extents", [](Session& s) { return ListPlexes(s, true); }},
        {"targets", [](Session& s) { return ListIscsi(s, "targets"); }},
        {"portal-groups", [](Session& s) { return ListIscsi(s, "portal-groups"); }},
        {"portals", [](Session& s) { return ListIscsi(s, "portals"); }},
        {"create-lun", CreateLun},
        {"extend-lun", ExtendLun},
        {"mask-lun", [](Session& s) {
             return OnLun(s, "mask-lun", 2,
                          [&](IVdsLun* lun) { return lun->SetMask(MaskForVds(s.Args().positional[1]).data()); });
         }},
        {"rename-lun", [](Session& s) {
             return OnLun(s, "rename-lun", 2, [&](IVdsLun* lun) -> HRESULT {
                 IVdsLunNaming* naming = nullptr;
                 HRESULT hr = lun->QueryInterface(IID_PPV_ARGS(&naming));
                 if (FAILED(hr)) return hr;
                 std::u16string name = Wide(s.Args().positional[1]);
                 hr = naming->SetFriendlyName(name.data());
                 naming->Release();
                 return hr;
             });
         }},
        {"delete-lun", [](Session& s) { return OnLun(s, "delete-lun", 1, [](IVdsLun* lun) { return lun->Delete(); }); }},
        {"set-lb-policy", SetLbPolicy},
        {"create-portal-group", CreatePortalGroup},
        {"move-portal", MovePortal},
        {"set-alias", [](Session& s) {
             if (s.Args().positional.empty()) return ReportError("set-alias (alias)", E_INVALIDARG);
             return OnTarget(s, "set-alias", [&](IVdsIscsiTarget* target) {
                 std::u16string alias = Wide(s.Args().positional[0]);
                 return target->SetFriendlyName(alias.data());
             });
         }},
        {"set-chap", [](Session& s) {
             if (s.Args().positional.empty()) return ReportError("set-chap (secret)", E_INVALIDARG);
             return OnTarget(s, "set-chap", [&](IVdsIscsiTarget* target) {
                 std::string secret = s.Args().positional[0];
                 VDS_ISCSI_SHARED_SECRET shared{reinterpret_cast<UCHAR*>(secret.data()), static_cast<ULONG>(secret.size())};
                 std::u16string initiator = s.Args().positional.size() > 1 ? Wide(s.Args().positional[1]) : u"";
                 return target->SetSharedSecret(&shared, initiator.empty() ? nullptr : initiator.data());
             });
         }},
        {"rename-subsystem", [](Session& s) {
             if (s.Args().positional.empty()) return ReportError("rename-subsystem (name)", E_INVALIDARG);
             auto all = s.Subsystems();
             int status = 0;
             Subsystem* one = OneSubsystem(all, status);
             if (!one) return status;
             IVdsSubSystemNaming* naming = nullptr;
             HRESULT hr = one->object->QueryInterface(IID_PPV_ARGS(&naming));
             if (SUCCEEDED(hr)) {
                 std::u16string name = Wide(s.Args().positional[0]);
                 hr = naming->SetFriendlyName(name.data());
                 naming->Release();
             }
             for (Subsystem& each : all) Session::FreeStrings(each.prop);
             return Done(s, "rename-subsystem", hr);
         }},
        {"reenumerate", [](Session& s) {
             ReloadStoredList();
             return ForEachProvider(s, "reenumerate", &IVdsHwProvider::Reenumerate);
         }},
        {"refresh", [](Session& s) { return ForEachProvider(s, "refresh", &IVdsHwProvider::Refresh); }},
        {"watch", Watch},
        {"query-lun", QueryLun},
    };
    const auto handler = commands.find(command);
    if (handler == commands.end()) {
        std::cerr << kUsage;
        return 2;
    }
    Session session(*args);
    for (LoadedProvider& loaded : session.Host().Providers())
        if (FAILED(loaded.loaded)) ReportError("loading " + Utf8(loaded.registration.name), loaded.loaded);
    const int status = handler->second(session);
    std::cout.flush();
    return status;
}
