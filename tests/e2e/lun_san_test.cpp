// A LUN's life through the San of a subsystem read from the simulated
// appliance: each request queues its work, the worker runs it, the completion
// object carries the result and the notifications.
#include "san_fixture.h"

#include <model/async.h>
#include <model/filer_object_container.h>
#include <model/lun.h>
#include <model/zarvo_san.h>

#include <hostlib/conversions.h>
#include <platform/clock.h>
#include <platform/critical_section.h>
#include <platform/errorinfo.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>

using namespace subsystem_e2e;
namespace code = notification_code;

namespace {

// The appliance's record of one LUN (null when it has none).
nlohmann::ordered_json appliance_lun(const e2e::Appliance& sim, const std::string& path) {
    const auto all = state(sim);
    for (const auto& lun : all["luns"])
        if (lun.value("path", "") == path) return lun;
    return nullptr;
}

bool listed(ZarvoSan& san, const GUID& id) {
    std::vector<GUID> luns;
    san.QueryLuns(luns);
    return std::count(luns.begin(), luns.end(), id) == 1;
}

// Leaves `text` as the calling thread's error information.
void leave_error_info(const char* text) {
    ICreateErrorInfo* creator = nullptr;
    ASSERT_EQ(CreateErrorInfo(&creator), S_OK);
    creator->SetDescription(const_cast<LPOLESTR>(wide(text).c_str()));
    IErrorInfo* info = nullptr;
    creator->QueryInterface(IID_PPV_ARGS(&info));
    creator->Release();
    SetErrorInfo(0, info);
    info->Release();
}

// The calling thread's error information as text ("" when there is none); it is taken.
std::string error_info_text() {
    IErrorInfo* info = nullptr;
    if (GetErrorInfo(0, &info) != S_OK || !info) return "";
    BSTR description = nullptr;
    info->GetDescription(&description);
    std::string text = description ? WStringToString(description) : "";
    SysFreeString(description);
    info->Release();
    return text;
}

class LunThroughSan : public FcSanTest {
protected:
    // The appliance's own-named LUN paths, sorted, each followed by ";".
    std::string LunPaths() {
        std::vector<std::string> paths;
        const auto all = state(sim_);
        for (const auto& lun : all["luns"]) {
            const std::string path = lun.value("path", "");
            if (path.find("ZarvoVolume") != std::string::npos) paths.push_back(path);
        }
        std::sort(paths.begin(), paths.end());
        std::string text;
        for (const auto& path : paths) text += path + ";";
        return text;
    }
};

TEST_F(LunThroughSan, CreateMaskGrowRenameAndDelete) {
    ZarvoAsync* async = nullptr;
    ASSERT_EQ(san_->CreateLun(VDS_LT_DEFAULT, 200ULL << 20, {}, u"20000000C9ABCDEF", nullptr, &async), S_OK);
    GUID id{};
    ASSERT_EQ(Finish(async, &id), S_OK);
    // ZarvoLun1 is on the appliance: the first free number is 0.
    EXPECT_EQ(LunPaths(), "/vol/ZarvoVolume0/ZarvoQtree0/ZarvoLun0;/vol/ZarvoVolume1/ZarvoQtree1/ZarvoLun1;");
    auto batches = notifier_.batches();
    ASSERT_FALSE(batches.empty());
    EXPECT_EQ(batches.front().front(), (Delivered{code::LunArrive, id}));
    const auto maps = state(sim_)["luns"];
    const auto created = std::find_if(maps.begin(), maps.end(), [](const auto& l) {
        return l.value("path", "") == "/vol/ZarvoVolume0/ZarvoQtree0/ZarvoLun0";
    });
    ASSERT_NE(created, maps.end());
    EXPECT_TRUE((*created)["maps"].contains("viaVDS.20:00:00:00:c9:ab:cd:ef"));

    ASSERT_EQ(san_->SetSize(id, 400ULL << 20, &async), S_OK);
    EXPECT_EQ(Finish(async), S_OK);
    LunProperties properties;
    ASSERT_EQ(san_->GetLunProperties(id, properties), S_OK);
    EXPECT_EQ(properties.m_prop.ullSize, 400ULL << 20);

    EXPECT_EQ(san_->SetLunName(id, u"data"), S_OK);
    ASSERT_EQ(san_->SetLunUnmask(id, u"", &async), S_OK);
    EXPECT_EQ(Finish(async), S_OK);

    notifier_.clear();
    ASSERT_EQ(san_->DeleteLun(id, &async), S_OK);
    EXPECT_EQ(Finish(async), S_OK);
    EXPECT_EQ(LunPaths(), "/vol/ZarvoVolume1/ZarvoQtree1/ZarvoLun1;");
    EXPECT_EQ(notifier_.batches().back().back(), (Delivered{code::LunDepart, id}));
    std::vector<GUID> luns;
    san_->QueryLuns(luns);
    EXPECT_EQ(std::count(luns.begin(), luns.end(), id), 0);
}

TEST_F(LunThroughSan, QueuedCreationsTakeTheirOwnNumbersAndCannotBeResizedYet) {
    ZarvoAsync* first = nullptr;
    ZarvoAsync* second = nullptr;
    GUID firstId{}, secondId{};
    {
        // The worker waits for the San lock: both creations are queued before either runs.
        EnterCriticalSection(san_->GetLock());
        ASSERT_EQ(san_->CreateLun(VDS_LT_DEFAULT, 200ULL << 20, {}, u"", nullptr, &first), S_OK);
        ASSERT_EQ(san_->CreateLun(VDS_LT_DEFAULT, 200ULL << 20, {}, u"", nullptr, &second), S_OK);
        std::vector<GUID> luns;
        san_->QueryLuns(luns);
        ZarvoAsync* resize = reinterpret_cast<ZarvoAsync*>(1);
        for (const GUID& id : luns) {
            ZarvoLun* lun = nullptr;
            san_->GetContainer()->GetLun(id, lun);
            if (lun->Plexes().empty()) {
                EXPECT_EQ(san_->SetSize(id, 300ULL << 20, &resize), VDS_E_ANOTHER_CALL_IN_PROGRESS);
            }
        }
        EXPECT_EQ(resize, nullptr);
        LeaveCriticalSection(san_->GetLock());
    }
    EXPECT_EQ(Finish(first, &firstId), S_OK);
    EXPECT_EQ(Finish(second, &secondId), S_OK);
    EXPECT_EQ(LunPaths(), "/vol/ZarvoVolume0/ZarvoQtree0/ZarvoLun0;/vol/ZarvoVolume1/ZarvoQtree1/ZarvoLun1;"
                          "/vol/ZarvoVolume2/ZarvoQtree2/ZarvoLun2;");
}

TEST_F(LunThroughSan, AFailedCreationFreesItsNumberAndAnnouncesNothing) {
    sim_.fault(R"({"kind": "errno", "request": "lun-create-by-size", "errno": 28, "reason": "full"})");
    ZarvoAsync* async = nullptr;
    ASSERT_EQ(san_->CreateLun(VDS_LT_DEFAULT, 200ULL << 20, {}, u"", nullptr, &async), S_OK);
    EXPECT_EQ(Finish(async), E_FAIL);
    EXPECT_TRUE(notifier_.batches().empty());
    ASSERT_EQ(san_->CreateLun(VDS_LT_DEFAULT, 200ULL << 20, {}, u"", nullptr, &async), S_OK);
    EXPECT_EQ(Finish(async), S_OK);
    EXPECT_EQ(LunPaths(), "/vol/ZarvoVolume0/ZarvoQtree0/ZarvoLun0;/vol/ZarvoVolume1/ZarvoQtree1/ZarvoLun1;");
}

TEST_F(LunThroughSan, AFailedDeletionAnnouncesNothingAndLeavesTheLunAsItWas) {
    struct Case {
        const char* path;
        const char* fault;
    };
    const Case cases[] = {
        {"/vol/vol_dr/dr_lun", R"({"kind": "errno", "request": "lun-destroy", "errno": 9013, "reason": "mapped"})"},
        {"/vol/vol1/q1/lun0", R"({"kind": "errno", "request": "lun-offline", "errno": 9017, "reason": "busy"})"},
        {"/vol/vol1/q1/lun0", R"({"kind": "errno", "request": "lun-destroy", "errno": 9013, "reason": "mapped"})"},
        {"/vol/vol1/q1/lun0", R"({"kind": "drop", "request": "lun-destroy", "execute": false})"},
    };
    for (const Case& c : cases) {
        const std::string what = std::string(c.path) + " / " + c.fault;
        const GUID id = id_of_key(*san_, c.path);
        LunProperties before;
        ASSERT_EQ(san_->GetLunProperties(id, before), S_OK) << what;
        sim_.fault(c.fault);
        notifier_.clear();
        ZarvoAsync* async = nullptr;
        ASSERT_EQ(san_->DeleteLun(id, &async), S_OK) << what;
        EXPECT_TRUE(FAILED(Finish(async))) << what;
        EXPECT_TRUE(notifier_.batches().empty()) << what << ": no departure";
        EXPECT_TRUE(listed(*san_, id)) << what;
        const auto onAppliance = appliance_lun(sim_, c.path);
        ASSERT_FALSE(onAppliance.is_null()) << what;
        EXPECT_TRUE(onAppliance.value("online", true)) << what << ": a LUN the deletion took offline is online again";
        LunProperties after;
        ASSERT_EQ(san_->GetLunProperties(id, after), S_OK);
        EXPECT_EQ(after.m_strUnmaskingList, before.m_strUnmaskingList);
        sim_.control("POST", "/sim/faults/clear");
    }
    // Not busy: the LUN can be deleted once the appliance lets it.
    const GUID id = id_of_key(*san_, "/vol/vol_dr/dr_lun");
    notifier_.clear();
    ZarvoAsync* async = nullptr;
    ASSERT_EQ(san_->DeleteLun(id, &async), S_OK);
    EXPECT_EQ(Finish(async), S_OK);
    ASSERT_FALSE(notifier_.batches().empty());
    EXPECT_EQ(notifier_.batches().back().back(), (Delivered{code::LunDepart, id}));
    EXPECT_FALSE(listed(*san_, id));
}

TEST_F(LunThroughSan, AFailedVolumeDestroyBringsTheVolumeBackOnlineAndIsReported) {
    const std::string path = "/vol/ZarvoVolume1/ZarvoQtree1/ZarvoLun1";
    const GUID id = id_of_key(*san_, path);
    const char* faults[] = {
        R"({"kind": "errno", "request": "volume-destroy", "errno": 13041, "reason": "volume has clones"})",
        R"({"kind": "drop", "request": "volume-destroy", "execute": false})",
    };
    for (const char* fault : faults) {
        sim_.fault(fault);
        notifier_.clear();
        const size_t before = events(root_).size();
        ZarvoAsync* async = nullptr;
        ASSERT_EQ(san_->DeleteLun(id, &async), S_OK) << fault;
        EXPECT_EQ(Finish(async), E_FAIL) << fault;
        const std::string text = error_info_text();
        EXPECT_NE(text.find("destroy the volume 'ZarvoVolume1'"), std::string::npos) << fault << ": " << text;
        EXPECT_TRUE(notifier_.batches().empty()) << fault;
        EXPECT_TRUE(listed(*san_, id)) << fault;
        const auto appliance = state(sim_);
        for (const auto& volume : appliance["volumes"])
            if (volume["name"] == "ZarvoVolume1") {
                EXPECT_EQ(volume.value("state", "online"), "online") << fault;
            }
        const auto onAppliance = appliance_lun(sim_, path);
        ASSERT_FALSE(onAppliance.is_null()) << fault;
        EXPECT_TRUE(onAppliance.value("online", true)) << fault;
        const auto all = events(root_);
        EXPECT_TRUE(std::any_of(all.begin() + static_cast<std::ptrdiff_t>(before), all.end(), [](const Event& e) {
            return !e.inserts.empty() && e.inserts[0].find("destroy the volume 'ZarvoVolume1'") != std::string::npos;
        })) << fault << ": the destroy's failure is reported";
        sim_.control("POST", "/sim/faults/clear");
    }
    ZarvoAsync* async = nullptr;
    ASSERT_EQ(san_->DeleteLun(id, &async), S_OK);
    EXPECT_EQ(Finish(async), S_OK);
    EXPECT_TRUE(appliance_lun(sim_, path).is_null());
}

TEST_F(LunThroughSan, AMaskingFailureIsTheCreationsResultAndTheLunStillArrives) {
    for (const char* request : {"igroup-create", "igroup-add", "lun-map"}) {
        sim_.fault(std::string(R"({"kind": "errno", "errno": 9007, "reason": "refused", "request": ")") + request +
                   R"("})");
        notifier_.clear();
        ZarvoAsync* async = nullptr;
        ASSERT_EQ(san_->CreateLun(VDS_LT_DEFAULT, 200ULL << 20, {}, u"20000000C9ABCDEF", nullptr, &async), S_OK);
        GUID id{};
        EXPECT_EQ(Finish(async, &id), E_FAIL) << request;
        const auto batches = notifier_.batches();
        ASSERT_FALSE(batches.empty()) << request;
        EXPECT_EQ(batches.front().front(), (Delivered{code::LunArrive, id})) << request;
        EXPECT_TRUE(listed(*san_, id)) << request;
        sim_.control("POST", "/sim/faults/clear");
        // The next creation's group exists already: remove it so each case runs every step.
        load_state(sim_, [&] {
            auto s = state(sim_);
            auto& groups = s["igroups"];
            for (auto g = groups.begin(); g != groups.end();) {
                if ((*g)["name"] == "viaVDS.20:00:00:00:c9:ab:cd:ef") {
                    for (auto& lun : s["luns"])
                        if (lun.contains("maps")) lun["maps"].erase("viaVDS.20:00:00:00:c9:ab:cd:ef");
                    g = groups.erase(g);
                } else {
                    ++g;
                }
            }
            return s;
        }());
    }
}

TEST_F(LunThroughSan, AFailureNamesItsOwnRequestAndASuccessLeavesNoStaleText) {
    const GUID id = id_of_key(*san_, "/vol/vol1/q1/lun0");
    LunProperties properties;
    ASSERT_EQ(san_->GetLunProperties(id, properties), S_OK);
    const ULONGLONG grown = properties.m_prop.ullSize + (200ULL << 20);
    leave_error_info("An attempt to read file '/vol/vol0/etc/FilerVDSName.vds' failed");
    sim_.fault(R"({"kind": "errno", "request": "lun-resize", "errno": 13001, "reason": "resize refused"})");
    ZarvoAsync* async = nullptr;
    ASSERT_EQ(san_->SetSize(id, grown, &async), S_OK);
    EXPECT_TRUE(FAILED(Finish(async)));
    const std::string text = error_info_text();
    EXPECT_NE(text.find("resize lun '/vol/vol1/q1/lun0'"), std::string::npos) << text;
    EXPECT_NE(text.find("resize refused"), std::string::npos) << text;

    leave_error_info("stale");
    ASSERT_EQ(san_->SetSize(id, grown, &async), S_OK);
    EXPECT_EQ(Finish(async), S_OK);
    EXPECT_EQ(error_info_text(), "") << "a success leaves no error text";

    leave_error_info("stale");
    const GUID unknown{1, 0, 0, {}};
    EXPECT_EQ(san_->SetLunName(unknown, u"x"), VDS_E_OBJECT_NOT_FOUND);
    EXPECT_EQ(error_info_text(), "") << "an operation starts without the thread's older failure";
}

TEST_F(LunThroughSan, RenamingALunToTheNameItHasSendsNothingAndAnnouncesNothing) {
    const GUID id = id_of_key(*san_, "/vol/vol1/q1/lun0");
    clear_requests(sim_);
    EXPECT_EQ(san_->SetLunName(id, u"lun0"), S_OK);
    const auto sent = requests(sim_);
    EXPECT_EQ(std::count(sent.begin(), sent.end(), "lun-move"), 0);
    EXPECT_TRUE(notifier_.batches().empty());
    EXPECT_TRUE(listed(*san_, id));
    EXPECT_FALSE(appliance_lun(sim_, "/vol/vol1/q1/lun0").is_null());
}

}  // namespace

namespace {

// The groups the appliance maps the LUN to, sorted.
std::vector<std::string> maps_of(const e2e::Appliance& sim, const std::string& path) {
    std::vector<std::string> names;
    const auto lun = appliance_lun(sim, path);
    if (!lun.is_null() && lun.contains("maps"))
        for (const auto& [name, id] : lun["maps"].items()) names.push_back(name);
    std::sort(names.begin(), names.end());
    return names;
}

std::string path_of(ZarvoSan& san, const GUID& id) {
    LunProperties properties;
    san.GetLunProperties(id, properties);
    return WStringToString(properties.m_strIdentification);
}

std::u16string mask_of(ZarvoSan& san, const GUID& id) {
    LunProperties properties;
    san.GetLunProperties(id, properties);
    return properties.m_strUnmaskingList;
}

constexpr const char16_t* kHostPort = u"10000000C96B3D1B";     // a port of the host's HBA fixture
constexpr const char16_t* kOtherPort = u"20000000C9ABCDEF";    // another host's

TEST_F(LunThroughSan, AMaskChangeOfAMappedLunMapsExactlyTheNewListOrShowsWhatTheApplianceHolds) {
    ZarvoAsync* async = nullptr;
    ASSERT_EQ(san_->CreateLun(VDS_LT_DEFAULT, 200ULL << 20, {}, kOtherPort, nullptr, &async), S_OK);
    GUID id{};
    ASSERT_EQ(Finish(async, &id), S_OK);
    const std::string path = path_of(*san_, id);
    EXPECT_EQ(mask_of(*san_, id), u"20:00:00:00:c9:ab:cd:ef");

    ASSERT_EQ(san_->SetLunUnmask(id, kHostPort, &async), S_OK);
    EXPECT_EQ(Finish(async), S_OK);
    EXPECT_EQ(maps_of(sim_, path), std::vector<std::string>{"viaVDS.10:00:00:00:c9:6b:3d:1b"});
    EXPECT_EQ(mask_of(*san_, id), u"10:00:00:00:c9:6b:3d:1b");

    // Refused on the appliance: the call fails and the LUN shows the maps it still has.
    sim_.fault(R"({"kind": "errno", "request": "lun-map", "errno": 9007, "reason": "refused"})");
    ASSERT_EQ(san_->SetLunUnmask(id, kOtherPort, &async), S_OK);
    EXPECT_EQ(Finish(async), E_FAIL);
    EXPECT_EQ(maps_of(sim_, path), std::vector<std::string>{"viaVDS.10:00:00:00:c9:6b:3d:1b"});
    EXPECT_EQ(mask_of(*san_, id), u"10:00:00:00:c9:6b:3d:1b");
    sim_.control("POST", "/sim/faults/clear");

    // A group the LUN shares with another initiator goes when that initiator is not listed.
    const GUID lun1 = id_of_key(*san_, "/vol/vol1/q1/lun1");
    ASSERT_EQ(san_->SetLunUnmask(lun1, u"10000000C96B3D1A", &async), S_OK);
    EXPECT_EQ(Finish(async), S_OK);
    EXPECT_EQ(maps_of(sim_, "/vol/vol1/q1/lun1"), std::vector<std::string>{"viaVDS.10:00:00:00:c9:6b:3d:1a"});
    EXPECT_EQ(mask_of(*san_, lun1), u"10:00:00:00:c9:6b:3d:1a");
}

// A mask the LUN was never mapped by shows nothing, and the LUN stays detached.
TEST_F(LunThroughSan, AFailedMaskingLeavesTheLunShowingNoMask) {
    sim_.fault(R"({"kind": "errno", "request": "lun-map", "errno": 9007, "reason": "refused"})");
    ZarvoAsync* async = nullptr;
    ASSERT_EQ(san_->CreateLun(VDS_LT_DEFAULT, 200ULL << 20, {}, kHostPort, nullptr, &async), S_OK);
    GUID id{};
    EXPECT_EQ(Finish(async, &id), E_FAIL);
    EXPECT_EQ(mask_of(*san_, id), u"");
    EXPECT_TRUE(maps_of(sim_, path_of(*san_, id)).empty());
    clear_requests(sim_);
    ASSERT_EQ(san_->DeleteLun(id, &async), S_OK);
    EXPECT_EQ(Finish(async), S_OK);
    const auto sent = requests(sim_);
    EXPECT_EQ(std::count(sent.begin(), sent.end(), "lun-offline"), 0) << "a detached LUN is deleted as one";
}

TEST_F(LunThroughSan, AFibreChannelMaskItCannotUseIsRefusedNamingTheEntry) {
    const GUID lun0 = id_of_key(*san_, "/vol/vol1/q1/lun0");
    const std::u16string before = mask_of(*san_, lun0);
    struct Case {
        const char16_t* list;
        const char* named;
    };
    for (const Case& c : {Case{u"20000000C9ABCDEF,21000000C9ABCDEF", "20000000C9ABCDEF,21000000C9ABCDEF"},
                          Case{u"20000000C9ABCDEF;xyz", "xyz"}, Case{u"*;20000000C9ABCDEF", "*"},
                          Case{u"20:00:00:00:c9:ab:cd:ef", "20:00:00:00:c9:ab:cd:ef"}}) {
        const std::string what = WStringToString(c.list);
        clear_requests(sim_);
        const size_t luns = state(sim_)["luns"].size();
        ZarvoAsync* async = reinterpret_cast<ZarvoAsync*>(1);
        EXPECT_EQ(san_->CreateLun(VDS_LT_DEFAULT, 200ULL << 20, {}, c.list, nullptr, &async), E_INVALIDARG) << what;
        EXPECT_EQ(async, nullptr) << what;
        EXPECT_NE(error_info_text().find(std::string("\"") + c.named + "\""), std::string::npos) << what;
        async = reinterpret_cast<ZarvoAsync*>(1);
        EXPECT_EQ(san_->SetLunUnmask(lun0, c.list, &async), E_INVALIDARG) << what;
        EXPECT_EQ(async, nullptr) << what << ": a refused change hands out nothing to wait on";
        EXPECT_NE(error_info_text().find(c.named), std::string::npos) << what;
        EXPECT_TRUE(requests(sim_).empty()) << what;
        EXPECT_EQ(state(sim_)["luns"].size(), luns) << what;
        EXPECT_EQ(mask_of(*san_, lun0), before) << what;
    }
    std::vector<GUID> luns;
    san_->QueryLuns(luns);
    EXPECT_EQ(luns.size(), 5u) << "no LUN object was made for a refused list";
}

// Two extends of one LUN: the second never starts from the size the first is
// changing; a LUN being created or resized is busy; a refused resize announces nothing.
TEST_F(LunThroughSan, ExtendsOfABusyLunAreRefusedAndAFailedOneAnnouncesNothing) {
    const GUID id = id_of_key(*san_, "/vol/vol1/q1/lun0");
    LunProperties properties;
    ASSERT_EQ(san_->GetLunProperties(id, properties), S_OK);
    const ULONGLONG size = properties.m_prop.ullSize;
    ZarvoAsync* first = nullptr;
    ZarvoAsync* second = reinterpret_cast<ZarvoAsync*>(1);
    ZarvoAsync* creating = nullptr;
    GUID created{};
    {
        EnterCriticalSection(san_->GetLock());
        ASSERT_EQ(san_->ExtendLun(id, 4ULL << 20, &first), S_OK);
        EXPECT_EQ(san_->ExtendLun(id, 4ULL << 20, &second), VDS_E_ANOTHER_CALL_IN_PROGRESS);
        EXPECT_EQ(second, nullptr);
        ASSERT_EQ(san_->CreateLun(VDS_LT_DEFAULT, 200ULL << 20, {}, u"", nullptr, &creating), S_OK);
        ULONGLONG max = 0;
        EXPECT_EQ(san_->QueryMaxLunExtendSize(id, nullptr, 0, max), VDS_E_ANOTHER_CALL_IN_PROGRESS);
        LeaveCriticalSection(san_->GetLock());
    }
    EXPECT_EQ(Finish(first), S_OK);
    ASSERT_EQ(Finish(creating, &created), S_OK);
    ASSERT_EQ(san_->GetLunProperties(id, properties), S_OK);
    EXPECT_EQ(properties.m_prop.ullSize, size + (4ULL << 20));
    EXPECT_EQ(state(sim_)["luns"][0].value("size", 0ULL), size + (4ULL << 20));

    notifier_.clear();
    sim_.fault(R"({"kind": "errno", "request": "lun-resize", "errno": 13001, "reason": "resize refused"})");
    ASSERT_EQ(san_->ExtendLun(id, 4ULL << 20, &first), S_OK);
    EXPECT_TRUE(FAILED(Finish(first)));
    EXPECT_TRUE(notifier_.batches().empty()) << "nothing changed";
    sim_.control("POST", "/sim/faults/clear");
    ASSERT_EQ(san_->ExtendLun(id, 4ULL << 20, &first), S_OK);
    EXPECT_EQ(Finish(first), S_OK);
    ASSERT_FALSE(notifier_.batches().empty());
    EXPECT_EQ(notifier_.batches().back().back(), (Delivered{code::LunModify, id}));
}

// The test clock, counting the rescan's waits between passes (the worker's
// polls are shorter).
class RescanWaits : public platform::Clock {
public:
    explicit RescanWaits(std::shared_ptr<platform::Clock> inner) : m_inner(std::move(inner)) {}
    ULONGLONG ticks() override { return m_inner->ticks(); }
    ULONGLONG system_time() override { return m_inner->system_time(); }
    void sleep(DWORD ms) override {
        if (ms >= 5000) ++m_waits;
        m_inner->sleep(ms);
    }
    std::optional<std::chrono::steady_clock::time_point> real_deadline(ULONGLONG tick) override {
        return m_inner->real_deadline(tick);
    }
    int Take() { return m_waits.exchange(0); }

private:
    std::shared_ptr<platform::Clock> m_inner;
    std::atomic<int> m_waits{0};
};

// The host is waited for only when its own ports gain or lose the LUN, and a
// step the appliance refuses fails at once. The empty host never shows a
// change, so a wait runs all its passes.
TEST_F(LunThroughSan, TheHostIsWaitedForOnlyWhenItsPortsSeeTheChange) {
    auto waits = std::make_shared<RescanWaits>(platform::current_clock());
    const auto previous = platform::set_test_clock(waits);
    const auto waited = [&](const char16_t* mask, GUID& id, HRESULT deleted) {
        ZarvoAsync* async = nullptr;
        if (mask) {
            EXPECT_EQ(san_->CreateLun(VDS_LT_DEFAULT, 200ULL << 20, {}, mask, nullptr, &async), S_OK);
            EXPECT_EQ(Finish(async, &id), S_OK);
        } else {
            EXPECT_EQ(san_->DeleteLun(id, &async), S_OK);
            EXPECT_EQ(Finish(async), deleted);
        }
        return waits->Take();
    };
    GUID other{}, own{};
    EXPECT_EQ(waited(kOtherPort, other, S_OK), 0) << "another host's LUN";
    EXPECT_EQ(waited(nullptr, other, S_OK), 0);
    EXPECT_EQ(waited(kHostPort, own, S_OK), 2) << "this host's LUN: three passes";

    sim_.fault(R"({"kind": "errno", "request": "lun-offline", "errno": 9017, "reason": "busy"})");
    EXPECT_EQ(waited(nullptr, own, E_FAIL), 0) << "a refused offline fails at once";
    sim_.control("POST", "/sim/faults/clear");
    // The deletion fails after the LUN went offline: the host is waited for as it goes and as it comes back.
    sim_.fault(R"({"kind": "errno", "request": "volume-destroy", "errno": 13041, "reason": "volume has clones"})");
    EXPECT_EQ(waited(nullptr, own, E_FAIL), 14);
    sim_.control("POST", "/sim/faults/clear");
    EXPECT_EQ(waited(nullptr, own, S_OK), 7);
    platform::set_test_clock(previous);
}

}  // namespace
