#pragma once
// ZarvoLun: one LUN of the appliance as the disk-management service sees it,
// with its properties, its SCSI identification, the appliance objects it lives
// in, its plexes, its load-balance policy and its place in the LUN state
// machine. ZarvoLunFCP and ZarvoLunIscsi add what differs per protocol.
// Every operation runs under the owning San's lock; the LUN has no lock.
#include <filer/records.h>
#include <model/properties.h>
#include <model/san_helper.h>
#include <model/zarvo_work.h>
#include <platform/guid.h>
#include <platform/types.h>
#include <platform/vds.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

class FilerObjectContainer;
class NotificationSet;
class ZarvoAggregate;
class ZarvoIgroup;
class ZarvoPlex;
class ZarvoQtree;
class ZarvoVolume;

// The states of the LUN state machine.
enum ZarvoLunState : int32_t {
    LUN_STATE_NEW = 1,
    LUN_STATE_DETACHED = 2,
    LUN_STATE_ATTACH_QUEUED = 3,
    LUN_STATE_ATTACHED = 4,
    LUN_STATE_DETACH_QUEUED = 5,
    LUN_STATE_DELETE_ATTACHED_QUEUED = 6,
    LUN_STATE_DELETED = 7,
};

// The initiator names of an unmasking list: its first 255 characters split at
// ";", empty names skipped. A name cut by the 255-character window is dropped.
std::vector<std::u16string> SplitUnmaskingList(const std::u16string& list);
// The unmasking list of a LUN mapped to these groups: their initiators in order.
std::u16string MaskOfGroups(const std::vector<fapi_igroup_info_t>& groups);

// The provider's own path "/vol/ZarvoVolume<N>/ZarvoQtree<N>/<name>" with one N.
bool IsOwnLunPath(const std::u16string& path);

class ZarvoLun : public ZarvoWork, public SanHelper {
public:
    template <typename T>
    using IdMap = std::map<GUID, T*, GuidLess>;

    // A type of 0 (a LUN read from the appliance) leaves type, size and list empty.
    ZarvoLun(FilerObjectContainer* container, const GUID& id, LONG type, ULONGLONG size,
             const std::u16string& unmaskingList);
    ~ZarvoLun() override;
    ZarvoLun(const ZarvoLun&) = delete;
    ZarvoLun& operator=(const ZarvoLun&) = delete;

    // Work face: deletes the LUN on the appliance and destroys this object.
    virtual HRESULT LunDelete();
    virtual HRESULT SetDefaults(const fapi_lun_info_t* record);

    // SanHelper.
    HRESULT IsEqual(SanHelper* other) override;
    NotificationType GetArriveType() override { return 9; }
    NotificationType GetDepartType() override { return 10; }
    NotificationType GetModifyType() override { return 11; }

    // Identity and read side.
    GUID GetId() const { return m_properties.m_prop.id; }
    void GetId(GUID& id) const { id = m_properties.m_prop.id; }
    HRESULT GetProperties(LunProperties& properties);
    HRESULT GetIdentification(VDS_LUN_INFORMATION& information);
    HRESULT GetLoadBalancePolicy(VDS_LOADBALANCE_POLICY_ENUM& policy);
    HRESULT SetLoadBalancePolicy(VDS_LOADBALANCE_POLICY_ENUM policy);
    bool QueryIfMatches(const std::u16string& devicePath, const VDS_LUN_INFORMATION& information, GUID& id);
    HRESULT GetDiskSignature(GUID& signature);
    HRESULT QueryMaxLunExtendSize(LONG, LONG, ULONGLONG& maxBytes);
    HRESULT GetVolume(fapi_volume_info_t& volume) const;
    HRESULT GetLun(fapi_lun_info_t& lun) const;
    HRESULT GetAggregate(fapi_aggr_info_t& aggregate) const;
    // The aggregate the LUN lies in; an empty record until one is known.
    const fapi_aggr_info_t& AggregateRecord() const;
    HRESULT GetAggregate(const std::u16string& name, std::vector<fapi_aggr_info_t>& aggregates,
                         std::shared_ptr<const fapi_aggr_info_t>& aggregate);
    HRESULT GetVolume(const std::u16string& path, std::vector<fapi_volume_info_t>& volumes);
    HRESULT GetIgroups(const std::u16string& path, std::vector<fapi_igroup_info_t>& groups);
    HRESULT GetQtree(const std::u16string& volume, std::vector<fapi_qtree_info_t>& qtrees,
                     fapi_qtree_info_t& qtree);
    static HRESULT GetLunName(const std::u16string& path, std::u16string& name);
    static std::u16string GetLUNNameFromPath(const std::u16string& path);
    HRESULT SetOwner(const std::u16string& path);

    // Front calls: check the state, move it, queue the work.
    HRESULT Create(const std::u16string& unmaskingList, Async* async);
    HRESULT Delete(Async* async);
    HRESULT SetUnmask(const std::u16string& unmaskingList, Async* async);
    HRESULT SetSize(ULONGLONG newSize, Async* async);
    bool isBusy();
    // S_OK, or E_INVALIDARG with error information naming the first entry
    // of the unmasking list that this kind of LUN cannot be mapped to.
    virtual HRESULT CheckUnmaskingList(const std::u16string&) const { return S_OK; }

    // Creation on the appliance (the object is destroyed when it fails) and
    // the reading of an appliance LUN.
    HRESULT Initialize(LONG type, ULONGLONG size, NotificationSet* notifications);
    HRESULT LoadConfig(const fapi_lun_info_t& record);
    // A LUN the appliance still lists but whose details this reading could
    // not read: rebuilt from what the previous reading read of it, with the
    // same objects and state, and no request.
    HRESULT KeepFrom(const ZarvoLun& previous);

    // The maps of the objects the LUN is made of.
    HRESULT AddPlexObject(const GUID& id, ZarvoPlex* plex);
    HRESULT AddAggrObject(const GUID& id, ZarvoAggregate* aggregate);
    HRESULT AddVolObject(const GUID& id, ZarvoVolume* volume);
    HRESULT AddQtreeObject(const GUID& id, ZarvoQtree* qtree);
    HRESULT AddIgroupObject(const GUID& id, ZarvoIgroup* igroup);
    HRESULT RemovePlexObject(const GUID& id);
    HRESULT QueryPlexes(std::vector<GUID>& plexIds);
    size_t PlexCount() const { return m_plexMap.size(); }

    HRESULT AddPlex(ZarvoLun* donor);
    HRESULT RemovePlex(const GUID& plexId);
    HRESULT Resize(ULONGLONG newSize);
    HRESULT SetName(const std::u16string& name);

    // Rescans the host's SCSI adapters, sleeping between passes (at most
    // `passes`) until the number of units on the Fibre Channel adapters
    // differs from the number before the first rescan. One pass only rescans.
    // Always 0.
    HRESULT ScsiBusRescan2(int32_t passes);
    // The rescan after a change of what the LUN is mapped to (`before` and
    // `after`): it waits for the host only when this host's ports are among
    // the initiators that gained or lost the LUN; otherwise one pass.
    void RescanHost(const std::vector<fapi_igroup_info_t>& before, const std::vector<fapi_igroup_info_t>& after,
                    int32_t passes);

    // What the container sets and reads.
    LONG GetLunNumber() const { return m_lunNumber; }
    void SetLunNumber(LONG number) { m_lunNumber = number; }
    // The name and path texts of a LUN being created.
    void SetNameAndPath(const std::u16string& path) { m_name = path; m_path = path; }
    const std::u16string& GetPath() const { return m_path; }
    // The identification: the LUN's path on the appliance as last confirmed.
    const std::u16string& GetIdentificationText() const { return m_properties.m_strIdentification; }
    int32_t GetState() const { return m_state; }
    LONG IsOwner() const { return m_owner; }
    void SetStatus(VDS_LUN_STATUS status) { m_properties.m_prop.status = status; }
    const std::string& GetSerialNumber() const { return m_serialNumber; }
    const IdMap<ZarvoPlex>& Plexes() const { return m_plexMap; }

    // Masking on the appliance, per protocol; run by the queued work. The
    // attach makes the LUN's maps exactly the requested list, the detach
    // removes them all. Either leaves the LUN holding the groups the
    // appliance answered it is mapped to (`HoldGroups`).
    virtual HRESULT LunAttach() = 0;
    virtual HRESULT LunDetach() = 0;
    // The groups the LUN is mapped to on the appliance, as last known.
    const std::vector<fapi_igroup_info_t>& HeldGroups() const { return m_igroupRecords; }
    // The list a queued masking work applies.
    const std::u16string& RequestedMask() const { return m_requestedMask; }

protected:
    // The class-qualified name in traces ("ZarvoLunFCP", "ZarvoLunIscsi").
    virtual const char* ClassName() const = 0;
    virtual bool RescansHost() const = 0;
    // An initiator name as the appliance holds it, whatever form VDS gave.
    virtual std::u16string ListedInitiator(std::u16string_view name) const { return std::u16string(name); }

    // The work both protocol forms run; given an async it completes it.
    HRESULT RunWork(int32_t type, int32_t value, Async* async);
    HRESULT QueueLunWork(int32_t type, Async* async);
    // The LUN is mapped to these groups now: its unmasking list lists their
    // initiators, and it is attached when there is one.
    void HoldGroups(std::vector<fapi_igroup_info_t> groups);
    // A detach of either protocol: with an empty requested list, unmaps the
    // LUN from its groups (Fibre Channel `strict`, see lun_masking::UnmapAll)
    // and holds the groups still mapped.
    HRESULT DetachRequested(bool strict);

    int32_t m_state = LUN_STATE_NEW;
    FilerObjectContainer* m_pFOContainer;
    LunProperties m_properties;
    LONG m_owner = 0;
    LONG m_lunNumber = 0;
    IdMap<ZarvoPlex> m_plexMap;
    LONG m_loadBalancePolicy = 1;
    IdMap<ZarvoAggregate> m_aggregateMap;
    IdMap<ZarvoVolume> m_volumeMap;
    IdMap<ZarvoQtree> m_qtreeMap;
    IdMap<ZarvoIgroup> m_igroupMap;
    // Shared with the other LUNs of the aggregate and never changed: a new
    // record replaces it.
    std::shared_ptr<const fapi_aggr_info_t> m_aggregateRecord;
    fapi_volume_info_t m_volumeRecord;
    fapi_qtree_info_t m_qtreeRecord;
    fapi_lun_info_t m_lunRecord;
    std::vector<fapi_igroup_info_t> m_igroupRecords;
    std::u16string m_name;
    std::u16string m_path;
    std::string m_serialNumber;
    ULONGLONG m_requestedSize = 0;
    std::u16string m_requestedMask;
    // A creation or resize is queued: the LUN is busy until it has run.
    bool m_changeQueued = false;

private:
    // The unmasking list in the one spelling the LUN shows and compares: its
    // names as the appliance holds them, ";" between two, no empty entry.
    std::u16string ListedUnmaskingList() const;
    HRESULT LoadConfigSteps(const fapi_lun_info_t& record);
    HRESULT LoadMapping();
    HRESULT KeepSteps(const ZarvoLun& previous);
    void ReleaseLoadedExtents();
    HRESULT InitializeSteps(LONG type, ULONGLONG size, NotificationSet* notifications, struct CreationUndo& undo);
    void UndoCreation(const struct CreationUndo& undo);
    // True when another LUN of the model lies in the named volume.
    bool VolumeIsShared(const std::u16string& volume) const;
};
