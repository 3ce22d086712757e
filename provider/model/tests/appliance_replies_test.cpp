// The reply builders of the in-memory appliance read back, through the
// facade, as the records the model sees.
#include <model/filer_control.h>

#include <gtest/gtest.h>

#include "appliance_replies.h"
#include "memory_appliance.h"

using model_test::Element;
using model_test::MemoryAppliance;
namespace replies = model_test::replies;

namespace {

class ApplianceRepliesTest : public ::testing::Test {
protected:
    void SetUp() override {
        control.m_strFilerName = u"filer1";
        control.m_strUserName = u"root";
        control.m_strPassword = u"secret";
    }
    MemoryAppliance appliance{"filer1"};
    CFilerControl control;
};

}  // namespace

TEST_F(ApplianceRepliesTest, StorageRecordsReadBackFieldByField) {
    appliance.SetReply("lun-list-info", Element("luns", replies::Lun({.path = "/vol/v/q/l", .mapped = true})));
    appliance.SetReply("volume-list-info", Element("volumes", replies::Volume({.name = "v", .state = "offline"})));
    appliance.SetReply("qtree-list", Element("qtrees", replies::Qtree("v", "q")));
    appliance.SetReply("disk-list-info",
                       Element("disk-details", replies::Disk({.name = "0b.17", .id = 17, .hostAdapter = "0b",
                                                              .shelf = "2", .bay = "3", .raidState = "spare"})));
    appliance.SetReply("aggr-list-info",
                       Element("aggregates", replies::Aggregate({.name = "aggr1",
                                                                 .sizeAvailable = 5ll << 30,
                                                                 .plexes = {{"/aggr1/plex0", {"0b.17", "0b.18"}}}})));

    std::vector<fapi_lun_info_t> luns;
    ASSERT_EQ(control.FilerListLuns(u"", luns), S_OK);
    EXPECT_EQ(luns.at(0).path, u"/vol/v/q/l");
    EXPECT_TRUE(luns[0].mapped);
    EXPECT_TRUE(luns[0].online);
    EXPECT_EQ(luns[0].size, 104857600);

    std::vector<fapi_volume_info_t> volumes;
    ASSERT_EQ(control.FilerListVolumes(volumes), S_OK);
    EXPECT_EQ(volumes.at(0).name, u"v");
    EXPECT_EQ(volumes[0].state, 2);  // offline

    std::vector<fapi_qtree_info_t> qtrees;
    ASSERT_EQ(control.FilerListQtrees(u"v", qtrees), S_OK);
    EXPECT_EQ(qtrees.at(0).qtree, u"q");

    std::vector<fapi_disk_info_t> disks;
    ASSERT_EQ(control.FilerListDrives(u"", disks), S_OK);
    EXPECT_EQ(disks.at(0).name, u"0b.17");
    EXPECT_EQ(disks[0].id, 17);
    EXPECT_EQ(disks[0].host_adapter, u"0b");
    EXPECT_EQ(disks[0].shelf, u"2");
    EXPECT_EQ(disks[0].bay, u"3");
    EXPECT_EQ(disks[0].physical_space, 72ll << 30);
    EXPECT_EQ(disks[0].raid_state, 4);  // spare
    EXPECT_EQ(disks[0].raid_type, 4);   // data

    std::vector<fapi_aggr_info_t> aggregates;
    ASSERT_EQ(control.FilerListAggregates(aggregates), S_OK);
    const fapi_aggr_info_t& aggr = aggregates.at(0);
    EXPECT_EQ(aggr.name, u"aggr1");
    EXPECT_EQ(aggr.state, 3);
    EXPECT_EQ(aggr.type, 1);
    EXPECT_EQ(aggr.size_available, 5ll << 30);
    ASSERT_EQ(aggr.plexes.size(), 1u);
    EXPECT_EQ(aggr.plexes[0].name, u"/aggr1/plex0");
    ASSERT_EQ(aggr.plexes[0].raid_groups.size(), 1u);
    ASSERT_EQ(aggr.plexes[0].raid_groups[0].disks.size(), 2u);
    EXPECT_EQ(aggr.plexes[0].raid_groups[0].disks[1].name, u"0b.18");
}

TEST_F(ApplianceRepliesTest, MappingRecordsReadBackFieldByField) {
    appliance.SetReply("igroup-list-info",
                       Element("initiator-groups", replies::Igroup({.name = "vds_iscsi_host",
                                                                    .type = "iscsi",
                                                                    .initiators = {"iqn.1991-05.com.host:a"},
                                                                    .lunId = 4})));
    appliance.SetReply("fcp-adapter-list-info",
                       Element("fcp-config-adapters",
                               replies::FcpAdapter({.adapter = "0c", .adapterType = "Partner", .standby = true})));
    appliance.SetReply("fcp-adapter-initiators-list-info",
                       Element("fcp-adapters", replies::FcpAdapterInitiators("0c", {"10:00:00:00:c9:2b:5c:01"})));

    std::vector<fapi_igroup_info_t> groups;
    ASSERT_EQ(control.FilerListIgroups(groups), S_OK);
    EXPECT_EQ(groups.at(0).name, u"vds_iscsi_host");
    EXPECT_EQ(groups[0].type, 1);
    EXPECT_EQ(groups[0].os_type, 4);
    EXPECT_EQ(groups[0].initiators, std::vector<std::u16string>{u"iqn.1991-05.com.host:a"});
    EXPECT_EQ(groups[0].lun_id, 4);

    std::vector<fapi_fcp_adapter_info_t> adapters;
    ASSERT_EQ(control.FilerListAdapters(adapters), S_OK);
    EXPECT_EQ(adapters.at(0).adapter, "0c");
    EXPECT_EQ(adapters[0].adapter_type, "Partner");
    EXPECT_EQ(adapters[0].state, "ONLINE");
    EXPECT_EQ(adapters[0].node_name, "50:0a:09:80:86:87:a5:09");
    EXPECT_TRUE(adapters[0].standby);

    std::vector<fapi_fcp_adapter_initiators_t> initiators;
    ASSERT_EQ(control.FilerListAdaptersInitiators(nullptr, initiators), S_OK);
    ASSERT_EQ(initiators.at(0).initiators.size(), 1u);
    EXPECT_EQ(initiators[0].adapter, u"0c");
    EXPECT_EQ(wwn_to_string(initiators[0].initiators[0].port_name), u"10:00:00:00:c9:2b:5c:01");
}
