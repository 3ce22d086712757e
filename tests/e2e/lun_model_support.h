#pragma once
// A subsystem's container wired to a simulated appliance, with its drives
// read from the appliance, and what the appliance received since a mark.
#include <model/async.h>
#include <model/filer_object_container.h>
#include <model/lun.h>
#include <model/notification.h>
#include <model/zarvo_san.h>
#include <platform/clock.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "appliance.h"
#include "filer_sim_support.h"

namespace lun_e2e {

// Records every event a delivered set carried.
class RecordingNotifier : public Notifier {
public:
    NotificationSet* CreateNotificationSet() override;
    std::vector<NotificationEntry> events() const;
    void record(const std::vector<NotificationEntry>& events);

private:
    mutable std::mutex m_lock;
    std::vector<NotificationEntry> m_events;
};

struct Request {
    std::string name;
    filer_e2e::xml_node element;
    // The text of the first descendant of that name, "" when none.
    std::string child(const std::string& name) const;
};

class LunModel : public ::testing::Test {
protected:
    // providerType 2 Fibre Channel, 3 iSCSI.
    explicit LunModel(LONG providerType = 2, filer_version release = filer_version(7, 2, 4));
    void SetUp() override;
    void TearDown() override;

    // Forgets the requests received so far.
    void Mark();
    // The requests received since the last mark, in order.
    std::vector<Request> Requests() const;
    std::vector<std::string> Names() const;
    // The value of a Python expression over the appliance's state `d`.
    std::string State(const std::string& expression) const;
    // The next such request fails with the appliance error number (count times).
    void FailNext(const std::string& request, int errorNumber, int count = 1);

    // Creates the LUN of number N as the queued creation work does, and
    // returns the work's result; the LUN is in the container when it succeeded.
    HRESULT CreateLun(LONG number, ULONGLONG size, const std::u16string& unmaskingList, ZarvoLun** created = nullptr);
    // Runs one work type on the LUN as the worker would, with a completion object.
    HRESULT RunWork(ZarvoLun* lun, int32_t type);
    // Reads every appliance LUN into the container as a refresh does.
    void LoadLuns();
    // Reads one appliance LUN; null when its configuration cannot be read.
    ZarvoLun* LoadLun(const std::u16string& path);
    // Back to the appliance's start-up state and a fresh container.
    void Reset();
    ZarvoLun* LunAt(const std::u16string& path) const;
    ULONGLONG DriveFreeSpace() const;

    e2e::Appliance sim;
    LONG m_providerType;
    filer_version m_release;
    RecordingNotifier notifier;
    ZarvoSan san;
    FilerObjectContainer* c = nullptr;
    GUID m_targetId{};
    size_t m_mark = 0;
    std::filesystem::path m_sysfs;
    std::unique_ptr<platform::ScopedFakeClock> m_clock;
};

std::u16string W(const std::string& text);
std::string N(const std::u16string& text);

}  // namespace lun_e2e
