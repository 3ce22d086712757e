#pragma once
// The steps LUN masking takes per initiator, shared by both protocols.
#include <model/lun.h>

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
};

// One initiator: drop a stale group of its name, find or build the model
// object, create the group and add the initiator as needed, map the LUN.
// `strict` (Fibre Channel) lets a failed stale-group removal or registration
// end the entry with its failure; otherwise only an allocation failure counts.
EntryOutcome MapToInitiator(ZarvoLun& lun, FilerObjectContainer& container, IgroupCatalog& catalog,
                            const std::u16string& initiator, int32_t type, bool strict, const char* className);

// Unmaps the LUN from every group it is mapped to. Fibre Channel stops at the
// first failure and answers it; iSCSI tries them all and answers 0.
HRESULT UnmapAll(FilerObjectContainer& container, const std::u16string& path, bool strict);

}  // namespace lun_masking
