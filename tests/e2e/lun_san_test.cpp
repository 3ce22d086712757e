// A LUN's life through the San of a subsystem read from the simulated
// appliance: each request queues its work, the worker runs it, the completion
// object carries the result and the notifications.
#include "subsystem_support.h"

#include <model/async.h>
#include <model/filer_object_container.h>
#include <model/lun.h>
#include <model/zarvo_san.h>

#include <platform/clock.h>
#include <platform/critical_section.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>

using namespace subsystem_e2e;
namespace code = notification_code;

namespace {

class LunThroughSan : public ::testing::Test {
protected:
    void SetUp() override {
        // The host's SCSI adapters stay out: an empty sysfs tree.
        m_sysfs = std::filesystem::path(root_.path()) / "sys";
        std::filesystem::create_directories(m_sysfs / "class/scsi_host");
        ::setenv("SANPROV_SYSFS_ROOT", m_sysfs.c_str(), 1);
        san_ = std::make_unique<ZarvoSan>();
        san_->SetNotifier(&notifier_);
        ASSERT_EQ(san_->Initialize(record_for(sim_.address(), FILER_TYPE_FCP), FILER_TYPE_FCP, true), S_OK);
        notifier_.clear();
    }
    void TearDown() override {
        san_.reset();
        ::unsetenv("SANPROV_SYSFS_ROOT");
    }
    // Waits for the completion object, releases it and answers its result.
    static HRESULT Finish(ZarvoAsync* async, GUID* id = nullptr) {
        if (!async) return E_POINTER;
        HRESULT result = E_FAIL;
        GUID done{};
        async->Wait(&result, &done);
        if (id) *id = done;
        async->Release();
        return result;
    }
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

    TestRoot root_;
    e2e::Appliance sim_;
    std::filesystem::path m_sysfs;
    platform::ScopedFakeClock clock_;
    RecordingNotifier notifier_;
    std::unique_ptr<ZarvoSan> san_;
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

}  // namespace
