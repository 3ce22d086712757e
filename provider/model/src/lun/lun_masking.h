#pragma once
// The steps LUN masking takes per initiator, shared by both protocols.
#include <model/lun.h>

#include <optional>
#include <string>
#include <vector>

class FilerObjectContainer;

namespace lun_masking {

// The appliance's initiator groups, read once per attach and kept up to date
// with what the attach changes.
struct IgroupCatalog {
    std::vector<fapi_igroup_info_t> groups;
    fapi_igroup_info_t* Find(const std::u16string& name);
};

struct EntryOutcome {
    HRESULT hr = S_OK;
    bool outOfMemory = false;
    // The group the LUN is now mapped to for the initiator, when it is.
    std::optional<fapi_igroup_info_t> mapped;
};

// One initiator: drop a stale group of its name, find or build the model
// object, create the group and add the initiator as needed, map the LUN.
// `strict` (Fibre Channel) lets a failed stale-group removal or registration
// end the entry with its failure; otherwise only an allocation failure counts.
EntryOutcome MapToInitiator(ZarvoLun& lun, FilerObjectContainer& container, IgroupCatalog& catalog,
                            const std::u16string& initiator, int32_t type, bool strict, const char* className);

// Makes the LUN mapped to exactly these initiators (type 0 Fibre Channel
// port names in their colon form, 1 iSCSI node names). `held`, the groups the
// LUN is mapped to, is kept where a group holds only listed initiators; every
// other listed initiator is mapped through its own group, and the groups left
// over are unmapped once every listed initiator is mapped (a failed change
// leaves the old maps). `held` then lists the groups the LUN is mapped to.
// The first step the appliance refused is the answer.
HRESULT ApplyMask(ZarvoLun& lun, FilerObjectContainer& container, const std::vector<std::u16string>& initiators,
                  int32_t type, bool strict, const char* className, std::vector<fapi_igroup_info_t>& held);

// Unmaps the LUN from every group it is mapped to and answers the first
// failure: Fibre Channel (`strict`) stops there, iSCSI tries every group and
// takes a listing that fails for an unmapped LUN. `held` becomes the groups
// still mapped (unchanged when the maps cannot be listed).
HRESULT UnmapAll(FilerObjectContainer& container, const std::u16string& path, bool strict,
                 std::vector<fapi_igroup_info_t>& held);

}  // namespace lun_masking
