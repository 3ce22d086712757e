#pragma once
// ZarvoIscsiTarget: the one iSCSI target node an appliance presents. Discovery
// builds it; its initialisation reads the node name, alias, portal groups,
// connected initiators, network interfaces and portals, and registers the
// target with the host's initiator. It runs the queued creation of a portal
// group. No lock of its own: every call arrives under the San lock.
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <filer/records.h>
#include <model/san_helper.h>
#include <model/zarvo_work.h>
#include <platform/guid.h>
#include <platform/types.h>
#include <platform/vds.h>

class FilerObjectContainer;
class ZarvoIscsiTarget;

// The target's property record as the model hands it on.
class IscsiTargetProperties {
public:
    VDS_OBJECT_ID m_id{};
    WCHAR* m_pwszIscsiName = nullptr;     // left null: the strings below carry the texts
    WCHAR* m_pwszFriendlyName = nullptr;  // left null
    BOOL m_bChapEnabled = FALSE;
    std::u16string m_strIscsiName;
    std::u16string m_strFriendlyName;
};

struct NetInterfaceEntry {
    ZarvoIscsiTarget* m_pTarget = nullptr;
    std::u16string m_strName;
    bool m_bEnabled = false;
    int32_t m_tag = 0;
};

struct InitiatorSession {
    std::u16string m_strNodeName;
    std::u16string m_strAlias;
    std::u16string m_strIsid;
    int32_t m_targetSessionId = 0;
    int32_t m_tag = 0;
    ZarvoIscsiTarget* m_pTarget = nullptr;
};

// A CHAP secret kept per initiator (bytes and length, as the published record holds them).
struct StoredSharedSecret {
    std::vector<BYTE> m_bytes;
};

class ZarvoIscsiTarget : public ZarvoWork, public SanHelper {
public:
    // The name of the portal group that the target's work creates.
    static constexpr const WCHAR* kVdsPortalGroupName = u"VDSTPG";

    ZarvoIscsiTarget(FilerObjectContainer* container, const std::u16string& filerName, const GUID& id);
    ~ZarvoIscsiTarget() override;
    ZarvoIscsiTarget(const ZarvoIscsiTarget&) = delete;
    ZarvoIscsiTarget& operator=(const ZarvoIscsiTarget&) = delete;

    HRESULT Initialize();

    // ZarvoWork: type 4 creates (or finds) the portal group "VDSTPG".
    HRESULT DoWork(int32_t type, int32_t value, Async* async) override;
    // SanHelper: equal when id, alias, node name and CHAP flag are.
    HRESULT IsEqual(SanHelper* other) override;
    NotificationType GetArriveType() override;
    NotificationType GetDepartType() override;
    NotificationType GetModifyType() override;

    const GUID& GetId() const { return m_id; }
    HRESULT GetProperties(VDS_ISCSI_TARGET_PROP& properties);
    HRESULT GetPropertiesRecord(IscsiTargetProperties& properties);
    HRESULT GetTargetName(std::u16string& nodeName);
    HRESULT GetAliasName(std::u16string& alias);
    // A non-empty alias is set on the appliance, an empty or null one cleared.
    HRESULT SetAliasName(const WCHAR* alias);
    // CHAP for an initiator (null: the host's own); an empty secret removes it.
    HRESULT SetSharedSecret(const WCHAR* initiatorName, const VDS_ISCSI_SHARED_SECRET* secret);
    HRESULT SetInitiatorSharedSecret(const WCHAR* initiatorName, const VDS_ISCSI_SHARED_SECRET* secret);
    // Waits 2 s, re-reads the sessions and lists the host's connected initiators.
    HRESULT QueryCurrentInitiators(std::vector<std::u16string>& initiators);
    // The portal-group ids in portal-group-name order.
    void QueryPortalGroups(std::vector<GUID>& portalGroupIds) const;

    // Steps of the initialisation, and of the portal groups and portals it builds.
    HRESULT RegisterStaticTarget();
    HRESULT GetTPGroups(std::vector<fapi_iscsi_tpgroup_info_t>& groups);
    HRESULT GetInitiators(std::vector<fapi_iscsi_initiator_info_t>& initiators);
    HRESULT GetNetInterfaces(std::vector<fapi_iscsi_interface_info_t>& interfaces);
    HRESULT GetPortals(std::vector<fapi_iscsi_portal_info_t>& portals);
    HRESULT RefreshTargetPortalGroups();
    HRESULT RefreshInitiators();
    HRESULT ClearInitiators();
    HRESULT AddConnectedInitiator(const fapi_iscsi_initiator_info_t& session);
    HRESULT RefreshNetInterfaces();
    HRESULT ClearNetInterfaces();
    HRESULT RefreshPortals();
    HRESULT CreateNewFilerTPG(const std::u16string& name, uint32_t& tag);
    HRESULT CreateTargetPortalGroup(const std::u16string& name, int32_t tag, const std::vector<std::u16string>& interfaces,
                                    GUID& portalGroupId);
    HRESULT CreatePortal(int32_t tag, const GUID& portalGroupId, const std::u16string& address, uint32_t port,
                         const std::u16string& portalName, const std::u16string& interfaceName, int32_t status);

    FilerObjectContainer* m_pContainer;
    std::u16string m_strNodeName;
    std::u16string m_strAlias;
    std::u16string m_strComputerName;
    std::u16string m_strLocalInitiatorName;
    bool m_bChapEnabled = false;
    GUID m_id;
    std::map<std::u16string, GUID> m_portalGroupNames;
    std::vector<GUID> m_portalIds;
    std::map<std::u16string, std::unique_ptr<NetInterfaceEntry>> m_netInterfaces;
    std::map<std::u16string, std::unique_ptr<InitiatorSession>> m_connectedInitiators;
    std::map<std::u16string, std::vector<GUID>> m_interfacePortals;
    std::map<int32_t, GUID> m_portalGroupTags;
    std::map<std::u16string, StoredSharedSecret> m_initiatorSecrets;
    std::u16string m_strFirstPortalGroupName;
};
