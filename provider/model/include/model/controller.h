#pragma once
// ZarvoController: one usable Fibre Channel target adapter of the appliance,
// shown to the disk-management service as a controller. It finds its own
// ports: every local HBA port logged in to the adapter becomes a controller
// port with its path.
#include <string>

#include <filer/records.h>
#include <model/san_helper.h>

#include <platform/guid.h>
#include <platform/vds.h>

class FilerObjectContainer;

// The status of a controller or port from its adapter record: a partner
// adapter is online whatever its state says; the state text compares exactly.
VDS_CONTROLLER_STATUS AdapterStatus(const fapi_fcp_adapter_info_t& adapter);

// The object-id key of the controller of an adapter. A partner adapter may
// carry a local adapter's name; it gets a key, and so a controller, of its own.
std::string ControllerKey(const fapi_fcp_adapter_info_t& adapter);

class ZarvoController : public SanHelper {
public:
    // Registers itself with the container, then builds its ports (adapter may be null).
    ZarvoController(FilerObjectContainer* container, const GUID& id, SHORT numberOfPorts,
                    const fapi_fcp_adapter_info_t* adapter);
    ~ZarvoController() override;
    ZarvoController(const ZarvoController&) = delete;
    ZarvoController& operator=(const ZarvoController&) = delete;

    HRESULT IsEqual(SanHelper* other) override;
    NotificationType GetArriveType() override;
    NotificationType GetDepartType() override;
    NotificationType GetModifyType() override;

    HRESULT SetDefaults(const fapi_fcp_adapter_info_t* adapter);
    // The record with the controller's own string pointers: valid while the
    // San lock is held and the controller lives.
    HRESULT GetProperties(VDS_CONTROLLER_PROP& properties);
    HRESULT Reset();
    // The container's status setters write the cached status.
    void SetStatus(VDS_CONTROLLER_STATUS status) { m_properties.status = status; }

private:
    void CreatePorts(const fapi_fcp_adapter_info_t& adapter);

    VDS_CONTROLLER_PROP m_properties{};  // strings are CoTaskMem, owned
    FilerObjectContainer* m_pContainer;
};
