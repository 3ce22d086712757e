#include <hostlib/hbaapi_wrapper.h>

#include <platform/errors.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <thread>

#include "host_adapter_support.h"

namespace {

using host_adapter_test::ScopedEnv;
using host_adapter_test::TraceCapture;

// Two adapters with three ports between them.
const char* const kTwoAdapters = R"({
  "adapters": [
    { "name": "fake-2462-0", "model": "QLE2462", "node_wwn": "20000000c9a1b2c3",
      "ports": [
        { "node_wwn": "20000000c9a1b2c3", "port_wwn": "10000000c9a1b2c3", "type": 5, "state": 2,
          "speed": 8, "supported_speed": 11, "os_device_name": "/sys/class/scsi_host/host3" },
        { "node_wwn": "20000000c9a1b2c3", "port_wwn": "10000000c9a1b2c4", "type": 6, "state": 6,
          "speed": 0, "supported_speed": 11, "os_device_name": "/sys/class/scsi_host/host4" } ] },
    { "name": "fake-lpe-1", "node_wwn": "20000000c9ffee01",
      "ports": [
        { "node_wwn": "20000000c9ffee01", "port_wwn": "10000000c9ffee01", "type": 5, "state": 2,
          "speed": 16, "supported_speed": 28, "os_device_name": "/sys/class/scsi_host/host5" } ] } ] })";

class HbaApiAdapter : public ::testing::Test {
protected:
    void SetUp() override {
        m_dir = host_adapter_test::test_dir(std::string("hba-") +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        m_log = std::make_unique<ScopedEnv>("SANPROV_HBA_LOG", (m_dir / "calls.log").string());
        m_library = std::make_unique<ScopedEnv>("SANPROV_LIB_HBAAPI", SANPROV_FAKE_HBAAPI);
        serve(kTwoAdapters);
    }

    void serve(const std::string& fixture) {
        host_adapter_test::write_file(m_dir / "hba.json", fixture);
        m_fixture.reset();
        m_fixture = std::make_unique<ScopedEnv>("SANPROV_HBA_FIXTURE", (m_dir / "hba.json").string());
    }
    void use_library(const char* path) {
        m_library.reset();
        m_library = std::make_unique<ScopedEnv>("SANPROV_LIB_HBAAPI", path);
    }

    std::vector<std::string> calls() const { return test_root::read_lines(m_dir / "calls.log"); }
    size_t count(const std::string& call) const {
        const auto all = calls();
        return std::count_if(all.begin(), all.end(), [&](const std::string& c) { return c.starts_with(call); });
    }

    std::filesystem::path m_dir;
    std::unique_ptr<ScopedEnv> m_log, m_library, m_fixture;
};

struct HostPort {
    std::string adapter;
    HBA_PORTATTRIBUTES attributes;
};

// Every port of every adapter, numbered across adapters in enumeration order,
// as the SAN model numbers them.
std::map<ULONG, HostPort> host_ports(HBAAPIWrapper& hba) {
    std::map<ULONG, HostPort> ports;
    ULONG index = 0;
    for (HBA_UINT32 a = 0; a < hba.GetNumberOfAdapters(); ++a) {
        char name[256] = {};
        EXPECT_EQ(hba.GetAdapterName(a, name), HBA_STATUS_OK);
        const HBA_HANDLE handle = hba.OpenAdapter(name);
        EXPECT_NE(handle, 0u) << name;
        HBA_ADAPTERATTRIBUTES adapter{};
        EXPECT_EQ(hba.GetAdapterAttributes(handle, &adapter), HBA_STATUS_OK);
        for (HBA_UINT32 p = 0; p < adapter.NumberOfPorts; ++p) {
            HostPort port{name, {}};
            EXPECT_EQ(hba.GetAdapterPortAttributes(handle, p, &port.attributes), HBA_STATUS_OK);
            ports.emplace(index++, port);
        }
        hba.CloseAdapter(handle);
    }
    return ports;
}

std::string hex(const HBA_WWN& wwn) {
    char text[17] = {};
    for (int i = 0; i < 8; ++i) std::snprintf(text + 2 * i, 3, "%02x", wwn.wwn[i]);
    return text;
}

TEST_F(HbaApiAdapter, PortsAreNumberedAcrossAdaptersWithTheirAttributes) {
    std::map<ULONG, HostPort> ports;
    {
        HBAAPIWrapper hba;
        ASSERT_TRUE(hba.IsOk()) << hba.GetLoadStatus();
        ports = host_ports(hba);
        EXPECT_EQ(count("HBA_FreeLibrary"), 0u) << "the library stays initialised while the wrapper lives";
    }
    ASSERT_EQ(ports.size(), 3u);
    const struct {
        ULONG index;
        const char* adapter;
        const char* portWwn;
        HBA_PORTTYPE type;
        HBA_PORTSTATE state;
        HBA_PORTSPEED speed;
        const char* device;
    } expected[] = {
        {0, "fake-2462-0", "10000000c9a1b2c3", HBA_PORTTYPE_NPORT, HBA_PORTSTATE_ONLINE, HBA_PORTSPEED_4GBIT,
         "/sys/class/scsi_host/host3"},
        {1, "fake-2462-0", "10000000c9a1b2c4", HBA_PORTTYPE_NLPORT, HBA_PORTSTATE_LINKDOWN, HBA_PORTSPEED_UNKNOWN,
         "/sys/class/scsi_host/host4"},
        {2, "fake-lpe-1", "10000000c9ffee01", HBA_PORTTYPE_NPORT, HBA_PORTSTATE_ONLINE, HBA_PORTSPEED_8GBIT,
         "/sys/class/scsi_host/host5"},
    };
    for (const auto& e : expected) {
        const HostPort& port = ports.at(e.index);
        EXPECT_EQ(port.adapter, e.adapter) << e.index;
        EXPECT_EQ(hex(port.attributes.PortWWN), e.portWwn) << e.index;
        EXPECT_EQ(port.attributes.PortType, e.type) << e.index;
        EXPECT_EQ(port.attributes.PortState, e.state) << e.index;
        EXPECT_EQ(port.attributes.PortSpeed, e.speed) << e.index;
        EXPECT_STREQ(port.attributes.OSDeviceName, e.device) << e.index;
    }
    EXPECT_EQ(hex(ports.at(2).attributes.NodeWWN), "20000000c9ffee01");
    EXPECT_EQ(ports.at(0).attributes.PortSupportedSpeed, 11u);
    EXPECT_EQ(count("HBA_LoadLibrary"), 1u);
    EXPECT_EQ(count("HBA_FreeLibrary"), 1u);
    EXPECT_EQ(calls().back(), "HBA_FreeLibrary");
}

TEST_F(HbaApiAdapter, FailedLoadsAreRecordedAndCallNothing) {
    const char* const adaptersButNoInitialisation = R"({ "load_status": 1, "adapters": [ { "name": "a" } ] })";
    const struct {
        const char* what;
        const char* library;
        const char* fixture;
        LONG status;
        size_t initialisations;
    } cases[] = {
        {"library absent", "/nonexistent/libHBAAPI.so.2", kTwoAdapters, ERROR_MOD_NOT_FOUND, 0},
        {"entry point absent", SANPROV_FAKE_HBAAPI_PARTIAL, kTwoAdapters, ERROR_PROC_NOT_FOUND, 0},
        {"initialisation fails", SANPROV_FAKE_HBAAPI, adaptersButNoInitialisation, E_FAIL, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove(m_dir / "calls.log");
        use_library(c.library);
        serve(c.fixture);
        std::filesystem::remove(m_dir / "trace.log");
        const TraceCapture trace(m_dir / "trace.log");
        {
            HBAAPIWrapper hba;
            EXPECT_FALSE(hba.IsOk());
            EXPECT_EQ(hba.GetLoadStatus(), c.status);
            char name[256] = {};
            HBA_PORTATTRIBUTES port{};
            EXPECT_EQ(hba.GetNumberOfAdapters(), 0u);
            EXPECT_EQ(hba.GetAdapterName(0, name), HBA_STATUS_ERROR_NOT_LOADED);
            EXPECT_EQ(hba.OpenAdapter("a"), 0u);
            EXPECT_EQ(hba.GetAdapterPortAttributes(1, 0, &port), HBA_STATUS_ERROR_NOT_LOADED);
            hba.CloseAdapter(1);
        }
        EXPECT_EQ(count("HBA_LoadLibrary"), c.initialisations);
        EXPECT_EQ(count("HBA_FreeLibrary"), 0u) << "nothing to free after a failed initialisation";
        const auto lines = trace.texts();
        EXPECT_EQ(std::count(lines.begin(), lines.end(), "ASSERTION FAILED: (assertion) AT provider\\localerror(164)"),
                  5)
            << "each call asserts the load status";
    }
}

TEST_F(HbaApiAdapter, ALibraryThatSeesNoAdapterIsAnEmptyHost) {
    serve(R"({ "load_status": 1, "adapters": [] })");
    {
        HBAAPIWrapper hba;
        EXPECT_TRUE(hba.IsOk());
        EXPECT_EQ(hba.GetNumberOfAdapters(), 0u);
        EXPECT_TRUE(host_ports(hba).empty());
        char name[256] = {};
        EXPECT_NE(hba.GetAdapterName(0, name), HBA_STATUS_OK);
        EXPECT_EQ(hba.OpenAdapter("a"), 0u);
    }
    EXPECT_EQ(count("HBA_FreeLibrary"), 0u);
    EXPECT_EQ(calls(), (std::vector<std::string>{"HBA_LoadLibrary", "HBA_GetNumberOfAdapters"}))
        << "after the failed initialisation only the adapter count that judged it was asked";
}

TEST_F(HbaApiAdapter, AnAdapterOpenedTwiceIsOpenedAndClosedOnce) {
    serve(R"({ "adapters": [ { "name": "a", "ports": [] }, { "name": "closed", "open": false } ] })");
    HBAAPIWrapper hba;
    ASSERT_TRUE(hba.IsOk());
    const HBA_HANDLE first = hba.OpenAdapter("a");
    ASSERT_NE(first, 0u);
    EXPECT_EQ(hba.OpenAdapter("a"), first);
    EXPECT_EQ(count("HBA_OpenAdapter a"), 1u);

    hba.CloseAdapter(first + 100);  // never opened
    hba.CloseAdapter(first);
    EXPECT_EQ(count("HBA_CloseAdapter"), 0u) << "one user is left";
    hba.CloseAdapter(first);
    EXPECT_EQ(count("HBA_CloseAdapter " + std::to_string(first)), 1u);
    hba.CloseAdapter(first);
    EXPECT_EQ(count("HBA_CloseAdapter"), 1u);

    EXPECT_EQ(hba.OpenAdapter("closed"), 0u);
    EXPECT_EQ(hba.OpenAdapter("closed"), 0u);
    EXPECT_EQ(count("HBA_OpenAdapter closed"), 2u) << "a failed open is not remembered";
    EXPECT_EQ(hba.OpenAdapter(std::string(300, 'x').c_str()), 0u);
}

TEST_F(HbaApiAdapter, WrappersAliveTogetherShareOneInitialisation) {
    auto first = std::make_unique<HBAAPIWrapper>();
    auto second = std::make_unique<HBAAPIWrapper>();
    ASSERT_TRUE(first->IsOk());
    ASSERT_TRUE(second->IsOk());
    EXPECT_EQ(count("HBA_LoadLibrary"), 1u);

    first.reset();
    EXPECT_EQ(count("HBA_FreeLibrary"), 0u);
    EXPECT_EQ(host_ports(*second).size(), 3u) << "the second wrapper still works";
    second.reset();
    EXPECT_EQ(count("HBA_FreeLibrary"), 1u);

    HBAAPIWrapper again;
    EXPECT_TRUE(again.IsOk());
    EXPECT_EQ(count("HBA_LoadLibrary"), 2u);
}

TEST_F(HbaApiAdapter, WrappersOnSeveralThreadsEachGetTheirPorts) {
    std::vector<std::thread> threads;
    std::atomic<int> wrong{0};
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 10; ++i) {
                HBAAPIWrapper hba;
                if (!hba.IsOk() || host_ports(hba).size() != 3) ++wrong;
            }
        });
    }
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(count("HBA_LoadLibrary"), count("HBA_FreeLibrary"));
}

TEST_F(HbaApiAdapter, TheHostsOwnLibraryLoadsAndFindsNoAdapter) {
    m_library.reset();  // "hbaapi.dll" is the host's libHBAAPI.so.2 again
    HBAAPIWrapper hba;
    ASSERT_TRUE(hba.IsOk()) << "libHBAAPI.so.2 (package libhbaapi2) must load; status " << hba.GetLoadStatus();
    EXPECT_EQ(hba.GetNumberOfAdapters(), 0u);
    EXPECT_TRUE(host_ports(hba).empty());
}

}  // namespace
