#pragma once
// One plex of a LUN as the disk-management service sees it, laid out as
// extents on the data drives of the aggregate that holds the LUN. The LUN
// owns its plexes; the container lists them by id.
#include <filer/records.h>
#include <platform/guid.h>
#include <platform/types.h>
#include <platform/vds.h>

#include <string>

class FilerObjectContainer;
class NotificationSet;
class ZarvoLun;

class ZarvoPlex {
public:
    ZarvoPlex(FilerObjectContainer* container, ZarvoLun* lun, const GUID& id, const fapi_plex_info_t& record);
    ~ZarvoPlex();
    ZarvoPlex(const ZarvoPlex&) = delete;
    ZarvoPlex& operator=(const ZarvoPlex&) = delete;

    void SetDefaults(const fapi_plex_info_t& record);
    // Lays out extents for the LUN's size: S_OK or 0x8004240F.
    HRESULT Initialize(NotificationSet* notifications);
    // Records the extents of an existing plex: S_OK or 0x8004240F.
    HRESULT LoadConfig(const fapi_plex_info_t& record, const std::u16string& key);
    HRESULT Resize(ULONGLONG newSize, NotificationSet* notifications);
    // Moves the plex, with its extents, to another LUN.
    HRESULT Donate(ZarvoLun* target);
    // Frees the extents and destroys the plex; on failure the plex stays.
    HRESULT Delete();

    void GetProperties(VDS_LUN_PLEX_PROP& properties) const { properties = m_plexProp; }
    void GetLun(ZarvoLun*& lun) const { lun = m_pLun; }
    ZarvoLun* GetLun() const { return m_pLun; }
    const GUID& GetId() const { return m_plexProp.id; }
    const std::u16string& GetName() const { return m_plexKey; }
    const std::u16string& GetAggregatePlexName() const { return m_aggrPlexName; }

private:
    FilerObjectContainer* m_pSan;
    ZarvoLun* m_pLun;
    VDS_LUN_PLEX_PROP m_plexProp{};
    std::u16string m_aggrPlexName;
    std::u16string m_plexKey;
};
