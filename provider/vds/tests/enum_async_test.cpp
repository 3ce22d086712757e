#include <gtest/gtest.h>

#include "vds_fixture.h"

#include <platform/comalloc.h>

namespace {

class EnumTest : public VdsTest {
protected:
    void SetUp() override {
        VdsTest::SetUp();
        list.records = {MakeRecord(u"fc-a", 2)};
        provider = MakeProvider(VDS_HWT_FIBRE_CHANNEL);
        san = factory.live[u"fc-a"];
        for (const char* name : {"d0", "d1", "d2", "d3"}) san->objects[IdOf(name)] = VDS_OT_DRIVE;
        ids = {IdOf("d0"), IdOf("d1"), IdOf("d2"), IdOf("d3")};
        ASSERT_EQ(S_OK, provider->MakeEnum(VDS_OT_DRIVE, ids, enumerator.out()));
    }
    // The drives that one Next call hands out, in order.
    std::vector<GUID> Next(IEnumVdsObject* e, ULONG wanted, HRESULT expected) {
        std::vector<IUnknown*> objects(wanted + 1, nullptr);
        ULONG fetched = 99;
        EXPECT_EQ(expected, e->Next(wanted, objects.data(), &fetched));
        std::vector<GUID> got;
        for (ULONG i = 0; i < fetched; ++i) {
            auto drive = QueryAs<IVdsDrive>(objects[i]);
            VDS_DRIVE_PROP prop{};
            drive->GetProperties(&prop);
            CoTaskMemFree(prop.pwszFriendlyName);
            CoTaskMemFree(prop.pwszIdentification);
            got.push_back(prop.id);
            objects[i]->Release();
        }
        return got;
    }
    Ref<CZarvoProvider> provider;
    FakeSan* san = nullptr;
    std::vector<GUID> ids;
    Ref<IEnumVdsObject> enumerator;
};

}  // namespace

TEST_F(EnumTest, NextSkipResetAndCloneWalkTheIdsAndSkipWhatIsGone) {
    san->objects.erase(IdOf("d1"));  // gone since the enumerator was made
    IEnumVdsObject* e = enumerator.get();
    EXPECT_TRUE(Next(e, 0, S_OK).empty());
    EXPECT_EQ((std::vector<GUID>{IdOf("d0"), IdOf("d2")}), Next(e, 2, S_OK));
    Ref<IEnumVdsObject> clone;
    ASSERT_EQ(S_OK, e->Clone(clone.out()));
    EXPECT_EQ((std::vector<GUID>{IdOf("d3")}), Next(e, 5, S_FALSE));
    EXPECT_TRUE(Next(e, 1, S_FALSE).empty());
    EXPECT_EQ((std::vector<GUID>{IdOf("d3")}), Next(clone.get(), 1, S_OK));  // continues where its source stood

    EXPECT_EQ(S_OK, e->Reset());
    EXPECT_EQ(S_OK, e->Skip(3));
    EXPECT_EQ((std::vector<GUID>{IdOf("d3")}), Next(e, 1, S_OK));
    EXPECT_EQ(S_OK, e->Reset());
    EXPECT_EQ(S_FALSE, e->Skip(9));
    EXPECT_TRUE(Next(e, 1, S_FALSE).empty());
    EXPECT_EQ(S_OK, e->Reset());
    EXPECT_EQ(3u, Next(e, 4, S_FALSE).size());

    IUnknown* object = nullptr;
    ULONG fetched = 0;
    EXPECT_EQ(E_POINTER, e->Next(1, nullptr, &fetched));
    EXPECT_EQ(E_POINTER, e->Next(1, &object, nullptr));
    EXPECT_EQ(E_POINTER, e->Clone(nullptr));
}

TEST_F(EnumTest, NextFailingHalfwayReleasesWhatItFetched) {
    san->active = false;  // GetObject now refuses every id with "not found"
    EXPECT_TRUE(Next(enumerator.get(), 4, S_FALSE).empty());
    san->active = true;
    EXPECT_EQ(S_OK, enumerator->Reset());
    const LONG usage = san->usage;
    // An enumerator whose type no object class serves fails on its first id.
    Ref<IEnumVdsObject> broken;
    ASSERT_EQ(S_OK, provider->MakeEnum(VDS_OBJECT_TYPE(99), ids, broken.out()));
    IUnknown* objects[4] = {};
    ULONG fetched = 7;
    EXPECT_EQ(E_INVALIDARG, broken->Next(4, objects, &fetched));
    EXPECT_EQ(0u, fetched);
    EXPECT_EQ(usage, san->usage.load());
}

// ---- IVdsAsync -------------------------------------------------------------------

namespace {

class AsyncTest : public VdsTest {
protected:
    void SetUp() override {
        VdsTest::SetUp();
        list.records = {MakeRecord(u"iscsi-a", VDS_HWT_ISCSI)};
        provider = MakeProvider(VDS_HWT_ISCSI);
        san = factory.live[u"iscsi-a"];
        san->objects[lun] = VDS_OT_LUN;
        san->objects[target] = VDS_OT_TARGET;
        san->objects[group] = VDS_OT_PORTAL_GROUP;
        san->objects[portal] = VDS_OT_PORTAL;
        subsystem = Object<IVdsSubSystem>(*provider, IdOf("iscsi-a"), VDS_OT_SUB_SYSTEM);
    }
    Ref<IVdsAsync> CreateLun() {
        Ref<IVdsAsync> async;
        VDS_HINTS hints{};
        EXPECT_EQ(S_OK, subsystem->CreateLun(VDS_LT_DEFAULT, 1 << 20, nullptr, 0, const_cast<WCHAR*>(u""), &hints,
                                             async.out()));
        return async;
    }
    Ref<CZarvoProvider> provider;
    FakeSan* san = nullptr;
    Ref<IVdsSubSystem> subsystem;
    const GUID lun = IdOf("lun"), target = IdOf("target"), group = IdOf("group"), portal = IdOf("portal");
};

}  // namespace

TEST_F(AsyncTest, WaitHandsOutTheObjectEachOperationCreated) {
    san->workObjectId = lun;
    auto created = CreateLun();
    HRESULT result = E_FAIL;
    VDS_ASYNC_OUTPUT out{};
    ASSERT_EQ(S_OK, created->Wait(&result, &out));
    EXPECT_EQ(S_OK, result);
    EXPECT_EQ(VDS_ASYNCOUT_CREATELUN, out.type);
    ASSERT_NE(nullptr, out.cl.pLunUnk);
    VDS_ASYNC_OUTPUT again{};
    ASSERT_EQ(S_OK, created->Wait(&result, &again));
    EXPECT_EQ(out.cl.pLunUnk, again.cl.pLunUnk);  // the same LUN object, one more reference
    again.cl.pLunUnk->Release();
    out.cl.pLunUnk->Release();
    ULONG percent = 0;
    EXPECT_EQ(S_OK, created->QueryStatus(&result, &percent));
    EXPECT_EQ(100u, percent);
    EXPECT_EQ(VDS_E_CANCEL_TOO_LATE, created->Cancel());
    EXPECT_EQ(E_POINTER, created->Wait(nullptr, &out));
    EXPECT_EQ(E_POINTER, created->QueryStatus(&result, nullptr));

    auto lunObject = Object<IVdsLun>(*provider, lun, VDS_OT_LUN);
    Ref<IVdsAsync> extended;
    ASSERT_EQ(S_OK, lunObject->Extend(1 << 20, nullptr, 0, extended.out()));
    ASSERT_EQ(S_OK, extended->Wait(&result, &out));
    EXPECT_EQ(VDS_ASYNCOUT_EXTENDLUN, out.type);
    EXPECT_EQ(nullptr, out.cl.pLunUnk);

    auto targetObject = Object<IVdsIscsiTarget>(*provider, target, VDS_OT_TARGET);
    san->workObjectId = group;
    Ref<IVdsAsync> grouped;
    ASSERT_EQ(S_OK, targetObject->CreatePortalGroup(grouped.out()));
    ASSERT_EQ(S_OK, grouped->Wait(&result, &out));
    EXPECT_EQ(VDS_ASYNCOUT_CREATEPORTALGROUP, out.type);
    ASSERT_NE(nullptr, out.cpg.pPortalGroupUnk);
    EXPECT_EQ(S_OK, QueryAs<IVdsIscsiPortalGroup>(out.cpg.pPortalGroupUnk) ? S_OK : E_FAIL);
    out.cpg.pPortalGroupUnk->Release();

    auto groupObject = Object<IVdsIscsiPortalGroup>(*provider, group, VDS_OT_PORTAL_GROUP);
    san->workObjectId = portal;
    Ref<IVdsAsync> added;
    ASSERT_EQ(S_OK, groupObject->AddPortal(portal, added.out()));
    ASSERT_EQ(S_OK, added->Wait(&result, &out));
    EXPECT_EQ(VDS_ASYNCOUT_ADDPORTAL, out.type);
    EXPECT_EQ(nullptr, out.cpg.pPortalGroupUnk);  // the result only
    EXPECT_EQ(S_OK, result);
}

TEST_F(AsyncTest, WaitReportsAFailedOrVanishedResultWithoutAnObject) {
    san->workResult = HRESULT(0xC0042503);
    auto failed = CreateLun();
    HRESULT result = S_OK;
    VDS_ASYNC_OUTPUT out{};
    ASSERT_EQ(S_OK, failed->Wait(&result, &out));
    EXPECT_EQ(HRESULT(0xC0042503), result);
    EXPECT_EQ(VDS_ASYNCOUT_CREATELUN, out.type);
    EXPECT_EQ(nullptr, out.cl.pLunUnk);

    san->workResult = S_OK;
    san->workObjectId = IdOf("a LUN the model no longer has");
    auto vanished = CreateLun();
    ASSERT_EQ(S_OK, vanished->Wait(&result, &out));
    EXPECT_EQ(VDS_E_OBJECT_NOT_FOUND, result);
    EXPECT_EQ(nullptr, out.cl.pLunUnk);
}
