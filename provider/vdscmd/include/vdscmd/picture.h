#pragma once
// The disk-management side's own picture of the providers' objects: the
// properties it last read of each subsystem, controller, port, drive, LUN
// (with its plexes), target, portal group and portal. A full reading fills
// it (load, refresh, reenumerate); notifications keep it current (a
// departure at once, an arrival or a modify by a re-read of that object on
// the picture's own thread); a change re-reads what it changed. Listings copy
// it without calling a provider, so they never wait on a subsystem that a
// LUN's work holds.
//
// Every write carries the moment its reading began: a reading that began
// before the object's last write (a departure, or a later reading) is
// dropped, so a slow reading never brings back an old or departed object.
#include <condition_variable>
#include <deque>
#include <set>
#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <platform/vds.h>
#include <vdscmd/vds_host.h>

namespace vdscmd {

struct GuidLess {
    bool operator()(const GUID& a, const GUID& b) const { return std::memcmp(&a, &b, sizeof a) < 0; }
};

// Objects are told apart by provider and id: two providers may serve one
// appliance, whose objects then have the same ids in both.
struct PictureKey {
    GUID provider{};
    GUID id{};
    bool operator<(const PictureKey& other) const { return std::memcmp(this, &other, sizeof other) < 0; }
};

struct PictureSubsystem {
    GUID provider{};  // the provider's registration id
    GUID id{};
    std::string name, identification;
    LONG status = 0, health = 0;
    ULONG flags = 0;
    SHORT controllers = 0;
};

struct PictureController {
    GUID provider{};
    GUID id{}, subsystem{};
    std::string name, identification;
    LONG status = 0;
    SHORT ports = 0;
};

struct PicturePort {
    GUID provider{};
    GUID id{}, subsystem{}, controller{};
    std::string name, identification, controllerName;
    LONG status = 0;
};

struct PictureExtent {
    GUID lun{};
    ULONGLONG size = 0;
    bool used = false;
};

struct PictureDrive {
    GUID provider{};
    GUID id{}, subsystem{};
    std::string name, identification;
    ULONGLONG size = 0;
    LONG status = 0, health = 0;
    SHORT bus = 0, slot = 0;
    std::vector<PictureExtent> extents;
};

struct PicturePlex {
    GUID id{};
    ULONGLONG size = 0;
    LONG type = 0, status = 0;
};

struct PictureLun {
    GUID provider{};
    GUID id{}, subsystem{};
    std::string name, identification, mask, serial;
    ULONGLONG size = 0;
    LONG type = 0, status = 0;
    std::vector<PicturePlex> plexes;
};

// A LUN's own properties as the picture holds them; the strings of `prop`
// are taken (freed and cleared).
PictureLun TakeLun(VDS_LUN_PROP& prop, const GUID& subsystem);

struct PictureTarget {
    GUID provider{};
    GUID id{}, subsystem{};
    std::string iscsiName, alias;
    bool chap = false;
};

struct PicturePortalGroup {
    GUID provider{};
    GUID id{}, subsystem{}, target{};
    USHORT tag = 0;
    std::vector<std::string> portals;  // addresses
};

struct PicturePortal {
    GUID provider{};
    GUID id{}, subsystem{};
    std::string address;
    ULONG port = 0;
    LONG status = 0;
};

// A copy of the picture at one moment; every object in it is whole.
struct PictureView {
    std::vector<PictureSubsystem> subsystems;
    std::vector<PictureController> controllers;
    std::vector<PicturePort> ports;
    std::vector<PictureDrive> drives;
    std::vector<PictureLun> luns;
    std::vector<PictureTarget> targets;
    std::vector<PicturePortalGroup> portalGroups;
    std::vector<PicturePortal> portals;

    const PictureSubsystem* Subsystem(const GUID& provider, const GUID& id) const;
};

class ObjectPicture {
public:
    // `providers` gives the providers held now (for the re-reads of the
    // picture's thread).
    explicit ObjectPicture(std::function<ProviderList()> providers);
    ~ObjectPicture();
    ObjectPicture(const ObjectPicture&) = delete;
    ObjectPicture& operator=(const ObjectPicture&) = delete;

    // From a provider's advise sink, with the providers' locks held: calls no provider.
    void Notify(const GUID& provider, const VDS_NOTIFICATION* notifications, LONG count);

    // Reads every object of these providers (waiting for their subsystems)
    // and makes it their part of the picture.
    void Read(const std::vector<LoadedProvider*>& providers);
    // Drops the objects of every provider not among these.
    void Keep(const std::vector<GUID>& providerIds);
    // Re-reads one object now in each of the providers; where a provider
    // has it no more, it leaves that provider's part of the picture.
    void ReadObject(const std::vector<LoadedProvider*>& providers, VDS_OBJECT_TYPE type, const GUID& id);
    // Re-reads now what these notifications announced as arrived or changed.
    void ReadNotified(const std::vector<LoadedProvider*>& providers, const std::vector<VDS_NOTIFICATION>& seen);
    // Re-reads a subsystem's iSCSI objects (targets, portal groups, portals).
    void ReadIscsi(LoadedProvider* provider, const GUID& subsystem);

    PictureView View() const;
    // Waits until the re-reads queued before the call are done (tests).
    void Settle();

private:
    struct Contents;
    struct Pending {
        VDS_OBJECT_TYPE type;
        PictureKey key;
        uint64_t queued;
    };

    uint64_t Begin();
    void Put(PictureView&& read, uint64_t began);
    void Erase(VDS_OBJECT_TYPE type, const PictureKey& key, uint64_t at);
    void ReadIn(LoadedProvider& provider, VDS_OBJECT_TYPE type, const GUID& id);
    void Updater();

    std::function<ProviderList()> m_providers;
    mutable std::mutex m_mutex;  // a leaf: nothing is called on a provider while it is held
    std::unique_ptr<Contents> m_contents;
    uint64_t m_clock = 0;
    std::deque<Pending> m_pending;
    std::set<PictureKey> m_queued;  // the keys in m_pending
    uint64_t m_running = 0;             // the queue stamp of the re-read under way, 0 when none
    std::condition_variable m_changed;
    bool m_stopping = false;
    std::thread m_thread;
};

}  // namespace vdscmd
