#pragma once
// The subsystem's end-to-end tests: a state root of the test's own, a notifier
// that records what it delivers, the event log as written, the appliance's
// request log and state.
#include <mutex>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include <model/filer_record.h>
#include <model/notification.h>
#include <platform/guid.h>

#include "appliance.h"

class ZarvoSan;

namespace subsystem_e2e {

// A fresh $SANPROV_ROOT, the in-tree iSCSI discovery library and an initiator
// name file of the test's own (none until written).
class TestRoot {
public:
    TestRoot();
    ~TestRoot();
    TestRoot(const TestRoot&) = delete;
    TestRoot& operator=(const TestRoot&) = delete;

    std::string path() const { return root_; }
    void write_initiator_name(const std::string& name) const;
    // The static target records the discovery library wrote, by file name.
    std::vector<std::string> static_targets() const;

private:
    std::string root_;
};

struct Delivered {
    NotificationType type;
    GUID id;
    bool operator==(const Delivered&) const;
};

// Records every delivered set as one batch.
class RecordingNotifier : public Notifier {
public:
    NotificationSet* CreateNotificationSet() override;
    std::vector<std::vector<Delivered>> batches();
    void clear();
    void record(std::vector<Delivered> batch);

private:
    std::mutex mutex_;
    std::vector<std::vector<Delivered>> batches_;
};

struct Event {
    uint32_t id;
    std::vector<std::string> inserts;
};
// Every event written so far under the service's source.
std::vector<Event> events(const TestRoot& root);

// The names of the requests the appliance received, in order, and a clear of its log.
std::vector<std::string> requests(const e2e::Appliance& sim);
void clear_requests(const e2e::Appliance& sim);
nlohmann::ordered_json state(const e2e::Appliance& sim);
void load_state(const e2e::Appliance& sim, const nlohmann::ordered_json& state);

// The stored record of the appliance for a provider of that type.
CFilerRecord record_for(const std::string& address, int32_t type, const std::string& user = e2e::Appliance::kUser,
                        const std::string& password = e2e::Appliance::kPassword);

std::u16string wide(const std::string& text);
GUID id_of_key(ZarvoSan& san, const std::string& key);

}  // namespace subsystem_e2e
