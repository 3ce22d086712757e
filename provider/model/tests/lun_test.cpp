// The LUN model's own logic, without an appliance: unmasking lists, own
// paths and numbers, the usable-size formula, extents, the host rescan.
#include <model/drive.h>
#include <model/filer_object_container.h>
#include <model/lun_fcp.h>
#include <model/lun_iscsi.h>
#include <model/plex.h>

#include <hostlib/guid_associator.h>
#include <platform/clock.h>
#include <platform/comalloc.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <unistd.h>
#include <vector>

#include "container_test_support.h"

namespace {

GUID Id(uint8_t first, uint8_t last = 0) {
    GUID id{};
    id.Data1 = first;
    id.Data4[7] = last;
    return id;
}

TEST(UnmaskingList, NamesAreTheNonEmptyTokensOfTheFirst255Characters) {
    const std::u16string semis(255, u';');
    const std::u16string name250(250, u'a');
    struct Case {
        std::u16string list;
        std::vector<std::u16string> names;
    };
    const Case cases[] = {
        {u"", {}},
        {u";;;", {}},
        {u"a;b", {u"a", u"b"}},
        {u";a;;b;", {u"a", u"b"}},
        {semis + u"x", {}},
        // A name cut by the window is no name.
        {name250 + u";abcdefghij", {name250}},
        {name250 + u";abcd;x", {name250, u"abcd"}},
        {name250 + u";abcd", {name250, u"abcd"}},
    };
    for (const Case& c : cases) EXPECT_EQ(SplitUnmaskingList(c.list), c.names) << c.list.size();
}

TEST(OwnLunPath, OnlyTheProvidersOwnPathWithOneNumber) {
    struct Case {
        const char16_t* path;
        bool own;
    };
    for (const Case& c : {Case{u"/vol/ZarvoVolume7/ZarvoQtree7/ZarvoLun7", true},
                          Case{u"/vol/ZarvoVolume0/ZarvoQtree0/renamed", true},
                          Case{u"/vol/ZarvoVolume1023/ZarvoQtree1023/x", true},
                          Case{u"/vol/ZarvoVolume7/ZarvoQtree8/ZarvoLun7", false},
                          Case{u"/vol/ZarvoVolume1024/ZarvoQtree1024/x", false},
                          Case{u"/vol/ZarvoVolume07/ZarvoQtree07/x", false},
                          Case{u"/vol/ZarvoVolumeX/ZarvoQtreeX/l", false},
                          Case{u"/vol/ZarvoVolume12/lun0", false},
                          Case{u"/vol/data/ZarvoVolume1/ZarvoQtree1/x", false},
                          Case{u"/vol/vol1/q1/lun", false}})
        EXPECT_EQ(IsOwnLunPath(c.path), c.own) << std::string(c.path, c.path + std::char_traits<char16_t>::length(c.path));
}

TEST(LunNumbers, NumberFromPathTable) {
    FilerObjectContainer container;
    struct Case {
        const char16_t* path;
        HRESULT hr;
        ULONG number;
    };
    for (const Case& c : {Case{u"/vol/ZarvoVolume7/ZarvoQtree7/ZarvoLun7", S_OK, 7},
                          Case{u"/vol/ZarvoVolume12/lun0", S_OK, 12}, Case{u"/vol/vol1/ZarvoQtree3/lun", S_OK, 3},
                          Case{u"/vol/ZarvoVolumeX/ZarvoQtreeX/l", S_OK, 0}, Case{u"/vol/ZarvoVolume5", S_OK, 5},
                          Case{u"/vol/data/lun1", E_FAIL, 0}}) {
        ULONG number = 99;
        EXPECT_EQ(container.GetLunNumberFromPath(c.path, number), c.hr);
        EXPECT_EQ(number, c.number);
    }
}

TEST(LunNumbers, FirstFreeNumberAndTheRangeOfTheTable) {
    FilerObjectContainer container;
    ASSERT_EQ(container.InitializeLunNumbers(), S_OK);
    LONG number = -1;
    ASSERT_EQ(container.GetLunNumber(number), S_OK);
    EXPECT_EQ(number, 0);
    for (LONG n : {0, 1, 3}) EXPECT_EQ(container.SetLunNumber(n, 1), S_OK);
    ASSERT_EQ(container.GetLunNumber(number), S_OK);
    EXPECT_EQ(number, 2);
    EXPECT_EQ(container.SetLunNumber(1024, 1), E_FAIL);
    EXPECT_EQ(container.SetLunNumber(-1, 1), E_FAIL);
    for (LONG n = 0; n < 1024; ++n) container.SetLunNumber(n, 1);
    EXPECT_EQ(container.GetLunNumber(number), E_FAIL);
    EXPECT_EQ(container.SetLunNumber(0, 0), S_OK) << "number 0 is freed like any other";
    ASSERT_EQ(container.GetLunNumber(number), S_OK);
    EXPECT_EQ(number, 0);
}

TEST(UsableSize, OverheadTable) {
    FilerObjectContainer container;
    constexpr ULONGLONG GiB = 1ULL << 30, MiB = 1ULL << 20;
    struct Case {
        ULONGLONG bytes;
        ULONGLONG newLun;
        ULONGLONG extension;
    };
    const auto expected = [](ULONGLONG bytes, ULONGLONG overhead) {
        return static_cast<ULONGLONG>(static_cast<double>(bytes - overhead) * 0.998);
    };
    const Case cases[] = {
        {10 * GiB, 10705999810ULL, 10707702382ULL},
        {60 * MiB, 60039680ULL, 61742252ULL},
        {52 * MiB, 0, 53370421ULL},
        // Below 100 MiB the overhead is 1 MiB; from 100 MiB on it follows the factor table.
        {99 * MiB, 100852355ULL, expected(99 * MiB, MiB)},
        {100 * MiB, 94704291ULL, expected(100 * MiB, 63 * 130560ULL + 32256)},
        {50 * GiB, expected(50 * GiB, 126 * 130560ULL + 32256 + 0x1A0800), expected(50 * GiB, 126 * 130560ULL + 32256)},
        {100 * GiB, expected(100 * GiB, 315 * 130560ULL + 32256 + 0x1A0800), expected(100 * GiB, 315 * 130560ULL + 32256)},
        {300 * GiB, expected(300 * GiB, 315 * 130560ULL + 32256 + 0x1A0800), expected(300 * GiB, 315 * 130560ULL + 32256)},
        {0, 0, 0},
    };
    for (const Case& c : cases) {
        ULONGLONG usable = 1;
        EXPECT_EQ(container.GetMaxLunSizeFromAggregateSize(false, c.bytes, usable), S_OK);
        EXPECT_EQ(usable, c.newLun) << c.bytes;
        EXPECT_EQ(container.GetMaxLunSizeFromAggregateSize(true, c.bytes, usable), S_OK);
        EXPECT_EQ(usable, c.extension) << c.bytes;
    }
}

// A LUN whose aggregate record the test writes.
class TestLun : public ZarvoLunFCP {
public:
    TestLun(FilerObjectContainer* container, GuidAssociator& ports, const GUID& id, ULONGLONG size)
        : ZarvoLunFCP(container, ports, id, 14, size, u"") {}
    void SetAggregate(const fapi_aggr_info_t& record) { m_aggregateRecord = std::make_shared<const fapi_aggr_info_t>(record); }
    void SetState(int32_t state) { m_state = state; }
    void SetSerialNumber(const std::string& serial) { m_serialNumber = serial; }
};

fapi_disk_info_t Disk(const std::u16string& name, int32_t raidType) {
    fapi_disk_info_t disk;
    disk.name = name;
    disk.raid_type = raidType;
    disk.raid_state = 7;  // present
    return disk;
}

fapi_raid_group_info_t Group(std::initializer_list<std::u16string> names) {
    fapi_raid_group_info_t group;
    for (const auto& name : names) group.disks.push_back(Disk(name, 0));
    return group;
}

// Drives d1..d4 (data) and p1 (parity), 100 GiB free each.
class Extents : public ::testing::Test {
protected:
    void SetUp() override {
        int n = 1;
        for (const auto& [name, type] : {std::pair{u"d1", 4}, {u"d2", 4}, {u"d3", 4}, {u"d4", 4}, {u"p1", 1}}) {
            const fapi_disk_info_t disk = Disk(name, type);
            drives.push_back(new ZarvoDrive(&container, Id(static_cast<uint8_t>(n++)), kDrive, &disk));
        }
        container.m_freespace = 5 * kDrive;
        lun = new TestLun(&container, ports, Id(100), 10ULL << 30);
        fapi_aggr_info_t aggregate;
        aggregate.name = u"aggr1";
        fapi_plex_info_t plex;
        plex.name = u"/aggr1/plex0";
        plex.is_online = true;
        plex.raid_groups = {Group({u"d1", u"d2", u"d3", u"d4", u"p1"})};
        aggregate.plexes = {plex};
        lun->SetAggregate(aggregate);
    }
    void TearDown() override {
        delete lun;
        for (ZarvoDrive* drive : drives) delete drive;
    }
    ULONGLONG FreeOf(size_t drive) const { return drives[drive]->m_ullFreeSpace; }
    std::vector<ULONGLONG> Sizes() const {
        std::vector<ULONGLONG> sizes;
        for (const auto& extent : container.m_extents) sizes.push_back(extent.size);
        return sizes;
    }

    static constexpr ULONGLONG kDrive = 100ULL << 30;
    FilerObjectContainer container;
    GuidAssociator ports;
    std::vector<ZarvoDrive*> drives;
    TestLun* lun = nullptr;
};

TEST_F(Extents, EveryDiskOfTheGroupGetsTheShareOfTheDataDisks) {
    ASSERT_TRUE(container.AllocateExtents(lun->GetId(), Id(50), 10ULL << 30, nullptr));
    EXPECT_EQ(Sizes(), std::vector<ULONGLONG>(5, 2684354560ULL));
    EXPECT_EQ(FreeOf(4), kDrive - 2684354560ULL) << "parity disks get extents too";
    // Odd sizes round each share up.
    container.m_extents.clear();
    ASSERT_TRUE(container.AllocateExtents(lun->GetId(), Id(51), 10, nullptr));
    EXPECT_EQ(Sizes(), std::vector<ULONGLONG>(5, 3));
    // More than the subsystem's free space is refused as a whole.
    EXPECT_FALSE(container.AllocateExtents(lun->GetId(), Id(52), 6 * kDrive, nullptr));
}

TEST_F(Extents, ADriveWhoseFreeSpaceEqualsTheShareGetsNoExtent) {
    drives[0]->m_ullFreeSpace = 4;
    ASSERT_TRUE(container.AllocateExtents(lun->GetId(), Id(50), 16, nullptr));
    EXPECT_EQ(Sizes(), std::vector<ULONGLONG>(4, 4));
    EXPECT_EQ(FreeOf(0), 4u);
}

TEST_F(Extents, FreeGivesTheSpaceBackAndMoveKeepsTheExtents) {
    ASSERT_TRUE(container.AllocateExtents(lun->GetId(), Id(50), 8, nullptr));
    ASSERT_TRUE(container.AllocateExtents(lun->GetId(), Id(60), 4, nullptr));
    const ULONGLONG before = container.m_freespace;
    EXPECT_EQ(container.ChangeExtentOwner(Id(50), Id(70), Id(101)), S_OK);
    for (const auto& extent : container.m_extents)
        EXPECT_TRUE(extent.plexId == Id(70) || extent.plexId == Id(60));
    EXPECT_EQ(container.FreeExtents(Id(70), nullptr), S_OK);
    EXPECT_EQ(Sizes(), std::vector<ULONGLONG>(5, 1));
    EXPECT_EQ(FreeOf(0), kDrive - 1);
    EXPECT_EQ(container.m_freespace, before + 5 * 2) << "the subsystem's free space grows by what is freed";
}

TEST_F(Extents, PlexResizeGrowsByTheDifferenceAndShrinkLaysOutAgain) {
    fapi_plex_info_t record;
    record.is_online = true;
    auto* plex = new ZarvoPlex(&container, lun, Id(50), record);
    ASSERT_EQ(plex->Initialize(nullptr), S_OK);
    ASSERT_EQ(container.m_extents.size(), 5u);
    ASSERT_EQ(plex->Resize((10ULL << 30) + 8, nullptr), S_OK);
    EXPECT_EQ(container.m_extents.size(), 10u) << "growth adds extents for the difference";
    ASSERT_EQ(plex->Resize(8, nullptr), S_OK);
    EXPECT_EQ(Sizes(), std::vector<ULONGLONG>(5, 2));
    VDS_LUN_PLEX_PROP properties{};
    plex->GetProperties(properties);
    EXPECT_EQ(properties.ullSize, 8u);
    EXPECT_EQ(plex->Delete(), S_OK);
    EXPECT_TRUE(container.m_extents.empty());
    EXPECT_TRUE(lun->Plexes().empty());
}

TEST_F(Extents, RemovingAndAddingPlexes) {
    fapi_plex_info_t record;
    auto* first = new ZarvoPlex(&container, lun, Id(50), record);
    EXPECT_EQ(lun->RemovePlex(Id(50)), VDS_E_INVALID_OPERATION) << "the last plex stays";
    EXPECT_EQ(lun->RemovePlex(Id(99)), VDS_E_OBJECT_NOT_FOUND);

    auto* donor = new TestLun(&container, ports, Id(101), 1);
    new ZarvoPlex(&container, donor, Id(51), record);
    lun->SetState(LUN_STATE_DETACHED);
    donor->SetState(LUN_STATE_DETACHED);
    EXPECT_EQ(lun->AddPlex(donor), VDS_E_INVALID_OPERATION) << "a smaller donor gives nothing";
    EXPECT_EQ(lun->Plexes().size(), 1u);
    delete donor;

    auto* mirror = new TestLun(&container, ports, Id(102), 10ULL << 30);
    new ZarvoPlex(&container, mirror, Id(52), record);
    mirror->SetState(LUN_STATE_ATTACHED);
    EXPECT_EQ(lun->AddPlex(mirror), S_OK);
    EXPECT_EQ(lun->Plexes().size(), 2u);
    EXPECT_TRUE(mirror->Plexes().empty());
    LunProperties properties;
    lun->GetProperties(properties);
    EXPECT_EQ(static_cast<int>(properties.m_prop.type), 13);
    delete mirror;

    EXPECT_EQ(lun->RemovePlex(Id(52)), S_OK);
    lun->GetProperties(properties);
    EXPECT_EQ(static_cast<int>(properties.m_prop.type), 14) << "the LUN takes the type of the plex left";
    (void)first;
}

// Front calls by state. No worker runs here, so a call that queues answers
// the queue's refusal; what matters is the state it leaves and the busy answer.
TEST(LunStateMachine, FrontCallsByState) {
    FilerObjectContainer container;
    GuidAssociator ports;
    struct Case {
        const char* call;
        int32_t from;
        int32_t to;  // 0: refused as busy
    };
    const Case cases[] = {
        {"delete", 2, LUN_STATE_DELETED},         {"delete", 4, LUN_STATE_DELETE_ATTACHED_QUEUED},
        {"mask", 2, LUN_STATE_ATTACH_QUEUED},     {"mask", 4, LUN_STATE_ATTACH_QUEUED},
        {"unmask", 2, LUN_STATE_DETACHED},        {"unmask", 4, LUN_STATE_DETACH_QUEUED},
        {"only separators", 4, LUN_STATE_DETACH_QUEUED},
    };
    const auto run = [](TestLun& lun, const std::string& call) {
        if (call == "delete") return lun.Delete(nullptr);
        if (call == "mask") return lun.SetUnmask(u"20000000C9ABCDEF", nullptr);
        if (call == "unmask") return lun.SetUnmask(u"", nullptr);
        return lun.SetUnmask(std::u16string(255, u';') + u"late", nullptr);
    };
    for (const Case& c : cases) {
        TestLun lun(&container, ports, Id(1), 1 << 20);
        lun.SetState(c.from);
        run(lun, c.call);
        EXPECT_EQ(lun.GetState(), c.to) << c.call << " from " << c.from;
    }
    for (const char* call : {"delete", "mask", "unmask"}) {
        for (int32_t busy : {1, 3, 5, 6, 7}) {
            TestLun lun(&container, ports, Id(1), 1 << 20);
            lun.SetState(busy);
            EXPECT_EQ(run(lun, call), VDS_E_ANOTHER_CALL_IN_PROGRESS) << call << " from " << busy;
            EXPECT_EQ(lun.GetState(), busy);
        }
    }
}

TEST(LunStateMachine, SetSizeNeedsAnIdleLunWithAPlexAndRoomForGrowth) {
    FilerObjectContainer container;
    GuidAssociator ports;
    TestLun lun(&container, ports, Id(1), 100);
    lun.SetState(LUN_STATE_DETACHED);
    EXPECT_EQ(lun.SetSize(200, nullptr), VDS_E_ANOTHER_CALL_IN_PROGRESS) << "a LUN still being created";
    fapi_plex_info_t record;
    new ZarvoPlex(&container, &lun, Id(50), record);
    new ZarvoPlex(&container, &lun, Id(51), record);
    container.m_freespace = 150;
    EXPECT_EQ(lun.SetSize(200, nullptr), VDS_E_NOT_ENOUGH_SPACE) << "150 free over two plexes leaves 75 each";
    lun.SetSize(170, nullptr);
    LunProperties properties;
    lun.GetProperties(properties);
    EXPECT_EQ(static_cast<int>(properties.m_prop.TransitionState), 2);
    lun.SetSize(100, nullptr);
    lun.GetProperties(properties);
    EXPECT_EQ(static_cast<int>(properties.m_prop.TransitionState), 3) << "the same size counts as shrinking";
    EXPECT_EQ(lun.GetState(), LUN_STATE_DETACHED);
    lun.SetState(LUN_STATE_ATTACH_QUEUED);
    EXPECT_EQ(lun.SetSize(120, nullptr), VDS_E_ANOTHER_CALL_IN_PROGRESS);
}

TEST(LunStateMachine, CreateChecksTheTypeAgainstTheSubsystemFlags) {
    FilerObjectContainer container;  // flags 0x820F: fault tolerant and parity LUNs only
    GuidAssociator ports;
    struct Case {
        LONG type;
        bool refused;
    };
    for (const Case& c : {Case{1, false}, Case{2, false}, Case{14, false}, Case{3, true}, Case{10, true},
                          Case{13, true}, Case{99, true}}) {
        ZarvoLunFCP lun(&container, ports, Id(1), c.type, 1 << 20, u";;");
        const HRESULT hr = lun.Create(u";;", nullptr);
        EXPECT_EQ(hr == VDS_E_NOT_SUPPORTED, c.refused) << c.type;
        EXPECT_EQ(lun.GetState(), LUN_STATE_DETACHED);
        if (!c.refused) {
            EXPECT_EQ(hr, S_OK) << "no initiators and no completion object: nothing to queue";
        }
    }
    ZarvoLunFCP lun(&container, ports, Id(1), 1, 1 << 20, u"");
    lun.Create(u"20000000C9ABCDEF", nullptr);
    EXPECT_EQ(lun.GetState(), LUN_STATE_ATTACH_QUEUED);
}

// The work's step lines carry the result as bare lower-case hexadecimal.
TEST(LunStateMachine, WorkStepTracesTheResultInHex) {
    FilerObjectContainer container;
    struct Case {
        const char16_t* list;
        int32_t type;
        const char* line;
    };
    const Case cases[] = {
        {u"", LUN_ATTACH_STORAGE, "ZarvoLunIscsi::DoWork()::LUN_ATTACH_STORAGE hr=0"},
        {u"*", LUN_ATTACH_STORAGE, "ZarvoLunIscsi::DoWork()::LUN_ATTACH_STORAGE hr=80042400"},
        {u"iqn.1991-05.com.host:a", LUN_DETACH_STORAGE, "ZarvoLunIscsi::DoWork()::LUN_DETACH_STORAGE hr=0"},
        {u"", DELAY, "ZarvoLunIscsi::DoWork()::DELAY"},
    };
    for (const Case& c : cases) {
        container_test::TraceCapture trace;
        ZarvoLunIscsi lun(&container, Id(9), Id(1), 1, 1 << 20, c.list);
        lun.DoWork(c.type, 0, nullptr);
        EXPECT_EQ(trace.starting("ZarvoLunIscsi::DoWork()::"), std::vector<std::string>{c.line});
    }
}

TEST(LunIdentification, ALongSerialNumberIsCutToFitTheIdentifierBlock) {
    FilerObjectContainer container;
    GuidAssociator ports;
    TestLun lun(&container, ports, Id(1), 1);
    for (const size_t length : {size_t{12}, size_t{242}, size_t{300}}) {
        lun.SetSerialNumber(std::string(length, 's'));
        VDS_LUN_INFORMATION information{};
        ASSERT_EQ(lun.GetIdentification(information), S_OK);
        const VDS_STORAGE_IDENTIFIER& identifier = information.m_deviceIdDescriptor.m_rgIdentifiers[0];
        const std::string bytes(reinterpret_cast<const char*>(identifier.m_rgbIdentifier), 256);
        EXPECT_EQ(bytes, "KORVEX   LUN " + std::string(std::min<size_t>(length, 242), 's') +
                             std::string(256 - 13 - std::min<size_t>(length, 242), '\0'));
        EXPECT_EQ(identifier.m_cbIdentifier, 32u);
        EXPECT_EQ(static_cast<int>(information.m_BusType), 1) << "no subsystem: not Fibre Channel";
        CoTaskMemFree(identifier.m_rgbIdentifier);
        CoTaskMemFree(information.m_deviceIdDescriptor.m_rgIdentifiers);
        for (char* text : {information.m_szVendorId, information.m_szProductId, information.m_szProductRevision,
                           information.m_szSerialNumber})
            CoTaskMemFree(text);
    }
}

// A clock that records each sleep and runs a step on the given one.
class StepClock : public platform::Clock {
public:
    ULONGLONG ticks() override { return m_ms; }
    ULONGLONG system_time() override { return 133'485'408'000'000'000ULL + m_ms * 10000; }
    void sleep(DWORD ms) override {
        m_sleeps.push_back(ms);
        m_ms += ms;
        if (m_onSleep) m_onSleep(m_sleeps.size());
    }
    std::optional<std::chrono::steady_clock::time_point> real_deadline(ULONGLONG) override { return std::nullopt; }

    std::vector<DWORD> m_sleeps;
    std::function<void(size_t)> m_onSleep;
    ULONGLONG m_ms = 0;
};

class Rescan : public ::testing::Test {
protected:
    void SetUp() override {
        root = std::filesystem::temp_directory_path() / ("lun-rescan-" + std::to_string(::getpid()));
        std::filesystem::remove_all(root);
        std::filesystem::create_directories(root / "class/scsi_host/host0");
        std::filesystem::create_directories(root / "class/scsi_host/host1");
        std::filesystem::create_directories(root / "class/fc_host/host1");
        Unit("0:0:0:0", std::string(1, '\0'));  // not Fibre Channel: never counted
        Unit("1:0:0:0", std::string("\0\0\x05\x02KORVEX  LUN", 15));
        ::setenv("SANPROV_SYSFS_ROOT", root.c_str(), 1);
        previous = platform::set_test_clock(clock);
    }
    void TearDown() override {
        platform::set_test_clock(previous);
        ::unsetenv("SANPROV_SYSFS_ROOT");
        std::filesystem::remove_all(root);
    }
    void Unit(const std::string& name, const std::string& inquiry) {
        std::filesystem::create_directories(root / "class/scsi_device" / name / "device");
        std::ofstream(root / "class/scsi_device" / name / "device/inquiry", std::ios::binary) << inquiry;
    }

    std::filesystem::path root;
    std::shared_ptr<StepClock> clock = std::make_shared<StepClock>();
    std::shared_ptr<platform::Clock> previous;
    FilerObjectContainer container;
    GuidAssociator ports;
};

TEST_F(Rescan, WaitsLongerEachPassWhileNothingChanges) {
    ZarvoLunFCP lun(&container, ports, Id(1), 0, 0, u"");
    EXPECT_EQ(lun.ScsiBusRescan2(3), S_OK);
    EXPECT_EQ(clock->m_sleeps, (std::vector<DWORD>{5000, 10000})) << "no sleep after the last pass";
    std::ifstream scan(root / "class/scsi_host/host1/scan");
    std::string text;
    std::getline(scan, text);
    EXPECT_EQ(text, "- - -");
}

TEST_F(Rescan, StopsAtTheFirstPassThatSeesAnotherUnitCount) {
    // After the first sleep a disk (first inquiry byte 0) appears on the Fibre Channel adapter.
    clock->m_onSleep = [&](size_t n) {
        if (n == 1) Unit("1:0:0:1", std::string("\0\0\x05\x02OTHER", 9));
    };
    ZarvoLunFCP lun(&container, ports, Id(1), 0, 0, u"");
    EXPECT_EQ(lun.ScsiBusRescan2(8), S_OK);
    EXPECT_EQ(clock->m_sleeps, (std::vector<DWORD>{5000}));
}

}  // namespace
