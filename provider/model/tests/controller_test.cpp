// Controllers discovering their ports: only host HBA ports logged in to the
// adapter become ports, and a partner adapter is asked through the partner.
#include <model/controller.h>
#include <model/controller_port.h>
#include <model/filer_object_container.h>
#include <model/zarvo_san.h>

#include <platform/wbem.h>

#include <gtest/gtest.h>

#include <fstream>

#include "container_test_support.h"
#include "memory_appliance.h"

namespace {

using container_test::id_of;
using container_test::ScopedEnv;
using model_test::Element;
using model_test::MemoryAppliance;
using model_test::Text;

// One host adapter with two ports.
const char* const kHost = R"({ "adapters": [ { "name": "fake-2462-0", "node_wwn": "20000000c9a1b2c3",
  "ports": [
    { "node_wwn": "20000000c9a1b2c3", "port_wwn": "10000000c9a1b2c3", "type": 5, "state": 2,
      "os_device_name": "/sys/class/scsi_host/host3" },
    { "node_wwn": "20000000c9a1b2c3", "port_wwn": "10000000c9a1b2c4", "type": 5, "state": 2,
      "os_device_name": "/sys/class/scsi_host/host4" } ] } ] })";

// The appliance's adapter `adapter` with the host's second port logged in.
std::string initiators(const std::string& adapter) {
    return Element("fcp-adapters",
                   Element("fcp-adapter-initiators-info",
                           Text("adapter", adapter) +
                               Element("fcp-connected-initiators",
                                       Element("fcp-connected-initiator-info",
                                               Text("port-name", "10:00:00:00:c9:a1:b2:c4") +
                                                   Text("node-name", "20:00:00:00:c9:a1:b2:c3")))));
}

fapi_fcp_adapter_info_t adapter(const std::string& name, const std::string& type) {
    fapi_fcp_adapter_info_t a;
    a.adapter = name;
    a.node_name = "50:0a:09:80:00:00:5e:2a";
    a.adapter_type = type;
    a.state = "ONLINE";
    return a;
}

class ControllerDiscoveryTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_dir = container_test::state_root() /
                (std::string("ctl-") + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(m_dir);
        std::ofstream(m_dir / "hba.json") << kHost;
        m_library = std::make_unique<ScopedEnv>("SANPROV_LIB_HBAAPI", SANPROV_FAKE_HBAAPI);
        m_hba = std::make_unique<ScopedEnv>("SANPROV_HBA_FIXTURE", (m_dir / "hba.json").string());
        platform::wmi_reset();
        m_container.InitializeContainer(&m_san, id_of(0x40), u"filer1", u"root", u"secret");
        m_container.m_partnerName = u"filer2";
        m_container.m_partnerAddress = u"filer2";
        m_filer.SetReply("fcp-adapter-initiators-list-info", initiators("0c"));
        m_partner.SetReply("fcp-adapter-initiators-list-info", initiators("0d"));
    }

    std::filesystem::path m_dir;
    std::unique_ptr<ScopedEnv> m_library, m_hba;
    MemoryAppliance m_filer{"filer1"};
    MemoryAppliance m_partner{"filer2"};
    ZarvoSan m_san;
    FilerObjectContainer m_container;
};

TEST_F(ControllerDiscoveryTest, OnlyALoggedInHostPortBecomesAPort) {
    const fapi_fcp_adapter_info_t local = adapter("0c", "Local");
    auto* controller = new ZarvoController(&m_container, id_of(1), 1, &local);
    ASSERT_EQ(m_container.m_portsMap.size(), 1u);
    ZarvoControllerPort* port = m_container.m_portsMap.begin()->second;
    VDS_PORT_PROP p{};
    port->GetProperties(p);
    EXPECT_EQ(std::u16string(p.pwszFriendlyName), u"50:0a:09:80:00:00:5e:2a1");
    EXPECT_EQ(m_container.m_controllerPortAssoc.Query(id_of(1)), std::vector<GUID>{p.id});
    ASSERT_EQ(port->Paths().size(), 1u);
    EXPECT_EQ(port->Paths()[0].GetScsiPortNumber(), 0u) << "MPIO unreachable: the path keeps its defaults";
    VDS_CONTROLLER_PROP c{};
    controller->GetProperties(c);
    EXPECT_EQ(c.sNumberOfPorts, 1);
    EXPECT_TRUE(m_partner.Requests("fcp-adapter-initiators-list-info").empty());

    // Path status from the HBA port: the matching path takes it, a wrong value is refused.
    VDS_HBAPORT_PROP hba{};
    port->Paths()[0].GetHbaPortProperties(hba);
    EXPECT_EQ(port->SetPathStatus(hba, VDS_MPS_FAILED), S_OK);
    EXPECT_EQ(port->Paths()[0].GetStatus(), VDS_MPS_FAILED);
    EXPECT_EQ(port->SetPathStatus(hba, VDS_MPS_UNKNOWN), E_INVALIDARG);
}

TEST_F(ControllerDiscoveryTest, APartnerAdapterIsAskedThroughThePartnerOnlyWhenItIsUp) {
    const fapi_fcp_adapter_info_t partner = adapter("0d", "Partner");
    new ZarvoController(&m_container, id_of(1), 1, &partner);
    EXPECT_TRUE(m_container.m_portsMap.empty());
    EXPECT_TRUE(m_partner.Requests("fcp-adapter-initiators-list-info").empty());
    EXPECT_EQ(m_container.m_filerControl.m_strFilerName, u"filer1");

    m_container.m_partnerUp = true;
    new ZarvoController(&m_container, id_of(2), 1, &partner);
    EXPECT_EQ(m_container.m_portsMap.size(), 1u);
    EXPECT_FALSE(m_partner.Requests("fcp-adapter-initiators-list-info").empty());
    EXPECT_EQ(m_container.m_filerControl.m_strFilerName, u"filer1") << "back at the own appliance";
}

}  // namespace
