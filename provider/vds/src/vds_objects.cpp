#include <vds/vds_objects.h>

#include <new>

#include <vds/zarvo_controller.h>
#include <vds/zarvo_drive.h>
#include <vds/zarvo_iscsi.h>
#include <vds/zarvo_lun.h>
#include <vds/zarvo_subsystem.h>

namespace {

template <typename T>
NewVdsObject Create() {
    T* object = new (std::nothrow) T();
    if (!object) return {};
    return {object->GetUnknown(), object};
}

// Indexed by type - 30.
constexpr VdsObjectClass kClasses[] = {
    {"Subsystem", &Create<CZarvoSubSystem>},
    {"Controller", &Create<CZarvoController>},
    {"Drive", &Create<CZarvoDrive>},
    {"Lun", &Create<CZarvoLun>},
    {"Lun Plex", &Create<CZarvoLunPlex>},
    {"Port", &Create<CZarvoControllerPort>},
    {"Portal", &Create<CZarvoIscsiPortal>},
    {"Target", &Create<CZarvoIscsiTarget>},
    {"Portal Group", &Create<CZarvoIscsiPortalGroup>},
};

}  // namespace

const VdsObjectClass* FindVdsObjectClass(VDS_OBJECT_TYPE type) {
    if (type < VDS_OT_SUB_SYSTEM || type > VDS_OT_PORTAL_GROUP) return nullptr;
    return &kClasses[type - VDS_OT_SUB_SYSTEM];
}
