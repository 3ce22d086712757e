#include <vdscmd/picture.h>

#include <algorithm>
#include <set>

#include <platform/com_scoped.h>
#include <platform/comalloc.h>
#include <vdscmd/output.h>

namespace vdscmd {
namespace {

template <typename T>
using Com = platform::com_unique_ptr<T>;
using IdSet = std::set<GUID, GuidLess>;

std::string Take(LPWSTR& text) {
    std::string utf8 = Utf8(text);
    CoTaskMemFree(text);
    text = nullptr;
    return utf8;
}

template <typename I>
Com<I> As(IUnknown* object) {
    I* item = nullptr;
    if (object) object->QueryInterface(IID_PPV_ARGS(&item));
    return Com<I>(item);
}

template <typename I>
std::vector<Com<I>> Enumerate(IEnumVdsObject* raw) {
    Com<IEnumVdsObject> enumerator(raw);
    std::vector<Com<I>> items;
    for (IUnknown* object = nullptr; enumerator;) {
        ULONG fetched = 0;
        if (FAILED(enumerator->Next(1, &object, &fetched)) || fetched == 0) break;
        if (auto item = As<I>(object)) items.push_back(std::move(item));
        object->Release();
    }
    return items;
}

template <typename I, typename Owner>
std::vector<Com<I>> Query(Owner* owner, HRESULT (Owner::*method)(IEnumVdsObject**)) {
    IEnumVdsObject* raw = nullptr;
    if (!owner || FAILED((owner->*method)(&raw))) return {};
    return Enumerate<I>(raw);
}

void FreeInformation(VDS_LUN_INFORMATION& info) {
    CoTaskMemFree(info.m_szVendorId);
    CoTaskMemFree(info.m_szProductId);
    CoTaskMemFree(info.m_szProductRevision);
    CoTaskMemFree(info.m_szSerialNumber);
    for (ULONG i = 0; info.m_deviceIdDescriptor.m_rgIdentifiers && i < info.m_deviceIdDescriptor.m_cIdentifiers; ++i)
        CoTaskMemFree(info.m_deviceIdDescriptor.m_rgIdentifiers[i].m_rgbIdentifier);
    CoTaskMemFree(info.m_deviceIdDescriptor.m_rgIdentifiers);
    for (ULONG i = 0; info.m_rgInterconnects && i < info.m_cInterconnects; ++i) {
        CoTaskMemFree(info.m_rgInterconnects[i].m_pbPort);
        CoTaskMemFree(info.m_rgInterconnects[i].m_pbAddress);
    }
    CoTaskMemFree(info.m_rgInterconnects);
}

// ---- Readings: each adds what it read to a view; what it cannot read it leaves out.

std::optional<GUID> SubsystemId(IVdsSubSystem* subsystem) {
    VDS_SUB_SYSTEM_PROP prop{};
    if (!subsystem || FAILED(subsystem->GetProperties(&prop))) return std::nullopt;
    CoTaskMemFree(prop.pwszFriendlyName);
    CoTaskMemFree(prop.pwszIdentification);
    return prop.id;
}

template <typename I>
std::optional<GUID> OwnerOf(I* object) {
    IVdsSubSystem* raw = nullptr;
    if (FAILED(object->GetSubSystem(&raw))) return std::nullopt;
    Com<IVdsSubSystem> subsystem(raw);
    return SubsystemId(subsystem.get());
}

bool ReadSubsystem(IVdsSubSystem* object, const GUID& provider, PictureView& out) {
    VDS_SUB_SYSTEM_PROP prop{};
    if (FAILED(object->GetProperties(&prop))) return false;
    out.subsystems.push_back({provider, prop.id, Take(prop.pwszFriendlyName), Take(prop.pwszIdentification),
                              prop.status, prop.health, prop.ulFlags, prop.sMaxNumberOfControllers});
    return true;
}

void ReadLun(IVdsLun* lun, const GUID& subsystem, PictureView& out) {
    VDS_LUN_PROP prop{};
    if (FAILED(lun->GetProperties(&prop))) return;
    PictureLun entry = TakeLun(prop, subsystem);
    VDS_LUN_INFORMATION info{};
    if (SUCCEEDED(lun->GetIdentificationData(&info))) {
        entry.serial = info.m_szSerialNumber ? info.m_szSerialNumber : "";
        FreeInformation(info);
    }
    for (auto& plex : Query<IVdsLunPlex>(lun, &IVdsLun::QueryPlexes)) {
        VDS_LUN_PLEX_PROP plexProp{};
        if (SUCCEEDED(plex->GetProperties(&plexProp)))
            entry.plexes.push_back({plexProp.id, plexProp.ullSize, plexProp.type, plexProp.status});
    }
    out.luns.push_back(std::move(entry));
}

void ReadDrive(IVdsDrive* drive, const GUID& subsystem, PictureView& out) {
    VDS_DRIVE_PROP prop{};
    if (FAILED(drive->GetProperties(&prop))) return;
    PictureDrive entry{{}, prop.id,        subsystem,          Take(prop.pwszFriendlyName), Take(prop.pwszIdentification),
                       prop.ullSize,   prop.status,        prop.health,                 prop.sInternalBusNumber,
                       prop.sSlotNumber, {}};
    VDS_DRIVE_EXTENT* extents = nullptr;
    LONG count = 0;
    if (SUCCEEDED(drive->QueryExtents(&extents, &count)))
        for (LONG i = 0; extents && i < count; ++i)
            entry.extents.push_back({extents[i].LunId, extents[i].ullSize, extents[i].bUsed != FALSE});
    CoTaskMemFree(extents);
    out.drives.push_back(std::move(entry));
}

void ReadPort(IVdsControllerPort* port, const GUID& subsystem, const PictureController& controller, PictureView& out) {
    VDS_PORT_PROP prop{};
    if (FAILED(port->GetProperties(&prop))) return;
    out.ports.push_back({{}, prop.id, subsystem, controller.id, Take(prop.pwszFriendlyName), Take(prop.pwszIdentification),
                         controller.name, prop.status});
}

std::optional<PictureController> ReadController(IVdsController* controller, const GUID& subsystem, bool ports,
                                                PictureView& out) {
    VDS_CONTROLLER_PROP prop{};
    if (FAILED(controller->GetProperties(&prop))) return std::nullopt;
    PictureController entry{{}, prop.id, subsystem, Take(prop.pwszFriendlyName), Take(prop.pwszIdentification),
                            prop.status, prop.sNumberOfPorts};
    out.controllers.push_back(entry);
    if (ports)
        if (auto owner = As<IVdsControllerControllerPort>(controller))
            for (auto& port : Query<IVdsControllerPort>(owner.get(), &IVdsControllerControllerPort::QueryControllerPorts))
                ReadPort(port.get(), subsystem, entry, out);
    return entry;
}

void ReadPortal(IVdsIscsiPortal* portal, const GUID& subsystem, PictureView& out) {
    VDS_ISCSI_PORTAL_PROP prop{};
    if (SUCCEEDED(portal->GetProperties(&prop)))
        out.portals.push_back({{}, prop.id, subsystem, AddressText(prop.address), prop.address.ulPort, prop.status});
}

void ReadGroup(IVdsIscsiPortalGroup* group, const GUID& subsystem, const GUID& target, PictureView& out) {
    VDS_ISCSI_PORTALGROUP_PROP prop{};
    if (FAILED(group->GetProperties(&prop))) return;
    PicturePortalGroup entry{{}, prop.id, subsystem, target, prop.tag, {}};
    for (auto& portal : Query<IVdsIscsiPortal>(group, &IVdsIscsiPortalGroup::QueryAssociatedPortals)) {
        VDS_ISCSI_PORTAL_PROP portalProp{};
        if (SUCCEEDED(portal->GetProperties(&portalProp))) entry.portals.push_back(AddressText(portalProp.address));
    }
    out.portalGroups.push_back(std::move(entry));
}

std::optional<GUID> ReadTarget(IVdsIscsiTarget* target, const GUID& subsystem, PictureView& out) {
    VDS_ISCSI_TARGET_PROP prop{};
    if (FAILED(target->GetProperties(&prop))) return std::nullopt;
    out.targets.push_back({{}, prop.id, subsystem, Take(prop.pwszIscsiName), Take(prop.pwszFriendlyName),
                           prop.bChapEnabled != FALSE});
    for (auto& group : Query<IVdsIscsiPortalGroup>(target, &IVdsIscsiTarget::QueryPortalGroups))
        ReadGroup(group.get(), subsystem, prop.id, out);
    return prop.id;
}

void ReadIscsiObjects(IVdsSubSystem* object, const GUID& subsystem, PictureView& out) {
    auto iscsi = As<IVdsSubSystemIscsi>(object);
    if (!iscsi) return;
    for (auto& target : Query<IVdsIscsiTarget>(iscsi.get(), &IVdsSubSystemIscsi::QueryTargets))
        ReadTarget(target.get(), subsystem, out);
    for (auto& portal : Query<IVdsIscsiPortal>(iscsi.get(), &IVdsSubSystemIscsi::QueryPortals))
        ReadPortal(portal.get(), subsystem, out);
}

void ReadTree(IVdsSubSystem* object, const GUID& provider, PictureView& out) {
    if (!ReadSubsystem(object, provider, out)) return;
    const GUID id = out.subsystems.back().id;
    for (auto& controller : Query<IVdsController>(object, &IVdsSubSystem::QueryControllers))
        ReadController(controller.get(), id, true, out);
    for (auto& drive : Query<IVdsDrive>(object, &IVdsSubSystem::QueryDrives)) ReadDrive(drive.get(), id, out);
    for (auto& lun : Query<IVdsLun>(object, &IVdsSubSystem::QueryLuns)) ReadLun(lun.get(), id, out);
    ReadIscsiObjects(object, id, out);
}

// One object of a provider by its id, with what belongs to it. False when the
// provider has no such object.
bool ReadOne(LoadedProvider& provider, VDS_OBJECT_TYPE type, const GUID& id, PictureView& out) {
    IUnknown* raw = nullptr;
    if (!provider.priv || FAILED(provider.priv->GetObject(id, type, &raw)) || !raw) return false;
    Com<IUnknown> object(raw);
    switch (type) {
        case VDS_OT_SUB_SYSTEM:
            if (auto s = As<IVdsSubSystem>(raw)) ReadTree(s.get(), provider.registration.providerId, out);
            break;
        case VDS_OT_LUN:
            if (auto lun = As<IVdsLun>(raw))
                if (auto owner = OwnerOf(lun.get())) ReadLun(lun.get(), *owner, out);
            break;
        case VDS_OT_DRIVE:
            if (auto drive = As<IVdsDrive>(raw))
                if (auto owner = OwnerOf(drive.get())) ReadDrive(drive.get(), *owner, out);
            break;
        case VDS_OT_CONTROLLER:
            if (auto controller = As<IVdsController>(raw))
                if (auto owner = OwnerOf(controller.get())) ReadController(controller.get(), *owner, true, out);
            break;
        case VDS_OT_PORT:
            if (auto port = As<IVdsControllerPort>(raw)) {
                IVdsController* c = nullptr;
                if (FAILED(port->GetController(&c))) break;
                Com<IVdsController> controller(c);
                PictureView scratch;
                auto owner = OwnerOf(controller.get());
                auto read = owner ? ReadController(controller.get(), *owner, false, scratch) : std::nullopt;
                if (read) ReadPort(port.get(), *owner, *read, out);
            }
            break;
        case VDS_OT_TARGET:
            if (auto target = As<IVdsIscsiTarget>(raw))
                if (auto owner = OwnerOf(target.get())) ReadTarget(target.get(), *owner, out);
            break;
        case VDS_OT_PORTAL_GROUP:
            if (auto group = As<IVdsIscsiPortalGroup>(raw)) {
                IVdsIscsiTarget* t = nullptr;
                if (FAILED(group->GetTarget(&t))) break;
                Com<IVdsIscsiTarget> target(t);
                VDS_ISCSI_TARGET_PROP prop{};
                if (FAILED(target->GetProperties(&prop))) break;
                CoTaskMemFree(prop.pwszIscsiName);
                CoTaskMemFree(prop.pwszFriendlyName);
                if (auto owner = OwnerOf(target.get())) ReadGroup(group.get(), *owner, prop.id, out);
            }
            break;
        case VDS_OT_PORTAL:
            if (auto portal = As<IVdsIscsiPortal>(raw))
                if (auto owner = OwnerOf(portal.get())) ReadPortal(portal.get(), *owner, out);
            break;
        default: break;
    }
    return true;
}

struct Event {
    ULONG code;
    VDS_OBJECT_TYPE type;
    bool departs;
};
constexpr Event kEvents[] = {
    {VDS_NF_SUB_SYSTEM_ARRIVE, VDS_OT_SUB_SYSTEM, false},   {VDS_NF_SUB_SYSTEM_DEPART, VDS_OT_SUB_SYSTEM, true},
    {VDS_NF_SUB_SYSTEM_MODIFY, VDS_OT_SUB_SYSTEM, false},   {VDS_NF_CONTROLLER_ARRIVE, VDS_OT_CONTROLLER, false},
    {VDS_NF_CONTROLLER_DEPART, VDS_OT_CONTROLLER, true},    {VDS_NF_DRIVE_ARRIVE, VDS_OT_DRIVE, false},
    {VDS_NF_DRIVE_DEPART, VDS_OT_DRIVE, true},              {VDS_NF_DRIVE_MODIFY, VDS_OT_DRIVE, false},
    {VDS_NF_LUN_ARRIVE, VDS_OT_LUN, false},                 {VDS_NF_LUN_DEPART, VDS_OT_LUN, true},
    {VDS_NF_LUN_MODIFY, VDS_OT_LUN, false},                 {VDS_NF_PORT_ARRIVE, VDS_OT_PORT, false},
    {VDS_NF_PORT_DEPART, VDS_OT_PORT, true},                {VDS_NF_PORTAL_ARRIVE, VDS_OT_PORTAL, false},
    {VDS_NF_PORTAL_DEPART, VDS_OT_PORTAL, true},            {VDS_NF_PORTAL_MODIFY, VDS_OT_PORTAL, false},
    {VDS_NF_TARGET_ARRIVE, VDS_OT_TARGET, false},           {VDS_NF_TARGET_DEPART, VDS_OT_TARGET, true},
    {VDS_NF_TARGET_MODIFY, VDS_OT_TARGET, false},           {VDS_NF_PORTAL_GROUP_ARRIVE, VDS_OT_PORTAL_GROUP, false},
    {VDS_NF_PORTAL_GROUP_DEPART, VDS_OT_PORTAL_GROUP, true}, {VDS_NF_PORTAL_GROUP_MODIFY, VDS_OT_PORTAL_GROUP, false},
};

// The event of a notification and its object's id; null for one of no object kind held here.
const Event* EventOf(const VDS_NOTIFICATION& n, GUID& id) {
    ULONG code = 0;
    // Every kind of notification holds its event and object id at the same place.
    std::memcpy(&code, reinterpret_cast<const BYTE*>(&n) + offsetof(VDS_NOTIFICATION, Lun.ulEvent), sizeof code);
    std::memcpy(&id, reinterpret_cast<const BYTE*>(&n) + offsetof(VDS_NOTIFICATION, Lun.LunId), sizeof id);
    const auto event =
        std::find_if(std::begin(kEvents), std::end(kEvents), [code](const Event& e) { return e.code == code; });
    return event == std::end(kEvents) ? nullptr : event;
}

// Marks every entry of a reading as its provider's.
void Own(PictureView& view, const GUID& provider) {
    const auto own = [&provider](auto& entries) {
        for (auto& e : entries) e.provider = provider;
    };
    own(view.subsystems), own(view.controllers), own(view.ports), own(view.drives);
    own(view.luns), own(view.targets), own(view.portalGroups), own(view.portals);
}

template <typename E>
void Append(std::vector<E>& to, std::vector<E>& from) {
    std::move(from.begin(), from.end(), std::back_inserter(to));
}

void Append(PictureView& to, PictureView&& from) {
    Append(to.subsystems, from.subsystems), Append(to.controllers, from.controllers), Append(to.ports, from.ports);
    Append(to.drives, from.drives), Append(to.luns, from.luns), Append(to.targets, from.targets);
    Append(to.portalGroups, from.portalGroups), Append(to.portals, from.portals);
}

bool Same(const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

}  // namespace

PictureLun TakeLun(VDS_LUN_PROP& prop, const GUID& subsystem) {
    return {{}, prop.id, subsystem, Take(prop.pwszFriendlyName), Take(prop.pwszIdentification),
            Take(prop.pwszUnmaskingList), {}, prop.ullSize, prop.type, prop.status, {}};
}

// ---- The stored picture ------------------------------------------------------------

template <typename E>
struct Held {
    E value;
    uint64_t stamp = 0;
    bool gone = false;  // kept as a mark, so an older reading does not bring it back
};
template <typename E>
using Table = std::map<PictureKey, Held<E>>;

struct ObjectPicture::Contents {
    Table<PictureSubsystem> subsystems;
    Table<PictureController> controllers;
    Table<PicturePort> ports;
    Table<PictureDrive> drives;
    Table<PictureLun> luns;
    Table<PictureTarget> targets;
    Table<PicturePortalGroup> portalGroups;
    Table<PicturePortal> portals;

    // Calls f(table, the view's entries of its kind, whether the kind is iSCSI's).
    template <typename F>
    void Each(PictureView& view, F&& f) {
        f(subsystems, view.subsystems, false);
        f(controllers, view.controllers, false);
        f(ports, view.ports, false);
        f(drives, view.drives, false);
        f(luns, view.luns, false);
        f(targets, view.targets, true);
        f(portalGroups, view.portalGroups, true);
        f(portals, view.portals, true);
    }
};

namespace {

using KeySet = std::set<PictureKey>;

// What a reading replaces as a whole: every object of these subsystems (of
// the iSCSI kinds only, when `iscsiOnly`) that the reading did not find is gone.
struct Scope {
    KeySet subsystems;
    bool iscsiOnly = false;
};

template <typename E>
PictureKey KeyOf(const E& e) { return {e.provider, e.id}; }
template <typename E>
PictureKey OwnerKey(const E& e) { return {e.provider, e.subsystem}; }
PictureKey OwnerKey(const PictureSubsystem& s) { return {s.provider, s.id}; }

template <typename E>
void Merge(Table<E>& table, std::vector<E>& read, uint64_t began, const Scope* scope, bool iscsi) {
    KeySet found;
    for (E& entry : read) {
        const PictureKey key = KeyOf(entry);
        found.insert(key);
        auto [at, added] = table.try_emplace(key);
        if (!added && at->second.stamp > began) continue;  // written since this reading began
        at->second = Held<E>{std::move(entry), began, false};
    }
    if (!scope || (scope->iscsiOnly && !iscsi)) return;
    for (auto& [key, held] : table)
        if (!held.gone && held.stamp < began && scope->subsystems.count(OwnerKey(held.value)) && !found.count(key))
            held = Held<E>{held.value, began, true};
}

template <typename E>
void MarkGone(Table<E>& table, const PictureKey& key, uint64_t at) {
    auto [it, added] = table.try_emplace(key);
    if (added) {
        it->second.value.provider = key.provider;
        it->second.value.id = key.id;
    }
    if (it->second.stamp <= at) {
        it->second.stamp = at;
        it->second.gone = true;
    }
}

template <typename E, typename Belongs>
void MarkGoneWhere(Table<E>& table, uint64_t at, Belongs&& belongs) {
    for (auto& [key, held] : table)
        if (!held.gone && belongs(held.value)) held = Held<E>{held.value, at, true};
}

template <typename E>
void Copy(const Table<E>& table, std::vector<E>& out) {
    out.reserve(table.size());
    for (const auto& [key, held] : table)
        if (!held.gone) out.push_back(held.value);
}

}  // namespace

const PictureSubsystem* PictureView::Subsystem(const GUID& provider, const GUID& id) const {
    for (const PictureSubsystem& s : subsystems)
        if (Same(s.id, id) && Same(s.provider, provider)) return &s;
    return nullptr;
}

ObjectPicture::ObjectPicture(std::function<ProviderList()> providers)
    : m_providers(std::move(providers)), m_contents(std::make_unique<Contents>()) {
    m_thread = std::thread([this] { Updater(); });
}

ObjectPicture::~ObjectPicture() {
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_changed.notify_all();
    m_thread.join();
}

uint64_t ObjectPicture::Begin() {
    std::lock_guard lock(m_mutex);
    return ++m_clock;
}

void ObjectPicture::Notify(const GUID& provider, const VDS_NOTIFICATION* notifications, LONG count) {
    bool queued = false;
    {
        std::lock_guard lock(m_mutex);
        for (LONG i = 0; i < count; ++i) {
            PictureKey key{provider, {}};
            const Event* event = EventOf(notifications[i], key.id);
            if (!event) continue;
            if (event->departs) {
                Erase(event->type, key, ++m_clock);
                continue;
            }
            if (!m_queued.insert(key).second) continue;  // the re-read to come sees this change too
            m_pending.push_back({event->type, key, ++m_clock});
            queued = true;
        }
    }
    if (queued) m_changed.notify_all();
}

void ObjectPicture::Updater() {
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [this] { return m_stopping || !m_pending.empty(); });
        if (m_stopping) return;
        const Pending next = m_pending.front();
        m_pending.pop_front();
        m_queued.erase(next.key);
        m_running = next.queued;
        lock.unlock();
        for (const auto& provider : m_providers())
            if (Same(provider->registration.providerId, next.key.provider)) ReadIn(*provider, next.type, next.key.id);
        lock.lock();
        m_running = 0;
        m_changed.notify_all();
    }
}

void ObjectPicture::Settle() {
    std::unique_lock lock(m_mutex);
    const uint64_t until = m_clock;
    m_changed.wait(lock, [&] {
        const bool queued = std::any_of(m_pending.begin(), m_pending.end(),
                                        [&](const Pending& p) { return p.queued <= until; });
        return m_stopping || (!queued && (m_running == 0 || m_running > until));
    });
}

void ObjectPicture::Put(PictureView&& read, uint64_t began) {
    m_contents->Each(read, [&](auto& table, auto& entries, bool iscsi) { Merge(table, entries, began, nullptr, iscsi); });
}

void ObjectPicture::Erase(VDS_OBJECT_TYPE type, const PictureKey& key, uint64_t at) {
    Contents& c = *m_contents;
    const auto of = [&key](const auto& e) { return Same(e.provider, key.provider) && Same(e.subsystem, key.id); };
    switch (type) {
        case VDS_OT_SUB_SYSTEM:
            MarkGone(c.subsystems, key, at);
            MarkGoneWhere(c.controllers, at, of);
            MarkGoneWhere(c.ports, at, of);
            MarkGoneWhere(c.drives, at, of);
            MarkGoneWhere(c.luns, at, of);
            MarkGoneWhere(c.targets, at, of);
            MarkGoneWhere(c.portalGroups, at, of);
            MarkGoneWhere(c.portals, at, of);
            break;
        case VDS_OT_CONTROLLER:
            MarkGone(c.controllers, key, at);
            MarkGoneWhere(c.ports, at, [&key](const PicturePort& p) {
                return Same(p.provider, key.provider) && Same(p.controller, key.id);
            });
            break;
        case VDS_OT_PORT: MarkGone(c.ports, key, at); break;
        case VDS_OT_DRIVE: MarkGone(c.drives, key, at); break;
        case VDS_OT_LUN: MarkGone(c.luns, key, at); break;
        case VDS_OT_TARGET:
            MarkGone(c.targets, key, at);
            MarkGoneWhere(c.portalGroups, at, [&key](const PicturePortalGroup& g) {
                return Same(g.provider, key.provider) && Same(g.target, key.id);
            });
            break;
        case VDS_OT_PORTAL_GROUP: MarkGone(c.portalGroups, key, at); break;
        case VDS_OT_PORTAL: MarkGone(c.portals, key, at); break;
        default: break;
    }
}

void ObjectPicture::Read(const std::vector<LoadedProvider*>& providers) {
    const uint64_t began = Begin();
    PictureView read;
    std::set<GUID, GuidLess> providerIds;
    for (LoadedProvider* provider : providers) {
        if (!provider->hw) continue;
        providerIds.insert(provider->registration.providerId);
        IEnumVdsObject* raw = nullptr;
        if (FAILED(provider->hw->QuerySubSystems(&raw))) continue;
        PictureView one;
        for (auto& subsystem : Enumerate<IVdsSubSystem>(raw))
            ReadTree(subsystem.get(), provider->registration.providerId, one);
        Own(one, provider->registration.providerId);
        Append(read, std::move(one));
    }
    Scope scope;
    for (const PictureSubsystem& s : read.subsystems) scope.subsystems.insert(KeyOf(s));
    KeySet found;
    const auto collect = [&found](const auto& entries) {
        for (const auto& e : entries) found.insert(KeyOf(e));
    };
    collect(read.subsystems), collect(read.controllers), collect(read.ports), collect(read.drives);
    collect(read.luns), collect(read.targets), collect(read.portalGroups), collect(read.portals);
    std::lock_guard lock(m_mutex);
    for (const auto& [key, held] : m_contents->subsystems)
        if (providerIds.count(key.provider)) scope.subsystems.insert(key);
    m_contents->Each(read, [&](auto& table, auto& entries, bool iscsi) { Merge(table, entries, began, &scope, iscsi); });
    // Re-reads queued before this reading began are done by it.
    std::erase_if(m_pending, [&](const Pending& p) {
        const bool covered = p.queued < began && found.count(p.key);
        if (covered) m_queued.erase(p.key);
        return covered;
    });
    m_changed.notify_all();
}

void ObjectPicture::Keep(const std::vector<GUID>& providerIds) {
    std::lock_guard lock(m_mutex);
    const std::set<GUID, GuidLess> kept(providerIds.begin(), providerIds.end());
    std::vector<PictureKey> dropped;
    for (const auto& [key, held] : m_contents->subsystems)
        if (!held.gone && !kept.count(key.provider)) dropped.push_back(key);
    for (const PictureKey& key : dropped) Erase(VDS_OT_SUB_SYSTEM, key, ++m_clock);
}

void ObjectPicture::ReadIn(LoadedProvider& provider, VDS_OBJECT_TYPE type, const GUID& id) {
    const uint64_t began = Begin();
    PictureView read;
    const bool exists = ReadOne(provider, type, id, read);
    Own(read, provider.registration.providerId);
    std::lock_guard lock(m_mutex);
    if (exists)
        Put(std::move(read), began);
    else
        Erase(type, {provider.registration.providerId, id}, began);
}

void ObjectPicture::ReadObject(const std::vector<LoadedProvider*>& providers, VDS_OBJECT_TYPE type, const GUID& id) {
    for (LoadedProvider* provider : providers) ReadIn(*provider, type, id);
}

void ObjectPicture::ReadNotified(const std::vector<LoadedProvider*>& providers,
                                 const std::vector<VDS_NOTIFICATION>& seen) {
    std::set<std::pair<int, PictureKey>> done;  // the kind and id (no provider) of each object read
    for (const VDS_NOTIFICATION& n : seen) {
        PictureKey key;
        const Event* event = EventOf(n, key.id);
        if (event && !event->departs && done.insert({event->type, key}).second) ReadObject(providers, event->type, key.id);
    }
}

void ObjectPicture::ReadIscsi(LoadedProvider* provider, const GUID& subsystem) {
    const uint64_t began = Begin();
    PictureView read;
    IUnknown* raw = nullptr;
    if (!provider->priv || FAILED(provider->priv->GetObject(subsystem, VDS_OT_SUB_SYSTEM, &raw)) || !raw) return;
    Com<IUnknown> object(raw);
    if (auto s = As<IVdsSubSystem>(raw)) ReadIscsiObjects(s.get(), subsystem, read);
    Own(read, provider->registration.providerId);
    Scope scope{{{provider->registration.providerId, subsystem}}, true};
    std::lock_guard lock(m_mutex);
    m_contents->Each(read, [&](auto& table, auto& entries, bool iscsi) {
        if (iscsi) Merge(table, entries, began, &scope, iscsi);
    });
}

PictureView ObjectPicture::View() const {
    PictureView view;
    std::lock_guard lock(m_mutex);
    const Contents& c = *m_contents;
    Copy(c.subsystems, view.subsystems);
    Copy(c.controllers, view.controllers);
    Copy(c.ports, view.ports);
    Copy(c.drives, view.drives);
    Copy(c.luns, view.luns);
    Copy(c.targets, view.targets);
    Copy(c.portalGroups, view.portalGroups);
    Copy(c.portals, view.portals);
    return view;
}

}  // namespace vdscmd
