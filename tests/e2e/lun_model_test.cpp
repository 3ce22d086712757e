// LUNs of the SAN model against the simulated appliance.
#include <model/drive.h>
#include <model/lun_fcp.h>
#include <model/plex.h>

#include <hostlib/conversions.h>
#include <platform/comalloc.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "lun_model_support.h"

namespace {

using lun_e2e::LunModel;
using lun_e2e::N;
using lun_e2e::W;

const std::u16string kPath7 = u"/vol/ZarvoVolume7/ZarvoQtree7/ZarvoLun7";
const std::vector<std::string> kCreation = {"aggr-get-root-name", "aggr-list-info", "volume-create",
                                            "qtree-create",       "lun-create-by-size", "lun-get-serial-number"};

bool HasEvent(const std::vector<NotificationEntry>& events, NotificationType type, const GUID& id) {
    return std::any_of(events.begin(), events.end(),
                       [&](const NotificationEntry& e) { return e.type == type && e.id == id; });
}

// Event ids written to the service's event log since the test began.
std::vector<std::string> EventLogLines() {
    std::vector<std::string> lines;
    const char* root = std::getenv("SANPROV_ROOT");
    if (!root) return lines;
    for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::path(root) / "eventlog")) {
        std::ifstream in(entry.path());
        for (std::string line; std::getline(in, line);) lines.push_back(line);
    }
    return lines;
}

bool EventLogged(const std::string& id) {
    const auto lines = EventLogLines();
    return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return l.find(id) != std::string::npos; });
}

class LunCreation : public LunModel {};

TEST_F(LunCreation, BuildsVolumeQtreeAndLunNamedAfterTheNumber) {
    struct Case {
        ULONGLONG size;
        const char* type;
    };
    LONG number = 7;
    for (const Case& c : {Case{50ULL << 20, "image"}, Case{200ULL << 20, "windows"}}) {
        const std::string n = std::to_string(number);
        const std::u16string path = W("/vol/ZarvoVolume" + n + "/ZarvoQtree" + n + "/ZarvoLun" + n);
        Mark();
        const ULONGLONG freeBefore = DriveFreeSpace();
        const size_t extentsBefore = this->c->m_extents.size();
        ZarvoLun* lun = nullptr;
        ASSERT_EQ(CreateLun(number, c.size, u"", &lun), S_OK);
        EXPECT_EQ(Names(), kCreation);
        const auto requests = Requests();
        const auto volume = std::find_if(requests.begin(), requests.end(), [](auto& r) { return r.name == "volume-create"; });
        EXPECT_EQ(volume->child("volume"), "ZarvoVolume" + n);
        EXPECT_EQ(volume->child("containing-aggr-name"), "aggr1");
        EXPECT_EQ(volume->child("size"), "14716g");
        EXPECT_EQ(volume->child("space-reserve"), "file");
        const auto create = std::find_if(requests.begin(), requests.end(), [](auto& r) { return r.name == "lun-create-by-size"; });
        EXPECT_EQ(create->child("path"), N(path));
        EXPECT_EQ(create->child("type"), c.type);

        LunProperties properties;
        lun->GetProperties(properties);
        EXPECT_EQ(properties.m_strIdentification, path);
        EXPECT_EQ(properties.m_strFriendlyName, W("ZarvoLun" + n));
        EXPECT_EQ(lun->IsOwner(), 1);
        EXPECT_FALSE(lun->GetSerialNumber().empty());
        ASSERT_EQ(lun->Plexes().size(), 1u);
        // aggr1: one RAID-DP group of 6 data and 2 parity disks, each with one extent.
        EXPECT_EQ(this->c->m_extents.size() - extentsBefore, 8u);
        EXPECT_EQ(freeBefore - DriveFreeSpace(), 8 * ((c.size + 5) / 6));
        EXPECT_EQ(State("len([l for l in d['luns'] if l['path'] == '" + N(path) + "'])"), "1");
        EXPECT_TRUE(HasEvent(notifier.events(), 9, lun->GetId()));
        ++number;
    }
}

TEST_F(LunCreation, AFailedStepUndoesWhatWasBuiltAndAnnouncesNothing) {
    struct Case {
        const char* failing;
        int count;
        std::vector<std::string> after;  // the requests from the failing one on
    };
    const Case cases[] = {
        // The leftover of a first failed create is removed (quietly) before the one retry.
        {"volume-create", 2, {"volume-create", "lun-list-info", "volume-list-info", "volume-destroy", "volume-create"}},
        {"qtree-create", 1, {"qtree-create", "volume-list-info", "volume-offline", "volume-destroy"}},
        {"lun-create-by-size", 1, {"lun-create-by-size", "volume-list-info", "volume-offline", "volume-destroy"}},
        {"lun-get-serial-number", 1,
         {"lun-get-serial-number", "lun-destroy", "volume-list-info", "volume-offline", "volume-destroy"}},
    };
    const ULONGLONG freeBefore = DriveFreeSpace();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.failing);
        FailNext(c.failing, 13001, c.count);
        Mark();
        EXPECT_TRUE(FAILED(CreateLun(7, 200ULL << 20, u"")));
        const auto names = Names();
        const auto at = std::find(names.begin(), names.end(), c.failing);
        ASSERT_NE(at, names.end());
        EXPECT_EQ(std::vector<std::string>(at, names.end()), c.after);
        EXPECT_TRUE(this->c->m_lunMap.empty());
        EXPECT_TRUE(this->c->m_volumeMap.empty());
        EXPECT_TRUE(this->c->m_plexMap.empty());
        EXPECT_TRUE(this->c->m_extents.empty());
        EXPECT_EQ(DriveFreeSpace(), freeBefore);
        EXPECT_EQ(this->c->m_lunNumberMap.at(7), 0) << "the number goes back";
        EXPECT_EQ(State("[v['name'] for v in d['volumes'] if v['name'] == 'ZarvoVolume7']"), "[]");
        EXPECT_EQ(State("[l['path'] for l in d['luns'] if 'ZarvoLun7' in l['path']]"), "[]");
        // A work item still queued for the failed LUN must never match a LUN made later at its path.
        GUID again{};
        EXPECT_FALSE(san.CheckCreateGuid(N(kPath7), again)) << "the failed LUN's id is not given again";
    }
    for (const auto& event : notifier.events()) EXPECT_NE(event.type, 9) << "no arrival for a LUN that is not there";
}

TEST_F(LunCreation, AVolumeThatHoldsALunIsNeverRemovedForARetry) {
    // ZarvoVolume1 exists and holds ZarvoLun1: the creation fails, and the volume stays.
    FailNext("volume-create", 13043);
    Mark();
    EXPECT_TRUE(FAILED(CreateLun(1, 200ULL << 20, u"")));
    const auto names = Names();
    EXPECT_EQ(std::count(names.begin(), names.end(), "volume-destroy"), 0);
    EXPECT_EQ(State("[l['path'] for l in d['luns'] if 'ZarvoVolume1/' in l['path']]"),
              "['/vol/ZarvoVolume1/ZarvoQtree1/ZarvoLun1']");
}

TEST_F(LunCreation, AnAggregateWithoutAPlexBuildsNothing) {
    sim.set(R"({"aggregates/aggr1/size-total": 2000000000000, "aggregates/aggr1/plexes": []})");
    Mark();
    EXPECT_EQ(CreateLun(7, 200ULL << 20, u""), E_FAIL);
    EXPECT_EQ(Names(), (std::vector<std::string>{"aggr-get-root-name", "aggr-list-info"}));
    EXPECT_TRUE(c->m_lunMap.empty());
    EXPECT_TRUE(c->m_aggregateMap.empty());
}

TEST_F(LunCreation, IdentificationAndDiskSignature) {
    ZarvoLun* lun = nullptr;
    ASSERT_EQ(CreateLun(7, 200ULL << 20, u"", &lun), S_OK);
    GUID signature{};
    signature.Data1 = 99;
    ASSERT_EQ(lun->GetDiskSignature(signature), S_OK);
    EXPECT_EQ(signature, GUID{}) << "an unsigned LUN has the all-zero signature";
    c->m_filerControl.FilerGetApi()->set_lun_signature(kPath7.c_str(), 0x12345678);
    ASSERT_EQ(lun->GetDiskSignature(signature), S_OK);
    GUID expected{};
    expected.Data1 = 0x12345678;
    EXPECT_EQ(signature, expected);

    VDS_LUN_INFORMATION information{};
    ASSERT_EQ(lun->GetIdentification(information), S_OK);
    EXPECT_EQ(static_cast<int>(information.m_BusType), 6);
    EXPECT_STREQ(information.m_szVendorId, "KORVEX");
    EXPECT_STREQ(information.m_szSerialNumber, lun->GetSerialNumber().c_str());
    const VDS_STORAGE_IDENTIFIER& identifier = information.m_deviceIdDescriptor.m_rgIdentifiers[0];
    EXPECT_EQ(identifier.m_cbIdentifier, 32u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(identifier.m_rgbIdentifier)),
              "KORVEX   LUN " + lun->GetSerialNumber());
    // Found again by the serial number the host reads.
    GUID found{};
    EXPECT_EQ(c->QueryIfCreatedLun(u"\\\\?\\disk", information, found), S_OK);
    EXPECT_EQ(found, lun->GetId());
    CoTaskMemFree(identifier.m_rgbIdentifier);
    CoTaskMemFree(information.m_deviceIdDescriptor.m_rgIdentifiers);
    for (char* text : {information.m_szVendorId, information.m_szProductId, information.m_szProductRevision,
                       information.m_szSerialNumber})
        CoTaskMemFree(text);
}

class LunNumbering : public LunModel {};

TEST_F(LunNumbering, TheListingRebuildsTheTableWithCreationsStillQueued) {
    // Appliance: ZarvoLun1 (own); one path past the range; a creation of number 5 still queued.
    sim.set(R"({"luns/0/path": "/vol/vol1/q1/ZarvoQtree2000"})");
    for (LONG n : {3, 4}) c->SetLunNumber(n, 1);  // stale marks of LUNs long gone
    GUID id{};
    san.CheckCreateGuid("pending", id);
    auto* pending = new ZarvoLunFCP(c, c->m_lunPortAssoc, id, 1, 1 << 20, u"");
    pending->SetLunNumber(5);
    pending->SetNameAndPath(u"/vol/ZarvoVolume5/ZarvoQtree5/ZarvoLun5");
    ASSERT_EQ(c->RefreshLunNumbers(), S_OK) << "a number out of range fails nothing";
    std::vector<LONG> used;
    for (const auto& [number, flag] : c->m_lunNumberMap)
        if (flag) used.push_back(number);
    EXPECT_EQ(used, (std::vector<LONG>{1, 5}));
    LONG next = -1;
    ASSERT_EQ(c->GetLunNumber(next), S_OK);
    EXPECT_EQ(next, 0);
}

TEST_F(LunNumbering, AThousandQueuedCreationsUseEveryNumber) {
    for (LONG n = 0; n < 1024; ++n) {
        const std::string text = std::to_string(n);
        GUID id{};
        san.CheckCreateGuid("pending" + text, id);
        auto* pending = new ZarvoLunFCP(c, c->m_lunPortAssoc, id, 1, 1 << 20, u"");
        pending->SetLunNumber(n);
        pending->SetNameAndPath(W("/vol/ZarvoVolume" + text + "/ZarvoQtree" + text + "/ZarvoLun" + text));
    }
    ZarvoAsync* async = reinterpret_cast<ZarvoAsync*>(1);
    Mark();
    EXPECT_EQ(c->CreateLun(VDS_LT_DEFAULT, 200ULL << 20, {}, u"", nullptr, &async), E_FAIL);
    EXPECT_EQ(async, nullptr);
    EXPECT_EQ(Names(), std::vector<std::string>{"lun-list-info"}) << "one listing, nothing built";
    EXPECT_EQ(c->m_lunMap.size(), 1024u);
}

class LunLoading : public LunModel {};

TEST_F(LunLoading, ReadsEveryLunWithItsObjectsOwnerAndMapping) {
    LoadLuns();
    ASSERT_EQ(c->m_lunMap.size(), 5u);
    struct Case {
        const char16_t* path;
        LONG owner;
        int32_t state;
        const char16_t* list;
    };
    for (const Case& x :
         {Case{u"/vol/ZarvoVolume1/ZarvoQtree1/ZarvoLun1", 1, LUN_STATE_ATTACHED, u"10:00:00:00:c9:6b:3d:1a"},
          Case{u"/vol/vol1/q1/lun1", 0, LUN_STATE_ATTACHED,
               u"10:00:00:00:c9:6b:3d:1a;10:00:00:00:c9:6b:3d:1b;10:00:00:00:c9:6b:3d:1a;21:00:00:e0:8b:12:34:56"},
          Case{u"/vol/vol_dr/dr_lun", 0, LUN_STATE_DETACHED, u""}}) {
        ZarvoLun* lun = LunAt(x.path);
        ASSERT_NE(lun, nullptr);
        EXPECT_EQ(lun->IsOwner(), x.owner);
        EXPECT_EQ(lun->GetState(), x.state);
        LunProperties properties;
        lun->GetProperties(properties);
        EXPECT_EQ(properties.m_strUnmaskingList, x.list);
        EXPECT_EQ(properties.m_prop.ulFlags, 1u);
        EXPECT_EQ(lun->Plexes().size(), 1u);
    }
    EXPECT_EQ(c->m_lunNumberMap.at(1), 1) << "the own LUN's number is taken";
    // lun0 and lun1 share vol1 and q1; five LUNs in four volumes.
    EXPECT_EQ(c->m_volumeMap.size(), 4u);
    std::vector<GUID> lun0Volumes, lun1Volumes;
    c->QueryAssociatedVolumes(LunAt(u"/vol/vol1/q1/lun0")->GetId(), lun0Volumes);
    c->QueryAssociatedVolumes(LunAt(u"/vol/vol1/q1/lun1")->GetId(), lun1Volumes);
    EXPECT_EQ(lun0Volumes, lun1Volumes);
    EXPECT_EQ(c->m_aggregateMap.size(), 1u);
}

TEST_F(LunLoading, ALunThatCannotBeReadLeavesNoExtents) {
    const ULONGLONG freeBefore = DriveFreeSpace();
    const ULONGLONG subsystemFree = c->m_freespace;
    FailNext("lun-get-serial-number", 13001);
    EXPECT_EQ(LoadLun(u"/vol/vol1/q1/lun1"), nullptr);
    EXPECT_TRUE(c->m_lunMap.empty());
    EXPECT_TRUE(c->m_extents.empty()) << "no extent of a LUN the model does not hold";
    EXPECT_EQ(DriveFreeSpace(), freeBefore);
    EXPECT_EQ(c->m_freespace, subsystemFree) << "the reading never counted them in";
}

class FcMasking : public LunModel {};

TEST_F(FcMasking, AttachRequestsPerList) {
    struct Case {
        const char* name;
        std::u16string list;
        std::vector<std::string> names;
        std::vector<std::string> groupsMapped;
    };
    const std::string known = "viaVDS.10:00:00:00:c9:6b:3d:1a";
    const Case cases[] = {
        {"one WWN", u"20000000C9ABCDEF",
         {"igroup-list-info", "igroup-create", "igroup-add", "lun-map"}, {"viaVDS.20:00:00:00:c9:ab:cd:ef"}},
        {"wildcard", u"*",
         {"igroup-list-info", "lun-map", "igroup-create", "igroup-add", "lun-map"},
         {known, "viaVDS.21:00:00:e0:8b:12:34:56"}},
    };
    for (const Case& x : cases) {
        SCOPED_TRACE(x.name);
        Reset();
        c->m_strMaskingList = u"10:00:00:00:c9:6b:3d:1a;21:00:00:e0:8b:12:34:56";
        ZarvoLun* lun = nullptr;
        ASSERT_EQ(CreateLun(7, 200ULL << 20, u"", &lun), S_OK);
        lun->SetUnmask(x.list, nullptr);
        Mark();
        EXPECT_EQ(RunWork(lun, LUN_ATTACH_STORAGE), S_OK);
        EXPECT_EQ(lun->GetState(), LUN_STATE_ATTACHED);
        EXPECT_EQ(Names(), x.names);
        LunProperties properties;
        lun->GetProperties(properties);
        EXPECT_EQ(SplitUnmaskingList(properties.m_strUnmaskingList).size(), x.groupsMapped.size())
            << "the LUN shows the initiators it is mapped to";
        for (const auto& group : x.groupsMapped)
            EXPECT_EQ(State("'" + group + "' in [g for l in d['luns'] if l['path'] == '" + N(kPath7) +
                            "' for g in l['maps']]"),
                      "True")
                << group;
    }
}

// A list the provider could never map is refused before anything is queued or sent.
TEST_F(FcMasking, AnEntryThatIsNotAPortNameIsRefused) {
    ZarvoLun* lun = nullptr;
    ASSERT_EQ(CreateLun(7, 200ULL << 20, u"", &lun), S_OK);
    for (const char16_t* list : {u"*;xyz;20000000C9ABCDEF", u"100000000C96B3D1A", u"20000000C9ABCDEF,20000000C9ABCDEE"}) {
        Mark();
        EXPECT_EQ(lun->SetUnmask(list, nullptr), E_INVALIDARG) << N(list);
        EXPECT_EQ(lun->GetState(), LUN_STATE_DETACHED);
        EXPECT_TRUE(Names().empty());
    }
}

TEST_F(FcMasking, AStaleGroupIsReplacedOnlyWhenEmpty) {
    const std::string group = "viaVDS.20:00:00:00:c9:ab:cd:ef";
    for (const bool empty : {true, false}) {
        SCOPED_TRACE(empty);
        Reset();
        // The group exists with another OS type.
        c->m_filerControl.FilerCreateIgroup(W(group), 0);
        sim.set(R"({"igroups/)" + group + R"(/os-type": "linux"})");
        if (!empty) c->m_filerControl.FilerAddIgroup(W(group), u"20:00:00:00:c9:ab:cd:00");
        ZarvoLun* lun = nullptr;
        ASSERT_EQ(CreateLun(7, 200ULL << 20, u"", &lun), S_OK);
        lun->SetUnmask(u"20000000C9ABCDEF", nullptr);
        Mark();
        RunWork(lun, LUN_ATTACH_STORAGE);
        const std::vector<std::string> expected =
            empty ? std::vector<std::string>{"igroup-list-info", "igroup-destroy", "igroup-create", "igroup-add", "lun-map"}
                  : std::vector<std::string>{"igroup-list-info", "igroup-add", "lun-map"};
        EXPECT_EQ(Names(), expected);
    }
}

TEST_F(FcMasking, DetachUnmapsEveryGroupAndKeepsThem) {
    LoadLuns();
    ZarvoLun* lun = LunAt(u"/vol/vol1/q1/lun1");
    ASSERT_NE(lun, nullptr);
    EXPECT_NE(lun->SetUnmask(u"", nullptr), VDS_E_ANOTHER_CALL_IN_PROGRESS);
    Mark();
    EXPECT_EQ(RunWork(lun, LUN_DETACH_STORAGE), S_OK);
    EXPECT_EQ(Names(), (std::vector<std::string>{"lun-map-list-info", "lun-unmap", "lun-unmap"}));
    EXPECT_EQ(lun->GetState(), LUN_STATE_DETACHED);
    EXPECT_EQ(State("len([g for g in d['igroups'] if g['name'] in ('ig_host1_fc', 'ig_cluster_fc')])"), "2");
    // Nothing mapped any more: the Fibre Channel detach reports the failed listing.
    EXPECT_EQ(RunWork(lun, LUN_DETACH_STORAGE), E_FAIL);
}

class IscsiMasking : public LunModel {
protected:
    IscsiMasking() : LunModel(3) {}
};

TEST_F(IscsiMasking, AttachAndDetach) {
    ZarvoLun* lun = nullptr;
    ASSERT_EQ(CreateLun(7, 200ULL << 20, u"", &lun), S_OK);
    lun->SetUnmask(u"*", nullptr);
    Mark();
    EXPECT_EQ(RunWork(lun, LUN_ATTACH_STORAGE), VDS_E_NOT_SUPPORTED);
    EXPECT_TRUE(Names().empty());
    lun->SetUnmask(u"", nullptr);
    RunWork(lun, LUN_DETACH_STORAGE);
    lun->SetUnmask(u"iqn.1991-05.com.microsoft:host9", nullptr);
    Mark();
    EXPECT_EQ(RunWork(lun, LUN_ATTACH_STORAGE), S_OK);
    EXPECT_EQ(Names(), (std::vector<std::string>{"igroup-list-info", "igroup-create", "igroup-add", "lun-map"}));
    const auto requests = Requests();
    EXPECT_EQ(requests[1].child("initiator-group-type"), "iscsi");
    lun->SetUnmask(u"", nullptr);
    Mark();
    EXPECT_EQ(RunWork(lun, LUN_DETACH_STORAGE), S_OK);
    EXPECT_EQ(Names(), (std::vector<std::string>{"lun-map-list-info", "lun-unmap"}));
    EXPECT_EQ(RunWork(lun, LUN_DETACH_STORAGE), S_OK) << "an iSCSI detach of an unmapped LUN reports no failure";
}

TEST_F(IscsiMasking, ARefusedUnmapFailsTheDetachAndTheLunKeepsThatGroup) {
    ZarvoLun* lun = nullptr;
    ASSERT_EQ(CreateLun(7, 200ULL << 20, u"", &lun), S_OK);
    lun->SetUnmask(u"iqn.1991-05.com.microsoft:host8;iqn.1991-05.com.microsoft:host9", nullptr);
    ASSERT_EQ(RunWork(lun, LUN_ATTACH_STORAGE), S_OK);
    FailNext("lun-unmap", 9007);
    lun->SetUnmask(u"", nullptr);
    Mark();
    EXPECT_TRUE(FAILED(RunWork(lun, LUN_DETACH_STORAGE))) << "a LUN still mapped is not reported detached";
    EXPECT_EQ(Names(), (std::vector<std::string>{"lun-map-list-info", "lun-unmap", "lun-unmap"}))
        << "the other group is unmapped all the same";
    EXPECT_EQ(lun->GetState(), LUN_STATE_ATTACHED);
    LunProperties properties;
    lun->GetProperties(properties);
    EXPECT_EQ(std::count(properties.m_strUnmaskingList.begin(), properties.m_strUnmaskingList.end(), u';'), 0)
        << "one initiator stays: " << N(properties.m_strUnmaskingList);
    EXPECT_FALSE(properties.m_strUnmaskingList.empty());
}

TEST_F(IscsiMasking, CreateLunWithoutATargetBuildsNothing) {
    ZarvoAsync* async = reinterpret_cast<ZarvoAsync*>(1);
    EXPECT_EQ(c->CreateLun(VDS_LT_DEFAULT, 200ULL << 20, {}, u"", nullptr, &async), E_FAIL);
    EXPECT_EQ(async, nullptr);
    EXPECT_TRUE(c->m_lunMap.empty());
    LONG next = -1;
    ASSERT_EQ(c->GetLunNumber(next), S_OK);
    EXPECT_EQ(next, 0) << "the number picked for it is free again";
}

class LunResize : public LunModel {};

TEST_F(LunResize, GrowsOnTheApplianceAndInTheExtents) {
    ZarvoLun* lun = nullptr;
    ASSERT_EQ(CreateLun(7, 600ULL << 20, u"", &lun), S_OK);
    EXPECT_NE(lun->SetSize(1200ULL << 20, nullptr), VDS_E_ANOTHER_CALL_IN_PROGRESS);
    Mark();
    EXPECT_EQ(RunWork(lun, LUN_EXTEND), S_OK);
    EXPECT_EQ(Names(), (std::vector<std::string>{"lun-resize"}));
    LunProperties properties;
    lun->GetProperties(properties);
    EXPECT_EQ(properties.m_prop.ullSize, 1200ULL << 20);
    EXPECT_EQ(c->m_extents.size(), 16u) << "growth adds extents for the difference";
}

TEST_F(LunResize, ApplianceRefusalsBecomeTheirCodesAndEvents) {
    struct Case {
        int errorNumber;
        HRESULT hr;
        const char* event;
    };
    ZarvoLun* lun = nullptr;
    ASSERT_EQ(CreateLun(7, 600ULL << 20, u"", &lun), S_OK);
    for (const Case& x : {Case{9035, VDS_E_NOT_SUPPORTED, "\"id\":3221497095"}, Case{28, VDS_E_NOT_ENOUGH_SPACE, "\"id\":3221497096"},
                          Case{9042, VDS_E_NOT_SUPPORTED, "\"id\":3221497097"}}) {
        SCOPED_TRACE(x.errorNumber);
        FailNext("lun-resize", x.errorNumber);
        lun->SetSize(700ULL << 20, nullptr);
        EXPECT_EQ(RunWork(lun, LUN_EXTEND), x.hr);
        LunProperties properties;
        lun->GetProperties(properties);
        EXPECT_EQ(properties.m_prop.ullSize, 600ULL << 20);
        EXPECT_TRUE(EventLogged(x.event));
    }
}

class LunRename : public LunModel {
protected:
    explicit LunRename(filer_version release = filer_version(7, 2, 4)) : LunModel(2, release) {}
};
class LunRename71 : public LunRename {
protected:
    LunRename71() : LunRename(filer_version(7, 1)) {}
};

TEST_F(LunRename, CharacterRuleFromRelease72) {
    ZarvoLun* lun = nullptr;
    ASSERT_EQ(CreateLun(3, 200ULL << 20, u"", &lun), S_OK);
    const GUID id = lun->GetId();
    EXPECT_EQ(lun->SetName(u"my disk#1"), VDS_S_NAME_NOT_SET_EXACTLY);
    EXPECT_EQ(lun->GetIdentificationText(), u"/vol/ZarvoVolume3/ZarvoQtree3/my_disk_1");
    EXPECT_EQ(lun->GetPath(), u"/vol/ZarvoVolume3/ZarvoQtree3/my_disk_1");
    EXPECT_EQ(lun->GetId(), id) << "the id follows the path";
    EXPECT_TRUE(EventLogged("\"id\":2147486670"));
    EXPECT_EQ(State("[l['path'] for l in d['luns'] if 'ZarvoVolume3' in l['path']]"),
              "['/vol/ZarvoVolume3/ZarvoQtree3/my_disk_1']");
}

TEST_F(LunRename71, NameSentAsGivenAndFailedRenameKeepsThePath) {
    LoadLuns();
    ZarvoLun* lun = LunAt(u"/vol/vol2/db_lun");
    ASSERT_NE(lun, nullptr);
    FailNext("lun-move", 9034);
    Mark();
    EXPECT_EQ(lun->SetName(u"x y"), E_FAIL);
    const auto requests = Requests();
    ASSERT_EQ(Names(), std::vector<std::string>{"lun-move"});
    EXPECT_EQ(requests.back().child("new-path"), "/vol/vol2/x y") << "as given, directly in its volume";
    EXPECT_EQ(lun->GetPath(), u"/vol/vol2/db_lun") << "nothing moves without the appliance";
    EXPECT_EQ(lun->SetName(u"x_y"), S_OK);
    EXPECT_EQ(lun->GetPath(), u"/vol/vol2/x_y");
}

class LunRemoval : public LunModel {};

TEST_F(LunRemoval, OwnLunGoesWithItsVolumeForeignLunAlone) {
    ZarvoLun* own = nullptr;
    ASSERT_EQ(CreateLun(7, 200ULL << 20, u"", &own), S_OK);
    const ULONGLONG freeAfterCreate = DriveFreeSpace();
    Mark();
    EXPECT_EQ(RunWork(own, LUN_DELETE_DETACHED), S_OK);
    EXPECT_EQ(Names(), (std::vector<std::string>{"volume-list-info", "volume-offline", "volume-destroy"}));
    EXPECT_EQ(c->m_lunNumberMap.at(7), 0);
    EXPECT_GT(DriveFreeSpace(), freeAfterCreate) << "the plex's extents are freed";

    const std::u16string path = u"/vol/vol1/q1/plain";
    ULONGLONG actual = 0;
    ASSERT_EQ(c->m_filerControl.FilerCreateLun(path, 200ULL << 20, actual), S_OK);
    ZarvoLun* foreign = LoadLun(path);
    ASSERT_NE(foreign, nullptr);
    const ULONGLONG freeWithForeign = DriveFreeSpace();
    FailNext("lun-destroy", 9013);
    EXPECT_EQ(RunWork(foreign, LUN_DELETE_DETACHED), E_FAIL) << "the deletion's own result";
    EXPECT_EQ(LunAt(path), foreign) << "a LUN the appliance kept stays";
    EXPECT_EQ(DriveFreeSpace(), freeWithForeign) << "with its extents";
    Mark();
    EXPECT_EQ(RunWork(foreign, LUN_DELETE_DETACHED), S_OK);
    EXPECT_EQ(Names(), (std::vector<std::string>{"lun-destroy"}));
    EXPECT_EQ(State("'vol1' in [v['name'] for v in d['volumes']]"), "True") << "a foreign volume stays";
}

TEST_F(LunRemoval, AnOwnVolumeThatHoldsAnotherLunStays) {
    const std::u16string path = u"/vol/ZarvoVolume1/ZarvoQtree1/ZarvoLun1";
    ULONGLONG actual = 0;
    ASSERT_EQ(c->m_filerControl.FilerCreateLun(u"/vol/ZarvoVolume1/ZarvoQtree1/other", 200ULL << 20, actual), S_OK);
    ASSERT_EQ(c->m_filerControl.FilerUnassignLun(path, u"viaVDS.10:00:00:00:c9:6b:3d:1a"), S_OK);
    LoadLuns();
    ZarvoLun* own = LunAt(path);
    ASSERT_NE(own, nullptr);
    ASSERT_EQ(own->IsOwner(), 1);
    Mark();
    EXPECT_EQ(RunWork(own, LUN_DELETE_DETACHED), S_OK);
    EXPECT_EQ(Names(), (std::vector<std::string>{"lun-destroy"}));
    EXPECT_EQ(State("[l['path'] for l in d['luns'] if 'ZarvoVolume1/' in l['path']]"),
              "['/vol/ZarvoVolume1/ZarvoQtree1/other']");
}

}  // namespace
