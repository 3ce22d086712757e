#pragma once
// ZarvoIscsiPortal: one address of an appliance interface on which it accepts
// iSCSI logins, and the portal group it belongs to.
#include <string>

#include <model/san_helper.h>
#include <platform/guid.h>
#include <platform/types.h>
#include <platform/vds.h>

class FilerObjectContainer;

class ZarvoIscsiPortal : public SanHelper {
public:
    ZarvoIscsiPortal(FilerObjectContainer* container, const GUID& id, const std::u16string& name,
                     const std::u16string& address, uint32_t port, const GUID& portalGroupId, int32_t portalGroupTag,
                     const std::u16string& interfaceName, int32_t status);
    ~ZarvoIscsiPortal() override = default;
    ZarvoIscsiPortal(const ZarvoIscsiPortal&) = delete;
    ZarvoIscsiPortal& operator=(const ZarvoIscsiPortal&) = delete;

    // SanHelper: equal when id, status and address are.
    HRESULT IsEqual(SanHelper* other) override;
    NotificationType GetArriveType() override;
    NotificationType GetDepartType() override;
    NotificationType GetModifyType() override;

    HRESULT GetProperties(VDS_ISCSI_PORTAL_PROP& properties);
    // A text address; a text of 1 to 256 characters is kept, any other leaves it empty.
    void SetAddress(const std::u16string& text, uint32_t port);
    HRESULT GetAddress(VDS_IPADDRESS& address);
    bool IsSameAddress(const VDS_IPADDRESS& address) const;

    const GUID& GetId() const { return m_id; }

    FilerObjectContainer* m_pContainer;
    GUID m_id;
    std::u16string m_strName;
    VDS_IPADDRESS m_address{};
    uint32_t m_port = 0;
    GUID m_portalGroupId{};
    int32_t m_portalGroupTag = 0;
    std::u16string m_strInterfaceName;
    int32_t m_status = 0;
};
