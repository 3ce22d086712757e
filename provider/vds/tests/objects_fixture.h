#pragma once
// The fixture of the VDS object classes' tests: one appliance of each
// protocol with an object of every type, and a table of calls with the
// result each must give.
#include <gtest/gtest.h>

#include <functional>

#include "vds_fixture.h"

#include <model/extent_record.h>
#include <platform/comalloc.h>

struct CallCase {
    const char* what;
    std::function<HRESULT()> call;
    HRESULT expected;
};

inline void RunCases(const std::vector<CallCase>& cases) {
    for (const CallCase& c : cases) EXPECT_EQ(c.expected, c.call()) << c.what;
}

// One appliance of each protocol with an object of every type.
class ObjectsTest : public VdsTest {
protected:
    void Open(VDS_HWPROVIDER_TYPE type) {
        list.records = {MakeRecord(u"appliance", type)};
        factory.prepare = [this](FakeSan& san) {
            for (auto [id, objectType] : {std::pair{lunId, VDS_OT_LUN}, {driveId, VDS_OT_DRIVE}, {plexId, VDS_OT_LUN_PLEX},
                                          {controllerId, VDS_OT_CONTROLLER}, {portId, VDS_OT_PORT},
                                          {targetId, VDS_OT_TARGET}, {portalId, VDS_OT_PORTAL}, {groupId, VDS_OT_PORTAL_GROUP}})
                san.objects[id] = objectType;
        };
        provider = MakeProvider(type);
        san = factory.live[u"appliance"];
        subsystem = Object<IVdsSubSystem>(*provider, IdOf("appliance"), VDS_OT_SUB_SYSTEM);
        lun = Object<IVdsLun>(*provider, lunId, VDS_OT_LUN);
    }
    const GUID lunId = IdOf("lun"), driveId = IdOf("drive"), plexId = IdOf("plex"), controllerId = IdOf("controller"),
               portId = IdOf("port"), targetId = IdOf("target"), portalId = IdOf("portal"), groupId = IdOf("group");
    Ref<CZarvoProvider> provider;
    FakeSan* san = nullptr;
    Ref<IVdsSubSystem> subsystem;
    Ref<IVdsLun> lun;
    VDS_HINTS hints{};
    WCHAR empty[1] = {0};
};

class SubsystemTest : public ObjectsTest {};
class LunTest : public ObjectsTest {};
