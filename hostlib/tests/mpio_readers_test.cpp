#include <hostlib/mpio_mgmt.h>
#include <hostlib/mpio_readers.h>

#include <gtest/gtest.h>

#include "mpio_fixture.h"

#include <platform/com_scoped.h>

namespace {

using mpio_test::healthy_host;
using mpio_test::json;

template <typename T>
using Ref = platform::com_unique_ptr<T>;

class MpioReaders : public mpio_test::MpioTest {
protected:
    // A connection to the fixture's namespace, as the MPIO manager opens one.
    Ref<IWbemServices> connect(const json& host) {
        serve(host);
        IWbemLocator* locator = nullptr;
        EXPECT_EQ(CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&locator)), S_OK);
        Ref<IWbemLocator> held(locator);
        IWbemServices* services = nullptr;
        BSTR ns = SysAllocString(u"root\\wmi");
        EXPECT_EQ(locator->ConnectServer(ns, nullptr, nullptr, nullptr, 0, nullptr, nullptr, &services), S_OK);
        SysFreeString(ns);
        return Ref<IWbemServices>(services);
    }

    static Ref<IWbemClassObject> first(IWbemServices* services, const WCHAR* className) {
        IEnumWbemClassObject* enumerator = nullptr;
        BSTR name = SysAllocString(className);
        EXPECT_EQ(services->CreateInstanceEnum(name, 0x31, nullptr, &enumerator), S_OK);
        SysFreeString(name);
        Ref<IEnumWbemClassObject> held(enumerator);
        IWbemClassObject* instance = nullptr;
        ULONG returned = 0;
        if (enumerator) enumerator->Next(WBEM_INFINITE, 1, &instance, &returned);
        return Ref<IWbemClassObject>(instance);
    }
};

TEST_F(MpioReaders, TheDiskCountIsAtLeastOneAndSaysWhenThereAreMore) {
    const auto disks = [](int count) {
        json host = healthy_host();
        json& info = host["classes"]["MPIO_DISK_INFO"]["instances"][0];
        info["NumberDrives"] = count;
        info["DriveInfo"] = json::array();
        for (int i = 0; i < count; ++i) info["DriveInfo"].push_back(healthy_host()["classes"]["MPIO_DISK_INFO"]["instances"][0]["DriveInfo"][0]);
        return host;
    };
    json noInstances = healthy_host();
    noInstances["classes"]["MPIO_DISK_INFO"]["instances"] = json::array();
    json noClass = healthy_host();
    noClass["classes"].erase("MPIO_DISK_INFO");
    const struct {
        const char* what;
        json host;
        ULONG status;
        ULONG disks;
    } cases[] = {
        {"three disks", disks(3), MPIO_MORE_DRIVES, 3},
        {"one disk", disks(1), MPIO_STATUS_SUCCESS, 1},
        {"no disk", disks(0), MPIO_STATUS_SUCCESS, 1},
        {"no instance", noInstances, MPIO_WMI_ENUM_FAILED, 1},
        {"class not served", noClass, MPIO_WMI_NOT_FOUND, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Ref<IWbemServices> services = connect(c.host);
        ULONG count = 0;
        EXPECT_EQ(CMpioMgmt::GetNumberOfLUNs(services.get(), count), c.status);
        EXPECT_EQ(count, c.disks);
    }
    Ref<IWbemServices> services = connect(disks(3));
    MPIO_DRIVE_INFO room[1] = {};
    ULONG count = 0;
    EXPECT_EQ(CMpioMgmt::GetDiskInfo(services.get(), room, 1, count), MPIO_MORE_DRIVES);
    EXPECT_EQ(count, 3u) << "the count is set although the drives did not fit";
}

TEST_F(MpioReaders, DriveTextsAreQuotedCutToTheirFieldsAndTheIscsiSerialDecoded) {
    json host = healthy_host();
    json& drives = host["classes"]["MPIO_DISK_INFO"]["instances"][0]["DriveInfo"];
    drives[0]["Name"] = std::string(100, 'n');
    drives[1]["DsmName"] = "Microsoft iSCSI DSM";
    drives[1]["SerialNumber"] = "1234567" "4B4F52564558" "\"trailing";
    Ref<IWbemServices> services = connect(host);
    MPIO_DRIVE_INFO read[2] = {};
    ULONG count = 0;
    ASSERT_EQ(CMpioMgmt::GetDiskInfo(services.get(), read, 2, count), MPIO_STATUS_SUCCESS);
    ASSERT_EQ(count, 2u);
    EXPECT_EQ(std::u16string(read[0].Name), u"\"" + std::u16string(62, u'n')) << "cut to 63 characters";
    EXPECT_EQ(std::u16string(read[0].SerialNumber), u"\"C4e1ZoX9nDPs\"");
    EXPECT_EQ(read[0].NumberPaths, 2u);
    EXPECT_EQ(std::u16string(read[1].SerialNumber), u"\"KORVEX\"");
}

TEST_F(MpioReaders, DescriptorKeepsItsPdoCountAndReadsTheObjectsThatCame) {
    json host = healthy_host();
    json& descriptor = host["classes"]["MPIO_GET_DESCRIPTOR"]["instances"][0];
    descriptor["PdoInformation"].push_back(descriptor["PdoInformation"][1]);
    descriptor["PdoInformation"][2]["ScsiAddress"]["PortNumber"] = {{"$uint8", 7}};
    descriptor["PdoInformation"][2]["ScsiAddress"]["Lun"] = 0x1FF;  // a wide integer keeps its low byte
    descriptor["DeviceName"] = std::string(80, 'd');
    Ref<IWbemServices> services = connect(host);
    const host_adapter_test::TraceCapture trace(m_dir / "trace.log");

    MPIO_DESCRIPTOR read{};
    MPIO_INSTANCE_NAME name{};
    ASSERT_EQ(ParseMpioDescr(first(services.get(), u"MPIO_GET_DESCRIPTOR").get(), read, &name), MPIO_STATUS_SUCCESS);
    EXPECT_EQ(read.NumberPdos, 2u);
    EXPECT_EQ(read.PdoInformation[2].PortNumber, 7);
    EXPECT_EQ(read.PdoInformation[2].Lun, 0xFF);
    EXPECT_EQ(read.PdoInformation[2].PathIdentifier, 30000001u);
    EXPECT_EQ(read.PdoInformation[0].PathStatus, 0u);
    EXPECT_EQ(std::u16string(read.DeviceName).size(), kMpioDeviceNameChars - 1);
    EXPECT_EQ(std::u16string(name.Text),
              u"\\\\?\\MPIO#Disk&Ven_KORVEX&Prod_LUN#1&7f6ac24&0&3030#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}");
    EXPECT_TRUE(trace.has("WARNING: Inconsistent information: NumberPdos=2, number of Pdo object=3"));

    descriptor["PdoInformation"] = "not an array";
    services = connect(host);
    EXPECT_EQ(ParseMpioDescr(first(services.get(), u"MPIO_GET_DESCRIPTOR").get(), read, nullptr), MPIO_WMI_ENUM_FAILED);
}

TEST_F(MpioReaders, DevicePathFormDropsQuotesAndSuffix) {
    const struct {
        const char16_t* quoted;
        const char16_t* devicePath;
    } cases[] = {
        {u"\"bus\\device\\instance_1\"", u"\\\\?\\bus#device#instance#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}"},
        {u"\"ab\"", u"\\\\?\\#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}"},
        {u"", u"\\\\?\\#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}"},
    };
    for (const auto& c : cases) {
        MPIO_INSTANCE_NAME name{};
        MakeDevicePathName(c.quoted, name);
        EXPECT_EQ(std::u16string(name.Text), c.devicePath);
    }
    MPIO_INSTANCE_NAME name{};
    MakeDevicePathName((u"\"" + std::u16string(300, u'x') + u"_0\"").c_str(), name);
    EXPECT_EQ(std::u16string(name.Text).size(), kMpioInstanceNameChars - 1) << "cut to the record";
}

TEST_F(MpioReaders, ControllerInfoAsOneObjectAsNullOrAsTooManyObjects) {
    json host = healthy_host();
    json& config = host["classes"]["MPIO_CONTROLLER_CONFIGURATION"]["instances"][0];
    const json controller = config["ControllerInfo"][0];
    json many = json::array();
    for (int i = 0; i < 12; ++i) many.push_back(controller);
    const struct {
        const char* what;
        json info;
        ULONG status;
        ULONG count;
        const char* traced;
    } cases[] = {
        {"one object", controller, MPIO_STATUS_SUCCESS, 1, "WARNING: ControllerInfo is not an array!"},
        {"null", nullptr, MPIO_STATUS_SUCCESS, 0, "No MPIO_CONTROLLER_INFO instances, NumberControllers=1"},
        {"more than are read", many, MPIO_STATUS_SUCCESS, kMpioControllersRead, nullptr},
        {"a text", "Korvex", MPIO_WMI_PROPERTY_FAILED, 0, "ControllerInfo.vt= 8"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        config["ControllerInfo"] = c.info;
        Ref<IWbemServices> services = connect(host);
        std::filesystem::remove(m_dir / "trace.log");
        const host_adapter_test::TraceCapture trace(m_dir / "trace.log");
        MPIO_CONTROLLER_CONFIGURATION read{};
        ULONG count = 99;
        EXPECT_EQ(ParseMPIOControllerConfig(services.get(), read, count), c.status);
        EXPECT_EQ(count, c.count);
        if (c.traced) {
            EXPECT_TRUE(trace.has(c.traced));
        }
        if (c.count) {
            EXPECT_EQ(std::u16string(read.ControllerInfo[0].AssociatedDsm),
                      u"\"Korvex Multi-Path Device Specific Module\"");
        }
    }
}

TEST_F(MpioReaders, PolicyPathsAreBoundedAndReadInTheirWmiForms) {
    json host = healthy_host();
    json& policy = host["classes"]["DSM_QueryLBPolicy"]["instances"][0]["LoadBalancePolicy"];
    policy["DSMPathCount"] = 0x12A;  // the low byte is kept
    json& paths = policy["DSM_Paths"];
    paths[1]["PathWeight"] = "40";
    while (paths.size() < 40) paths.push_back(paths[0]);
    Ref<IWbemServices> services = connect(host);

    DSM_LOAD_BALANCE_POLICY read{};
    MPIO_INSTANCE_NAME name{};
    ASSERT_EQ(ParseDsmQueryLBPolicy(first(services.get(), u"DSM_QueryLBPolicy").get(), read, &name),
              MPIO_STATUS_SUCCESS);
    EXPECT_EQ(read.DSMPathCount, 0x2Au);
    EXPECT_EQ(read.Version, 1u);
    EXPECT_EQ(read.DSM_Paths[0].DsmPathId, 30000000u);
    EXPECT_EQ(read.DSM_Paths[0].PrimaryPath, 1u);
    EXPECT_EQ(read.DSM_Paths[1].PathWeight, 40u) << "a weight given as text";
    EXPECT_EQ(read.DSM_Paths[kMpioMaxDsmPaths - 1].DsmPathId, 30000000u);

    paths[0]["DsmPathId"] = "not a number";
    services = connect(host);
    read = {};
    EXPECT_EQ(ParseDsmQueryLBPolicy(first(services.get(), u"DSM_QueryLBPolicy").get(), read, nullptr),
              MPIO_STATUS_SUCCESS)
        << "a failing path does not stop the others";
    EXPECT_EQ(read.DSM_Paths[1].DsmPathId, 30000001u);
}

}  // namespace
