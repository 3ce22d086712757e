// The filer control facade against the simulated appliance: the connection
// check's answers, a LUN's life through the wrappers, the resize refusals as
// the appliance gives them, and the friendly-name file.
#include <gtest/gtest.h>

#include <model/filer_control.h>

#include <korvex/server.h>
#include <platform/text.h>
#include <platform/vds.h>

#include <functional>

#include "appliance.h"
#include "memory_appliance.h"

namespace {

using e2e::Appliance;
using model_test::RecordedEvents;

constexpr HRESULT kUnreachable = static_cast<HRESULT>(0xC0042502);
constexpr HRESULT kLoginRefused = static_cast<HRESULT>(0xC0042503);

std::u16string wide(const std::string& text) { return platform::utf8_to_wide_lossy(text); }

class ModelFrameE2E : public testing::Test {
protected:
    static void SetUpTestSuite() {
        char text[256];
        kx_startup(text, sizeof text);
    }
    void SetUp() override {
        control.m_strFilerName = wide(sim.address());
        control.m_strUserName = wide(Appliance::kUser);
        control.m_strPassword = wide(Appliance::kPassword);
        model_test::ClearRecordedEvents();
    }

    Appliance sim;
    CFilerControl control;
};

}  // namespace

TEST_F(ModelFrameE2E, ValidateConnectionTellsAnUnreachableApplianceFromARefusedLogin) {
    const struct {
        const char* what;
        std::function<void()> arrange;
        HRESULT expected;
    } cases[] = {
        {"passes", [] {}, S_OK},
        {"wrong password", [&] { control.m_strPassword = u"wrong"; }, kLoginRefused},
        {"nothing listens", [&] { control.m_strFilerName = wide(Appliance::unused_address()); }, kUnreachable},
        {"unknown host", [&] { control.m_strFilerName = u"no-such-filer.invalid"; }, kUnreachable},
        {"failed results",
         [&] { sim.fault(R"({"kind": "errno", "errno": 13001, "request": "system-get-info"})"); }, E_FAIL},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        c.arrange();
        EXPECT_EQ(control.FilerValidateConnection(), c.expected);
    }
    EXPECT_TRUE(RecordedEvents().empty());
}

TEST_F(ModelFrameE2E, ValidateConnectionReadsTheSystemInformation) {
    FilerSystemInfo info;
    ASSERT_EQ(control.FilerValidateConnection(&info), S_OK);
    EXPECT_EQ(info.systemName, "zarvo-a");
    EXPECT_EQ(info.serialNumber, "3003470");
    EXPECT_EQ(info.systemId, u"0118045690");
    EXPECT_EQ(info.model, u"FAS3070");
    EXPECT_EQ(info.vendorId, u"Korvex");
}

TEST_F(ModelFrameE2E, ALunLivesAndDiesThroughTheFacade) {
    const std::u16string lun = u"/vol/ZarvoVolume0/ZarvoQtree0/ZarvoLun0";
    ASSERT_EQ(control.FilerCreateVolume(u"ZarvoVolume0", u"aggr1", u"200m"), S_OK);
    ASSERT_EQ(control.FilerCreateQtree(u"ZarvoQtree0", u"ZarvoVolume0"), S_OK);
    ULONGLONG actual = 0;
    ASSERT_EQ(control.FilerCreateLun(lun, 100ull << 20, actual), S_OK);
    EXPECT_EQ(actual, 100ull << 20);
    EXPECT_NE(sim.last_request().find("<type>windows</type>"), std::string::npos);

    std::vector<fapi_lun_info_t> luns;
    ASSERT_EQ(control.FilerListLuns(lun, luns), S_OK);
    ASSERT_EQ(luns.size(), 1u);
    EXPECT_EQ(luns[0].path, lun);
    std::string serial;
    EXPECT_EQ(control.FilerGetLunSerialNumber(lun, serial), S_OK);
    EXPECT_FALSE(serial.empty());

    ASSERT_EQ(control.FilerCreateIgroup(u"vds_fcp_frame", 0), S_OK);
    ASSERT_EQ(control.FilerAddIgroup(u"vds_fcp_frame", u"10:00:00:00:c9:2b:5c:01"), S_OK);
    ASSERT_EQ(control.FilerAssignLun(lun, u"vds_fcp_frame"), S_OK);
    std::vector<fapi_igroup_info_t> groups;
    ASSERT_EQ(control.FilerListLunMap(lun, groups), S_OK);
    ASSERT_EQ(groups.size(), 1u);
    EXPECT_EQ(groups[0].name, u"vds_fcp_frame");
    ASSERT_EQ(control.FilerUnassignLun(lun, u"vds_fcp_frame"), S_OK);
    groups.clear();
    EXPECT_EQ(control.FilerListLunMap(lun, groups), E_FAIL);  // mapped nowhere: an empty list
    ASSERT_EQ(control.FilerDeleteIgroup(u"vds_fcp_frame"), S_OK);

    ASSERT_EQ(control.FilerOfflineLun(lun), S_OK);
    ASSERT_EQ(control.FilerDeleteLun(lun, FALSE), S_OK);
    ASSERT_EQ(control.FilerDeleteVolume(u"ZarvoVolume0", FALSE), S_OK);  // online: taken offline first
    std::vector<fapi_volume_info_t> volumes;
    ASSERT_EQ(control.FilerListVolumes(volumes), S_OK);
    for (const auto& v : volumes) EXPECT_NE(v.name, u"ZarvoVolume0");
    EXPECT_TRUE(RecordedEvents().empty());
}

TEST_F(ModelFrameE2E, ASmallLunIsAnImageLun) {
    ASSERT_EQ(control.FilerCreateVolume(u"ZarvoVolume3", u"aggr1", u"200m"), S_OK);
    ULONGLONG actual = 0;
    ASSERT_EQ(control.FilerCreateLun(u"/vol/ZarvoVolume3/ZarvoLun3", (100ull << 20) - 1, actual), S_OK);
    EXPECT_NE(sim.last_request().find("<type>image</type>"), std::string::npos);
}

TEST_F(ModelFrameE2E, ResizeRefusalsOfTheApplianceReadAsTheirVdsResults) {
    const std::u16string lun = u"/vol/ZarvoVolume2/ZarvoLun2";
    ASSERT_EQ(control.FilerCreateVolume(u"ZarvoVolume2", u"aggr1", u"200m"), S_OK);
    ULONGLONG actual = 0;
    ASSERT_EQ(control.FilerCreateLun(lun, 100ull << 20, actual), S_OK);
    const struct {
        ULONGLONG size;
        HRESULT result;
        unsigned long event;
    } cases[] = {
        {2000ull << 20, VDS_E_NOT_SUPPORTED, 0xC0042507},    // beyond the LUN's geometry
        {(100ull << 20) + 4096, VDS_E_NOT_SUPPORTED, 0xC0042509},  // too small a step
        {900ull << 20, VDS_E_NOT_ENOUGH_SPACE, 0xC0042508},  // more than the volume holds
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.event);
        model_test::ClearRecordedEvents();
        EXPECT_EQ(control.FilerResizeLun(lun, u"ZarvoLun2", c.size), c.result);
        const auto events = RecordedEvents();
        ASSERT_EQ(events.size(), 1u);
        EXPECT_EQ(events[0].id, c.event);
        EXPECT_EQ(events[0].inserts.at(0), "ZarvoLun2");
    }
    EXPECT_EQ(control.FilerResizeLun(lun, u"ZarvoLun2", 150ull << 20), S_OK);
}

TEST_F(ModelFrameE2E, TheFriendlyNameFileKeepsWideTextAndAMissingFileIsNoEvent) {
    std::u16string text = u"unchanged";
    EXPECT_EQ(control.FilerFileReadFile(u"/vol/vol0/frame-name", text), E_FAIL);
    EXPECT_EQ(text, u"unchanged");
    EXPECT_TRUE(RecordedEvents().empty());

    const std::u16string name = u"Filer \u00e9\u00e9n";
    ASSERT_EQ(control.FilerFileWriteFile(u"/vol/vol0/frame-name", name), S_OK);
    ASSERT_EQ(control.FilerFileReadFile(u"/vol/vol0/frame-name", text), S_OK);
    EXPECT_EQ(text, name);
    ASSERT_EQ(control.FilerFileWriteFile(u"/vol/vol0/frame-name", u""), S_OK);
    text = u"unchanged";
    ASSERT_EQ(control.FilerFileReadFile(u"/vol/vol0/frame-name", text), S_OK);
    EXPECT_EQ(text, u"unchanged");
}
