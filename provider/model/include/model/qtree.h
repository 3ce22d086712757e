#pragma once
// A qtree of the appliance that holds a LUN. A LUN that sits directly in its
// volume gets a qtree object named after the volume.
#include <filer/records.h>
#include <platform/guid.h>
#include <platform/types.h>

#include <string>

class FilerObjectContainer;
class ZarvoLun;

class ZarvoQtree {
public:
    // Without a record the qtree is called "ZarvoQtree".
    ZarvoQtree(FilerObjectContainer* container, ZarvoLun* lun, const GUID& id, const fapi_qtree_info_t* record);
    ~ZarvoQtree();
    ZarvoQtree(const ZarvoQtree&) = delete;
    ZarvoQtree& operator=(const ZarvoQtree&) = delete;

    HRESULT Create(const std::u16string& volume);

    const GUID& GetId() const { return m_id; }
    const std::u16string& GetName() const { return m_name; }
    void SetName(const std::u16string& name) { m_name = name; }

private:
    FilerObjectContainer* m_pFOContainer;
    ZarvoLun* m_pLun;
    GUID m_id;
    std::u16string m_name;
};
