#include <platform/classtable.h>
#include <platform/errorinfo.h>

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "com_test_objects.h"

namespace {

DEFINE_GUID(CLSID_Unregistered, 0x5A1E0C13, 0x0B0B, 0x4C4C, 0x8D, 0x8D, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06);

// Every test leaves no object alive and no class registered.
class ComClassTable : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(g_liveTestObjects, 0); }
    void TearDown() override {
        platform::set_out_of_process_activator({});
        EXPECT_EQ(g_liveTestObjects, 0);
    }
};

TEST_F(ComClassTable, QueryInterfaceFollowsTheIdsAndCountsReferences) {
    TestCounter* object = new TestCounter;
    ITestCounter* counter = nullptr;
    ASSERT_EQ(object->QueryInterface(IID_PPV_ARGS(&counter)), S_OK);
    IUnknown* unknown = nullptr;
    ASSERT_EQ(counter->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)), S_OK);
    EXPECT_EQ(static_cast<IUnknown*>(counter), unknown);

    void* none = reinterpret_cast<void*>(1);
    EXPECT_EQ(counter->QueryInterface(IID_IErrorInfo, &none), E_NOINTERFACE);
    EXPECT_EQ(none, nullptr);

    EXPECT_EQ(counter->AddRef(), 4u);
    EXPECT_EQ(counter->Release(), 3u);
    unknown->Release();
    counter->Release();
    EXPECT_EQ(g_liveTestObjects, 1);
    EXPECT_EQ(object->Release(), 0u);
}

TEST_F(ComClassTable, CreatesRegisteredClassesUntilRevoked) {
    auto* factory = new TestCounterFactory;
    DWORD cookie = 0;
    ASSERT_EQ(CoRegisterClassObject(CLSID_TestCounter, factory, CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE, &cookie), S_OK);
    EXPECT_NE(cookie, 0u);
    // The table holds its own reference: the creator's release keeps the factory alive.
    factory->Release();
    EXPECT_EQ(g_liveTestObjects, 1);

    // A multiple-use local server also serves requests from its own process.
    for (DWORD context : {CLSCTX_LOCAL_SERVER, CLSCTX_INPROC_SERVER, CLSCTX_ALL}) {
        ITestCounter* counter = nullptr;
        ASSERT_EQ(CoCreateInstance(CLSID_TestCounter, nullptr, context, IID_PPV_ARGS(&counter)), S_OK) << context;
        EXPECT_EQ(counter->Next(), 1);
        counter->Release();
    }
    IClassFactory* classObject = nullptr;
    ASSERT_EQ(CoGetClassObject(CLSID_TestCounter, CLSCTX_ALL, nullptr, IID_PPV_ARGS(&classObject)), S_OK);
    classObject->Release();

    ASSERT_EQ(CoRevokeClassObject(cookie), S_OK);
    EXPECT_EQ(g_liveTestObjects, 0);
    EXPECT_EQ(CoRevokeClassObject(cookie), CO_E_OBJNOTREG);
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(CoCreateInstance(CLSID_TestCounter, nullptr, CLSCTX_ALL, IID_ITestCounter, &object), REGDB_E_CLASSNOTREG);
    EXPECT_EQ(object, nullptr);
}

TEST_F(ComClassTable, RefusesWhatItCannotServe) {
    auto* factory = new TestCounterFactory;
    DWORD cookie = 0;
    ASSERT_EQ(CoRegisterClassObject(CLSID_TestCounter, factory, CLSCTX_INPROC_SERVER, REGCLS_MULTI_SEPARATE, &cookie),
              S_OK);
    DWORD second = 0;
    EXPECT_EQ(CoRegisterClassObject(CLSID_TestCounter, factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &second),
              CO_E_OBJISREG);
    EXPECT_EQ(second, 0u);
    EXPECT_EQ(CoRegisterClassObject(CLSID_TestCounter, nullptr, CLSCTX_ALL, REGCLS_MULTIPLEUSE, &second), E_INVALIDARG);

    void* object = nullptr;
    // A multi-separate registration serves only the context it names.
    EXPECT_EQ(CoCreateInstance(CLSID_TestCounter, nullptr, CLSCTX_LOCAL_SERVER, IID_ITestCounter, &object),
              REGDB_E_CLASSNOTREG);
    EXPECT_EQ(CoCreateInstance(CLSID_Unregistered, nullptr, CLSCTX_ALL, IID_ITestCounter, &object), REGDB_E_CLASSNOTREG);
    auto* outer = new TestCounter;
    EXPECT_EQ(CoCreateInstance(CLSID_TestCounter, outer, CLSCTX_ALL, IID_ITestCounter, &object), CLASS_E_NOAGGREGATION);
    outer->Release();
    EXPECT_EQ(CoCreateInstance(CLSID_TestCounter, nullptr, CLSCTX_ALL, IID_IErrorInfo, &object), E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);

    factory->Release();
    EXPECT_EQ(CoRevokeClassObject(cookie), S_OK);
}

TEST_F(ComClassTable, SingleUseObjectServesOnce) {
    auto* factory = new TestCounterFactory;
    DWORD cookie = 0;
    ASSERT_EQ(CoRegisterClassObject(CLSID_TestCounter, factory, CLSCTX_INPROC_SERVER, REGCLS_SINGLEUSE, &cookie), S_OK);
    factory->Release();
    ITestCounter* counter = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_TestCounter, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&counter)), S_OK);
    counter->Release();
    EXPECT_EQ(CoCreateInstance(CLSID_TestCounter, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&counter)),
              REGDB_E_CLASSNOTREG);
    EXPECT_EQ(CoRevokeClassObject(cookie), S_OK);
}

TEST_F(ComClassTable, UnknownLocalClassGoesToTheOutOfProcessActivator) {
    int calls = 0;
    platform::set_out_of_process_activator([&](REFCLSID clsid, DWORD clsctx, REFIID riid, void** ppv) {
        ++calls;
        EXPECT_EQ(clsid, CLSID_TestCounter);
        EXPECT_TRUE(clsctx & CLSCTX_LOCAL_SERVER);
        auto* factory = new TestCounterFactory;
        const HRESULT hr = factory->QueryInterface(riid, ppv);
        factory->Release();
        return hr;
    });
    void* object = nullptr;
    EXPECT_EQ(CoCreateInstance(CLSID_TestCounter, nullptr, CLSCTX_INPROC_SERVER, IID_ITestCounter, &object),
              REGDB_E_CLASSNOTREG);
    EXPECT_EQ(calls, 0);
    ITestCounter* counter = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_TestCounter, nullptr, CLSCTX_ALL, IID_PPV_ARGS(&counter)), S_OK);
    EXPECT_EQ(calls, 1);
    counter->Release();

    // A class the process serves itself never leaves the process.
    auto* factory = new TestCounterFactory;
    DWORD cookie = 0;
    ASSERT_EQ(CoRegisterClassObject(CLSID_TestCounter, factory, CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE, &cookie), S_OK);
    factory->Release();
    ASSERT_EQ(CoCreateInstance(CLSID_TestCounter, nullptr, CLSCTX_LOCAL_SERVER, IID_PPV_ARGS(&counter)), S_OK);
    counter->Release();
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(CoRevokeClassObject(cookie), S_OK);
}

TEST_F(ComClassTable, ConcurrentRegistrationActivationAndRevocation) {
    // Each thread owns one class id; all share the table with readers of a
    // common class.
    auto* shared = new TestCounterFactory;
    DWORD sharedCookie = 0;
    ASSERT_EQ(CoRegisterClassObject(CLSID_TestCounter, shared, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &sharedCookie),
              S_OK);
    shared->Release();

    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t, &failures] {
            CLSID own = CLSID_TestCounter;
            own.Data4[7] = static_cast<BYTE>(0x80 + t);
            for (int i = 0; i < 200; ++i) {
                auto* factory = new TestCounterFactory;
                DWORD cookie = 0;
                if (CoRegisterClassObject(own, factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie) != S_OK)
                    ++failures;
                factory->Release();
                for (const CLSID& clsid : {own, CLSID_TestCounter}) {
                    ITestCounter* counter = nullptr;
                    if (CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&counter)) != S_OK)
                        ++failures;
                    else counter->Release();
                }
                if (CoRevokeClassObject(cookie) != S_OK) ++failures;
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(CoRevokeClassObject(sharedCookie), S_OK);
}

}  // namespace
