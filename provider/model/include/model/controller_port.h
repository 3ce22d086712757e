#pragma once
// ZarvoControllerPort: one local HBA port logged in to a target adapter of
// the appliance, with the path (at most one) from that HBA port.
#include <string>
#include <vector>

#include <filer/records.h>
#include <model/path.h>
#include <model/san_helper.h>

#include <platform/guid.h>
#include <platform/vds.h>

class FilerObjectContainer;

class ZarvoControllerPort : public SanHelper {
public:
    // name: the port's friendly name (the adapter's node name and the HBA-port index).
    ZarvoControllerPort(FilerObjectContainer* container, const GUID& id, const fapi_fcp_adapter_info_t* adapter,
                        const std::string& name);
    ~ZarvoControllerPort() override;
    ZarvoControllerPort(const ZarvoControllerPort&) = delete;
    ZarvoControllerPort& operator=(const ZarvoControllerPort&) = delete;

    HRESULT IsEqual(SanHelper* other) override;
    NotificationType GetArriveType() override;
    NotificationType GetDepartType() override;
    NotificationType GetModifyType() override;

    void SetDefaults(const fapi_fcp_adapter_info_t* adapter, const std::string& name);
    // The record with the port's own string pointers: valid while the San
    // lock is held and the port lives.
    HRESULT GetProperties(VDS_PORT_PROP& properties);
    // Keeps 0, 1, 2, 4 or 5; always VDS_E_NOT_SUPPORTED.
    HRESULT SetStatus(LONG status);

    // Builds the path of the HBA port when it is logged in to the adapter.
    HRESULT CreatePath(const VDS_HBAPORT_PROP& hbaPort, const fapi_fcp_adapter_info_t& adapter, ULONG index);
    HRESULT GetPathInfo(ULONG pathNumber, VDS_PATH_INFO& pathInfo);
    HRESULT GetPathPolicy(ULONG pathNumber, VDS_PATH_POLICY& pathPolicy);
    HRESULT SetPathPolicy(const VDS_PATH_POLICY& pathPolicy);
    // Every path of this HBA port (node and port WWN) takes the status; the
    // first failure is kept and the other paths still get theirs.
    HRESULT SetPathStatus(const VDS_HBAPORT_PROP& hbaPort, VDS_PATH_STATUS status);

    const std::vector<ZarvoPath>& Paths() const { return m_paths; }

private:
    HRESULT AddPathOnAdapterFiler(const VDS_HBAPORT_PROP& hbaPort, const fapi_fcp_adapter_info_t& adapter,
                                  ULONG index);

    VDS_PORT_PROP m_properties{};  // strings are CoTaskMem, owned
    std::vector<ZarvoPath> m_paths;
    FilerObjectContainer* m_pContainer;
};
