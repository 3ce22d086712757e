// Snapshot operations and the composites over them against the simulated
// appliance: records, times after 2038, deletion outcomes, schedules, space.
#include <gtest/gtest.h>

#include <filer/filer_classes.h>

#include <functional>

#include "fapi_test_support.h"
#include "filer_sim_support.h"

namespace {

using namespace filer_e2e;

uint64_t filetime_value(const FILETIME& t) { return (uint64_t{t.dwHighDateTime} << 32) | t.dwLowDateTime; }
uint64_t filetime_of_seconds(uint64_t seconds) { return seconds * 10000000ull + 116444736000000000ull; }

TEST(Snapshots, ListRecordsAndTheTerseFormWithoutTotals) {
    const e2e::Appliance sim({"--release", "Zarvo Release 7.1:"});
    auto filer = create_for(sim);
    std::vector<fapi_snapshot_info_t> snapshots(3);  // emptied first
    filer->fapi_snapshot_list_info(u"vol1", false, snapshots);
    ASSERT_EQ(snapshots.size(), 2u);
    const auto& nightly = snapshots[0];
    EXPECT_EQ(nightly.name, "nightly.0");
    EXPECT_EQ(filetime_value(nightly.access_time), filetime_of_seconds(1234540800));
    EXPECT_FALSE(nightly.busy);
    EXPECT_EQ(nightly.percentage_of_used_blocks, 1);
    EXPECT_EQ(nightly.cumulative_percentage_of_used_blocks, 2);
    EXPECT_EQ(nightly.total, 524288);
    EXPECT_EQ(nightly.cumulative_total, 786432);

    filer->fapi_snapshot_list_info(u"vol1", true, snapshots);
    ASSERT_EQ(snapshots.size(), 2u);
    EXPECT_EQ(snapshots[0].cumulative_percentage_of_used_blocks, 2);
    EXPECT_EQ(snapshots[0].total, 0);
    EXPECT_EQ(snapshots[0].cumulative_total, 0);
}

// Seconds past 2038 do not fit 32 bits; they are read as a 64-bit count.
TEST(Snapshots, ATimeAfter2038KeepsItsValueAndTheNewestOfEqualTimesIsTheLater) {
    const e2e::Appliance sim({"--release", "Zarvo Release 7.2:"});
    auto filer = create_for(sim);
    sim.set(R"({"clock": 4102444800})");  // 2100-01-01
    filer->fapi_snapshot_create(u"vol2", u"first", false);
    filer->fapi_snapshot_create(u"vol2", u"second", true);
    std::vector<fapi_snapshot_info_t> snapshots;
    filer->fapi_snapshot_list_info(u"vol2", false, snapshots);
    ASSERT_EQ(snapshots.size(), 2u);
    EXPECT_EQ(filetime_value(snapshots[1].access_time), filetime_of_seconds(4102444800));

    std::u16string newest = u"none";
    filer->get_recent_snapshot_name(u"vol2", newest);
    EXPECT_EQ(newest, u"second");
    filer->get_recent_snapshot_name(u"vol1", newest);
    EXPECT_EQ(newest, u"hourly.0");
    newest = u"kept";
    filer->get_recent_snapshot_name(u"ZarvoVolume1", newest);
    EXPECT_EQ(newest, u"kept");

    EXPECT_TRUE(filer->snapshotExists(u"vol2", u"second"));
    EXPECT_FALSE(filer->snapshotExists(u"vol2", u"SECOND"));
}

TEST(Snapshots, DeletionHandsItsOutcomeOverOrRaisesIt) {
    const e2e::Appliance sim({"--release", "Zarvo Release 7.1:"});
    auto filer = create_for(sim);
    owned_ptr<fapi_error_t> outcome;
    filer->fapi_snapshot_delete(u"vol1", u"missing", std::addressof(outcome));
    ASSERT_TRUE(outcome);
    EXPECT_FALSE(outcome->passed());
    EXPECT_EQ(outcome->error_number(), 13046);
    const std::u16string text = u"An attempt to delete snapshot 'missing' of the 'vol1' volume failed on the filer '" +
                                wide(sim.address()) +
                                u"'. Error code: 13046. Error description: Snapshot missing does not exist in volume "
                                u"vol1.\r\n";
    expect_com_error(0xC0040307, text, [&] { outcome->raise(); });
    expect_com_error(0xC0040307, text, [&] { filer->fapi_snapshot_delete(u"vol1", u"missing", nullptr); });

    filer->fapi_snapshot_rename(u"vol1", u"hourly.0", u"renamed");
    filer->fapi_snapshot_delete(u"vol1", u"renamed", std::addressof(outcome));
    EXPECT_TRUE(outcome->passed());
    outcome->raise();  // a passed outcome raises nothing
    EXPECT_FALSE(filer->snapshotExists(u"vol1", u"renamed"));
}

TEST(Snapshots, ScheduleIsReadWholeAndCleared) {
    const e2e::Appliance sim({"--release", "Zarvo Release 7.1:"});
    auto filer = create_for(sim);
    fapi_snapshot_schedule_t schedule;
    filer->fapi_snapshot_get_schedule(u"vol1", schedule);
    EXPECT_EQ(schedule.days, 2);
    EXPECT_EQ(schedule.hours, 6);
    EXPECT_EQ(schedule.which_hours, u"8@12@16@20");
    EXPECT_EQ(schedule.which_minutes, u"");

    bool has = false;
    filer->has_snapshot_schedule(u"vol1", has);
    EXPECT_TRUE(has);
    filer->clear_snapshot_schedule(u"vol1");
    filer->has_snapshot_schedule(u"vol1", has);
    EXPECT_FALSE(has);
    filer->fapi_snapshot_get_schedule(u"vol1", schedule);
    EXPECT_EQ(schedule.which_hours, u"");
}

TEST(Snapshots, SpaceFiguresAndTheReleaseThatLacksThem) {
    const e2e::Appliance sim({"--release", "Zarvo Release 7.1:"});
    auto filer = create_for(sim);
    // The blocks of the snapshots after the first, and of the one named, in bytes.
    EXPECT_EQ(filer->fapi_snapshot_delta_info(u"vol1", u"nightly.0", u""), 262144 * 1024);
    EXPECT_EQ(filer->fapi_snapshot_delta_info(u"vol1", u"nightly.0", u"hourly.0"), 262144 * 1024);
    EXPECT_EQ(filer->fapi_snapshot_reclaimable_info(u"vol1", u"nightly.0"), 524288ll * 1024);
    // A volume without snapshot reserve has no snapshot space; with 20 % it has that much.
    EXPECT_FALSE(filer->volume_has_free_space(u"vol2"));
    sim.set(R"({"volumes/vol2/snapshot-reserve-percent": 20})");
    const int64_t size = std::stoll(state_query(sim, R"(next(v for v in d["volumes"] if v["name"] == "vol2")["size"])"));
    EXPECT_EQ(filer->fapi_snapshot_volume_info(u"vol2"), size * 20 / 100);
    EXPECT_TRUE(filer->volume_has_free_space(u"vol2"));
    expect_com_error_prefix(0xC0040360,
                            u"FAPI: An attempt to get snapshot delta info for volume (vol1) of filer (" + wide(sim.address()) +
                                u") failed. Error code: 13046.",
                            [&] { filer->fapi_snapshot_delta_info(u"vol1", u"nosuch", nullptr); });

    sim.set(R"({"version": "Zarvo Release 7.0.3:"})");
    auto older = create_for(sim);
    const size_t before = request_count(sim);
    expect_com_error_prefix(0xC00403C4, u"The operation 'fapi_snapshot_reclaimable_info' is not supported",
                            [&] { older->fapi_snapshot_reclaimable_info(u"vol1", u"nightly.0"); });
    expect_com_error_prefix(0xC00403C4, u"The operation 'fapi_snapshot_delta_info' is not supported",
                            [&] { older->fapi_snapshot_delta_info(u"vol1", u"nightly.0", nullptr); });
    EXPECT_EQ(request_count(sim), before);
}

// Each request's own message, with its inserts in their places.
TEST(Snapshots, FailedRepliesRaiseTheirOwnMessages) {
    const e2e::Appliance sim({"--release", "Zarvo Release 7.1:"});
    auto filer = create_for(sim);
    const std::u16string at = wide(sim.address());
    const failure_case cases[] = {
        {"snapshot-volume-info", 0xC00402F7,
         u"An attempt to get snapshot related information failed for the volume 'vol1' on the filer '" + at +
             u"'. Error description: gone\r\n",
         [&] { filer->fapi_snapshot_volume_info(u"vol1"); }},
        {"snapshot-list-info", 0xC00402FE,
         u"FAPI: An attempt to get snapshot list for the 'vol1' volume with ''async' option 'true' failed on the filer " +
             at + u". Error code: 13061. Error description: gone.\r\n",
         [&] { std::vector<fapi_snapshot_info_t> s; filer->fapi_snapshot_list_info(u"vol1", true, s); }},
        {"snapshot-create", 0xC0040300,
         u"FAPI: An attempt to create snapshot 's1' of the 'vol1' volume with 'async' option 'false' failed on the "
         u"filer " + at + u". Error code: 13061. Error description: gone.\r\n",
         [&] { filer->fapi_snapshot_create(u"vol1", u"s1", false); }},
        {"snapshot-rename", 0xC0040329,
         u"An attempt to rename snapshot from 'hourly.0' to 'renamed' on volume 'vol1' failed on the filer '" + at +
             u"'. Error code: 13061. Error description: gone.\r\n",
         [&] { filer->fapi_snapshot_rename(u"vol1", u"hourly.0", u"renamed"); }},
        {"snapshot-get-schedule", 0xC004032A,
         u"An attempt to obtain the current snapshot schedule for the volume 'vol1' failed on the filer '" + at +
             u"'. Error code: 13061. Error description: gone.\r\n",
         [&] { fapi_snapshot_schedule_t s; filer->fapi_snapshot_get_schedule(u"vol1", s); }},
        {"snapshot-set-schedule", 0xC0040345,
         u"Failed to set snapshot schedule for the volume 'vol1' on the filer '" + at +
             u"'. Error code: 13061. Error description: gone.\r\n",
         [&] { filer->clear_snapshot_schedule(u"vol1"); }},
        {"snapshot-reclaimable-info", 0xC004035F,
         u"FAPI: An attempt to get reclaim info for snapshot (nightly.0) of volume (vol1) of filer (" + at +
             u") failed. Error code: 13061. Error description: gone.\r\n",
         [&] { filer->fapi_snapshot_reclaimable_info(u"vol1", u"nightly.0"); }},
    };
    expect_failures(sim, cases, "gone");
}

TEST(Snapshots, ASingleFileRestoreAndItsFailure) {
    const e2e::Appliance sim({"--release", "Zarvo Release 7.1:"});
    auto filer = create_for(sim);
    filer->restore_file_from_snapshot(u"/vol/vol1/q1/lun0", u"nightly.0");
    expect_com_error_prefix(0xC004033A,
                            u"The attempt to revert the single file '/vol/vol1/q1/lun0' to a revision from the snapshot "
                            u"'gone' on the filer '" + wide(sim.address()) + u"' failed. Error code: 13046.",
                            [&] { filer->restore_file_from_snapshot(u"/vol/vol1/q1/lun0", u"gone"); });
}

}  // namespace
