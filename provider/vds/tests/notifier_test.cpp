#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "recording_sink.h"
#include "vds_fixture.h"

#include <vds/zarvo_notifier.h>

namespace {

struct CodeCase {
    NotificationType code;
    VDS_NOTIFICATION_TARGET_TYPE target;
    ULONG event;
};

const CodeCase kCodeTable[] = {
    {1, VDS_NTT_SUB_SYSTEM, 101},    {2, VDS_NTT_SUB_SYSTEM, 102},    {3, VDS_NTT_SUB_SYSTEM, 151},
    {4, VDS_NTT_CONTROLLER, 103},    {5, VDS_NTT_CONTROLLER, 104},    {6, VDS_NTT_DRIVE, 105},
    {7, VDS_NTT_DRIVE, 106},         {8, VDS_NTT_DRIVE, 107},         {9, VDS_NTT_LUN, 108},
    {10, VDS_NTT_LUN, 109},          {11, VDS_NTT_LUN, 110},          {12, VDS_NTT_PORT, 121},
    {13, VDS_NTT_PORT, 122},         {14, VDS_NTT_PORTAL, 123},       {15, VDS_NTT_PORTAL, 124},
    {16, VDS_NTT_PORTAL, 125},       {17, VDS_NTT_TARGET, 126},       {18, VDS_NTT_TARGET, 127},
    {19, VDS_NTT_TARGET, 128},       {20, VDS_NTT_PORTAL_GROUP, 129}, {21, VDS_NTT_PORTAL_GROUP, 130},
    {22, VDS_NTT_PORTAL_GROUP, 131},
};

// The event sits at offset 8 and the id at offset 12 whatever the target.
ULONG EventOf(const VDS_NOTIFICATION& n) {
    ULONG event;
    std::memcpy(&event, reinterpret_cast<const BYTE*>(&n) + 8, sizeof(event));
    return event;
}
GUID IdOfNotification(const VDS_NOTIFICATION& n) {
    GUID id;
    std::memcpy(&id, reinterpret_cast<const BYTE*>(&n) + 12, sizeof(id));
    return id;
}

class NotifierTest : public ::testing::Test {
protected:
    void SetUp() override {
        sink = NewComObject<RecordingSink>();
        notifier = new CZarvoNotifier(sink);
        notifier->AddRef();  // the provider's count
    }
    void TearDown() override {
        if (notifier) notifier->Release();
        sink->Release();
    }
    RecordingSink* sink = nullptr;
    CZarvoNotifier* notifier = nullptr;
};

}  // namespace

TEST(NotificationCodes, EveryModelCodeMapsToItsTargetAndEvent) {
    const GUID id = IdOf("lun-id");
    for (const CodeCase& c : kCodeTable) {
        VDS_NOTIFICATION n;
        ASSERT_TRUE(CZarvoNotificationSet::MakeNotification(c.code, id, n)) << c.code;
        EXPECT_EQ(c.target, n.objectType) << c.code;
        EXPECT_EQ(c.event, EventOf(n)) << c.code;
        EXPECT_EQ(id, IdOfNotification(n)) << c.code;
    }
    VDS_NOTIFICATION n;
    for (NotificationType bad : {0, 23, -1}) EXPECT_FALSE(CZarvoNotificationSet::MakeNotification(bad, id, n)) << bad;
}

TEST_F(NotifierTest, DeliverSendsEverythingAddedSinceTheLastDeliveryInOneCall) {
    std::unique_ptr<NotificationSet> set(notifier->CreateNotificationSet());
    const GUID lun = IdOf("lun");
    set->Add(notification_code::LunArrive, lun);
    set->Add(notification_code::LunModify, lun);
    set->Add(0, lun);  // a code the model never passes is not stored
    set->Deliver();
    set->Deliver();  // nothing new: no call
    set->Add(notification_code::LunDepart, lun);
    set->Deliver();

    const auto calls = sink->Calls();
    ASSERT_EQ(2u, calls.size());
    ASSERT_EQ(2u, calls[0].size());
    EXPECT_EQ(VDS_NTT_LUN, calls[0][0].objectType);
    EXPECT_EQ(108u, EventOf(calls[0][0]));
    EXPECT_EQ(110u, EventOf(calls[0][1]));
    ASSERT_EQ(1u, calls[1].size());
    EXPECT_EQ(109u, EventOf(calls[1][0]));
}

TEST_F(NotifierTest, SetThatIsNeverDeliveredSendsNothing) {
    std::unique_ptr<NotificationSet> set(notifier->CreateNotificationSet());
    set->Add(notification_code::DriveArrive, IdOf("drive"));
    set.reset();
    EXPECT_TRUE(sink->Calls().empty());
}

TEST_F(NotifierTest, SetKeepsNotifierAndSinkAfterTheProviderLetGo) {
    std::unique_ptr<NotificationSet> set(notifier->CreateNotificationSet());
    const ULONG held = sink->RefCount();
    notifier->Release();  // the provider drops its count
    notifier = nullptr;
    set->Add(notification_code::SubSystemDepart, IdOf("subsystem"));
    set->Deliver();
    EXPECT_EQ(1u, sink->Calls().size());
    EXPECT_EQ(held, sink->RefCount());
    set.reset();  // the last count: the notifier goes and lets the sink go
    EXPECT_EQ(held - 1, sink->RefCount());
}
