#pragma once
// An initiator group of the appliance to which a LUN is mapped.
#include <filer/records.h>
#include <platform/guid.h>
#include <platform/types.h>

#include <string>

class FilerObjectContainer;
class ZarvoLun;

class ZarvoIgroup {
public:
    // Without a record the group is called "ZarvoIgroup", protocol "FCP".
    ZarvoIgroup(FilerObjectContainer* container, ZarvoLun* lun, const GUID& id, const fapi_igroup_info_t* record);
    ~ZarvoIgroup();
    ZarvoIgroup(const ZarvoIgroup&) = delete;
    ZarvoIgroup& operator=(const ZarvoIgroup&) = delete;

    // Type 0 Fibre Channel, 1 iSCSI; the group's OS type is "windows".
    HRESULT Create(const std::u16string& name, int32_t type);
    HRESULT AddInitiator(const std::u16string& group, const std::u16string& initiator);

    const GUID& GetId() const { return m_id; }
    const std::u16string& GetName() const { return m_name; }
    // "FCP", "iSCSI" or "Unknown".
    const std::u16string& GetProtocol() const { return m_protocol; }

private:
    FilerObjectContainer* m_pFOContainer;
    ZarvoLun* m_pLun;
    GUID m_id;
    std::u16string m_name;
    std::u16string m_protocol;
};
