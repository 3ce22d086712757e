#pragma once
// ZarvoIscsiPortalGroup: one target portal group of the appliance, the network
// interfaces in it and the portals on them. A portal joins a group by adding
// its interface to the group on the appliance; the queued work of a move only
// completes the caller's async.
#include <set>
#include <string>
#include <vector>

#include <model/san_helper.h>
#include <model/zarvo_work.h>
#include <platform/guid.h>
#include <platform/types.h>

class FilerObjectContainer;
class ZarvoIscsiTarget;

class ZarvoIscsiPortalGroup : public ZarvoWork, public SanHelper {
public:
    ZarvoIscsiPortalGroup(FilerObjectContainer* container, ZarvoIscsiTarget* target, const GUID& id,
                          const std::u16string& name, int32_t tag, const std::vector<std::u16string>& interfaces);
    ~ZarvoIscsiPortalGroup() override = default;
    ZarvoIscsiPortalGroup(const ZarvoIscsiPortalGroup&) = delete;
    ZarvoIscsiPortalGroup& operator=(const ZarvoIscsiPortalGroup&) = delete;

    // ZarvoWork: types 6 and 8 complete a portal move made before they were queued.
    HRESULT DoWork(int32_t type, int32_t value, Async* async) override;
    // SanHelper: equal when id and tag are (interfaces and portals do not count).
    HRESULT IsEqual(SanHelper* other) override;
    NotificationType GetArriveType() override;
    NotificationType GetDepartType() override;
    NotificationType GetModifyType() override;

    // Adds the portal's interface to the group on the appliance and records the
    // group in the portal.
    HRESULT AddPortal(const GUID& portalId);
    // Removes the portal's interface from the group; "_default" interfaces stay.
    HRESULT RemovePortal(const GUID& portalId);
    HRESULT AddInterface(const std::u16string& interfaceName);
    HRESULT RemoveInterface(const std::u16string& interfaceName);
    // Records the portal when its interface is one of the group's.
    void AddPortalId(const GUID& portalId, const std::u16string& interfaceName);
    void RemovePortalId(const GUID& portalId);
    // The appliance moved the portal's interface into another group: it is
    // no longer this group's (nothing is sent).
    void PortalLeft(const GUID& portalId, const std::u16string& interfaceName);
    // The portal ids in id order.
    void QueryPortals(std::vector<GUID>& portalIds) const;

    const GUID& GetId() const { return m_id; }
    int32_t GetTag() const { return m_tag; }

    FilerObjectContainer* m_pContainer;
    ZarvoIscsiTarget* m_pTarget;
    GUID m_id;
    std::u16string m_strName;
    std::vector<std::u16string> m_interfaces;
    std::set<GUID, GuidLess> m_portalIds;
    int32_t m_tag;
};
