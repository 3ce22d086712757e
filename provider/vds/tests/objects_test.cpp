#include <gtest/gtest.h>

#include <functional>

#include "vds_fixture.h"

#include <model/extent_record.h>
#include <platform/comalloc.h>

namespace {

struct CallCase {
    const char* what;
    std::function<HRESULT()> call;
    HRESULT expected;
};

void RunCases(const std::vector<CallCase>& cases) {
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

}  // namespace

TEST_F(SubsystemTest, CreateLunChecksEveryArgumentAndTheLastFailingOneDecides) {
    Open(VDS_HWT_FIBRE_CHANNEL);
    IVdsAsync* async = nullptr;
    RunCases({
        {"size 0 after a bad result pointer",
         [&] { return subsystem->CreateLun(VDS_LT_DEFAULT, 0, nullptr, 0, empty, &hints, nullptr); }, E_INVALIDARG},
        {"type 4", [&] { return subsystem->CreateLun(VDS_LUN_TYPE(4), 1, nullptr, 0, empty, &hints, &async); },
         E_INVALIDARG},
        {"bad type then no hints", [&] { return subsystem->CreateLun(VDS_LUN_TYPE(9), 1, nullptr, 0, empty, nullptr, &async); },
         E_POINTER},
        {"no unmasking list", [&] { return subsystem->CreateLun(VDS_LT_SIMPLE, 1, nullptr, 0, nullptr, &hints, &async); },
         E_POINTER},
        {"drives counted without an array",
         [&] { return subsystem->CreateLun(VDS_LT_SIMPLE, 1, nullptr, 2, empty, &hints, &async); }, E_POINTER},
        {"larger than the largest creatable",
         [&] { return subsystem->CreateLun(VDS_LT_DEFAULT, san->maxCreateSize + 1, nullptr, 0, empty, &hints, &async); },
         VDS_E_NOT_ENOUGH_SPACE},
    });
    EXPECT_FALSE(san->Called("CreateLun"));
    EXPECT_EQ(nullptr, async);

    san->failures["CreateLun"] = HRESULT(0x80042410);
    async = reinterpret_cast<IVdsAsync*>(1);
    EXPECT_EQ(HRESULT(0x80042410), subsystem->CreateLun(VDS_LT_DEFAULT, 1, nullptr, 0, empty, &hints, &async));
    EXPECT_EQ(nullptr, async);

    san->failures.clear();
    WCHAR mask[] = u"iqn.1991-05.com.example:host";
    GUID drives[] = {driveId};
    ASSERT_EQ(S_OK, subsystem->CreateLun(VDS_LT_DEFAULT, 4096, drives, 1, mask, &hints, &async));
    EXPECT_EQ(std::vector<GUID>{driveId}, san->createDrives);
    EXPECT_EQ(std::u16string(mask), san->lastText);
    async->Release();
    ASSERT_EQ(S_OK, subsystem->CreateLun(VDS_LT_DEFAULT, 4096, nullptr, 0, empty, &hints, &async));
    EXPECT_TRUE(san->createDrives.empty());
    async->Release();
}

TEST_F(SubsystemTest, UnsupportedCallsAndRefusedCodes) {
    Open(VDS_HWT_ISCSI);
    Ref<IEnumVdsObject> enumerator;
    GUID ids[1] = {};
    IVdsAsync* async = nullptr;
    VDS_ISCSI_IPSEC_KEY key{};
    auto naming = QueryAs<IVdsSubSystemNaming>(subsystem.get());
    auto iscsi = QueryAs<IVdsSubSystemIscsi>(subsystem.get());
    auto maintenance = QueryAs<IVdsMaintenance>(subsystem.get());
    RunCases({
        {"controllers on iSCSI", [&] { return subsystem->QueryControllers(enumerator.out()); }, VDS_E_NOT_SUPPORTED},
        {"controllers, bad pointer, on iSCSI", [&] { return subsystem->QueryControllers(nullptr); }, VDS_E_NOT_SUPPORTED},
        {"controller status", [&] { return subsystem->SetControllerStatus(ids, 1, ids, 1); }, VDS_E_NOT_SUPPORTED},
        {"controller status, bad array", [&] { return subsystem->SetControllerStatus(nullptr, 1, nullptr, 1); }, E_POINTER},
        {"replace drive", [&] { return subsystem->ReplaceDrive(ids[0], ids[0]); }, VDS_E_NOT_SUPPORTED},
        {"status 1", [&] { return subsystem->SetStatus(VDS_SSS_ONLINE); }, VDS_E_NOT_SUPPORTED},
        {"status 3", [&] { return subsystem->SetStatus(VDS_SUB_SYSTEM_STATUS(3)); }, E_INVALIDARG},
        {"create target", [&] { return iscsi->CreateTarget(empty, empty, &async); }, VDS_E_NOT_SUPPORTED},
        {"create target, no name", [&] { return iscsi->CreateTarget(nullptr, empty, &async); }, E_POINTER},
        {"preshared key", [&] { return iscsi->SetIpsecGroupPresharedKey(&key); }, VDS_E_NOT_SUPPORTED},
        {"preshared key, none", [&] { return iscsi->SetIpsecGroupPresharedKey(nullptr); }, E_POINTER},
        {"maintenance 0", [&] { return maintenance->StartMaintenance(VDS_MAINTENANCE_OPERATION(0)); }, E_INVALIDARG},
        {"maintenance 6", [&] { return maintenance->StopMaintenance(VDS_MAINTENANCE_OPERATION(6)); }, E_INVALIDARG},
        {"maintenance 3", [&] { return maintenance->PulseMaintenance(SpinDown, 4); }, VDS_E_NOT_SUPPORTED},
        {"max size, bad type and no out", [&] { return subsystem->QueryMaxLunCreateSize(VDS_LUN_TYPE(4), nullptr, 0, &hints, nullptr); },
         E_POINTER},
        {"drive without one", [&] { san->failures["GetDrive"] = E_FAIL; IVdsDrive* d = reinterpret_cast<IVdsDrive*>(1);
                                    HRESULT hr = subsystem->GetDrive(0, 1, &d); return d ? E_UNEXPECTED : hr; }, E_FAIL},
        {"rename", [&] { return naming->SetFriendlyName(const_cast<WCHAR*>(u"new name")); }, S_OK},
        {"rename without a name", [&] { return naming->SetFriendlyName(nullptr); }, E_POINTER},
    });
    EXPECT_EQ(u"new name", san->lastText);
    EXPECT_EQ(S_OK, iscsi->QueryTargets(enumerator.out()));
}

TEST_F(SubsystemTest, InactiveSubsystemRefusesGuardedCallsOnly) {
    Open(VDS_HWT_FIBRE_CHANNEL);
    san->active = false;
    Ref<IEnumVdsObject> enumerator;
    VDS_SUB_SYSTEM_PROP prop{};
    IVdsAsync* async = nullptr;
    IVdsProvider* owner = nullptr;
    auto maintenance = QueryAs<IVdsMaintenance>(subsystem.get());
    RunCases({
        {"properties", [&] { return subsystem->GetProperties(&prop); }, VDS_E_OBJECT_DELETED},
        {"luns", [&] { return subsystem->QueryLuns(enumerator.out()); }, VDS_E_OBJECT_DELETED},
        {"reenumerate", [&] { return subsystem->Reenumerate(); }, VDS_E_OBJECT_DELETED},
        {"create, bad arguments too",
         [&] { return subsystem->CreateLun(VDS_LUN_TYPE(4), 0, nullptr, 0, nullptr, nullptr, nullptr); },
         VDS_E_OBJECT_DELETED},
        {"create", [&] { return subsystem->CreateLun(VDS_LT_DEFAULT, 1, nullptr, 0, empty, &hints, &async); },
         VDS_E_OBJECT_DELETED},
        {"provider", [&] { HRESULT hr = subsystem->GetProvider(&owner); if (owner) owner->Release(); return hr; }, S_OK},
        {"status", [&] { return subsystem->SetStatus(VDS_SSS_OFFLINE); }, VDS_E_NOT_SUPPORTED},
        {"maintenance", [&] { return maintenance->StartMaintenance(BlinkLight); }, VDS_E_NOT_SUPPORTED},
    });
    EXPECT_FALSE(san->Called("CreateLun"));
}

TEST_F(LunTest, ExtendChecksDrivesAndSpaceBeforeItQueuesTheGrowth) {
    Open(VDS_HWT_FIBRE_CHANNEL);
    IVdsAsync* async = nullptr;
    GUID unknown[] = {IdOf("not a drive")};
    GUID drives[] = {driveId};
    RunCases({
        {"drive of another subsystem", [&] { return lun->Extend(1, unknown, 1, &async); }, VDS_E_OBJECT_NOT_FOUND},
        {"more than the drives allow", [&] { return lun->Extend(san->maxExtendSize + 1, drives, 1, &async); },
         VDS_E_NOT_ENOUGH_SPACE},
        {"counted drives without an array", [&] { return lun->Extend(1, nullptr, 1, &async); }, E_POINTER},
        {"no out pointer", [&] { return lun->Extend(1, drives, 1, nullptr); }, E_POINTER},
        {"negative count", [&] { return lun->Extend(1, drives, -1, &async); }, E_INVALIDARG},
        {"past 64 bits", [&] { san->maxExtendSize = ~0ull; return lun->Extend(~0ull, nullptr, 0, &async); },
         E_INVALIDARG},
    });
    EXPECT_FALSE(san->Called("SetSize"));
    EXPECT_EQ(nullptr, async);
    ASSERT_EQ(S_OK, lun->Extend(1 << 20, nullptr, 0, &async));
    EXPECT_EQ(san->lunSize + (1 << 20), san->lastSize);
    async->Release();
}

TEST_F(LunTest, SetMaskAndDeleteReturnTheResultOfTheirWork) {
    Open(VDS_HWT_FIBRE_CHANNEL);
    WCHAR mask[] = u"21:00:00:e0:8b:05:05:04";
    EXPECT_EQ(S_OK, lun->SetMask(mask));
    EXPECT_EQ(std::u16string(mask), san->lastText);
    san->workResult = HRESULT(0xC0042507);
    EXPECT_EQ(HRESULT(0xC0042507), lun->SetMask(mask));
    EXPECT_EQ(HRESULT(0xC0042507), lun->Delete());
    san->failures["DeleteLun"] = VDS_E_ANOTHER_CALL_IN_PROGRESS;
    EXPECT_EQ(VDS_E_ANOTHER_CALL_IN_PROGRESS, lun->Delete());
    EXPECT_EQ(E_POINTER, lun->SetMask(nullptr));
}

TEST_F(LunTest, UnsupportedCallsAndRefusedArguments) {
    Open(VDS_HWT_FIBRE_CHANNEL);
    IVdsAsync* async = reinterpret_cast<IVdsAsync*>(0x10);
    Ref<IEnumVdsObject> enumerator;
    GUID ids[1] = {};
    ULONGLONG bytes = 0;
    RunCases({
        {"shrink by nothing", [&] { return lun->Shrink(0, &async); }, S_OK},
        {"shrink", [&] { return lun->Shrink(4096, &async); }, VDS_E_NOT_SUPPORTED},
        {"shrink, no out", [&] { return lun->Shrink(0, nullptr); }, E_POINTER},
        {"identification, no record", [&] { return lun->GetIdentificationData(nullptr); }, E_INVALIDARG},
        {"active controllers", [&] { return lun->QueryActiveControllers(enumerator.out()); }, VDS_E_NOT_SUPPORTED},
        {"add plex", [&] { return lun->AddPlex(ids[0], &async); }, VDS_E_NOT_SUPPORTED},
        {"remove plex", [&] { return lun->RemovePlex(ids[0], &async); }, VDS_E_NOT_SUPPORTED},
        {"recover, no out", [&] { return lun->Recover(nullptr); }, E_POINTER},
        {"associate controllers", [&] { return lun->AssociateControllers(ids, 1, nullptr, 0); }, VDS_E_NOT_SUPPORTED},
        {"associate controllers, bad", [&] { return lun->AssociateControllers(nullptr, 1, ids, 1); }, E_POINTER},
        {"query hints", [&] { return lun->QueryHints(&hints); }, VDS_E_NOT_SUPPORTED},
        {"apply hints, none", [&] { return lun->ApplyHints(nullptr); }, E_POINTER},
        {"status 1", [&] { return lun->SetStatus(VDS_LS_ONLINE); }, VDS_E_NOT_SUPPORTED},
        {"status 3", [&] { return lun->SetStatus(VDS_LUN_STATUS(3)); }, E_INVALIDARG},
        {"max extend, no out", [&] { return lun->QueryMaxLunExtendSize(ids, 1, nullptr); }, E_POINTER},
        {"max extend, negative", [&] { return lun->QueryMaxLunExtendSize(ids, -1, &bytes); }, E_INVALIDARG},
        {"max extend", [&] { return lun->QueryMaxLunExtendSize(nullptr, 0, &bytes); }, S_OK},
        {"plexes fail", [&] { san->failures["QueryPlexes"] = E_FAIL; IEnumVdsObject* e = reinterpret_cast<IEnumVdsObject*>(1);
                              HRESULT hr = lun->QueryPlexes(&e); return e ? E_UNEXPECTED : hr; }, E_FAIL},
    });
    EXPECT_EQ(reinterpret_cast<IVdsAsync*>(0x10), async);  // shrinking by nothing leaves the out pointer
    EXPECT_EQ(san->maxExtendSize, bytes);
}

TEST_F(LunTest, PathsAndLoadBalancePolicyFollowTheActivePortsAndMpio) {
    Open(VDS_HWT_FIBRE_CHANNEL);
    auto mpio = QueryAs<IVdsLunMpio>(lun.get());
    const GUID portA = IdOf("port a"), portB = IdOf("port b");
    san->ids["QueryActiveControllerPorts"] = {portA, portB};

    VDS_PATH_INFO* paths = nullptr;
    LONG count = -1;
    ASSERT_EQ(S_OK, mpio->GetPathInfo(&paths, &count));
    ASSERT_EQ(2, count);
    EXPECT_EQ(portB, paths[1].controllerPortId);
    CoTaskMemFree(paths);

    san->failures["IsMPIOInstalled"] = E_FAIL;  // no MPIO: one path, that of the first port
    ASSERT_EQ(S_OK, mpio->GetPathInfo(&paths, &count));
    ASSERT_EQ(1, count);
    EXPECT_EQ(portA, paths[0].controllerPortId);
    CoTaskMemFree(paths);
    san->ids["QueryActiveControllerPorts"] = {};
    ASSERT_EQ(S_OK, mpio->GetPathInfo(&paths, &count));
    EXPECT_EQ(0, count);
    EXPECT_NE(nullptr, paths);
    CoTaskMemFree(paths);

    VDS_PATH_POLICY policies[2] = {};
    ULONG flags = 0;
    RunCases({
        {"policy 0", [&] { return mpio->SetLoadBalancePolicy(VDS_LOADBALANCE_POLICY_ENUM(0), policies, 2); }, E_INVALIDARG},
        {"policy 8", [&] { return mpio->SetLoadBalancePolicy(VDS_LOADBALANCE_POLICY_ENUM(8), policies, 2); }, E_INVALIDARG},
        {"without mpio", [&] { return mpio->SetLoadBalancePolicy(VDS_LBP_ROUND_ROBIN, policies, 2); }, VDS_E_NOT_SUPPORTED},
        {"supported policies without mpio", [&] { return mpio->GetSupportedLbPolicies(&flags); }, S_OK},
    });
    EXPECT_EQ(1u, flags);
    san->failures.clear();
    san->ids["QueryActiveControllerPorts"] = {portA, portB};
    EXPECT_EQ(E_INVALIDARG, mpio->SetLoadBalancePolicy(VDS_LBP_ROUND_ROBIN, policies, 1));
    EXPECT_EQ(VDS_LBP_FAILOVER, san->lbPolicy);  // nothing was set
    policies[1].ulWeight = 7;
    EXPECT_EQ(S_OK, mpio->SetLoadBalancePolicy(VDS_LBP_WEIGHTED_PATHS, policies, 2));
    EXPECT_EQ(VDS_LBP_WEIGHTED_PATHS, san->lbPolicy);
    ASSERT_EQ(2u, san->pathPoliciesSet.size());
    EXPECT_EQ(7u, san->pathPoliciesSet[1].ulWeight);

    VDS_LOADBALANCE_POLICY_ENUM policy{};
    VDS_PATH_POLICY* got = nullptr;
    ASSERT_EQ(S_OK, mpio->GetLoadBalancePolicy(&policy, &got, &count));
    EXPECT_EQ(VDS_LBP_WEIGHTED_PATHS, policy);
    EXPECT_EQ(2, count);
    CoTaskMemFree(got);
}

TEST_F(ObjectsTest, ControllerPortPlexAndDriveAnswerTheirTables) {
    Open(VDS_HWT_FIBRE_CHANNEL);
    auto controller = Object<IVdsController>(*provider, controllerId, VDS_OT_CONTROLLER);
    auto port = Object<IVdsControllerPort>(*provider, portId, VDS_OT_PORT);
    auto drive = Object<IVdsDrive>(*provider, driveId, VDS_OT_DRIVE);
    auto plex = Object<IVdsLunPlex>(*provider, plexId, VDS_OT_LUN_PLEX);
    auto controllerMaintenance = QueryAs<IVdsMaintenance>(controller.get());
    auto portMaintenance = QueryAs<IVdsMaintenance>(port.get());
    auto driveMaintenance = QueryAs<IVdsMaintenance>(drive.get());
    Ref<IEnumVdsObject> enumerator;
    VDS_PORT_PROP portProp{};
    RunCases({
        {"port maintenance 3", [&] { return portMaintenance->StartMaintenance(SpinDown); }, E_INVALIDARG},
        {"port maintenance 5", [&] { return portMaintenance->StartMaintenance(Ping); }, VDS_E_NOT_SUPPORTED},
        {"controller maintenance 3", [&] { return controllerMaintenance->StartMaintenance(SpinDown); }, VDS_E_NOT_SUPPORTED},
        {"drive maintenance 3", [&] { return driveMaintenance->StartMaintenance(SpinDown); }, S_OK},
        {"controller maintenance 6", [&] { return controllerMaintenance->StopMaintenance(VDS_MAINTENANCE_OPERATION(6)); }, E_INVALIDARG},
        {"drive maintenance 0", [&] { return driveMaintenance->PulseMaintenance(VDS_MAINTENANCE_OPERATION(0), 1); }, E_INVALIDARG},
        {"controller status 4", [&] { return controller->SetStatus(VDS_CS_OFFLINE); }, VDS_E_NOT_SUPPORTED},
        {"controller status 2", [&] { return controller->SetStatus(VDS_CS_NOT_READY); }, E_INVALIDARG},
        {"port status 2", [&] { return port->SetStatus(VDS_PRS_NOT_READY); }, VDS_E_NOT_SUPPORTED},
        {"port status 3", [&] { return port->SetStatus(VDS_PORT_STATUS(3)); }, E_INVALIDARG},
        {"drive flags 1", [&] { return drive->SetFlags(1); }, VDS_E_NOT_SUPPORTED},
        {"drive flags 0", [&] { return drive->ClearFlags(0); }, VDS_E_NOT_SUPPORTED},
        {"drive flags 2", [&] { return drive->SetFlags(2); }, E_INVALIDARG},
        {"drive status 5", [&] { return drive->SetStatus(VDS_DRS_FAILED); }, VDS_E_NOT_SUPPORTED},
        {"controller flush", [&] { return controller->FlushCache(); }, VDS_E_NOT_SUPPORTED},
        {"controller port properties", [&] { return controller->GetPortProperties(0, &portProp); }, VDS_E_NOT_SUPPORTED},
        {"port properties", [&] { HRESULT hr = port->GetProperties(&portProp); CoTaskMemFree(portProp.pwszFriendlyName);
                                  CoTaskMemFree(portProp.pwszIdentification); return hr; }, S_OK},
        {"controller luns, no out", [&] { return controller->QueryAssociatedLuns(nullptr); }, E_POINTER},
        {"port reset", [&] { return port->Reset(); }, VDS_E_NOT_SUPPORTED},
        {"plex hints", [&] { return plex->ApplyHints(&hints); }, VDS_E_NOT_SUPPORTED},
        {"port luns", [&] { return port->QueryAssociatedLuns(enumerator.out()); }, S_OK},
        {"controller ports", [&] { return QueryAs<IVdsControllerControllerPort>(controller.get())->QueryControllerPorts(enumerator.out()); }, S_OK},
    });

    // The caller gets its own copies of the model's texts, which it frees.
    VDS_CONTROLLER_PROP controllerProp{};
    ASSERT_EQ(S_OK, controller->GetProperties(&controllerProp));
    EXPECT_EQ(std::u16string(u"adapter 0a"), controllerProp.pwszFriendlyName);
    CoTaskMemFree(controllerProp.pwszFriendlyName);
    CoTaskMemFree(controllerProp.pwszIdentification);

    san->failures["QueryAssociatedController"] = VDS_E_OBJECT_NOT_FOUND;
    IVdsController* parent = reinterpret_cast<IVdsController*>(1);
    EXPECT_EQ(VDS_E_OBJECT_NOT_FOUND, port->GetController(&parent));
    EXPECT_EQ(nullptr, parent);

    san->active = false;
    IVdsLun* plexLun = reinterpret_cast<IVdsLun*>(1);
    EXPECT_EQ(VDS_E_OBJECT_DELETED, plex->GetLun(&plexLun));
    EXPECT_EQ(reinterpret_cast<IVdsLun*>(1), plexLun);
}

TEST_F(ObjectsTest, DriveExtentsListTheUsedOnesThenTheFreeSpace) {
    Open(VDS_HWT_FIBRE_CHANNEL);
    auto drive = Object<IVdsDrive>(*provider, driveId, VDS_OT_DRIVE);
    ExtentRecord used{};
    used.driveId = driveId;
    used.plexId = plexId;
    used.lunId = lunId;
    used.size = 300;
    struct Case {
        std::vector<ExtentRecord> extents;
        ULONGLONG freeBytes;
        std::vector<std::pair<ULONGLONG, BOOL>> expected;
    };
    const Case cases[] = {
        {{used}, 700, {{300, TRUE}, {700, FALSE}}},
        {{used}, 0, {{300, TRUE}}},
        {{}, 0, {}},
    };
    for (const Case& c : cases) {
        san->extents = c.extents;
        san->driveSpace = c.freeBytes;
        VDS_DRIVE_EXTENT* extents = nullptr;
        LONG count = -1;
        ASSERT_EQ(S_OK, drive->QueryExtents(&extents, &count));
        ASSERT_EQ(static_cast<LONG>(c.expected.size()), count);
        for (LONG i = 0; i < count; ++i) {
            EXPECT_EQ(c.expected[i].first, extents[i].ullSize);
            EXPECT_EQ(c.expected[i].second, extents[i].bUsed);
            EXPECT_EQ(driveId, extents[i].id);
        }
        if (count == 2) {
            EXPECT_EQ(GUID_NULL, extents[1].LunId);
        }
        CoTaskMemFree(extents);
    }
}

TEST_F(ObjectsTest, IscsiTargetPortalAndGroupAnswerTheirTables) {
    Open(VDS_HWT_ISCSI);
    auto target = Object<IVdsIscsiTarget>(*provider, targetId, VDS_OT_TARGET);
    auto portal = Object<IVdsIscsiPortal>(*provider, portalId, VDS_OT_PORTAL);
    auto group = Object<IVdsIscsiPortalGroup>(*provider, groupId, VDS_OT_PORTAL_GROUP);
    VDS_ISCSI_SHARED_SECRET secret{};
    VDS_IPADDRESS address{};
    VDS_ISCSI_IPSEC_KEY key{};
    IVdsAsync* async = nullptr;
    WCHAR initiator[] = u"iqn.1991-05.com.example:host";
    LPWSTR* names = reinterpret_cast<LPWSTR*>(0x10);
    LONG count = -1;
    RunCases({
        {"secret and name both absent", [&] { return target->SetSharedSecret(nullptr, nullptr); }, S_OK},
        {"remember without a secret", [&] { return target->RememberInitiatorSharedSecret(initiator, nullptr); }, E_POINTER},
        {"remember", [&] { return target->RememberInitiatorSharedSecret(initiator, &secret); }, VDS_E_NOT_SUPPORTED},
        {"target delete", [&] { return target->Delete(&async); }, VDS_E_NOT_SUPPORTED},
        {"ipsec 127", [&] { return portal->SetIpsecSecurity(&address, 127, nullptr); }, VDS_E_NOT_SUPPORTED},
        {"ipsec 128", [&] { return portal->SetIpsecSecurity(&address, 128, &key); }, E_INVALIDARG},
        {"ipsec, no address", [&] { return portal->SetIpsecSecurity(nullptr, 128, &key); }, E_POINTER},
        {"tunnel", [&] { return portal->SetIpsecTunnelAddress(&address, nullptr); }, E_POINTER},
        {"portal status 3", [&] { return portal->SetStatus(VDS_ISCSI_PORTAL_STATUS(3)); }, E_INVALIDARG},
        {"portal status 1", [&] { return portal->SetStatus(VDS_IPS_ONLINE); }, VDS_E_NOT_SUPPORTED},
        {"remove portal", [&] { return group->RemovePortal(portalId, nullptr); }, VDS_E_NOT_SUPPORTED},
        {"group delete", [&] { return group->Delete(&async); }, VDS_E_NOT_SUPPORTED},
        {"no initiator", [&] { return target->GetConnectedInitiators(&names, &count); }, S_OK},
        {"rename, no name", [&] { return target->SetFriendlyName(nullptr); }, E_POINTER},
    });
    EXPECT_EQ(nullptr, san->lastSecret);
    EXPECT_EQ(0, count);
    EXPECT_EQ(reinterpret_cast<LPWSTR*>(0x10), names);

    san->initiators = {u"iqn.a", u"iqn.b"};
    ASSERT_EQ(S_OK, target->GetConnectedInitiators(&names, &count));
    ASSERT_EQ(2, count);
    EXPECT_EQ(std::u16string(u"iqn.b"), names[1]);
    for (LONG i = 0; i < count; ++i) CoTaskMemFree(names[i]);
    CoTaskMemFree(names);

    san->relatedId = targetId;
    Ref<IVdsIscsiTarget> parent;
    ASSERT_EQ(S_OK, group->GetTarget(parent.out()));
    EXPECT_EQ(target.get(), parent.get());

    san->active = false;
    EXPECT_EQ(VDS_E_OBJECT_DELETED, target->CreatePortalGroup(&async));
    EXPECT_FALSE(san->Called("CreatePortalGroup"));
}
