#pragma once
// A volume of the appliance that holds a LUN. Registered under its id with
// the LUN that built it and with the container; the LUN owns it.
#include <platform/guid.h>
#include <platform/types.h>

#include <string>

class FilerObjectContainer;
class ZarvoLun;

class ZarvoVolume {
public:
    // Without a name the volume is called "ZarvoVolume".
    ZarvoVolume(FilerObjectContainer* container, ZarvoLun* lun, const GUID& id, const WCHAR* name);
    ~ZarvoVolume();
    ZarvoVolume(const ZarvoVolume&) = delete;
    ZarvoVolume& operator=(const ZarvoVolume&) = delete;

    // Creates the volume in the aggregate; size 0 is the default size. A failed
    // creation is retried once, after a quiet removal of a leftover volume of
    // this name that holds no LUN.
    HRESULT Create(const std::u16string& aggregate, ULONGLONG size);
    // Takes the named volume offline when it is online, then destroys it.
    HRESULT Delete(const std::u16string& name);

    const GUID& GetId() const { return m_id; }
    const std::u16string& GetName() const { return m_name; }
    void SetName(const std::u16string& name) { m_name = name; }

private:
    // True when the appliance lists no LUN inside the named volume.
    bool HoldsNoLun(const std::u16string& name);

    FilerObjectContainer* m_pSan;
    ZarvoLun* m_pLun;
    GUID m_id;
    std::u16string m_name;
};
