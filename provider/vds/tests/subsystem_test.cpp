#include "objects_fixture.h"

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
