#include <platform/scsi.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <unistd.h>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

// A fake sysfs tree: host0 a plain SCSI adapter, host1 a Fibre Channel adapter
// with units on two channels; no host2.
class ScsiAdapters : public ::testing::Test {
protected:
    void SetUp() override {
        root = fs::temp_directory_path() / ("scsi-" + std::to_string(::getpid()));
        fs::remove_all(root);
        fs::create_directories(root / "class/scsi_host/host0");
        fs::create_directories(root / "class/scsi_host/host1");
        fs::create_directories(root / "class/fc_host/host1");
        unit("1:0:0:0", std::string("\0\0\x05\x02", 4) + "KORVEX  LUN");
        unit("1:0:0:1", std::string("\0\0\x05\x02", 4) + "OTHER   DISK");
        unit("1:1:2:3", std::string("\x0c\0", 2));
        unit("0:0:0:0", "host0 unit");
        ::setenv("SANPROV_SYSFS_ROOT", root.c_str(), 1);
    }
    void TearDown() override {
        ::unsetenv("SANPROV_SYSFS_ROOT");
        fs::remove_all(root);
    }
    void unit(const std::string& name, const std::string& inquiry) {
        fs::create_directories(root / "class/scsi_device" / name / "device");
        std::ofstream(root / "class/scsi_device" / name / "device/inquiry", std::ios::binary) << inquiry;
    }
    static HANDLE open(const char16_t* name) {
        return CreateFileW(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    }
    fs::path root;
};

TEST_F(ScsiAdapters, OpenNamesExistingHostsOnly) {
    struct Case { const char16_t* name; bool opens; };
    for (const Case& c : {Case{u"\\\\.\\Scsi0:", true}, Case{u"\\\\.\\Scsi1:", true}, Case{u"\\\\.\\Scsi2:", false},
                          Case{u"\\\\.\\Scsi1", false}, Case{u"\\\\.\\ScsiX:", false}, Case{u"C:\\x", false}}) {
        HANDLE h = open(c.name);
        EXPECT_EQ(h != INVALID_HANDLE_VALUE, c.opens);
        if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
        else EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    }
}

TEST_F(ScsiAdapters, RescanWritesTheScanFile) {
    HANDLE h = open(u"\\\\.\\Scsi1:");
    DWORD n = 0;
    ASSERT_TRUE(DeviceIoControl(h, IOCTL_SCSI_RESCAN_BUS, nullptr, 0, nullptr, 0, &n, nullptr));
    std::ifstream scan(root / "class/scsi_host/host1/scan");
    std::string text((std::istreambuf_iterator<char>(scan)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text, "- - -");
    EXPECT_FALSE(DeviceIoControl(h, 0x12345, nullptr, 0, nullptr, 0, &n, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_FUNCTION);
    CloseHandle(h);
}

TEST_F(ScsiAdapters, BusTypeFollowsTheTransportClass) {
    for (const auto& [name, type] : {std::pair{u"\\\\.\\Scsi0:", BusTypeScsi}, std::pair{u"\\\\.\\Scsi1:", BusTypeFibre}}) {
        HANDLE h = open(name);
        STORAGE_PROPERTY_QUERY query{StorageAdapterProperty, PropertyStandardQuery, {0}};
        BYTE out[512] = {};
        DWORD n = 0;
        ASSERT_TRUE(DeviceIoControl(h, IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof query, out, sizeof out, &n, nullptr));
        STORAGE_ADAPTER_DESCRIPTOR d;
        std::memcpy(&d, out, sizeof d);
        EXPECT_EQ(d.BusType, type);
        CloseHandle(h);
    }
}

TEST_F(ScsiAdapters, InquiryDataChainsTheUnitsOfEachBus) {
    HANDLE h = open(u"\\\\.\\Scsi1:");
    std::vector<BYTE> out(20480);
    DWORD n = 0;
    ASSERT_TRUE(DeviceIoControl(h, IOCTL_SCSI_GET_INQUIRY_DATA, nullptr, 0, out.data(), 20480, &n, nullptr));
    auto* info = reinterpret_cast<SCSI_ADAPTER_BUS_INFO*>(out.data());
    ASSERT_EQ(info->NumberOfBuses, 2);
    std::vector<std::string> seen;
    for (int bus = 0; bus < info->NumberOfBuses; ++bus) {
        ULONG offset = info->BusData[bus].InquiryDataOffset;
        for (int i = 0; i < info->BusData[bus].NumberOfLogicalUnits; ++i) {
            auto* record = reinterpret_cast<SCSI_INQUIRY_DATA*>(out.data() + offset);
            seen.push_back(std::to_string(record->PathId) + ":" + std::to_string(record->TargetId) + ":" +
                           std::to_string(record->Lun) + "=" +
                           std::string(reinterpret_cast<char*>(record->InquiryData), record->InquiryDataLength));
            offset = record->NextInquiryDataOffset;
        }
        EXPECT_EQ(offset, 0u);
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"0:0:0=" + std::string("\0\0\x05\x02", 4) + "KORVEX  LUN",
                                              "0:0:1=" + std::string("\0\0\x05\x02", 4) + "OTHER   DISK",
                                              "1:2:3=" + std::string("\x0c\0", 2)}));
    EXPECT_FALSE(DeviceIoControl(h, IOCTL_SCSI_GET_INQUIRY_DATA, nullptr, 0, out.data(), 16, &n, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    CloseHandle(h);
}

}  // namespace
