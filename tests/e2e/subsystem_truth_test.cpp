// What a Fibre Channel subsystem shows after its readings: the status a failed
// reading tells, the status of each LUN as the appliance gives it, one
// spelling of an initiator, and no change announced for a LUN that did not change.
#include "san_fixture.h"

#include <model/async.h>
#include <model/filer_object_container.h>
#include <model/lun.h>
#include <model/zarvo_san.h>

#include <platform/clock.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>

using namespace subsystem_e2e;
namespace code = notification_code;

namespace {

class SubsystemTruth : public FcSanTest {
protected:
    void BeforeReading() override { sim_.set(R"({"cluster/enabled": false})"); }
    VDS_SUB_SYSTEM_PROP Subsystem() {
        SubSystemProperties properties;
        san_->GetProperties(properties);
        return properties.m_prop;
    }
    LunProperties Lun(const GUID& id) {
        LunProperties properties;
        EXPECT_EQ(san_->GetLunProperties(id, properties), S_OK);
        return properties;
    }
    // Every event of every batch delivered since the last clear.
    std::vector<Delivered> Events() {
        std::vector<Delivered> all;
        for (const auto& batch : notifier_.batches()) all.insert(all.end(), batch.begin(), batch.end());
        return all;
    }
};

TEST_F(SubsystemTruth, AFailedReadingShowsTheSubsystemOfflineUntilTheNextGoodOne) {
    const GUID id = san_->GetId();
    std::vector<GUID> luns;
    san_->QueryLuns(luns);
    ASSERT_FALSE(luns.empty());
    EXPECT_EQ(Subsystem().status, VDS_SSS_ONLINE);

    sim_.fault(R"({"kind": "drop", "request": "system-get-info", "count": 2})");
    EXPECT_TRUE(FAILED(san_->RefreshSubSystem()));
    EXPECT_EQ(Subsystem().status, VDS_SSS_OFFLINE);
    EXPECT_EQ(Subsystem().health, VDS_H_FAILED);
    EXPECT_EQ(Events(), (std::vector<Delivered>{{code::SubSystemModify, id}}));
    // The objects stay as last read.
    std::vector<GUID> kept;
    san_->QueryLuns(kept);
    EXPECT_EQ(kept, luns);

    // Still unreachable: nothing changed, nothing announced.
    notifier_.clear();
    EXPECT_TRUE(FAILED(san_->RefreshSubSystem()));
    EXPECT_TRUE(Events().empty());

    ASSERT_EQ(san_->RefreshSubSystem(), S_OK);
    EXPECT_EQ(Subsystem().status, VDS_SSS_ONLINE);
    EXPECT_EQ(Subsystem().health, VDS_H_HEALTHY);
    EXPECT_EQ(Events(), (std::vector<Delivered>{{code::SubSystemModify, id}}));
}

TEST_F(SubsystemTruth, ALunListsOfflineWhileTheApplianceHoldsItOffline) {
    const GUID id = id_of_key(*san_, "/vol/vol1/q1/lun0");
    ASSERT_EQ(Lun(id).m_prop.status, VDS_LS_ONLINE);
    sim_.set(R"({"luns/0/online": false})");
    ASSERT_EQ(san_->RefreshSubSystem(), S_OK);
    EXPECT_EQ(Lun(id).m_prop.status, VDS_LS_OFFLINE);
    EXPECT_EQ(Events(), (std::vector<Delivered>{{code::LunModify, id}}));
    sim_.set(R"({"luns/0/online": true})");
    ASSERT_EQ(san_->RefreshSubSystem(), S_OK);
    EXPECT_EQ(Lun(id).m_prop.status, VDS_LS_ONLINE);
}

// A LUN created or masked here reads the same at the next refresh: its mask
// in the appliance's spelling from the start, and no change announced.
TEST_F(SubsystemTruth, ALunMadeOrResizedHereReadsTheSameAtTheNextRefresh) {
    ZarvoAsync* async = nullptr;
    GUID masked{}, plain{};
    ASSERT_EQ(san_->CreateLun(VDS_LT_DEFAULT, 64ULL << 20, {}, u"210000E08B050504", nullptr, &async), S_OK);
    ASSERT_EQ(Finish(async, &masked), S_OK);
    ASSERT_EQ(san_->CreateLun(VDS_LT_DEFAULT, 64ULL << 20, {}, u"", nullptr, &async), S_OK);
    ASSERT_EQ(Finish(async, &plain), S_OK);
    EXPECT_EQ(Lun(masked).m_strUnmaskingList, u"21:00:00:e0:8b:05:05:04");
    ASSERT_EQ(san_->SetLunUnmask(plain, u"210000e08b050505;", &async), S_OK);
    ASSERT_EQ(Finish(async), S_OK);
    EXPECT_EQ(Lun(plain).m_strUnmaskingList, u"21:00:00:e0:8b:05:05:05");
    // One resize done, one refused: either way the LUN is stable again.
    ASSERT_EQ(san_->SetSize(plain, 68ULL << 20, &async), S_OK);
    ASSERT_EQ(Finish(async), S_OK);
    sim_.fault(R"({"kind": "errno", "request": "lun-resize", "errno": 13001, "reason": "resize refused"})");
    ASSERT_EQ(san_->SetSize(masked, 68ULL << 20, &async), S_OK);
    ASSERT_TRUE(FAILED(Finish(async)));
    for (const GUID& id : {masked, plain}) EXPECT_EQ(Lun(id).m_prop.TransitionState, VDS_TRANSITION_STATE(1));

    notifier_.clear();
    const LunProperties before = Lun(masked);
    ASSERT_EQ(san_->RefreshSubSystem(), S_OK);
    EXPECT_TRUE(Events().empty());
    const LunProperties after = Lun(masked);
    EXPECT_EQ(after.m_strUnmaskingList, before.m_strUnmaskingList);
    EXPECT_EQ(after.m_prop.ulFlags, before.m_prop.ulFlags);
    EXPECT_EQ(Lun(plain).m_strUnmaskingList, u"21:00:00:e0:8b:05:05:05");
}

}  // namespace
