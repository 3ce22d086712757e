#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "recording_sink.h"
#include "vds_fixture.h"

#include <model/extent_record.h>
#include <platform/comalloc.h>
#include <platform/errorinfo.h>
#include <platform/clock.h>
#include <vds/module_lock.h>

namespace {

std::vector<GUID> Enumerate(IEnumVdsObject* enumerator, VDS_OBJECT_TYPE type) {
    std::vector<GUID> ids;
    IUnknown* object = nullptr;
    ULONG fetched = 0;
    while (enumerator->Next(1, &object, &fetched) == S_OK && fetched == 1) {
        if (type == VDS_OT_SUB_SYSTEM) {
            auto subsystem = QueryAs<IVdsSubSystem>(object);
            VDS_SUB_SYSTEM_PROP prop{};
            subsystem->GetProperties(&prop);
            CoTaskMemFree(prop.pwszFriendlyName);
            CoTaskMemFree(prop.pwszIdentification);
            ids.push_back(prop.id);
        }
        object->Release();
    }
    return ids;
}

std::vector<GUID> Subsystems(CZarvoProvider& provider) {
    Ref<IEnumVdsObject> enumerator;
    EXPECT_EQ(S_OK, provider.QuerySubSystems(enumerator.out()));
    return Enumerate(enumerator.get(), VDS_OT_SUB_SYSTEM);
}

class ProviderTest : public VdsTest {};

}  // namespace

TEST_F(ProviderTest, ListPassTakesTheRecordsOfItsProtocolAndAnnouncesOnlyLaterSubsystems) {
    list.records = {MakeRecord(u"fc-a", VDS_HWT_FIBRE_CHANNEL), MakeRecord(u"iscsi-a", VDS_HWT_ISCSI)};
    auto provider = MakeProvider(VDS_HWT_FIBRE_CHANNEL);
    EXPECT_EQ(std::vector<GUID>{IdOf("fc-a")}, Subsystems(*provider));

    list.records.push_back(MakeRecord(u"fc-b", VDS_HWT_FIBRE_CHANNEL));
    EXPECT_EQ(S_OK, provider->Reenumerate());
    ASSERT_EQ(2u, factory.initialized.size());
    EXPECT_FALSE(factory.initialized[0].second);  // the first pass announces nothing
    EXPECT_TRUE(factory.initialized[1].second);
    EXPECT_EQ(2u, Subsystems(*provider).size());
    EXPECT_EQ(1u, factory.live.count(u"fc-a"));  // the running one was kept, not made again
    EXPECT_EQ((std::vector<std::u16string>{u"fc-a", u"fc-b"}), factory.tried);
}

// The caller's error information, as text ("" when there is none); it is taken.
static std::u16string ErrorInfoText() {
    IErrorInfo* info = nullptr;
    if (GetErrorInfo(0, &info) != S_OK || !info) return u"";
    BSTR description = nullptr;
    info->GetDescription(&description);
    std::u16string text = description ? description : u"";
    SysFreeString(description);
    info->Release();
    return text;
}

TEST_F(ProviderTest, AFailingRecordKeepsNoOtherFromItsSubsystemAndThePassNamesIt) {
    list.records = {MakeRecord(u"one", 2), MakeRecord(u"two", 2), MakeRecord(u"three", 2)};
    factory.unreachable = {u"one"};
    Ref<CZarvoProvider> provider(NewComObject<CZarvoProviderFC>());
    EXPECT_EQ(HRESULT(0xC0042502), provider->Reenumerate());
    EXPECT_NE(std::u16string::npos, ErrorInfoText().find(u"one"));
    EXPECT_EQ((std::vector<std::u16string>{u"one", u"two", u"three"}), factory.tried);
    const auto made = Subsystems(*provider);
    ASSERT_EQ(2u, made.size());
    EXPECT_EQ(1, std::count(made.begin(), made.end(), IdOf("two")));
    EXPECT_EQ(1, std::count(made.begin(), made.end(), IdOf("three")));

    // Only the failed one is tried again; VDS has queried the others, so it is announced.
    factory.unreachable.clear();
    EXPECT_EQ(S_OK, provider->Reenumerate());
    EXPECT_EQ((std::vector<std::u16string>{u"one", u"two", u"three", u"one"}), factory.tried);
    EXPECT_TRUE(factory.initialized.back().second);
    EXPECT_EQ(3u, Subsystems(*provider).size());
}

TEST_F(ProviderTest, RemovedRecordMakesItsSubsystemInactiveAndItGoesWhenUnused) {
    list.records = {MakeRecord(u"fc-a", 2)};
    auto provider = MakeProvider(VDS_HWT_FIBRE_CHANNEL);
    FakeSan* san = factory.live[u"fc-a"];
    const GUID lun = IdOf("lun");
    san->objects[lun] = VDS_OT_LUN;
    auto held = Object<IVdsLun>(*provider, lun, VDS_OT_LUN);
    ASSERT_TRUE(held);

    list.records.clear();
    EXPECT_EQ(S_OK, provider->Reenumerate());
    EXPECT_FALSE(san->active);
    EXPECT_TRUE(Subsystems(*provider).empty());
    Ref<IUnknown> gone;
    EXPECT_EQ(VDS_E_OBJECT_NOT_FOUND, provider->GetObject(lun, VDS_OT_LUN, gone.out()));
    VDS_LUN_PROP prop{};
    EXPECT_EQ(VDS_E_OBJECT_DELETED, held->GetProperties(&prop));  // VDS still holds it
    EXPECT_EQ(1u, factory.live.count(u"fc-a"));                    // held: not deleted

    held.reset();
    EXPECT_EQ(S_OK, provider->Reenumerate());
    EXPECT_EQ(0u, factory.live.count(u"fc-a"));
}

TEST_F(ProviderTest, CorrectedPasswordGivesTheApplianceANewSubsystemAtTheNextPass) {
    list.records = {MakeRecord(u"fc-a", 2, u"wrong")};
    auto provider = MakeProvider(VDS_HWT_FIBRE_CHANNEL);
    FakeSan* old = factory.live[u"fc-a"];
    auto oldObject = Object<IVdsSubSystem>(*provider, IdOf("fc-a"), VDS_OT_SUB_SYSTEM);

    list.records = {MakeRecord(u"fc-a", 2, u"right")};
    EXPECT_EQ(S_OK, provider->Reenumerate());
    EXPECT_FALSE(old->active);
    FakeSan* renewed = factory.live[u"fc-a"];
    ASSERT_NE(old, renewed);
    EXPECT_EQ(std::vector<GUID>{IdOf("fc-a")}, Subsystems(*provider));

    // The subsystem id is the same; the object for it now serves the new San.
    auto newObject = Object<IVdsSubSystem>(*provider, IdOf("fc-a"), VDS_OT_SUB_SYSTEM);
    EXPECT_NE(oldObject.get(), newObject.get());
    EXPECT_EQ(S_OK, newObject->Reenumerate());
    EXPECT_EQ(VDS_E_OBJECT_DELETED, oldObject->Reenumerate());
    const LONG newUsage = renewed->usage;
    oldObject.reset();  // the old object's release leaves the new object's entry alone
    auto again = Object<IVdsSubSystem>(*provider, IdOf("fc-a"), VDS_OT_SUB_SYSTEM);
    EXPECT_EQ(newObject.get(), again.get());
    EXPECT_EQ(newUsage, renewed->usage);
}

TEST_F(ProviderTest, GetObjectReusesTheLiveObjectOfTheSameIdAndType) {
    list.records = {MakeRecord(u"fc-a", 2)};
    auto provider = MakeProvider(VDS_HWT_FIBRE_CHANNEL);
    FakeSan& san = *factory.live[u"fc-a"];
    const GUID drive = IdOf("drive");
    san.objects[drive] = VDS_OT_DRIVE;

    Ref<IUnknown> first, second, wrong;
    ASSERT_EQ(S_OK, provider->GetObject(drive, VDS_OT_DRIVE, first.out()));
    ASSERT_EQ(S_OK, provider->GetObject(drive, VDS_OT_DRIVE, second.out()));
    EXPECT_EQ(first.get(), second.get());
    EXPECT_EQ(1, san.usage.load());
    EXPECT_EQ(VDS_E_OBJECT_NOT_FOUND, provider->GetObject(drive, VDS_OT_LUN, wrong.out()));
    EXPECT_EQ(VDS_E_OBJECT_NOT_FOUND, provider->GetObject(IdOf("unknown"), VDS_OT_DRIVE, wrong.out()));
    EXPECT_EQ(E_INVALIDARG, provider->GetObject(drive, VDS_OBJECT_TYPE(39), wrong.out()));
    EXPECT_EQ(E_INVALIDARG, provider->GetObject(drive, VDS_OBJECT_TYPE(29), wrong.out()));
    EXPECT_EQ(E_POINTER, provider->GetObject(drive, VDS_OT_DRIVE, nullptr));

    IUnknown* raw = first.get();
    first.reset();
    second.reset();
    EXPECT_EQ(0, san.usage.load());
    Ref<IUnknown> fresh;
    ASSERT_EQ(S_OK, provider->GetObject(drive, VDS_OT_DRIVE, fresh.out()));
    (void)raw;  // a new object: the old one was destroyed and left the map
    EXPECT_EQ(1, san.usage.load());
}

TEST_F(ProviderTest, FinalReleaseRacingGetObjectNeverHandsOutADyingObject) {
    list.records = {MakeRecord(u"fc-a", 2)};
    auto provider = MakeProvider(VDS_HWT_FIBRE_CHANNEL);
    FakeSan& san = *factory.live[u"fc-a"];
    const GUID lun = IdOf("lun");
    san.objects[lun] = VDS_OT_LUN;

    std::atomic<int> failures{0};
    auto churn = [&] {
        for (int i = 0; i < 2000; ++i) {
            IUnknown* object = nullptr;
            if (provider->GetObject(lun, VDS_OT_LUN, &object) != S_OK) {
                ++failures;
                continue;
            }
            IVdsLun* asLun = nullptr;
            if (FAILED(object->QueryInterface(IID_PPV_ARGS(&asLun)))) ++failures;
            if (asLun) asLun->Release();
            object->Release();
        }
    };
    std::thread a(churn), b(churn), c(churn);
    a.join();
    b.join();
    c.join();
    EXPECT_EQ(0, failures.load());
    EXPECT_EQ(0, san.usage.load());
}

TEST_F(ProviderTest, InterfacesAnsweredDependOnTheProviderType) {
    struct Case {
        VDS_HWPROVIDER_TYPE provider;
        VDS_OBJECT_TYPE type;
        IID iid;
        bool answered;
    };
    const Case cases[] = {
        {VDS_HWT_FIBRE_CHANNEL, VDS_OT_SUB_SYSTEM, IID_IVdsSubSystemIscsi, false},
        {VDS_HWT_ISCSI, VDS_OT_SUB_SYSTEM, IID_IVdsSubSystemIscsi, true},
        {VDS_HWT_FIBRE_CHANNEL, VDS_OT_SUB_SYSTEM, IID_IVdsSubSystemNaming, true},
        {VDS_HWT_FIBRE_CHANNEL, VDS_OT_LUN, IID_IVdsLunIscsi, false},
        {VDS_HWT_FIBRE_CHANNEL, VDS_OT_LUN, IID_IVdsLunMpio, true},
        {VDS_HWT_FIBRE_CHANNEL, VDS_OT_LUN, IID_IVdsLunControllerPorts, true},
        {VDS_HWT_ISCSI, VDS_OT_LUN, IID_IVdsLunIscsi, true},
        {VDS_HWT_ISCSI, VDS_OT_LUN, IID_IVdsLunMpio, false},
        {VDS_HWT_ISCSI, VDS_OT_LUN, IID_IVdsLunControllerPorts, false},
        {VDS_HWT_ISCSI, VDS_OT_LUN, IID_IVdsLunNaming, true},
        {VDS_HWT_FIBRE_CHANNEL, VDS_OT_CONTROLLER, IID_IVdsControllerControllerPort, true},
        {VDS_HWT_FIBRE_CHANNEL, VDS_OT_DRIVE, IID_IVdsMaintenance, true},
        {VDS_HWT_ISCSI, VDS_OT_PORTAL_GROUP, IID_IVdsIscsiPortalGroup, true},
        {VDS_HWT_ISCSI, VDS_OT_PORTAL_GROUP, IID_IVdsLun, false},
    };
    for (VDS_HWPROVIDER_TYPE type : {VDS_HWT_FIBRE_CHANNEL, VDS_HWT_ISCSI}) {
        list.records = {MakeRecord(u"appliance", type)};
        factory.prepare = [](FakeSan& san) {
            for (int t = VDS_OT_CONTROLLER; t <= VDS_OT_PORTAL_GROUP; ++t) san.objects[IdOf("object" + std::to_string(t))] = VDS_OBJECT_TYPE(t);
        };
        auto provider = MakeProvider(type);
        for (const Case& c : cases) {
            if (c.provider != type) continue;
            const GUID id = c.type == VDS_OT_SUB_SYSTEM ? IdOf("appliance") : IdOf("object" + std::to_string(c.type));
            Ref<IUnknown> object;
            ASSERT_EQ(S_OK, provider->GetObject(id, c.type, object.out())) << c.type;
            Ref<IUnknown> asked;
            EXPECT_EQ(c.answered ? S_OK : E_NOINTERFACE, object->QueryInterface(c.iid, reinterpret_cast<void**>(asked.out())))
                << "provider " << type << " object " << c.type;
        }
        Ref<IUnknown> mpio;
        EXPECT_EQ(type == VDS_HWT_ISCSI ? E_NOINTERFACE : S_OK,
                  provider->QueryInterface(IID_IVdsHwProviderPrivateMpio, reinterpret_cast<void**>(mpio.out())));
    }
}

TEST_F(ProviderTest, OnLoadStartsTheFirstPassOnceAndWantsAnAdviseSink) {
    list.records = {MakeRecord(u"fc-a", 2)};
    Ref<CZarvoProvider> provider(NewComObject<CZarvoProviderFC>());
    Ref<RecordingSink> sink(NewComObject<RecordingSink>());
    EXPECT_EQ(E_POINTER, provider->OnLoad(const_cast<WCHAR*>(u"host"), nullptr));
    EXPECT_EQ(E_NOINTERFACE, provider->OnLoad(const_cast<WCHAR*>(u"host"), provider->GetUnknown()));
    EXPECT_EQ(S_OK, provider->OnLoad(const_cast<WCHAR*>(u"host"), sink.get()));
    EXPECT_EQ(S_OK, provider->OnLoad(const_cast<WCHAR*>(u"host"), sink.get()));
    for (int i = 0; i < 500 && Subsystems(*provider).empty(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(std::vector<GUID>{IdOf("fc-a")}, Subsystems(*provider));
    EXPECT_EQ(1u, factory.tried.size());
    EXPECT_EQ(S_OK, provider->OnUnload(FALSE));  // the thread has ended
    EXPECT_FALSE(factory.live[u"fc-a"]->active);
}

TEST_F(ProviderTest, TheLoadingSideTakesTheFirstPassOutcomeWithoutAPassOfItsOwn) {
    list.records = {MakeRecord(u"fc-a", 2), MakeRecord(u"fc-b", 2)};
    factory.unreachable = {u"fc-b"};
    Ref<CZarvoProvider> provider(NewComObject<CZarvoProviderFC>());
    EXPECT_EQ(E_UNEXPECTED, provider->ListPassResult());  // not loaded: no pass to wait for
    Ref<RecordingSink> sink(NewComObject<RecordingSink>());
    ASSERT_EQ(S_OK, provider->OnLoad(const_cast<WCHAR*>(u"host"), sink.get()));
    EXPECT_EQ(HRESULT(0xC0042502), provider->ListPassResult());
    EXPECT_NE(std::u16string::npos, ErrorInfoText().find(u"fc-b"));
    EXPECT_EQ((std::vector<std::u16string>{u"fc-a", u"fc-b"}), factory.tried);
    // Asked again it tells the same and tries nothing.
    EXPECT_EQ(HRESULT(0xC0042502), provider->ListPassResult());
    EXPECT_NE(std::u16string::npos, ErrorInfoText().find(u"fc-b"));
    EXPECT_EQ(2u, factory.tried.size());
    EXPECT_EQ(S_OK, provider->OnUnload(TRUE));
}

TEST_F(ProviderTest, PathStatusesFromAnHbaPortCombineTheSubsystemResults) {
    list.records = {MakeRecord(u"a", 2), MakeRecord(u"b", 2)};
    auto provider = MakeProvider(VDS_HWT_FIBRE_CHANNEL);
    FakeSan& a = *factory.live[u"a"];
    FakeSan& b = *factory.live[u"b"];
    const VDS_HBAPORT_PROP port{};
    EXPECT_EQ(E_INVALIDARG, provider->SetAllPathStatusesFromHbaPort(port, VDS_PATH_STATUS(2)));
    EXPECT_FALSE(a.Called("IsMPIOInstalled"));
    EXPECT_EQ(S_OK, provider->SetAllPathStatusesFromHbaPort(port, VDS_MPS_STANDBY));
    b.failures["SetAllPathStatusesFromHbaPort"] = E_FAIL;
    EXPECT_EQ(VDS_S_SOME_PATH_STATUSES_SET, provider->SetAllPathStatusesFromHbaPort(port, VDS_MPS_ONLINE));
    a.failures["SetAllPathStatusesFromHbaPort"] = E_ACCESSDENIED;
    EXPECT_EQ(E_FAIL, provider->SetAllPathStatusesFromHbaPort(port, VDS_MPS_FAILED));
    a.failures["IsMPIOInstalled"] = E_FAIL;
    EXPECT_EQ(VDS_E_NOT_SUPPORTED, provider->SetAllPathStatusesFromHbaPort(port, VDS_MPS_UNKNOWN));
}

TEST_F(ProviderTest, QueryIfCreatedLunAsksEverySubsystemUntilOneOwnsTheDevice) {
    VDS_LUN_INFORMATION info{};
    GUID lunId{};
    WCHAR path[] = u"/dev/sdb";
    {
        Ref<CZarvoProvider> empty(NewComObject<CZarvoProviderFC>());
        EXPECT_EQ(S_FALSE, empty->QueryIfCreatedLun(path, &info, &lunId));
    }
    list.records = {MakeRecord(u"a", 2), MakeRecord(u"b", 2)};
    auto provider = MakeProvider(VDS_HWT_FIBRE_CHANNEL);
    EXPECT_EQ(S_FALSE, provider->QueryIfCreatedLun(path, &info, &lunId));
    factory.live[u"b"]->failures["QueryIfCreatedLun"] = S_OK;
    factory.live[u"b"]->relatedId = IdOf("their lun");
    EXPECT_EQ(S_OK, provider->QueryIfCreatedLun(path, &info, &lunId));
    EXPECT_EQ(IdOf("their lun"), lunId);
    EXPECT_EQ(E_POINTER, provider->QueryIfCreatedLun(nullptr, &info, &lunId));
    EXPECT_EQ(E_POINTER, provider->QueryIfCreatedLun(path, nullptr, &lunId));
    EXPECT_EQ(E_POINTER, provider->QueryIfCreatedLun(path, &info, nullptr));
}

TEST_F(ProviderTest, PropertiesTypeAndVersionOfBothProviders) {
    for (VDS_HWPROVIDER_TYPE type : {VDS_HWT_FIBRE_CHANNEL, VDS_HWT_ISCSI}) {
        auto provider = MakeProvider(type);
        VDS_PROVIDER_PROP prop{};
        ASSERT_EQ(S_OK, provider->GetProperties(&prop));
        EXPECT_EQ(std::u16string(type == VDS_HWT_ISCSI ? u"Zarvo VDS Hardware Provider (iSCSI)"
                                                       : u"Zarvo VDS Hardware Provider (FCP)"),
                  prop.pwszName);
        EXPECT_EQ(std::u16string(u"1.0.1094.0"), prop.pwszVersion);
        EXPECT_EQ(provider->ProviderId(), prop.id);
        EXPECT_EQ(VDS_PT_HARDWARE, prop.type);
        CoTaskMemFree(prop.pwszName);
        CoTaskMemFree(prop.pwszVersion);
        VDS_HWPROVIDER_TYPE reported{};
        EXPECT_EQ(S_OK, provider->GetProviderType(&reported));
        EXPECT_EQ(type, reported);
        ULONG support = 0;
        EXPECT_EQ(S_OK, provider->GetVersionSupport(&support));
        EXPECT_EQ(VDS_VSF_1_1, support);
        EXPECT_EQ(E_POINTER, provider->GetProperties(nullptr));
        EXPECT_EQ(S_OK, provider->Refresh());
    }
}

TEST_F(ProviderTest, ExtentsWithoutALunAreNotUsed) {
    auto provider = MakeProvider(VDS_HWT_FIBRE_CHANNEL);
    std::vector<ExtentRecord> extents(2);
    extents[0].driveId = IdOf("drive");
    extents[0].lunId = IdOf("lun");
    extents[0].size = 100;
    extents[1].driveId = IdOf("drive");
    extents[1].size = 50;
    VDS_DRIVE_EXTENT* out = nullptr;
    LONG count = 0;
    ASSERT_EQ(S_OK, provider->ConvertExtentVector(extents, &out, &count));
    ASSERT_EQ(2, count);
    EXPECT_TRUE(out[0].bUsed);
    EXPECT_EQ(IdOf("lun"), out[0].LunId);
    EXPECT_EQ(100u, out[0].ullSize);
    EXPECT_FALSE(out[1].bUsed);
    CoTaskMemFree(out);
}

TEST_F(ProviderTest, EveryObjectHoldsTheModuleUntilItGoes) {
    const LONG before = OwnModuleLockCount();
    {
        list.records = {MakeRecord(u"fc-a", 2)};
        auto provider = MakeProvider(VDS_HWT_FIBRE_CHANNEL);
        auto subsystem = Object<IVdsSubSystem>(*provider, IdOf("fc-a"), VDS_OT_SUB_SYSTEM);
        Ref<IEnumVdsObject> enumerator;
        ASSERT_EQ(S_OK, provider->QuerySubSystems(enumerator.out()));
        EXPECT_EQ(before + 3, OwnModuleLockCount());
    }
    EXPECT_EQ(before, OwnModuleLockCount());
}

TEST_F(ProviderTest, DestroyingAProviderWaitsForTheListPassItsThreadRuns) {
    list.records = {MakeRecord(u"slow", 2)};
    factory.initDelay = std::chrono::milliseconds(300);
    platform::ScopedFakeClock clock;  // the 30 s of polling for the thread pass at once
    {
        Ref<CZarvoProvider> provider(NewComObject<CZarvoProviderFC>());
        Ref<RecordingSink> sink(NewComObject<RecordingSink>());
        ASSERT_EQ(S_OK, provider->OnLoad(const_cast<WCHAR*>(u"host"), sink.get()));
        while (!factory.entered) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }  // the last reference goes while the appliance is still being read
    EXPECT_EQ(1u, factory.initialized.size());
    EXPECT_TRUE(factory.live.empty());  // the San that pass made went with the provider
}
