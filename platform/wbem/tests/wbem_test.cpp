#include <platform/wbem.h>

#include <platform/safearray.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>

#include <platform/com_scoped.h>

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

template <typename T>
using Ref = platform::com_unique_ptr<T>;

using Bstr = platform::ScopedBstr;
using Variant = platform::ScopedVariant;

std::u16string text_of(const VARIANT& v) { return v.vt == VT_BSTR ? std::u16string(v.bstrVal) : u"<not text>"; }

const char* const kFixture = R"({
  "classes": {
    "DSM_QueryLBPolicy": { "instances": [
      { "InstanceName": "MPIO\\Disk&Ven_KORVEX\\1_0",
        "LoadBalancePolicy": { "Version": 1,
          "DSM_Paths": [ { "DsmPathId": { "$uint64": "8589934593" }, "PathWeight": -1, "PrimaryPath": true } ] },
        "Bytes": { "$uint8[]": [1, 2, 255] }, "Small": { "$uint8": 7 }, "Nothing": null } ] },
    "KVXDSM_WMI_METHODS": {
      "instances": [ { "InstanceName": "Root\\MPIO\\0000_0" } ],
      "methods": { "KVXDsmDisablePath": { "in": { "DsmPathId": "uint32" }, "out": { "ReturnCode": 5 } } } }
  } })";

class WmiStandIn : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "sanprov-wmi-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        m_dir = pattern;
        platform::wmi_reset();
    }
    void TearDown() override {
        unsetenv("SANPROV_WMI_FIXTURE");
        platform::wmi_reset();
        fs::remove_all(m_dir);
    }

    void serve(const std::string& text) {
        const fs::path file = m_dir / "wmi.json";
        std::ofstream(file) << text;
        setenv("SANPROV_WMI_FIXTURE", file.c_str(), 1);
    }

    HRESULT connect(Ref<IWbemServices>& services, const WCHAR* ns = u"root\\wmi") {
        IWbemLocator* locator = nullptr;
        HRESULT hr = CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&locator));
        EXPECT_EQ(hr, S_OK);
        Ref<IWbemLocator> held(locator);
        IWbemServices* raw = nullptr;
        hr = locator ? locator->ConnectServer(Bstr(ns), nullptr, nullptr, nullptr, 0, nullptr, nullptr, &raw) : hr;
        services.reset(raw);
        return hr;
    }

    static Ref<IWbemClassObject> first_instance(IWbemServices* services, const WCHAR* className) {
        IEnumWbemClassObject* rawEnum = nullptr;
        EXPECT_EQ(services->CreateInstanceEnum(Bstr(className), 0x31, nullptr, &rawEnum), WBEM_S_NO_ERROR);
        Ref<IEnumWbemClassObject> enumerator(rawEnum);
        IWbemClassObject* object = nullptr;
        ULONG returned = 0;
        if (enumerator) {
            EXPECT_EQ(enumerator->Next(WBEM_INFINITE, 1, &object, &returned), WBEM_S_NO_ERROR);
        }
        return Ref<IWbemClassObject>(object);
    }

    fs::path m_dir;
};

TEST_F(WmiStandIn, WithoutFixtureConnectingFailsAsAnUnreachableWmi) {
    Ref<IWbemServices> services;
    EXPECT_EQ(connect(services), WBEM_E_UNREACHABLE);
    EXPECT_EQ(services, nullptr);
    serve("{ not json");
    EXPECT_EQ(connect(services), WBEM_E_FAILED);
    serve(kFixture);
    EXPECT_EQ(connect(services, u"root\\cimv2"), WBEM_E_INVALID_NAMESPACE);
    EXPECT_EQ(connect(services, u"\\\\.\\ROOT\\WMI"), S_OK);

    const auto log = platform::wmi_log();
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[0].call, "ConnectServer");
    EXPECT_EQ(log[0].target, "root\\wmi");
    EXPECT_EQ(log[0].result, WBEM_E_UNREACHABLE);
}

TEST_F(WmiStandIn, ValuesComeInWmiForms) {
    serve(kFixture);
    Ref<IWbemServices> services;
    ASSERT_EQ(connect(services), S_OK);
    Ref<IWbemClassObject> instance = first_instance(services.get(), u"DSM_QueryLBPolicy");
    ASSERT_NE(instance, nullptr);

    Variant bytes, small, nothing, policy;
    CIMTYPE type = 0;
    ASSERT_EQ(instance->Get(u"Bytes", 0, &bytes.v, &type, nullptr), S_OK);
    EXPECT_EQ(bytes.v.vt, VT_ARRAY | VT_UI1);
    EXPECT_EQ(type, CIM_UINT8 | CIM_FLAG_ARRAY);
    LONG upper = 0, index = 2;
    BYTE last = 0;
    ASSERT_EQ(SafeArrayGetUBound(bytes.v.parray, 1, &upper), S_OK);
    EXPECT_EQ(upper, 2);
    ASSERT_EQ(SafeArrayGetElement(bytes.v.parray, &index, &last), S_OK);
    EXPECT_EQ(last, 255);
    ASSERT_EQ(instance->Get(u"small", 0, &small.v, nullptr, nullptr), S_OK) << "names are case-insensitive";
    EXPECT_EQ(small.v.vt, VT_UI1);
    EXPECT_EQ(small.v.bVal, 7);
    ASSERT_EQ(instance->Get(u"Nothing", 0, &nothing.v, nullptr, nullptr), S_OK);
    EXPECT_EQ(nothing.v.vt, VT_NULL);
    Variant missing;
    EXPECT_EQ(instance->Get(u"NoSuchProperty", 0, &missing.v, nullptr, nullptr), WBEM_E_NOT_FOUND);

    ASSERT_EQ(instance->Get(u"LoadBalancePolicy", 0, &policy.v, &type, nullptr), S_OK);
    ASSERT_EQ(policy.v.vt, VT_UNKNOWN);
    EXPECT_EQ(type, CIM_OBJECT);
    IWbemClassObject* embedded = nullptr;
    ASSERT_EQ(policy.v.punkVal->QueryInterface(IID_PPV_ARGS(&embedded)), S_OK);
    Ref<IWbemClassObject> lb(embedded);
    Variant paths;
    ASSERT_EQ(lb->Get(u"DSM_Paths", 0, &paths.v, &type, nullptr), S_OK);
    EXPECT_EQ(paths.v.vt, VT_ARRAY | VT_UNKNOWN);
    index = 0;
    IUnknown* element = nullptr;
    ASSERT_EQ(SafeArrayGetElement(paths.v.parray, &index, &element), S_OK);
    IWbemClassObject* path = nullptr;
    ASSERT_EQ(element->QueryInterface(IID_PPV_ARGS(&path)), S_OK);
    element->Release();
    Ref<IWbemClassObject> dsmPath(path);

    Variant id, weight, primary;
    ASSERT_EQ(dsmPath->Get(u"DsmPathId", 0, &id.v, &type, nullptr), S_OK);
    EXPECT_EQ(text_of(id.v), u"8589934593") << "64-bit integers come as decimal text";
    EXPECT_EQ(type, CIM_UINT64);
    ASSERT_EQ(dsmPath->Get(u"PathWeight", 0, &weight.v, nullptr, nullptr), S_OK);
    EXPECT_EQ(weight.v.vt, VT_I4);
    EXPECT_EQ(weight.v.lVal, -1);
    ASSERT_EQ(dsmPath->Get(u"PrimaryPath", 0, &primary.v, nullptr, nullptr), S_OK);
    EXPECT_EQ(primary.v.vt, VT_BOOL);
    EXPECT_EQ(primary.v.boolVal, VARIANT_TRUE);
}

TEST_F(WmiStandIn, AnUnknownClassFailsAtEnumeration) {
    serve(kFixture);
    Ref<IWbemServices> services;
    ASSERT_EQ(connect(services), S_OK);
    IEnumWbemClassObject* enumerator = nullptr;
    EXPECT_EQ(services->CreateInstanceEnum(Bstr(u"MPIO_DISK_INFO"), 0x31, nullptr, &enumerator),
              static_cast<HRESULT>(0x80041010));
    EXPECT_EQ(enumerator, nullptr);
    IWbemClassObject* object = nullptr;
    EXPECT_EQ(services->GetObject(Bstr(u"MPIO_DISK_INFO"), 0, nullptr, &object, nullptr), WBEM_E_INVALID_CLASS);
    const auto log = platform::wmi_log();
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[log.size() - 2].call, "CreateInstanceEnum");
    EXPECT_EQ(log[log.size() - 2].target, "MPIO_DISK_INFO");
}

TEST_F(WmiStandIn, ObjectsAreCopiesAndOnlyPutInstanceWritesBack) {
    serve(kFixture);
    Ref<IWbemServices> services;
    ASSERT_EQ(connect(services), S_OK);
    Ref<IWbemClassObject> instance = first_instance(services.get(), u"DSM_QueryLBPolicy");
    ASSERT_NE(instance, nullptr);

    Variant weight;
    weight.v.vt = VT_I4;
    weight.v.lVal = 60;
    EXPECT_EQ(instance->Put(u"Small", 0, &weight.v, 0), S_OK);
    Variant text;
    text.v.vt = VT_BSTR;
    text.v.bstrVal = SysAllocString(u"x");
    EXPECT_EQ(instance->Put(u"Small", 0, &text.v, 0), WBEM_E_TYPE_MISMATCH);
    EXPECT_EQ(instance->Put(u"NotAProperty", 0, &weight.v, 0), WBEM_E_NOT_FOUND);

    Variant unchanged;
    ASSERT_EQ(first_instance(services.get(), u"DSM_QueryLBPolicy")->Get(u"Small", 0, &unchanged.v, nullptr, nullptr),
              S_OK);
    EXPECT_EQ(unchanged.v.vt, VT_UI1) << "a change to a copy does not reach the namespace";

    ASSERT_EQ(services->PutInstance(instance.get(), WBEM_FLAG_UPDATE_ONLY, nullptr, nullptr), S_OK);
    Ref<IWbemServices> again;
    ASSERT_EQ(connect(again), S_OK);
    Variant changed;
    ASSERT_EQ(first_instance(again.get(), u"DSM_QueryLBPolicy")->Get(u"Small", 0, &changed.v, nullptr, nullptr), S_OK);
    EXPECT_EQ(changed.v.vt, VT_I4);
    EXPECT_EQ(changed.v.lVal, 60);

    const auto log = platform::wmi_log();
    auto put = std::find_if(log.begin(), log.end(), [](const auto& e) { return e.call == "PutInstance"; });
    ASSERT_NE(put, log.end());
    EXPECT_EQ(put->target, "DSM_QueryLBPolicy");
    const json detail = json::parse(put->detail);
    EXPECT_EQ(detail["instance"]["Small"], 60);
    EXPECT_EQ(detail["instance"]["LoadBalancePolicy"]["DSM_Paths"][0]["DsmPathId"]["$uint64"], "8589934593");
}

TEST_F(WmiStandIn, MethodsCheckTheirInputsAnswerFromTheFixtureAndAreLogged) {
    serve(kFixture);
    Ref<IWbemServices> services;
    ASSERT_EQ(connect(services), S_OK);
    IWbemClassObject* raw = nullptr;
    ASSERT_EQ(services->GetObject(Bstr(u"KVXDSM_WMI_METHODS"), 0, nullptr, &raw, nullptr), S_OK);
    Ref<IWbemClassObject> cls(raw);
    IWbemClassObject* inSignature = nullptr;
    ASSERT_EQ(cls->GetMethod(u"KVXDsmDisablePath", 0, &inSignature, nullptr), S_OK);
    Ref<IWbemClassObject> signature(inSignature);
    ASSERT_NE(signature, nullptr);
    IWbemClassObject* rawIn = nullptr;
    ASSERT_EQ(signature->SpawnInstance(0, &rawIn), S_OK);
    Ref<IWbemClassObject> in(rawIn);

    const Bstr path(u"KVXDSM_WMI_METHODS.InstanceName=\"Root\\\\MPIO\\\\0000_0\"");
    const Bstr method(u"KVXDsmDisablePath");
    IWbemClassObject* out = nullptr;
    EXPECT_EQ(services->ExecMethod(path, method, 0, nullptr, in.get(), &out, nullptr), WBEM_E_INVALID_METHOD_PARAMETERS);
    Variant id;
    id.v.vt = VT_I4;
    id.v.lVal = 0x77010002;
    ASSERT_EQ(in->Put(u"DsmPathId", 0, &id.v, CIM_UINT32), S_OK);
    ASSERT_EQ(services->ExecMethod(path, method, 0, nullptr, in.get(), &out, nullptr), S_OK);
    Ref<IWbemClassObject> outputs(out);
    Variant code;
    ASSERT_NE(outputs, nullptr);
    ASSERT_EQ(outputs->Get(u"ReturnCode", 0, &code.v, nullptr, nullptr), S_OK);
    EXPECT_EQ(code.v.lVal, 5);

    const Bstr otherInstance(u"KVXDSM_WMI_METHODS.InstanceName=\"Root\\\\MPIO\\\\0001_0\"");
    EXPECT_EQ(services->ExecMethod(otherInstance, method, 0, nullptr, in.get(), &out, nullptr), WBEM_E_NOT_FOUND);
    EXPECT_EQ(services->ExecMethod(path, Bstr(u"KVXDsmNoSuchMethod"), 0, nullptr, in.get(), &out, nullptr),
              WBEM_E_INVALID_METHOD);

    const auto log = platform::wmi_log();
    auto call = std::find_if(log.begin(), log.end(),
                             [](const auto& e) { return e.call == "ExecMethod" && e.result == S_OK; });
    ASSERT_NE(call, log.end());
    EXPECT_EQ(call->target, "KVXDSM_WMI_METHODS.InstanceName=\"Root\\\\MPIO\\\\0000_0\"");
    const json detail = json::parse(call->detail);
    EXPECT_EQ(detail["method"], "KVXDsmDisablePath");
    EXPECT_EQ(detail["in"]["DsmPathId"], 0x77010002);
}

}  // namespace
