#pragma once
// A LUN of an iSCSI subsystem: masking by one initiator group per initiator
// node name, and the association with the subsystem's target.
#include <model/lun.h>

class ZarvoLunIscsi : public ZarvoLun {
public:
    ZarvoLunIscsi(FilerObjectContainer* container, const GUID& targetId, const GUID& id, LONG type, ULONGLONG size,
                  const std::u16string& unmaskingList);

    HRESULT DoWork(int32_t type, int32_t value, Async* async) override;
    HRESULT SetDefaults(const fapi_lun_info_t* record) override;
    HRESULT LunDelete() override;
    HRESULT LunAttach() override;
    HRESULT LunDetach() override;

protected:
    const char* ClassName() const override { return "ZarvoLunIscsi"; }
    bool RescansHost() const override { return false; }

private:
    GUID m_targetId;
};
