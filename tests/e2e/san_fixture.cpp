#include "san_fixture.h"

#include <cstdlib>

#include <model/async.h>

namespace subsystem_e2e {

void FcSanTest::SetUp() {
    m_sysfs = std::filesystem::path(root_.path()) / "sys";
    std::filesystem::create_directories(m_sysfs / "class/scsi_host");
    ::setenv("SANPROV_SYSFS_ROOT", m_sysfs.c_str(), 1);
    BeforeReading();
    san_ = std::make_unique<ZarvoSan>();
    san_->SetNotifier(&notifier_);
    ASSERT_EQ(san_->Initialize(record_for(sim_.address(), FILER_TYPE_FCP), FILER_TYPE_FCP, true), S_OK);
    notifier_.clear();
}

void FcSanTest::TearDown() {
    san_.reset();
    ::unsetenv("SANPROV_SYSFS_ROOT");
}

HRESULT FcSanTest::Finish(ZarvoAsync* async, GUID* id) {
    if (!async) return E_POINTER;
    HRESULT result = E_FAIL;
    GUID done{};
    async->Wait(&result, &done);
    if (id) *id = done;
    async->Release();
    return result;
}

}  // namespace subsystem_e2e
