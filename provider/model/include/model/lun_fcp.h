#pragma once
// A LUN of a Fibre Channel subsystem: masking by one initiator group per host
// port WWN, association with every controller port, and the host rescan after
// each change.
#include <model/lun.h>

class GuidAssociator;

class ZarvoLunFCP : public ZarvoLun {
public:
    ZarvoLunFCP(FilerObjectContainer* container, GuidAssociator& lunPortAssoc, const GUID& id, LONG type,
                ULONGLONG size, const std::u16string& unmaskingList);

    HRESULT DoWork(int32_t type, int32_t value, Async* async) override;
    HRESULT SetDefaults(const fapi_lun_info_t* record) override;
    HRESULT LunAttach() override;
    HRESULT LunDetach() override;
    HRESULT CheckUnmaskingList(const std::u16string& list) const override;
    // A list this provider can map: "*" alone, or port names of 16
    // hexadecimal digits. E_INVALIDARG with error information naming the
    // first entry that is not.
    static HRESULT CheckPortNames(const std::u16string& list);

protected:
    const char* ClassName() const override { return "ZarvoLunFCP"; }
    bool RescansHost() const override { return true; }
    std::u16string ListedInitiator(std::u16string_view name) const override;

private:
    GuidAssociator& m_lunPortAssoc;
};
