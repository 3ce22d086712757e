#include "objects_fixture.h"

// The state, space and size checks are the model's, in one step (ExtendLun).
TEST_F(LunTest, ExtendChecksDrivesBeforeItHandsTheGrowthToTheModel) {
    Open(VDS_HWT_FIBRE_CHANNEL);
    IVdsAsync* async = nullptr;
    GUID unknown[] = {IdOf("not a drive")};
    GUID drives[] = {driveId};
    RunCases({
        {"drive of another subsystem", [&] { return lun->Extend(1, unknown, 1, &async); }, VDS_E_OBJECT_NOT_FOUND},
        {"counted drives without an array", [&] { return lun->Extend(1, nullptr, 1, &async); }, E_POINTER},
        {"no out pointer", [&] { return lun->Extend(1, drives, 1, nullptr); }, E_POINTER},
        {"negative count", [&] { return lun->Extend(1, drives, -1, &async); }, E_INVALIDARG},
    });
    EXPECT_FALSE(san->Called("ExtendLun"));
    EXPECT_EQ(nullptr, async);
    ASSERT_EQ(S_OK, lun->Extend(1 << 20, nullptr, 0, &async));
    EXPECT_EQ(ULONGLONG{1 << 20}, san->lastSize);
    async->Release();
    san->failures["ExtendLun"] = VDS_E_ANOTHER_CALL_IN_PROGRESS;
    async = nullptr;
    EXPECT_EQ(VDS_E_ANOTHER_CALL_IN_PROGRESS, lun->Extend(1 << 20, nullptr, 0, &async));
    EXPECT_EQ(nullptr, async);
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
