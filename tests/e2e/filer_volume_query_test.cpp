// The volume questions that 7.1 answers with requests of its own, against the
// simulated appliance.
#include <gtest/gtest.h>

#include <filer/filer_classes.h>

#include <functional>

#include "fapi_test_support.h"
#include "filer_sim_support.h"

namespace {

using namespace filer_e2e;

// The autosize request belongs to the volume operations; here it only has to be reached.
class recording_filer : public CFilerOskarn {
public:
    explicit recording_filer(const e2e::Appliance& sim) : CFilerOskarn(wide(sim.address()).c_str(), u"Zarvo Release 7.1") {
        set_transport(u"HTTP");
        set_user_name(wide(e2e::Appliance::kUser).c_str());
        set_password(wide(e2e::Appliance::kPassword).c_str());
    }
    void fapi_volume_autosize_get(const WCHAR* volume, std::u16string& enabled, std::u16string&,
                                  std::u16string&) override {
        enabled = u"autosize of " + std::u16string(volume);
    }
};

TEST(VolumeQueries, ContainerGuaranteeAndAutoDelete) {
    const e2e::Appliance sim({"--release", "Zarvo Release 7.1:"});
    recording_filer filer(sim);
    std::u16string aggregate;
    EXPECT_TRUE(filer.is_trell_volume(u"vol1", aggregate));
    EXPECT_EQ(aggregate, u"aggr1");
    EXPECT_FALSE(filer.is_trell_volume(u"novol", aggregate));

    std::u16string guarantee, enabled, increment, maximum;
    filer.get_trell_volume_info(u"vol1", guarantee, enabled, increment, maximum);
    EXPECT_EQ(guarantee, wide(state_query(sim, R"(next(v for v in d["volumes"] if v["name"] == "vol1")["space-reserve"])")));
    EXPECT_FALSE(guarantee.empty());
    EXPECT_EQ(enabled, u"autosize of vol1");
    expect_com_error_prefix(0xC00402FA, u"FAPI: An attempt to get options on the volume (novol) of the filer (", [&] {
        filer.get_trell_volume_info(u"novol", guarantee, enabled, increment, maximum);
    });

    std::u16string state = u"-", defer = u"-", prefix = u"-";
    filer.get_snapshot_auto_delete_settings(u"vol1", state, defer, prefix);
    EXPECT_EQ(state, u"off");
    EXPECT_EQ(defer, u"user_created");
    EXPECT_EQ(prefix, u"(none)");
}

TEST(VolumeQueries, ReserveFiguresAndTheFractionalReserve) {
    const e2e::Appliance sim({"--release", "Zarvo Release 7.1:"});
    recording_filer filer(sim);
    // The appliance reserves the fractional part of its reserved LUNs' sizes once a snapshot exists.
    sim.set(R"({"volumes/vol1/options/fractional_reserve": "40"})");
    const uint64_t reserved = std::stoull(state_query(
        sim, R"(sum(l["size"] for l in d["luns"] if l["path"].startswith("/vol/vol1/") and l["space-reservation"]) * 40 // 100)"));
    ASSERT_GT(reserved, 0u);
    sim.set(R"({"volumes/vol1/reserve-used": )" + std::to_string(reserved / 4) + "}");

    uint64_t total = 1, required = 1, used = 1, available = 1;
    int32_t percent = 1, fractional = 1;
    filer.get_space_reservations_info(u"vol1", total, required, used, available, percent, fractional);
    EXPECT_EQ(total, reserved);
    EXPECT_EQ(required, reserved);
    EXPECT_EQ(used, reserved / 4);
    EXPECT_EQ(available, reserved - reserved / 4);
    EXPECT_EQ(percent, 75);
    EXPECT_EQ(fractional, 40);

    // Without snapshots nothing is reserved, and the percentage stays 0.
    filer.get_space_reservations_info(u"vol2", total, required, used, available, percent, fractional);
    EXPECT_EQ(total, 0u);
    EXPECT_EQ(percent, 0);

    sim.set(R"({"volumes/vol2/state": "offline"})");
    expect_com_error(0xC0040389,
                     u"Unable to retrieve the space reservation info for volume 'vol2' of filer '" + wide(sim.address()) +
                         u"', because the specified volume status is 'offline'.\r\n",
                     [&] { filer.get_space_reservations_info(u"vol2", total, required, used, available, percent, fractional); });
}

TEST(VolumeQueries, CloneChildrenMatchByPrefixWithoutRegardToCase) {
    const e2e::Appliance sim({"--release", "Zarvo Release 7.1:"});
    recording_filer filer(sim);
    sim.set(R"({"volumes/vol1/clone-children": ["Clone_Of_vol1_20090212"]})");
    EXPECT_TRUE(filer.snapshot_already_trell_clone(u"vol1", u"clone_of_VOL1"));
    EXPECT_FALSE(filer.snapshot_already_trell_clone(u"vol1", u"clone_of_vol2"));
    EXPECT_FALSE(filer.snapshot_already_trell_clone(u"vol2", u"clone"));
    expect_com_error_prefix(0xC004035E, u"FAPI: An attempt to get options for volume (novol) of the filer (",
                            [&] { filer.snapshot_already_trell_clone(u"novol", u"clone"); });
}

TEST(VolumeQueries, AnAnswerForAnotherVolumeRaisesWithThePassedReplysNumberAndReason) {
    const e2e::Appliance sim({"--release", "Zarvo Release 7.1:"});
    recording_filer filer(sim);
    const std::u16string expected = u"FAPI: An attempt to get options for volume (vol1) of the filer (" +
                                    wide(sim.address()) + u") failed. Error code: -1. Error description: Unknown.\r\n";
    const std::function<void()> asks[] = {
        [&] { filer.snapshot_already_trell_clone(u"vol1", u"clone"); },
        [&] {
            uint64_t a, b, c, d;
            int32_t e, f;
            filer.get_space_reservations_info(u"vol1", a, b, c, d, e, f);
        },
    };
    for (const auto& ask : asks) {
        sim.fault(R"({"kind": "body", "request": "volume-list-info", "body":
            "<?xml version='1.0' encoding='UTF-8' ?><korvex version='1.1'><results status='passed'><volumes><volume-info><name>vol2</name><state>online</state></volume-info></volumes></results></korvex>"})");
        expect_com_error(0xC004035E, expected, ask);
    }
}

}  // namespace
