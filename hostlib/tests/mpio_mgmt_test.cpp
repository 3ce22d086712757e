#include <hostlib/mpio_mgmt.h>

#include <gtest/gtest.h>

#include <functional>

#include "mpio_fixture.h"

namespace {

using mpio_test::healthy_host;
using mpio_test::json;
using mpio_test::MpioTest;

constexpr HRESULT kNotSupported = static_cast<HRESULT>(0x80042400);

// A host whose MPIO names another maker's DSM only.
json other_vendors_dsm() {
    json host = healthy_host();
    host["classes"]["MPIO_CONTROLLER_CONFIGURATION"]["instances"][0]["ControllerInfo"][0]["AssociatedDsm"] =
        "Contoso Device Specific Module";
    return host;
}

json without(json host, const char* className) {
    host["classes"].erase(className);
    return host;
}

// Each operation that opens WMI, by name.
struct Operation {
    const char* name;
    std::function<HRESULT(CMpioMgmt&)> call;
};

std::vector<Operation> every_wmi_operation() {
    return {
        {"MpioIsInstalled", [](CMpioMgmt& m) { BOOL installed = TRUE; return m.MpioIsInstalled(&installed); }},
        {"MpioGetDsmId", [](CMpioMgmt& m) { ULONGLONG id = 0; return m.MpioGetDsmId(&id); }},
        {"MpioGetPathId", [](CMpioMgmt& m) { ULONGLONG id = 0; return m.MpioGetPathId(3, &id); }},
        {"MpioSetPathStatus", [](CMpioMgmt& m) { return m.MpioSetPathStatus(3, 1); }},
        {"MpioGetPathPolicy",
         [](CMpioMgmt& m) {
             BOOL primary = FALSE;
             ULONG weight = 0;
             return m.MpioGetPathPolicy(30000001, &primary, &weight);
         }},
        {"MpioSetPathPolicy", [](CMpioMgmt& m) { return m.MpioSetPathPolicy(30000001, TRUE, 70); }},
    };
}

TEST_F(MpioTest, InstalledWhenMpioHasTheDsmOrTheDeviceListNamesIt) {
    const struct {
        const char* what;
        json host;
        std::vector<std::u16string> deviceList;  // empty: no value
        HRESULT result;
    } cases[] = {
        {"the maker's DSM", healthy_host(), {}, S_OK},
        {"the iSCSI DSM",
         [] {
             json host = other_vendors_dsm();
             host["classes"]["MPIO_CONTROLLER_CONFIGURATION"]["instances"][0]["ControllerInfo"][0]["AssociatedDsm"] =
                 "Microsoft iSCSI DSM";
             return host;
         }(),
         {}, S_OK},
        {"iSCSI bus type listed", other_vendors_dsm(), {u"Vendor  Disk", u"MSFT2005iSCSIBusType_0x9"}, S_OK},
        {"maker's LUN listed with more after it", other_vendors_dsm(), {u"KORVEX  LUN     0001"}, S_OK},
        {"other maker's LUN listed", other_vendors_dsm(), {u"QTX     LUN"}, S_OK},
        {"one blank too few", other_vendors_dsm(), {u"KORVEX LUN"}, kNotSupported},
        {"no device list", other_vendors_dsm(), {}, kNotSupported},
        {"MPIO missing", without(healthy_host(), "MPIO_CONTROLLER_CONFIGURATION"), {u"KORVEX  LUN"}, kNotSupported},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        serve(c.host);
        if (!c.deviceList.empty()) supported_devices(c.deviceList);
        CMpioMgmt mpio;
        BOOL installed = c.result == S_OK ? FALSE : TRUE;
        EXPECT_EQ(mpio.MpioIsInstalled(&installed), c.result);
        EXPECT_EQ(installed, c.result == S_OK ? TRUE : FALSE);
    }
}

TEST_F(MpioTest, UnreachableWmiFailsEveryOperation) {
    no_fixture();
    const host_adapter_test::TraceCapture trace(m_dir / "trace.log");
    for (const Operation& op : every_wmi_operation()) {
        CMpioMgmt mpio;
        EXPECT_EQ(op.call(mpio), E_FAIL) << op.name;
    }
    EXPECT_TRUE(trace.has("CMpioMgmt::MpioGetPathId, ERROR: Error initializing WMI (8). "));
    EXPECT_TRUE(trace.has("CMpioMgmt::MpioGetDsmId, ERROR: InitializeWMI FAILED ret=8."));
    EXPECT_TRUE(trace.has("CMpioMgmt::InitializeWMI, Namespace: root\\wmi (8004100e)"));
}

TEST_F(MpioTest, MissingMpioIsNotSupportedAndNothingElseIsAsked) {
    serve(without(healthy_host(), "MPIO_CONTROLLER_CONFIGURATION"));
    const host_adapter_test::TraceCapture trace(m_dir / "trace.log");
    for (const Operation& op : every_wmi_operation()) {
        CMpioMgmt mpio;
        platform::wmi_reset();
        EXPECT_EQ(op.call(mpio), kNotSupported) << op.name;
        const auto enumerations = logged("CreateInstanceEnum");
        ASSERT_EQ(enumerations.size(), 1u) << op.name;
        EXPECT_EQ(enumerations[0].target, "MPIO_CONTROLLER_CONFIGURATION");
        EXPECT_TRUE(logged("ExecMethod").empty() && logged("PutInstance").empty()) << op.name;
        ULONG status = 7;
        EXPECT_EQ(mpio.MpioGetPathStatus(&status), S_OK);
        EXPECT_EQ(status, 0u);
    }
    EXPECT_TRUE(trace.has("CMpioMgmt::MpioGetPathId, WARN: Either MPIO or DSM is not installed."));
}

TEST_F(MpioTest, TheDsmIdIsReadAsAnIntegerOrAs64BitText) {
    const struct {
        json value;
        HRESULT result;
        ULONGLONG id;
    } cases[] = {
        {305419896, S_OK, 305419896},
        {-2, S_OK, 0xFFFFFFFFFFFFFFFEull},
        {{{"$uint64", "81985529216486895"}}, S_OK, 0x0123456789ABCDEFull},
        {0, E_FAIL, 0},
        {"not a number", E_FAIL, 77},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value.dump());
        json host = healthy_host();
        host["classes"]["DSM_QueryUniqueId"]["instances"][0]["DsmUniqueId"] = c.value;
        serve(host);
        CMpioMgmt mpio;
        ULONGLONG id = 77;
        EXPECT_EQ(mpio.MpioGetDsmId(&id), c.result);
        EXPECT_EQ(id, c.id);
    }
}

TEST_F(MpioTest, PathLookupTakesTheLastEntryOfThePortAcrossDisks) {
    serve(healthy_host());
    CMpioMgmt mpio;
    ULONGLONG pathId = 0;
    EXPECT_EQ(mpio.MpioGetPathId(4, &pathId), 3) << "two MPIO disks: the disk count's status";
    EXPECT_EQ(pathId, 30000001u) << "a 32-bit path identifier counts as well";
    EXPECT_EQ(mpio.MpioGetPathId(3, &pathId), 3);
    EXPECT_EQ(pathId, 4294967297u) << "the last matching entry wins";
    pathId = 99;
    EXPECT_EQ(mpio.MpioGetPathId(9, &pathId), 3);
    EXPECT_EQ(pathId, 99u) << "no entry on the port: the output keeps its value";
    ULONG status = 7;
    EXPECT_EQ(mpio.MpioGetPathStatus(&status), S_OK);
    EXPECT_EQ(status, 0u);
}

TEST_F(MpioTest, PathLookupSeesDescriptorsBeyondTheDiskCountWithoutOverrun) {
    json host = healthy_host();
    host["classes"]["MPIO_DISK_INFO"]["instances"][0]["NumberDrives"] = 1;
    host["classes"]["MPIO_DISK_INFO"]["instances"][0]["DriveInfo"].erase(1);
    // A descriptor claiming more PDOs than a record holds, with more objects too.
    json& many = host["classes"]["MPIO_GET_DESCRIPTOR"]["instances"][1];
    many["NumberPdos"] = 40;
    for (int i = 0; i < 38; ++i) many["PdoInformation"].push_back(many["PdoInformation"][0]);
    serve(host);
    CMpioMgmt mpio;
    ULONGLONG pathId = 0;
    EXPECT_EQ(mpio.MpioGetPathId(3, &pathId), S_OK) << "one MPIO disk";
    EXPECT_EQ(pathId, 4294967297u);
}

TEST_F(MpioTest, ABogusDiskCountSizesNoList) {
    json host = healthy_host();
    host["classes"]["MPIO_DISK_INFO"]["instances"][0]["NumberDrives"] = 4294967295u;
    serve(host);
    CMpioMgmt mpio;
    ULONGLONG pathId = 0;
    EXPECT_EQ(mpio.MpioGetPathId(4, &pathId), 3);
    EXPECT_EQ(pathId, 30000001u);
    BOOL primary = FALSE;
    ULONG weight = 0;
    EXPECT_EQ(mpio.MpioGetPathPolicy(4294967297u, &primary, &weight), 3);
    EXPECT_EQ(weight, 20u);
    EXPECT_EQ(mpio.MpioSetPathPolicy(4294967297u, TRUE, 30), 3);
}

TEST_F(MpioTest, PathStatusCallsTheDsmMethodWithThePortsPath) {
    const struct {
        const char* what;
        ULONG port;
        ULONG status;
        const char* method;
        json returnCode;
        HRESULT result;
        LONG pathId;
    } cases[] = {
        {"make active", 4, 0, "KVXDsmMakeActivePath", 0, S_OK, 30000001},
        {"disable, low 32 bits of a 64-bit id", 3, 1, "KVXDsmDisablePath", 0, S_OK, 1},
        {"make passive", 4, 2, "KVXDsmMakePassivePath", 0, S_OK, 30000001},
        {"the DSM's code is the result", 4, 1, "KVXDsmDisablePath", 5, 5, 30000001},
        {"a negative code fails", 4, 0, "KVXDsmMakeActivePath", -5, E_FAIL, 30000001},
        {"a port without a path", 9, 1, "KVXDsmDisablePath", 0, S_OK, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        json host = healthy_host();
        host["classes"]["KVXDSM_WMI_METHODS"]["methods"][c.method]["out"]["ReturnCode"] = c.returnCode;
        serve(host);
        platform::wmi_reset();
        CMpioMgmt mpio;
        EXPECT_EQ(mpio.MpioSetPathStatus(c.port, c.status), c.result);
        const auto calls = logged("ExecMethod");
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_EQ(calls[0].target, "KVXDSM_WMI_METHODS.InstanceName=\"Root\\\\MPIO\\\\0000_0\"");
        const json detail = json::parse(calls[0].detail);
        EXPECT_EQ(detail["method"], c.method);
        EXPECT_EQ(detail["in"]["DsmPathId"], c.pathId);
    }
}

TEST_F(MpioTest, AnUnknownPathStatusCallsNoMethod) {
    serve(healthy_host());
    CMpioMgmt mpio;
    EXPECT_EQ(mpio.MpioSetPathStatus(4, 3), E_INVALIDARG);
    EXPECT_TRUE(logged("ExecMethod").empty());
}

TEST_F(MpioTest, PolicyIsReadFromTheLastInstanceListingThePath) {
    serve(healthy_host());
    CMpioMgmt mpio;
    BOOL primary = FALSE;
    ULONG weight = 0;
    EXPECT_EQ(mpio.MpioGetPathPolicy(30000001, &primary, &weight), 3);
    EXPECT_EQ(primary, TRUE);
    EXPECT_EQ(weight, 100u) << "a weight of -1 reads as 100";
    EXPECT_EQ(mpio.MpioGetPathPolicy(4294967297u, &primary, &weight), 3);
    EXPECT_EQ(primary, FALSE);
    EXPECT_EQ(weight, 20u);
    primary = TRUE;
    weight = 55;
    EXPECT_EQ(mpio.MpioGetPathPolicy(30000000, &primary, &weight), 3) << "listed in the first instance only";
    EXPECT_EQ(primary, TRUE);
    EXPECT_EQ(weight, 55u);
}

TEST_F(MpioTest, PolicyChangeIsWrittenBackToEveryInstanceListingThePath) {
    serve(healthy_host());
    CMpioMgmt mpio;
    EXPECT_EQ(mpio.MpioSetPathPolicy(30000001, FALSE, 70), 3);
    const auto puts = logged("PutInstance");
    ASSERT_EQ(puts.size(), 2u);
    for (size_t i = 0; i < puts.size(); ++i) {
        EXPECT_EQ(puts[i].target, "DSM_QueryLBPolicy");
        const json paths = json::parse(puts[i].detail)["instance"]["LoadBalancePolicy"]["DSM_Paths"];
        EXPECT_EQ(paths[1]["PathWeight"], 70) << i;
        EXPECT_EQ(paths[1]["PrimaryPath"], false) << i;
        EXPECT_EQ(paths[0], healthy_host()["classes"]["DSM_QueryLBPolicy"]["instances"][i]["LoadBalancePolicy"]
                                          ["DSM_Paths"][0])
            << "the other path stays as it was";
    }
    BOOL primary = TRUE;
    ULONG weight = 0;
    EXPECT_EQ(mpio.MpioGetPathPolicy(30000001, &primary, &weight), 3);
    EXPECT_EQ(primary, FALSE);
    EXPECT_EQ(weight, 70u);
}

TEST_F(MpioTest, PolicyChangeThatIsNotMadeIsNotASuccess) {
    serve(healthy_host());
    CMpioMgmt mpio;
    EXPECT_EQ(mpio.MpioSetPathPolicy(12345, TRUE, 70), E_FAIL) << "no instance lists the path";
    EXPECT_TRUE(logged("PutInstance").empty());

    json refusing = healthy_host();
    refusing["classes"]["DSM_QueryLBPolicy"]["fail"]["PutInstance"] = 0x8004100C;
    serve(refusing);
    EXPECT_EQ(mpio.MpioSetPathPolicy(30000001, TRUE, 70), E_FAIL) << "WMI refused the write";
    BOOL primary = FALSE;
    ULONG weight = 0;
    EXPECT_EQ(mpio.MpioGetPathPolicy(30000001, &primary, &weight), 3);
    EXPECT_EQ(weight, 100u);
}

}  // namespace
