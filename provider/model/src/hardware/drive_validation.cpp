// Drive validation: whether the drives a refresh would build differ from the
// drives the container holds, from one disk listing.
#include <model/filer_object_container.h>

#include <model/zarvo_san.h>

#include <hostlib/trace.h>

#include <set>

HRESULT FilerObjectContainer::ValidateDrives(bool& changed) {
    changed = false;
    HRESULT hr = S_OK;
    try {
        std::vector<fapi_disk_info_t> disks;
        hr = m_filerControl.FilerListDrives(u"", disks);
        if (SUCCEEDED(hr)) {
            std::set<GUID, GuidLess> current;
            for (const fapi_disk_info_t& disk : disks) {
                if (disk.raid_state == 0 || disk.raid_state == 1) continue;  // not made into drives
                GUID id{};
                m_pSan->CheckCreateGuid(IntToString(disk.id), id);
                current.insert(id);
            }
            for (auto drive = m_driveMap.begin(); drive != m_driveMap.end() && !changed; ++drive) {
                if (current.erase(drive->first) == 0) changed = true;
            }
            if (!current.empty()) changed = true;
        }
    } catch (const std::exception&) {
        trace_printf("FilerObjectContainer::ValidateDrives(): %s", "caught exception");
        return E_FAIL;
    }
    trace_printf("FilerObjectContainer::ValidateDrives(): returning %08lX", trace_code(hr));
    return hr;
}
