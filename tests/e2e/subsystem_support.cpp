#include "subsystem_support.h"

#include <model/zarvo_san.h>
#include <platform/text.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace subsystem_e2e {
namespace {

class RecordingSet : public NotificationSet {
public:
    explicit RecordingSet(RecordingNotifier& owner) : owner_(owner) {}
    void Add(NotificationType type, const GUID& id) override { entries_.push_back({type, id}); }
    void Deliver() override {
        if (!entries_.empty()) owner_.record(std::move(entries_));
        entries_.clear();
    }

private:
    RecordingNotifier& owner_;
    std::vector<Delivered> entries_;
};

}  // namespace

TestRoot::TestRoot() {
    char pattern[] = "/tmp/sanprov-subsystem-XXXXXX";
    root_ = ::mkdtemp(pattern) ? pattern : "";
    ::setenv("SANPROV_ROOT", root_.c_str(), 1);
    ::setenv("SANPROV_LIB_ISCSIDSC", ISCSIDSC_LIBRARY, 1);
    ::setenv("SANPROV_ISCSI_INITIATOR_NAME_FILE", (fs::path(root_) / "initiatorname.iscsi").c_str(), 1);
    // The host's Fibre Channel ports: the two initiators the appliances see logged in.
    ::setenv("SANPROV_LIB_HBAAPI", FAKE_HBAAPI_LIBRARY, 1);
    ::setenv("SANPROV_HBA_FIXTURE", HOST_HBA_FIXTURE, 1);
}

TestRoot::~TestRoot() {
    for (const char* name : {"SANPROV_ROOT", "SANPROV_LIB_ISCSIDSC", "SANPROV_ISCSI_INITIATOR_NAME_FILE",
                             "SANPROV_LIB_HBAAPI", "SANPROV_HBA_FIXTURE"})
        ::unsetenv(name);
    std::error_code ignored;
    if (!root_.empty()) fs::remove_all(root_, ignored);
}

void TestRoot::write_initiator_name(const std::string& name) const {
    std::ofstream(fs::path(root_) / "initiatorname.iscsi") << "## written by the test\nInitiatorName=" << name << "\n";
}

std::vector<std::string> TestRoot::static_targets() const {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(fs::path(root_) / "iscsi" / "static-targets", ec))
        names.push_back(entry.path().filename().string());
    return names;
}

bool Delivered::operator==(const Delivered& other) const { return type == other.type && IsEqualGUID(id, other.id); }

NotificationSet* RecordingNotifier::CreateNotificationSet() { return new RecordingSet(*this); }

void RecordingNotifier::record(std::vector<Delivered> batch) {
    std::lock_guard lock(mutex_);
    batches_.push_back(std::move(batch));
}

std::vector<std::vector<Delivered>> RecordingNotifier::batches() {
    std::lock_guard lock(mutex_);
    return batches_;
}

void RecordingNotifier::clear() {
    std::lock_guard lock(mutex_);
    batches_.clear();
}

std::vector<Event> events(const TestRoot& root) {
    std::vector<Event> all;
    std::ifstream in(fs::path(root.path()) / "eventlog" / "SanProvD.jsonl");
    for (std::string line; std::getline(in, line);) {
        const auto record = nlohmann::json::parse(line);
        all.push_back({record.at("id").get<uint32_t>(), record.at("inserts").get<std::vector<std::string>>()});
    }
    return all;
}

std::vector<std::string> requests(const e2e::Appliance& sim) {
    const e2e::HttpAnswer answer = sim.control("GET", "/sim/log");
    EXPECT_EQ(answer.status, 200);
    std::vector<std::string> names;
    for (const auto& entry : nlohmann::json::parse(answer.body))
        names.push_back(entry.at("request").is_string() ? entry.at("request").get<std::string>() : "-");
    return names;
}

void clear_requests(const e2e::Appliance& sim) { EXPECT_EQ(sim.control("POST", "/sim/log/clear").status, 200); }

nlohmann::ordered_json state(const e2e::Appliance& sim) {
    const e2e::HttpAnswer answer = sim.control("GET", "/sim/state");
    EXPECT_EQ(answer.status, 200);
    return nlohmann::ordered_json::parse(answer.body);
}

void load_state(const e2e::Appliance& sim, const nlohmann::ordered_json& state) {
    const e2e::HttpAnswer answer = sim.control("POST", "/sim/state", state.dump());
    EXPECT_EQ(answer.status, 200) << answer.body;
}

std::u16string wide(const std::string& text) { return platform::utf8_to_wide_lossy(text); }

CFilerRecord record_for(const std::string& address, int32_t type, const std::string& user,
                        const std::string& password) {
    CFilerRecord record;
    record.m_strDnsName = wide(address);
    record.m_strUserName = wide(user);
    record.m_strPassword = wide(password);
    record.m_iType = type;
    return record;
}

GUID id_of_key(ZarvoSan& san, const std::string& key) {
    GUID id{};
    san.CheckCreateGuid(key, id);
    return id;
}

}  // namespace subsystem_e2e
