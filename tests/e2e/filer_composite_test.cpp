// The composites over the LUN, mapping and volume requests, against the
// simulated appliance: what the SAN model and host tools ask of them.
#include <gtest/gtest.h>

#include <filer/filer_classes.h>

#include "fapi_test_support.h"
#include "filer_sim_support.h"

namespace {

using namespace filer_e2e;

TEST(CompositeQueries, AVolumeIsOnlineByNameWithoutRegardToCase) {
    const e2e::Appliance sim({"--release", "Zarvo Release 7.1:"});
    auto filer = create_for(sim);
    EXPECT_TRUE(filer->is_volume_online(u"vol1"));
    EXPECT_TRUE(filer->is_volume_online(u"VOL1"));
    EXPECT_FALSE(filer->is_volume_online(u"novol"));
    sim.set(R"({"volumes/vol2/state": "offline"})");
    EXPECT_FALSE(filer->is_volume_online(u"vol2"));
}

TEST(CompositeQueries, ALunIsFoundSizedAndUnmappedEverywhere) {
    const e2e::Appliance sim({"--release", "Zarvo Release 7.2:"});
    auto filer = create_for(sim);
    const WCHAR* const lun = u"/vol/vol1/q1/lun1";
    EXPECT_TRUE(filer->lun_exists(lun));
    EXPECT_FALSE(filer->lun_exists(u"/vol/vol1/q1/nolun"));  // 9017 is the answer "no"
    EXPECT_EQ(filer->get_lun_size(lun), 10737418240u);
    EXPECT_TRUE(filer->is_lun_online(lun));
    std::u16string snapshot = u"old";
    filer->get_lun_backing_snapshot(lun, snapshot);
    EXPECT_EQ(snapshot, u"");

    filer->unmap_lun_from_all_igroups(lun);
    EXPECT_EQ(state_query(sim, R"(next(l for l in d["luns"] if l["path"] == "/vol/vol1/q1/lun1")["maps"])"), "{}");
    // A LUN that cannot be listed raises, with the appliance's reason.
    fail_next(sim, "lun-list-info", 13001, "unusable");
    expect_com_error_prefix(0xC004032E, u"An attempt to obtain lun info for the lun '/vol/vol1/q1/lun1' on the filer '",
                            [&] { filer->lun_exists(lun); });
}

}  // namespace
