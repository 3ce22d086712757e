#include <model/controller.h>
#include <model/controller_port.h>
#include <model/drive.h>
#include <model/filer_object_container.h>
#include <model/zarvo_san.h>

#include <hostlib/conversions.h>

#include <platform/comalloc.h>
#include <platform/vds.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "container_test_support.h"
#include "memory_appliance.h"

namespace {

using container_test::Delivery;
using container_test::id_of;
using container_test::RecordingNotifier;
using container_test::TraceCapture;

TEST(ZarvoSanIds, AKeyKeepsItsIdAndTellsWhetherItWasKnown) {
    ZarvoSan san;
    GUID first{}, again{}, other{}, empty{};
    EXPECT_FALSE(san.CheckCreateGuid("/vol/v0/q0/lun0", first));
    EXPECT_TRUE(san.CheckCreateGuid("/vol/v0/q0/lun0", again));
    EXPECT_FALSE(san.CheckCreateGuid("/vol/v1/q1/lun1", other));
    EXPECT_EQ(first, again);
    EXPECT_NE(first, other);
    EXPECT_FALSE(platform::is_nil(first));
    // An empty key is only warned about: it gets an id like any other.
    EXPECT_FALSE(san.CheckCreateGuid("", empty));
    EXPECT_TRUE(san.CheckCreateGuid("", again));
    EXPECT_EQ(empty, again);
}

TEST(ZarvoSanIds, ReplacingAKeyMovesItsIdToTheNewKey) {
    ZarvoSan san;
    GUID oldId{}, moved{}, check{};
    san.CheckCreateGuid("old", oldId);
    ASSERT_EQ(san.ReplaceGuidKey("old", "new", moved), S_OK);
    EXPECT_EQ(moved, oldId);
    EXPECT_TRUE(san.CheckCreateGuid("new", check));
    EXPECT_EQ(check, oldId);
    EXPECT_FALSE(san.CheckCreateGuid("old", check)) << "the old key is gone";
    EXPECT_NE(check, oldId);
}

TEST(ZarvoSanIds, ReplaceGuidKeyEdges) {
    ZarvoSan san;
    GUID a{}, b{}, out{}, check{};
    san.CheckCreateGuid("a", a);
    san.CheckCreateGuid("b", b);
    // The new key already has an id: it keeps it, the old key's id goes out.
    EXPECT_EQ(san.ReplaceGuidKey("a", "b", out), S_OK);
    EXPECT_EQ(out, a);
    san.CheckCreateGuid("b", check);
    EXPECT_EQ(check, b);
    // An absent old key makes a new id for the new key.
    EXPECT_EQ(san.ReplaceGuidKey("missing", "fresh", out), S_OK);
    EXPECT_TRUE(san.CheckCreateGuid("fresh", check));
    EXPECT_EQ(check, out);
    EXPECT_EQ(san.ReplaceGuidKey("", "x", out), E_FAIL);
    EXPECT_EQ(san.ReplaceGuidKey("b", "", out), E_FAIL);

    san.RemoveGuidByKey("b");
    san.RemoveGuidByKey("never there");
    EXPECT_FALSE(san.CheckCreateGuid("b", check));
}

TEST(ZarvoSanUsage, IsUnusedOnlyWhenInactiveAndNotHeld) {
    ZarvoSan san;
    EXPECT_TRUE(san.IsActive());
    EXPECT_FALSE(san.IsUnused());
    san.AddRef();
    san.AddRef();
    san.Release();
    EXPECT_EQ(san.GetUsageCount(), 1);
    EXPECT_FALSE(san.IsUnused());
    san.SetSANInactive();
    EXPECT_FALSE(san.IsUnused()) << "a COM object still holds it";
    san.Release();
    EXPECT_TRUE(san.IsUnused());
}

TEST(ZarvoSanNotifications, WithoutNotifierNothingIsSentAndTheCallSucceeds) {
    TraceCapture trace;
    ZarvoSan san;
    EXPECT_EQ(san.SendSyncNotification(3, id_of(1)), S_OK);
    EXPECT_EQ(san.SendSyncNotification(std::vector<NotificationEntry>{{id_of(1), 9}}), S_OK);
    EXPECT_TRUE(trace.has("Error in SendSyncNotification"));
    EXPECT_TRUE(trace.has("Error in SendSyncNotification for NotificationList"));
}

TEST(ZarvoSanNotifications, OneSetPerCallInListOrderWithoutInvalidCodes) {
    RecordingNotifier notifier;
    ZarvoSan san;
    san.SetNotifier(&notifier);
    EXPECT_EQ(san.SendSyncNotification(19, id_of(7)), S_OK);
    const std::vector<NotificationEntry> list = {{id_of(3), 3}, {id_of(2), NotificationSet::InvalidType}, {id_of(1), 10}};
    EXPECT_EQ(san.SendSyncNotification(list), S_OK);
    EXPECT_EQ(san.SendSyncNotification(std::vector<NotificationEntry>{{id_of(4), 0}}), S_OK);

    const std::vector<Delivery> sent = notifier.deliveries();
    ASSERT_EQ(sent.size(), 2u) << "a set left empty sends nothing";
    ASSERT_EQ(sent[0].events.size(), 1u);
    EXPECT_EQ(sent[0].events[0].id, id_of(7));
    EXPECT_EQ(sent[0].events[0].type, 19);
    ASSERT_EQ(sent[1].events.size(), 2u);
    EXPECT_EQ(sent[1].events[0].id, id_of(3));
    EXPECT_EQ(sent[1].events[0].type, 3);
    EXPECT_EQ(sent[1].events[1].id, id_of(1));
    EXPECT_EQ(sent[1].events[1].type, 10);
}

// A San whose current reading belongs to the appliance "filer1" in memory.
class SanOnApplianceTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_san.SetNotifier(&m_notifier);
        m_san.GetContainer()->InitializeContainer(&m_san, id_of(0x40), u"filer1", u"root", u"secret");
        m_filer.SetReply("aggr-get-root-name", model_test::Text("root-volume", "vol0"));
        m_filer.SetReply("file-write-file", model_test::Text("length", 16));
        m_filer.SetReply("disk-list-info",
                         model_test::Element("disk-details", model_test::Element("disk-detail-info",
                                                                                 model_test::Text("name", "0a.16") +
                                                                                     model_test::Text("id", 5) +
                                                                                     model_test::Text("raid-state", "present"))));
    }

    model_test::MemoryAppliance m_filer{"filer1"};
    RecordingNotifier m_notifier;
    ZarvoSan m_san;
};

TEST_F(SanOnApplianceTest, ARenameAnnouncesOnlyARealChange) {
    EXPECT_EQ(m_san.SetName(u"filer1"), S_OK);
    EXPECT_TRUE(m_notifier.deliveries().empty()) << "the name it already had";
    EXPECT_EQ(m_san.SetName(u"Filer1"), S_OK);
    const std::vector<Delivery> sent = m_notifier.deliveries();
    ASSERT_EQ(sent.size(), 1u);
    ASSERT_EQ(sent[0].events.size(), 1u);
    EXPECT_EQ(sent[0].events[0].id, id_of(0x40));
    EXPECT_EQ(sent[0].events[0].type, 3);

    m_filer.Fail("file-write-file", 13, "read-only");
    EXPECT_TRUE(FAILED(m_san.SetName(u"other")));
    EXPECT_EQ(m_notifier.deliveries().size(), 1u) << "a failed rename announces nothing";
}

TEST_F(SanOnApplianceTest, ReenumerateWithTheSameDrivesDoesNotRefresh) {
    GUID driveId{};
    m_san.CheckCreateGuid("5", driveId);
    fapi_disk_info_t disk;
    disk.name = u"0a.16";
    disk.raid_state = 7;
    new ZarvoDrive(m_san.GetContainer(), driveId, 1ull << 30, &disk);
    TraceCapture trace;
    EXPECT_EQ(m_san.Reenumerate(), S_OK);
    EXPECT_TRUE(trace.has("FilerObjectContainer::ValidateDrives(): returning 00000000"));
    EXPECT_TRUE(trace.starting("Number of drives have been changed").empty());
    EXPECT_TRUE(trace.starting("Refreshing a Filer").empty());
}

TEST(ZarvoSanRenames, AnUnknownLunIsRefusedWithoutANotification) {
    RecordingNotifier notifier;
    ZarvoSan san;
    san.SetNotifier(&notifier);
    EXPECT_EQ(san.SetLunName(id_of(5), u"new name"), VDS_E_OBJECT_NOT_FOUND);
    EXPECT_TRUE(notifier.deliveries().empty());
}

// A failure code is a negative 32-bit value: its trace shows those 32 bits,
// never the 16 digits of its sign extension to a 64-bit long.
TEST(ZarvoSanTrace, AFailureCodeIsTracedAsItsEightHexDigits) {
    ZarvoSan san;
    TraceCapture trace;
    VDS_ISCSI_PORTAL_PROP portal{};
    std::vector<GUID> groups;
    EXPECT_EQ(san.GetPortalProperties(id_of(5), portal), VDS_E_OBJECT_NOT_FOUND);
    EXPECT_EQ(san.QueryAssociatedPortalGroups(id_of(5), groups), VDS_E_OBJECT_NOT_FOUND);
    EXPECT_EQ(trace.starting("ZarvoSan::GetPortalProperties(): returning"),
              std::vector<std::string>{"ZarvoSan::GetPortalProperties(): returning 80042405"});
    EXPECT_EQ(trace.starting("ZarvoSan::QueryAssociatedPortalGroups(): returning"),
              std::vector<std::string>{"ZarvoSan::QueryAssociatedPortalGroups(): returning 80042405"});
}

TEST(ZarvoSanProperties, ControllerAndPortTextsOutliveTheObjects) {
    ZarvoSan san;
    FilerObjectContainer& container = *san.GetContainer();
    new ZarvoController(&container, id_of(1), 1, nullptr);
    fapi_fcp_adapter_info_t adapter;
    adapter.adapter = "0c";
    adapter.node_name = "50:0a:09:80:00:00:5e:2a";
    adapter.adapter_type = "Local";
    adapter.state = "ONLINE";
    container.AddPortObject(id_of(2), new ZarvoControllerPort(&container, id_of(2), &adapter, "50:0a:09:80:00:00:5e:2a0"));

    VDS_CONTROLLER_PROP controller{};
    VDS_PORT_PROP port{};
    ASSERT_EQ(san.GetControllerProperties(id_of(1), controller), S_OK);
    ASSERT_EQ(san.GetPortProperties(id_of(2), port), S_OK);
    container.DeleteCache();  // what a refresh does to the old reading
    // The caller's copies are its own (AddressSanitizer sees a use after free otherwise).
    EXPECT_EQ(std::u16string(controller.pwszFriendlyName), u"ZarvoController");
    EXPECT_EQ(std::u16string(controller.pwszIdentification), GuidToWString(id_of(1)));
    EXPECT_EQ(std::u16string(port.pwszFriendlyName), u"50:0a:09:80:00:00:5e:2a0");
    EXPECT_EQ(std::u16string(port.pwszIdentification), u"50:0a:09:80:00:00:5e:2a");
    for (WCHAR* text : {controller.pwszFriendlyName, controller.pwszIdentification, port.pwszFriendlyName,
                        port.pwszIdentification})
        CoTaskMemFree(text);
    EXPECT_EQ(san.GetPortProperties(id_of(2), port), VDS_E_OBJECT_NOT_FOUND);
}

TEST(ZarvoSanLocking, AnOperationWaitsForTheThreadThatHoldsTheSan) {
    ZarvoSan san;
    std::atomic<bool> done{false};
    EnterCriticalSection(san.GetLock());
    std::thread other([&] {
        std::vector<GUID> ids;
        san.QueryDrives(ids);
        done = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(done) << "the second thread ran while the first held the San";
    // The lock is re-entrant: the holder itself goes on.
    std::vector<GUID> ids;
    EXPECT_EQ(san.QueryLuns(ids), S_OK);
    LeaveCriticalSection(san.GetLock());
    other.join();
    EXPECT_TRUE(done);
}

}  // namespace
