#pragma once
// A Fibre Channel San read from a simulated appliance of the test's own, with
// the host's SCSI adapters left out (an empty sysfs tree) and a recording
// notifier; what the reading announced is cleared before the test starts.
#include <filesystem>
#include <memory>

#include <gtest/gtest.h>

#include <model/zarvo_san.h>
#include <platform/clock.h>

#include "subsystem_support.h"

class ZarvoAsync;

namespace subsystem_e2e {

class FcSanTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // Changes the appliance before the San first reads it.
    virtual void BeforeReading() {}
    // Waits for the completion object, releases it and answers its result.
    static HRESULT Finish(ZarvoAsync* async, GUID* id = nullptr);

    TestRoot root_;
    e2e::Appliance sim_;
    std::filesystem::path m_sysfs;
    platform::ScopedFakeClock clock_;
    RecordingNotifier notifier_;
    std::unique_ptr<ZarvoSan> san_;
};

}  // namespace subsystem_e2e
