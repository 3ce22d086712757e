// The object container on hand-built readings: registry, teardown,
// comparison, queries and dumps.
#include <model/controller.h>
#include <model/controller_port.h>
#include <model/drive.h>
#include <model/filer_object_container.h>
#include <model/lun_fcp.h>
#include <model/zarvo_san.h>

#include <hostlib/conversions.h>

#include <gtest/gtest.h>

#include <algorithm>

#include "container_test_support.h"

// Found by argument lookup: the entries are compared as whole events.
inline bool operator==(const NotificationEntry& a, const NotificationEntry& b) {
    return a.id == b.id && a.type == b.type;
}

namespace {

using container_test::id_of;
using container_test::TraceCapture;

fapi_disk_info_t disk(const char16_t* name, int32_t raidState, int32_t raidType = 4) {
    fapi_disk_info_t d;
    d.name = name;
    d.raid_state = raidState;
    d.raid_type = raidType;
    return d;
}

fapi_fcp_adapter_info_t adapter(const std::string& name, const std::string& state = "ONLINE",
                                const std::string& type = "Local") {
    fapi_fcp_adapter_info_t a;
    a.adapter = name;
    a.node_name = "50:0a:09:80:00:00:5e:2a";
    a.adapter_type = type;
    a.state = state;
    return a;
}

// A container of a San, as a refresh leaves it: the owner set, the id given.
class ContainerTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_container.InitializeContainer(&m_san, id_of(0x40), u"filer1", u"root", u"secret");
    }

    ZarvoDrive* drive(uint8_t id, int32_t raidState = 7, ULONGLONG size = 1ull << 30) {
        const fapi_disk_info_t d = disk(u"0a.16", raidState);
        return new ZarvoDrive(&m_container, id_of(id), size, &d);
    }
    // A controller without an adapter record builds no ports.
    ZarvoController* controller(uint8_t id) { return new ZarvoController(&m_container, id_of(id), 1, nullptr); }
    ZarvoControllerPort* port(uint8_t id, uint8_t controllerId) {
        const fapi_fcp_adapter_info_t a = adapter("0a");
        auto* p = new ZarvoControllerPort(&m_container, id_of(id), &a, a.node_name + "0");
        m_container.AddPortObject(id_of(id), p);
        m_container.AssociateControllerToPort(id_of(controllerId), id_of(id));
        return p;
    }

    ZarvoSan m_san;
    FilerObjectContainer m_container;
};

// ---- Registry and teardown --------------------------------------------------

TEST_F(ContainerTest, APlainAddKeepsTheFirstObjectAndRemoveErasesIt) {
    ZarvoDrive* first = drive(1);
    const fapi_disk_info_t d = disk(u"second", 7);
    ZarvoDrive second(&m_container, id_of(1), 10, &d);  // registers under a taken id
    ASSERT_EQ(m_container.m_driveMap.size(), 1u);
    EXPECT_EQ(m_container.m_driveMap.at(id_of(1)), first);
    EXPECT_EQ(m_container.RemoveDriveObject(id_of(1)), S_OK) << "second's own removal erases the first's entry";
    EXPECT_TRUE(m_container.m_driveMap.empty());
    EXPECT_EQ(m_container.RemoveDriveObject(id_of(1)), VDS_E_OBJECT_NOT_FOUND);
    delete first;
}

TEST_F(ContainerTest, RemovalsDropTheAssociationsOfTheirKindOnly) {
    const GUID lun = id_of(1), portId = id_of(2), volume = id_of(3), qtree = id_of(4), aggregate = id_of(5),
               target = id_of(6), controllerId = id_of(7);
    m_container.AddLunObject(lun, nullptr);
    m_container.AssociateLunToPort(lun, portId);
    m_container.AssociateLunToVolume(lun, volume);
    m_container.AssociateLunToQtree(lun, qtree);
    m_container.AssociateLunToAggregate(lun, aggregate);
    m_container.AssociateLunToTarget(lun, target);

    EXPECT_EQ(m_container.RemoveLunObject(lun), S_OK);
    EXPECT_TRUE(m_container.m_lunPortAssoc.Query(lun).empty());
    EXPECT_TRUE(m_container.m_lunVolumeAssoc.Query(lun).empty());
    EXPECT_TRUE(m_container.m_lunQtreeAssoc.Query(lun).empty());
    EXPECT_TRUE(m_container.m_lunAggregateAssoc.Query(lun).empty());
    EXPECT_EQ(m_container.m_lunTargetAssoc.Query(lun), std::vector<GUID>{target}) << "targets outlive a reading";
    EXPECT_EQ(m_container.RemoveLunObject(lun), VDS_E_OBJECT_NOT_FOUND);

    // A port takes its LUN associations with it but keeps its controller's.
    ZarvoControllerPort* p = port(0x21, 7);
    m_container.AssociateLunToPort(id_of(9), id_of(0x21));
    delete p;
    EXPECT_TRUE(m_container.m_portsMap.empty());
    EXPECT_TRUE(m_container.m_lunPortAssoc.Query(id_of(9)).empty());
    EXPECT_EQ(m_container.m_controllerPortAssoc.Query(controllerId), std::vector<GUID>{id_of(0x21)});
}

TEST_F(ContainerTest, DeleteCacheDeletesEveryObjectOnceAndKeepsTheTables) {
    m_container.SetBusAdapterMap({disk(u"a", 7)});
    m_container.m_lunNumberMap = {{0, 1}, {1, 0}};
    for (uint8_t i = 1; i <= 3; ++i) drive(i);
    controller(0x10);
    controller(0x11);
    port(0x20, 0x10);
    port(0x21, 0x11);
    m_container.m_extents.push_back({id_of(1), id_of(2), id_of(3), 1});
    m_container.m_partnerUp = true;
    m_container.m_strMaskingList = u"iqn.a";

    EXPECT_EQ(m_container.DeleteCache(), S_OK);  // AddressSanitizer catches a second delete
    EXPECT_TRUE(m_container.m_driveMap.empty());
    EXPECT_TRUE(m_container.m_controllerMap.empty());
    EXPECT_TRUE(m_container.m_portsMap.empty());
    EXPECT_TRUE(m_container.m_extents.empty());
    EXPECT_FALSE(m_container.m_partnerUp);
    EXPECT_TRUE(m_container.m_strMaskingList.empty());
    EXPECT_EQ(m_container.m_lunNumberMap.size(), 2u);
    EXPECT_EQ(m_container.m_busAdapterMap.size(), 1u);
    EXPECT_EQ(m_container.DeleteCache(), S_OK) << "an empty container empties again";
}

TEST_F(ContainerTest, BusNumbersFollowTheFirstAppearanceOfOwnAdapters) {
    auto on = [](const char16_t* adapterName, int32_t raidState) {
        fapi_disk_info_t d = disk(u"d", raidState);
        d.host_adapter = adapterName;
        return d;
    };
    m_container.SetBusAdapterMap({on(u"8b", 0), on(u"0c", 7), on(u"9a", 1), on(u"0a", 4), on(u"0c", 2)});
    const std::map<std::u16string, SHORT> expected = {{u"0c", 1}, {u"0a", 2}};
    EXPECT_EQ(m_container.m_busAdapterMap, expected) << "unknown and partner disks make no bus";
}

TEST_F(ContainerTest, InitializationNamesTheSubsystem) {
    SubSystemProperties p;
    m_container.GetProperties(p);
    EXPECT_EQ(p.m_prop.id, id_of(0x40));
    EXPECT_EQ(p.m_strFriendlyName, u"filer1");
    EXPECT_EQ(p.m_strIdentification, GuidToWString(id_of(0x40)));
    EXPECT_EQ(p.m_prop.ulFlags, 0x820Fu);
    EXPECT_EQ(p.m_prop.status, VDS_SSS_NOT_READY);
    EXPECT_EQ(m_san.GetDelay(), 3000);
    EXPECT_EQ(m_container.m_filerControl.m_strUserName, u"root");
}

// ---- Comparison -------------------------------------------------------------

class CompareTest : public ContainerTest {
protected:
    void SetUp() override {
        ContainerTest::SetUp();
        m_old.InitializeContainer(&m_san, id_of(0x40), u"filer1", u"root", u"secret");
    }
    ZarvoDrive* oldDrive(uint8_t id, int32_t raidState = 7) {
        const fapi_disk_info_t d = disk(u"0a.16", raidState);
        return new ZarvoDrive(&m_old, id_of(id), 1ull << 30, &d);
    }
    std::vector<NotificationEntry> compare() {
        std::vector<NotificationEntry> events;
        EXPECT_EQ(m_container.CompareContainers(m_old, events), S_OK);
        return events;
    }

    FilerObjectContainer m_old;
};

TEST_F(CompareTest, AFirstReadingAnnouncesNothing) {
    drive(1);
    controller(2);
    m_container.m_subSystemProperties.m_strFriendlyName = u"renamed";
    EXPECT_TRUE(compare().empty());
}

TEST_F(CompareTest, SubsystemChangeFirstThenArrivalsAndChangesThenDeparturesInIdOrder) {
    oldDrive(2);
    oldDrive(3);
    oldDrive(5);
    oldDrive(1);
    drive(4);           // arrives
    drive(3, 2);        // broken now: changes
    drive(2);           // unchanged
    m_container.m_subSystemProperties.m_strFriendlyName = u"renamed";
    const std::vector<NotificationEntry> expected = {
        {id_of(0x40), 3}, {id_of(3), 8}, {id_of(4), 6}, {id_of(1), 7}, {id_of(5), 7}};
    EXPECT_EQ(compare(), expected);
}

TEST_F(CompareTest, FreeSpaceIsNoChangeAndAControllerChangeHasNoEvent) {
    oldDrive(1);
    drive(1)->m_ullFreeSpace = 5;
    new ZarvoController(&m_old, id_of(2), 1, nullptr);
    controller(2)->SetStatus(VDS_CS_OFFLINE);
    const std::vector<NotificationEntry> expected = {{id_of(2), 0}};
    EXPECT_EQ(compare(), expected) << "the sender skips code 0";
}

TEST_F(CompareTest, ALunOnlyInTheOldReadingDepartsAfterTheArrivals) {
    oldDrive(1);
    new ZarvoLunFCP(&m_old, m_old.m_lunPortAssoc, id_of(0x30), 1, 1ull << 30, u"");
    drive(1);
    drive(9);
    const std::vector<NotificationEntry> expected = {{id_of(9), 6}, {id_of(0x30), 10}};
    EXPECT_EQ(compare(), expected);
}

TEST_F(CompareTest, AnIdThatChangedItsKindIsNeitherChangedNorDeparted) {
    new ZarvoController(&m_old, id_of(1), 1, nullptr);
    oldDrive(2);
    drive(1);  // the controller's id is a drive's now: the two cannot be compared
    drive(2);
    EXPECT_TRUE(compare().empty());
}

TEST_F(CompareTest, AnIdHeldByTwoKindsIsComparedAsTheFirstKindOnly) {
    new ZarvoController(&m_old, id_of(1), 1, nullptr);
    controller(1);
    drive(1);  // the same id as a drive: gathered after the controller, dropped
    EXPECT_TRUE(compare().empty());
    EXPECT_EQ(m_container.IsEqual(m_container.m_driveMap.at(id_of(1))), E_FAIL);
}

// ---- Queries ----------------------------------------------------------------

TEST_F(ContainerTest, LookupsFindOnlyTheirOwnKind) {
    drive(1);
    controller(2);
    ZarvoDrive* found = nullptr;
    EXPECT_EQ(m_container.GetDrive(id_of(1), found), S_OK);
    EXPECT_NE(found, nullptr);
    ZarvoDrive* untouched = reinterpret_cast<ZarvoDrive*>(0x1);
    EXPECT_EQ(m_container.GetDrive(id_of(2), untouched), VDS_E_OBJECT_NOT_FOUND);
    EXPECT_EQ(untouched, reinterpret_cast<ZarvoDrive*>(0x1));

    struct Case {
        VDS_OBJECT_TYPE type;
        GUID id;
        bool valid;
    };
    const Case cases[] = {{VDS_OT_DRIVE, id_of(1), true},        {VDS_OT_CONTROLLER, id_of(2), true},
                          {VDS_OT_CONTROLLER, id_of(1), false},  {VDS_OT_SUB_SYSTEM, id_of(0x40), false},
                          {static_cast<VDS_OBJECT_TYPE>(39), id_of(1), false}};
    for (const Case& c : cases)
        EXPECT_EQ(m_container.IsValidObject(c.type, c.id), c.valid) << c.type << " " << GuidToString(c.id);
}

TEST_F(ContainerTest, ListingsAreInByteOrderAndReplaceTheVector) {
    for (uint8_t i : {3, 1, 2}) drive(i);
    std::vector<GUID> ids = {id_of(9)};
    EXPECT_EQ(m_container.QueryDrives(ids), S_OK);
    EXPECT_EQ(ids, (std::vector<GUID>{id_of(1), id_of(2), id_of(3)}));
    EXPECT_GT(GuidToString(id_of(1)), GuidToString(id_of(2))) << "text order differs";
    EXPECT_EQ(m_container.QueryLuns(ids), S_OK);
    EXPECT_TRUE(ids.empty());
}

TEST_F(ContainerTest, AssociationQueries) {
    controller(1);
    controller(2);
    port(0x12, 1);
    port(0x11, 1);
    std::vector<GUID> ids = {id_of(9)};
    EXPECT_EQ(m_container.QueryAssociatedPorts(id_of(1), ids), S_OK);
    EXPECT_EQ(ids, (std::vector<GUID>{id_of(0x11), id_of(0x12)}));
    EXPECT_EQ(m_container.QueryAssociatedPorts(id_of(2), ids), S_OK);
    EXPECT_TRUE(ids.empty());
    ids = {id_of(9)};
    EXPECT_EQ(m_container.QueryAssociatedPorts(id_of(3), ids), VDS_E_OBJECT_NOT_FOUND);
    EXPECT_EQ(ids, std::vector<GUID>{id_of(9)}) << "a miss leaves the vector";

    GUID owner{};
    EXPECT_EQ(m_container.QueryAssociatedController(id_of(0x11), owner), S_OK);
    EXPECT_EQ(owner, id_of(1));
    m_container.AssociateControllerToPort(id_of(2), id_of(0x11));
    EXPECT_EQ(m_container.QueryAssociatedController(id_of(0x11), owner), E_FAIL) << "two controllers";

    EXPECT_EQ(m_container.QueryAssociatedLuns(id_of(5), ids), VDS_E_OBJECT_NOT_FOUND);
    EXPECT_EQ(m_container.AssociateTargets(id_of(5), 0, nullptr), S_OK);
}

TEST_F(ContainerTest, ControllerPortsOfALunMustBeNamedExactlyOnce) {
    m_container.AddLunObject(id_of(1), nullptr);
    controller(2);
    port(0x11, 2);
    port(0x12, 2);
    m_container.AssociateLunToPort(id_of(1), id_of(0x11));
    struct Case {
        std::vector<GUID> active, inactive;
        HRESULT result;
        std::vector<GUID> after;
    };
    const GUID a = id_of(0x11), b = id_of(0x12);
    const Case cases[] = {
        {{a}, {a}, E_INVALIDARG, {a}},
        {{a}, {}, E_INVALIDARG, {a}},
        {{a}, {id_of(0x13)}, VDS_E_OBJECT_NOT_FOUND, {a}},
        {{b}, {a}, S_OK, {b}},
        {{}, {a, b}, S_OK, {}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(m_container.AssociateControllerPorts(id_of(1), c.active, c.inactive), c.result);
        std::vector<GUID> active;
        m_container.QueryActiveControllerPorts(id_of(1), active);
        EXPECT_EQ(active, c.after);
    }
    EXPECT_EQ(m_container.AssociateControllerPorts(id_of(7), {a}, {b}), VDS_E_OBJECT_NOT_FOUND);
}

TEST_F(ContainerTest, StatusSettersTakeOnlineAndOffline) {
    ZarvoController* c = controller(1);
    controller(2);
    struct Case {
        LONG status;
        HRESULT result;
        VDS_SUB_SYSTEM_STATUS subsystemAfter;
    };
    const Case cases[] = {{4, S_OK, VDS_SSS_OFFLINE}, {2, E_INVALIDARG, VDS_SSS_OFFLINE}, {1, S_OK, VDS_SSS_ONLINE},
                          {5, E_INVALIDARG, VDS_SSS_ONLINE}};
    for (const Case& k : cases) {
        EXPECT_EQ(m_container.SetStatus(static_cast<VDS_SUB_SYSTEM_STATUS>(k.status)), k.result);
        EXPECT_EQ(m_container.m_subSystemProperties.m_prop.status, k.subsystemAfter);
        EXPECT_EQ(m_container.SetControllerStatus(id_of(1), static_cast<VDS_CONTROLLER_STATUS>(k.status)), k.result);
        VDS_CONTROLLER_PROP p{};
        c->GetProperties(p);
        EXPECT_EQ(static_cast<LONG>(p.status), static_cast<LONG>(k.subsystemAfter));
    }
    EXPECT_EQ(m_container.SetControllerStatus(id_of(3), VDS_CS_ONLINE), VDS_E_OBJECT_NOT_FOUND);

    // The list form: every controller exactly once.
    EXPECT_EQ(m_container.SetControllerStatus({id_of(1)}, {}), E_INVALIDARG);
    EXPECT_EQ(m_container.SetControllerStatus({id_of(2)}, {id_of(1)}), S_OK);
    VDS_CONTROLLER_PROP p{};
    c->GetProperties(p);
    EXPECT_EQ(p.status, VDS_CS_OFFLINE);
}

TEST_F(ContainerTest, ExtentsAreSelectedByTheChosenId) {
    const GUID drive1 = id_of(1), drive2 = id_of(2), plex = id_of(3), lun = id_of(4);
    m_container.m_extents = {{drive1, plex, lun, 10}, {drive2, plex, lun, 20}, {drive1, id_of(5), id_of(6), 30}};
    std::vector<ExtentRecord> found;
    EXPECT_EQ(m_container.QueryExtents(EXTENT_BY_DRIVE, drive1, found), S_OK);
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[1].size, 30u);
    EXPECT_EQ(m_container.QueryExtents(EXTENT_BY_PLEX, plex, found), S_OK);
    EXPECT_EQ(found.size(), 2u);
    EXPECT_EQ(m_container.QueryExtents(EXTENT_BY_LUN, id_of(6), found), S_OK);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(m_container.QueryExtents(EXTENT_BY_LUN, id_of(9), found), S_OK);
    EXPECT_TRUE(found.empty());
}

TEST_F(ContainerTest, GetFcpAdapterFallsBackToTheLastControllersName) {
    container_test::ScopedEnv hba("SANPROV_LIB_HBAAPI", SANPROV_FAKE_HBAAPI);  // a host without HBAs
    const fapi_fcp_adapter_info_t a = adapter("0c"), b = adapter("0a");
    // SetDefaults asks the host for HBA ports; with none the controllers have no ports.
    new ZarvoController(&m_container, id_of(2), 1, &a);
    new ZarvoController(&m_container, id_of(1), 1, &b);
    std::u16string name = u"unchanged";
    EXPECT_EQ(m_container.GetFCPAdapter("0c", name), S_OK);
    EXPECT_EQ(name, u"0c");
    EXPECT_EQ(m_container.GetFCPAdapter("9z", name), S_OK);
    EXPECT_EQ(name, u"0c") << "the controller with the highest id";
}

// ---- Dumps --------------------------------------------------------------------

TEST_F(ContainerTest, AnEmptyContainerDumpsNoObjectLine) {
    TraceCapture trace;
    EXPECT_EQ(m_container.DumpAll(), S_OK);
    EXPECT_TRUE(trace.texts().empty());
}

TEST_F(ContainerTest, DumpLines) {
    auto* lun = new ZarvoLunFCP(&m_container, m_container.m_lunPortAssoc, id_of(5), 1, 1ull << 30, u"");
    fapi_lun_info_t record;
    record.path = u"/vol/ZarvoVolume5/ZarvoQtree5/ZarvoLun5";
    lun->SetDefaults(&record);
    controller(1);
    port(0x11, 1);
    const fapi_disk_info_t d = disk(u"0b.17", 4);  // a spare: online, hot spare, not live
    new ZarvoDrive(&m_container, id_of(2), 3ull << 30, &d);
    m_container.m_extents = {{id_of(2), id_of(3), id_of(4), 3ull << 29}, {id_of(2), id_of(3), id_of(4), 1000}};
    TraceCapture trace;
    EXPECT_EQ(m_container.DumpAll(), S_OK);
    const std::vector<std::string> expected = {
        "lun <ZarvoLun5> = " + GuidToString(id_of(5)),
        "extent  drive = " + GuidToString(id_of(2)) + ", lun = " + GuidToString(id_of(4)) +
            ", splex = " + GuidToString(id_of(3)) + ", size = 1  GB ",
        "extent  drive = " + GuidToString(id_of(2)) + ", lun = " + GuidToString(id_of(4)) +
            ", splex = " + GuidToString(id_of(3)) + ", size = 0  GB ",
        "drive <0b.17> = " + GuidToString(id_of(2)),
        "status  = 1,  Flag = 1 ,  IsLiveDataDisk=  0  Freesize 3221225472",
        "controller <ZarvoController> = " + GuidToString(id_of(1)),
        "port <50:0a:09:80:00:00:5e:2a0> = " + GuidToString(id_of(0x11)),
    };
    std::vector<std::string> lines;
    for (const std::string& line : trace.texts())
        if (!line.starts_with("ZarvoControllerPort::GetProperties")) lines.push_back(line);
    EXPECT_EQ(lines, expected);
}

}  // namespace
