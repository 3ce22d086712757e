#pragma once
// The WMI view of a host with MPIO and the maker's DSM, for the MPIO tests:
// two MPIO disks, each reached over SCSI ports 3 and 4. Tests change a copy
// of it to make the host they need.
#include <platform/wbem.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <memory>
#include <string>

#include "host_adapter_support.h"

namespace mpio_test {

using json = nlohmann::ordered_json;

inline json healthy_host() {
    return json::parse(R"({ "classes": {
  "MPIO_CONTROLLER_CONFIGURATION": { "instances": [ {
      "InstanceName": "Root\\MPIO\\0000_0", "NumberControllers": 1,
      "ControllerInfo": [ { "AssociatedDsm": "Korvex Multi-Path Device Specific Module",
                            "ControllerState": 1, "IdentifierType": 1 } ] } ] },
  "MPIO_DISK_INFO": { "instances": [ {
      "InstanceName": "Root\\MPIO\\0000_0", "NumberDrives": 2,
      "DriveInfo": [
        { "NumberPaths": 2, "Name": "MPIO Disk0", "DsmName": "Korvex Multi-Path Device Specific Module",
          "SerialNumber": "C4e1ZoX9nDPs" },
        { "NumberPaths": 2, "Name": "MPIO Disk1", "DsmName": "Korvex Multi-Path Device Specific Module",
          "SerialNumber": "C4e1ZoX9nDPt" } ] } ] },
  "MPIO_GET_DESCRIPTOR": { "instances": [
      { "InstanceName": "MPIO\\Disk&Ven_KORVEX&Prod_LUN\\1&7f6ac24&0&3030_0", "NumberPdos": 2,
        "DeviceName": "MPIO Disk0",
        "PdoInformation": [
          { "PathIdentifier": { "$uint64": "30000000" },
            "ScsiAddress": { "PortNumber": { "$uint8": 3 }, "ScsiPathId": { "$uint8": 0 },
                             "TargetId": { "$uint8": 0 }, "Lun": { "$uint8": 0 } } },
          { "PathIdentifier": { "$uint64": "30000001" },
            "ScsiAddress": { "PortNumber": { "$uint8": 4 }, "ScsiPathId": { "$uint8": 0 },
                             "TargetId": { "$uint8": 1 }, "Lun": { "$uint8": 0 } } } ] },
      { "InstanceName": "MPIO\\Disk&Ven_KORVEX&Prod_LUN\\1&7f6ac24&0&3031_0", "NumberPdos": 2,
        "DeviceName": "MPIO Disk1",
        "PdoInformation": [
          { "PathIdentifier": { "$uint64": "4294967297" },
            "ScsiAddress": { "PortNumber": { "$uint8": 3 }, "ScsiPathId": { "$uint8": 0 },
                             "TargetId": { "$uint8": 0 }, "Lun": { "$uint8": 1 } } },
          { "PathIdentifier": 30000001,
            "ScsiAddress": { "PortNumber": { "$uint8": 4 }, "ScsiPathId": { "$uint8": 0 },
                             "TargetId": { "$uint8": 1 }, "Lun": { "$uint8": 1 } } } ] } ] },
  "DSM_QueryUniqueId": { "instances": [ { "InstanceName": "Root\\MPIO\\0000_0", "DsmUniqueId": 305419896 } ] },
  "DSM_QueryLBPolicy": { "instances": [
      { "InstanceName": "MPIO\\Disk&Ven_KORVEX&Prod_LUN\\1&7f6ac24&0&3030_0",
        "LoadBalancePolicy": { "Version": 1, "LoadBalancePolicy": 1, "DSMPathCount": 2,
          "DSM_Paths": [
            { "DsmPathId": { "$uint64": "30000000" }, "PathWeight": 0, "PrimaryPath": true },
            { "DsmPathId": { "$uint64": "30000001" }, "PathWeight": 100, "PrimaryPath": false } ] } },
      { "InstanceName": "MPIO\\Disk&Ven_KORVEX&Prod_LUN\\1&7f6ac24&0&3031_0",
        "LoadBalancePolicy": { "Version": 1, "LoadBalancePolicy": 1, "DSMPathCount": 2,
          "DSM_Paths": [
            { "DsmPathId": { "$uint64": "4294967297" }, "PathWeight": 20, "PrimaryPath": false },
            { "DsmPathId": 30000001, "PathWeight": -1, "PrimaryPath": true } ] } } ] },
  "KVXDSM_WMI_METHODS": {
      "instances": [ { "InstanceName": "Root\\MPIO\\0000_0", "Active": true } ],
      "methods": {
        "KVXDsmMakeActivePath": { "in": { "DsmPathId": "uint32" }, "out": { "ReturnCode": 0 } },
        "KVXDsmDisablePath": { "in": { "DsmPathId": "uint32" }, "out": { "ReturnCode": 0 } },
        "KVXDsmMakePassivePath": { "in": { "DsmPathId": "uint32" }, "out": { "ReturnCode": 0 } } } } } })");
}

// Serves a fixture to the WMI stand-in for one test, with a fresh log, and
// keeps the MPDEV key out of the way unless the test writes it.
class MpioTest : public ::testing::Test {
protected:
    static constexpr const WCHAR* kMpdev = u"SYSTEM\\CurrentControlSet\\Control\\MPDEV";

    void SetUp() override {
        m_dir = host_adapter_test::test_dir(std::string("mpio-") +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, kMpdev);
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, kMpdev);
        platform::wmi_reset();
    }
    void TearDown() override {
        m_fixture.reset();
        platform::wmi_reset();
    }

    void serve(const json& fixture) {
        host_adapter_test::write_file(m_dir / "wmi.json", fixture.dump(2));
        m_fixture.reset();
        m_fixture = std::make_unique<host_adapter_test::ScopedEnv>("SANPROV_WMI_FIXTURE", (m_dir / "wmi.json").string());
    }
    void no_fixture() { m_fixture.reset(); }

    // "MPIOSupportedDeviceList" as REG_MULTI_SZ.
    void supported_devices(const std::vector<std::u16string>& devices) {
        std::u16string value;
        for (const std::u16string& device : devices) value += device + u'\0';
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kMpdev, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        EXPECT_EQ(RegSetValueExW(key, u"MPIOSupportedDeviceList", 0, REG_MULTI_SZ,
                                 reinterpret_cast<const BYTE*>(value.data()),
                                 static_cast<DWORD>((value.size() + 1) * sizeof(WCHAR))),
                  ERROR_SUCCESS);
        RegCloseKey(key);
    }

    // The logged calls of one kind, with their targets.
    std::vector<platform::WmiLogEntry> logged(const std::string& call) const {
        std::vector<platform::WmiLogEntry> found;
        for (const auto& entry : platform::wmi_log())
            if (entry.call == call) found.push_back(entry);
        return found;
    }

    std::filesystem::path m_dir;
    std::unique_ptr<host_adapter_test::ScopedEnv> m_fixture;
};

}  // namespace mpio_test
