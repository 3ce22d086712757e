// Drives, controllers, controller ports and paths; the host's HBA ports
// through the fake HBA API library and its MPIO view through the WMI fixture.
#include <model/controller.h>
#include <model/controller_port.h>
#include <model/drive.h>
#include <model/filer_object_container.h>
#include <model/path.h>
#include <model/zarvo_san.h>

#include <platform/comalloc.h>
#include <platform/wbem.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fstream>
#include <stdexcept>

#include "container_test_support.h"

namespace {

using container_test::id_of;
using container_test::ScopedEnv;
using container_test::TraceCapture;
using json = nlohmann::ordered_json;

// ---- Drives -------------------------------------------------------------------

TEST(ZarvoDriveState, RaidStateGivesStatusHealthFlagsAndLiveness) {
    struct Case {
        int32_t raidState, raidType;
        VDS_DRIVE_STATUS status;
        VDS_HEALTH health;
        ULONG flags;
        ULONGLONG size;
        bool live;
    };
    const ULONGLONG g = 1ull << 30;
    const Case cases[] = {
        {1, 4, VDS_DRS_OFFLINE, VDS_H_HEALTHY, 0, g, false},   {2, 4, VDS_DRS_FAILED, VDS_H_FAILED, 0, g, false},
        {3, 4, VDS_DRS_NOT_READY, VDS_H_HEALTHY, 0, g, false}, {4, 4, VDS_DRS_ONLINE, VDS_H_HEALTHY, 1, g, false},
        {5, 4, VDS_DRS_NOT_READY, VDS_H_HEALTHY, 0, g, false}, {6, 4, VDS_DRS_ONLINE, VDS_H_HEALTHY, 0, g, true},
        {7, 4, VDS_DRS_ONLINE, VDS_H_HEALTHY, 0, g, true},     {7, 1, VDS_DRS_ONLINE, VDS_H_HEALTHY, 0, g, false},
        {0, 4, VDS_DRS_UNKNOWN, VDS_H_UNKNOWN, 0, 0, false},   {9, 4, VDS_DRS_UNKNOWN, VDS_H_UNKNOWN, 0, 0, false},
    };
    FilerObjectContainer container;
    for (const Case& c : cases) {
        fapi_disk_info_t d;
        d.name = u"0a.16";
        d.raid_state = c.raidState;
        d.raid_type = c.raidType;
        ZarvoDrive drive(&container, id_of(1), g, &d);
        DriveProperties p;
        EXPECT_EQ(drive.GetProperties(p), S_OK);
        SCOPED_TRACE(c.raidState);
        EXPECT_EQ(p.m_status, c.status);
        EXPECT_EQ(p.m_health, c.health);
        EXPECT_EQ(p.m_ulFlags, c.flags);
        EXPECT_EQ(p.m_ullSize, c.size);
        EXPECT_EQ(drive.m_ullFreeSpace, c.size);
        EXPECT_EQ(drive.IsLiveDataDisk(), c.live);
        EXPECT_EQ(p.m_strFriendlyName, u"0a.16");
    }
}

TEST(ZarvoDriveState, FreeSpaceIsNotAChangeButStatusIs) {
    FilerObjectContainer a, b;
    fapi_disk_info_t d;
    d.raid_state = 7;
    d.raid_type = 4;
    ZarvoDrive one(&a, id_of(1), 100, &d), two(&b, id_of(1), 100, &d);
    two.m_ullFreeSpace = 1;
    EXPECT_EQ(one.IsEqual(&two), 0);
    two.m_properties.m_status = VDS_DRS_OFFLINE;
    EXPECT_EQ(one.IsEqual(&two), 1);
    EXPECT_EQ(one.IsEqual(&a), E_FAIL);
    EXPECT_EQ(one.GetModifyType(), 8);
}

// ---- Controllers and ports ------------------------------------------------------

TEST(ZarvoControllerState, StatusFollowsTypeThenStateText) {
    struct Case {
        const char* type;
        const char* state;
        VDS_CONTROLLER_STATUS status;
    };
    const Case cases[] = {{"Partner", "offline", VDS_CS_ONLINE},  {"Local", "online", VDS_CS_ONLINE},
                          {"Local", "ONLINE", VDS_CS_ONLINE},     {"Local", "OFFLINE", VDS_CS_OFFLINE},
                          {"Local", "startup", VDS_CS_NOT_READY}, {"Local", "Startup", VDS_CS_OFFLINE},
                          {"Local", "Online", VDS_CS_OFFLINE},    {"Local", "", VDS_CS_OFFLINE}};
    for (const Case& c : cases) {
        fapi_fcp_adapter_info_t a;
        a.adapter_type = c.type;
        a.state = c.state;
        EXPECT_EQ(AdapterStatus(a), c.status) << c.type << "/" << c.state;
    }
}

TEST(ZarvoControllerState, APartnerAdapterNamedLikeALocalOneHasItsOwnKey) {
    fapi_fcp_adapter_info_t local, partner;
    local.adapter = partner.adapter = "0a";
    local.adapter_type = "Local";
    partner.adapter_type = "Partner";
    EXPECT_EQ(ControllerKey(local), "0a");
    EXPECT_NE(ControllerKey(partner), ControllerKey(local));
}

TEST(ZarvoControllerState, ThePartnerSwitchIsUndoneOnEveryWayOut) {
    FilerObjectContainer container;
    container.m_filerName = u"filer1";
    container.m_partnerName = u"filer2";
    container.m_partnerAddress = u"filer2.lab";  // the name discovery validated the partner by
    container.SetFacadeFiler(u"filer1");
    try {
        PartnerFacadeSwitch facade(container, "Test");
        facade.SwitchToPartner();
        EXPECT_EQ(container.m_filerControl.m_strFilerName, u"filer2.lab");
        throw std::runtime_error("appliance gone");
    } catch (const std::runtime_error&) {
    }
    EXPECT_EQ(container.m_filerControl.m_strFilerName, u"filer1");
    {
        PartnerFacadeSwitch unused(container, "Test");  // never switched: nothing to undo
        container.m_filerControl.m_strFilerName = u"other";
    }
    EXPECT_EQ(container.m_filerControl.m_strFilerName, u"other");
}

TEST(ZarvoControllerPortState, SetStatusKeepsKnownValuesAndIsNeverSupported) {
    FilerObjectContainer container;
    fapi_fcp_adapter_info_t a;
    a.adapter = "0c";
    a.node_name = "50:0a:09:80:00:00:5e:2a";
    a.adapter_type = "Local";
    a.state = "ONLINE";
    ZarvoControllerPort port(&container, id_of(1), &a, a.node_name + "1");
    VDS_PORT_PROP p{};
    port.GetProperties(p);
    EXPECT_EQ(std::u16string(p.pwszFriendlyName), u"50:0a:09:80:00:00:5e:2a1");
    EXPECT_EQ(std::u16string(p.pwszIdentification), u"50:0a:09:80:00:00:5e:2a");
    EXPECT_EQ(p.status, VDS_PRS_ONLINE);
    struct Case {
        LONG requested, kept;
    };
    const Case cases[] = {{4, 4}, {3, 4}, {0, 0}, {-1, 0}, {5, 5}, {2, 2}, {6, 2}, {1, 1}};
    for (const Case& c : cases) {
        EXPECT_EQ(port.SetStatus(c.requested), VDS_E_NOT_SUPPORTED);
        port.GetProperties(p);
        EXPECT_EQ(p.status, c.kept) << c.requested;
    }
    EXPECT_EQ(port.GetModifyType(), NotificationSet::InvalidType);
    EXPECT_EQ(port.GetArriveType(), 12);
}

// ---- Host HBA ports and MPIO ------------------------------------------------------

const char* const kHost = R"({
  "adapters": [
    { "name": "fake-2462-0", "node_wwn": "20000000c9a1b2c3",
      "ports": [
        { "node_wwn": "20000000c9a1b2c3", "port_wwn": "10000000c9a1b2c3", "type": 5, "state": 2,
          "speed": 8, "supported_speed": 11, "os_device_name": "/sys/class/scsi_host/host3" },
        { "node_wwn": "20000000c9a1b2c3", "port_wwn": "10000000c9a1b2c4", "type": 6, "state": 6,
          "speed": 0, "supported_speed": 11, "os_device_name": "/sys/class/scsi_host/host4" } ] },
    { "name": "fake-lpe-1", "node_wwn": "20000000c9ffee01",
      "ports": [
        { "node_wwn": "20000000c9ffee01", "port_wwn": "10000000c9ffee01", "type": 5, "state": 2,
          "speed": 16, "supported_speed": 28, "os_device_name": "\\\\.\\Scsi12:" } ] } ] })";

// One MPIO disk reached over SCSI ports 3 and 4; the DSM answers its methods.
json mpio_host(int returnCode = 0) {
    json host = json::parse(R"({ "classes": {
  "MPIO_CONTROLLER_CONFIGURATION": { "instances": [ {
      "InstanceName": "Root\\MPIO\\0000_0", "NumberControllers": 1,
      "ControllerInfo": [ { "AssociatedDsm": "Korvex Multi-Path Device Specific Module",
                            "ControllerState": 1, "IdentifierType": 1 } ] } ] },
  "MPIO_DISK_INFO": { "instances": [ {
      "InstanceName": "Root\\MPIO\\0000_0", "NumberDrives": 1,
      "DriveInfo": [ { "NumberPaths": 2, "Name": "MPIO Disk0",
                       "DsmName": "Korvex Multi-Path Device Specific Module", "SerialNumber": "C4e1" } ] } ] },
  "MPIO_GET_DESCRIPTOR": { "instances": [
      { "InstanceName": "MPIO\\Disk&Ven_KORVEX&Prod_LUN\\1&7f6ac24&0&3030_0", "NumberPdos": 2,
        "DeviceName": "MPIO Disk0",
        "PdoInformation": [
          { "PathIdentifier": { "$uint64": "30000000" },
            "ScsiAddress": { "PortNumber": { "$uint8": 3 }, "ScsiPathId": { "$uint8": 0 },
                             "TargetId": { "$uint8": 0 }, "Lun": { "$uint8": 0 } } },
          { "PathIdentifier": { "$uint64": "30000001" },
            "ScsiAddress": { "PortNumber": { "$uint8": 4 }, "ScsiPathId": { "$uint8": 0 },
                             "TargetId": { "$uint8": 1 }, "Lun": { "$uint8": 0 } } } ] } ] },
  "DSM_QueryUniqueId": { "instances": [ { "InstanceName": "Root\\MPIO\\0000_0", "DsmUniqueId": 305419896 } ] },
  "DSM_QueryLBPolicy": { "instances": [
      { "InstanceName": "MPIO\\Disk&Ven_KORVEX&Prod_LUN\\1&7f6ac24&0&3030_0",
        "LoadBalancePolicy": { "Version": 1, "LoadBalancePolicy": 1, "DSMPathCount": 2,
          "DSM_Paths": [
            { "DsmPathId": { "$uint64": "30000000" }, "PathWeight": 40, "PrimaryPath": false },
            { "DsmPathId": { "$uint64": "30000001" }, "PathWeight": 100, "PrimaryPath": true } ] } } ] },
  "KVXDSM_WMI_METHODS": {
      "instances": [ { "InstanceName": "Root\\MPIO\\0000_0", "Active": true } ],
      "methods": {
        "KVXDsmMakeActivePath": { "in": { "DsmPathId": "uint32" }, "out": { "ReturnCode": 0 } },
        "KVXDsmDisablePath": { "in": { "DsmPathId": "uint32" }, "out": { "ReturnCode": 0 } },
        "KVXDsmMakePassivePath": { "in": { "DsmPathId": "uint32" }, "out": { "ReturnCode": 0 } } } } } })");
    for (auto& [name, method] : host["classes"]["KVXDSM_WMI_METHODS"]["methods"].items())
        method["out"]["ReturnCode"] = returnCode;
    return host;
}

VDS_HBAPORT_PROP hba_port(const char* portWwnHex, const char* nodeWwnHex = "20000000c9a1b2c3") {
    VDS_HBAPORT_PROP port{};
    for (int i = 0; i < 8; ++i) {
        port.wwnPort.rguchWwn[i] = static_cast<UCHAR>(std::stoul(std::string(portWwnHex + 2 * i, 2), nullptr, 16));
        port.wwnNode.rguchWwn[i] = static_cast<UCHAR>(std::stoul(std::string(nodeWwnHex + 2 * i, 2), nullptr, 16));
    }
    return port;
}

class HostAdapterTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_dir = container_test::state_root() /
                (std::string("host-") + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(m_dir);
        m_library = std::make_unique<ScopedEnv>("SANPROV_LIB_HBAAPI", SANPROV_FAKE_HBAAPI);
        m_log = std::make_unique<ScopedEnv>("SANPROV_HBA_LOG", (m_dir / "hba-calls.log").string());
        serve_hba(kHost);
        platform::wmi_reset();
    }
    void TearDown() override {
        m_wmi.reset();
        platform::wmi_reset();
    }

    void serve_hba(const std::string& fixture) {
        std::ofstream(m_dir / "hba.json") << fixture;
        m_hba.reset();  // before the next one, which would otherwise be undone by it
        m_hba = std::make_unique<ScopedEnv>("SANPROV_HBA_FIXTURE", (m_dir / "hba.json").string());
    }
    void serve_wmi(const json& fixture) {
        std::ofstream(m_dir / "wmi.json") << fixture.dump(2);
        m_wmi.reset();
        m_wmi = std::make_unique<ScopedEnv>("SANPROV_WMI_FIXTURE", (m_dir / "wmi.json").string());
    }
    std::vector<std::string> wmi_calls(const std::string& call) const {
        std::vector<std::string> targets;
        for (const auto& entry : platform::wmi_log())
            if (entry.call == call) targets.push_back(entry.target + " " + entry.detail);
        return targets;
    }

    std::filesystem::path m_dir;
    std::unique_ptr<ScopedEnv> m_library, m_log, m_hba, m_wmi;
    FilerObjectContainer m_container;
};

TEST_F(HostAdapterTest, PortsAreNumberedAcrossAdaptersInBothForms) {
    HbaPortPropertiesMap properties;
    ASSERT_EQ(m_container.GetHBAPortAttributes(properties), S_OK);
    ASSERT_EQ(properties.size(), 3u);
    EXPECT_EQ(properties.at(1).wwnPort.rguchWwn[7], 0xc4);
    EXPECT_EQ(properties.at(1).status, 6);
    EXPECT_EQ(properties.at(2).wwnNode.rguchWwn[7], 0x01);
    EXPECT_EQ(properties.at(2).ulPortSpeed, 16u);
    EXPECT_EQ(properties.at(2).ulSupportedPortSpeed, 28u);

    HbaPortAttributesMap attributes;
    ASSERT_EQ(m_container.GetHBAPortAttributes(attributes), S_OK);
    ASSERT_EQ(attributes.size(), 3u);
    EXPECT_STREQ(attributes.at(0).OSDeviceName, "/sys/class/scsi_host/host3");
    EXPECT_STREQ(attributes.at(2).OSDeviceName, "\\\\.\\Scsi12:");
}

TEST_F(HostAdapterTest, AnAdapterThatWillNotOpenEndsTheWalk) {
    json host = json::parse(kHost);
    host["adapters"][0]["open"] = false;
    serve_hba(host.dump());
    HbaPortPropertiesMap ports;
    EXPECT_EQ(m_container.GetHBAPortAttributes(ports), E_FAIL);
    EXPECT_TRUE(ports.empty());
    for (const std::string& call : container_test::read_lines(m_dir / "hba-calls.log"))
        EXPECT_NE(call, "HBA_GetAdapterName 1") << "the next adapter was read";

    host["adapters"][0]["open"] = true;
    host["adapters"][1]["attributes_status"] = 1;
    serve_hba(host.dump());
    EXPECT_EQ(m_container.GetHBAPortAttributes(ports), E_FAIL);
    EXPECT_EQ(ports.size(), 2u) << "the ports read before stay";
}

TEST_F(HostAdapterTest, WithoutTheLibraryThereAreNoPorts) {
    ScopedEnv missing("SANPROV_LIB_HBAAPI", (m_dir / "no-such-library.so").string());
    HbaPortPropertiesMap ports;
    EXPECT_EQ(m_container.GetHBAPortAttributes(ports), E_FAIL);
    EXPECT_TRUE(ports.empty());
}

TEST(ZarvoPathText, PortNumberOfAnOsDeviceName) {
    struct Case {
        const char* name;
        ULONG number;
    };
    const Case cases[] = {{"\\\\.\\Scsi12:", 12}, {"\\\\.\\Scsi3:", 3},  {"\\\\.\\Scsi12", 0},
                          {"/sys/class/scsi_host/host7", 7}, {"/dev/sg0", 0}, {"", 0}};
    for (const Case& c : cases) {
        ULONG number = 99;
        EXPECT_EQ(ZarvoPath::GetPortNumber(c.name, number), S_OK);
        EXPECT_EQ(number, c.number) << c.name;
    }
    const BYTE wwn[8] = {0x50, 0x0a, 0x09, 0x81, 0x00, 0x0A, 0xff, 0x01};
    EXPECT_EQ(ZarvoPath::WwnMatchText(wwn), "50A9810AFF1");
}

TEST_F(HostAdapterTest, APathLearnsItsMpioStateFromTheMatchingHbaPort) {
    serve_wmi(mpio_host());
    ZarvoPath path(&m_container, id_of(1), hba_port("10000000c9a1b2c3"));
    EXPECT_EQ(path.GetScsiPortNumber(), 3u);
    EXPECT_EQ(path.GetStatus(), VDS_MPS_ONLINE) << "the MPIO view reports the path active";
    VDS_PATH_POLICY policy{};
    EXPECT_EQ(path.GetPathPolicy(policy), S_OK);
    EXPECT_EQ(policy.pathId.ullSourceId, 305419896u);
    EXPECT_EQ(policy.pathId.ullPathId, 30000000u);
    EXPECT_EQ(policy.bPrimaryPath, FALSE);
    EXPECT_EQ(policy.ulWeight, 40u);

    VDS_PATH_INFO info{};
    EXPECT_EQ(path.GetPathInfo(info), S_OK);
    ASSERT_NE(info.pHbaPortProp, nullptr);
    EXPECT_EQ(info.type, VDS_HWT_FIBRE_CHANNEL);
    EXPECT_EQ(info.pHbaPortProp->wwnPort.rguchWwn[7], 0xc3);
    CoTaskMemFree(info.pHbaPortProp);
}

TEST_F(HostAdapterTest, APathKeepsItsDefaultsWhatMpioCannotTell) {
    struct Case {
        const char* name;
        bool wmi;
        const char* portWwn;
        ULONGLONG sourceId;
    };
    const Case cases[] = {
        {"no MPIO", false, "10000000c9a1b2c3", 0},
        {"an HBA port the host does not have", true, "10000000c9a1b2ff", 305419896},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.wmi) serve_wmi(mpio_host());
        ZarvoPath path(&m_container, id_of(1), hba_port(c.portWwn));
        VDS_PATH_POLICY policy{};
        path.GetPathPolicy(policy);
        EXPECT_EQ(policy.pathId.ullSourceId, c.sourceId);
        EXPECT_EQ(policy.pathId.ullPathId, 0u);
        EXPECT_EQ(policy.bPrimaryPath, TRUE);
        EXPECT_EQ(policy.ulWeight, 100u);
        EXPECT_EQ(path.GetStatus(), VDS_MPS_STANDBY);
        EXPECT_EQ(path.GetScsiPortNumber(), 0u);
    }
}

TEST_F(HostAdapterTest, PathStatusCallsTheDsmAndKeepsWhatWasAsked) {
    serve_wmi(mpio_host(/*returnCode=*/5));  // the DSM refuses: the path still reports success
    ZarvoPath path(&m_container, id_of(1), hba_port("10000000c9a1b2c3"));
    struct Case {
        VDS_PATH_STATUS status;
        HRESULT result;
        const char* method;
        VDS_PATH_STATUS kept;
    };
    const Case cases[] = {{VDS_MPS_ONLINE, S_OK, "KVXDsmMakeActivePath", VDS_MPS_ONLINE},
                          {VDS_MPS_FAILED, S_OK, "KVXDsmDisablePath", VDS_MPS_FAILED},
                          {VDS_MPS_STANDBY, S_OK, "KVXDsmMakePassivePath", VDS_MPS_STANDBY},
                          {VDS_MPS_UNKNOWN, E_INVALIDARG, nullptr, VDS_MPS_STANDBY}};
    for (const Case& c : cases) {
        platform::wmi_reset();
        EXPECT_EQ(path.SetStatus(c.status), c.result);
        EXPECT_EQ(path.GetStatus(), c.kept);
        const auto calls = wmi_calls("ExecMethod");
        if (c.method) {
            ASSERT_EQ(calls.size(), 1u) << c.method;
            EXPECT_NE(calls[0].find(c.method), std::string::npos) << calls[0];
        } else {
            EXPECT_TRUE(calls.empty());
        }
    }
}

TEST_F(HostAdapterTest, ANewPathPolicyIsKeptEvenWhenMpioRefusesIt) {
    ZarvoPath path(&m_container, id_of(1), hba_port("10000000c9a1b2c3"));  // no WMI: MPIO cannot be reached
    const VDS_PATH_POLICY wanted{{7, 30000001}, FALSE, 55};
    EXPECT_TRUE(FAILED(path.SetPathPolicy(wanted)));
    VDS_PATH_POLICY now{};
    path.GetPathPolicy(now);
    EXPECT_EQ(now.pathId.ullSourceId, 7u);
    EXPECT_EQ(now.pathId.ullPathId, 30000001u);
    EXPECT_EQ(now.bPrimaryPath, FALSE);
    EXPECT_EQ(now.ulWeight, 55u);
}

TEST(ZarvoPathDump, WwnBytesAreWrittenWithoutPaddingOrSeparators) {
    FilerObjectContainer container;
    ScopedEnv noHba("SANPROV_LIB_HBAAPI", "/nonexistent/libHBAAPI.so");
    TraceCapture trace;
    const std::vector<ZarvoPath> paths = {ZarvoPath(&container, id_of(1), hba_port("500a0981000aff01", "0a0b0c0d0e0f1011"))};
    EXPECT_EQ(DumpPaths(paths), S_OK);
    EXPECT_TRUE(trace.has("Dump(m_paths), WWNN=ABCDEF1011 , WWPN=50A9810AFF1")) << trace.texts().size();
    EXPECT_TRUE(trace.has("Dump(m_paths):: exited. hr=0"));
    EXPECT_EQ(DumpPaths({}), S_OK);
}

}  // namespace
