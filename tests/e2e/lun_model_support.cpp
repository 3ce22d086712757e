#include "lun_model_support.h"

#include <model/drive.h>
#include <model/lun_fcp.h>
#include <model/lun_iscsi.h>

#include <hostlib/conversions.h>
#include <platform/text.h>

#include <nlohmann/json.hpp>

#include <cstdlib>
#include <unistd.h>

namespace lun_e2e {

namespace {

class RecordingSet : public NotificationSet {
public:
    explicit RecordingSet(RecordingNotifier& owner) : m_owner(owner) {}
    void Add(NotificationType type, const GUID& id) override { m_events.push_back({id, type}); }
    void Deliver() override {
        if (!m_events.empty()) m_owner.record(m_events);
        m_events.clear();
    }

private:
    RecordingNotifier& m_owner;
    std::vector<NotificationEntry> m_events;
};

nlohmann::json Log(const e2e::Appliance& sim) {
    const e2e::HttpAnswer answer = sim.control("GET", "/sim/log");
    if (answer.status != 200) throw std::runtime_error("no request log");
    const nlohmann::json log = nlohmann::json::parse(answer.body);
    return log.is_array() ? log : log.value("requests", nlohmann::json::array());
}

const filer_e2e::xml_node* Find(const filer_e2e::xml_node& node, const std::string& name) {
    for (const auto& child : node.children) {
        if (child.name == name) return &child;
        if (const auto* found = Find(child, name)) return found;
    }
    return nullptr;
}

}  // namespace

std::u16string W(const std::string& text) { return platform::utf8_to_wide_lossy(text); }
std::string N(const std::u16string& text) { return platform::wide_to_utf8_lossy(text); }

NotificationSet* RecordingNotifier::CreateNotificationSet() { return new RecordingSet(*this); }

std::vector<NotificationEntry> RecordingNotifier::events() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_events;
}

void RecordingNotifier::record(const std::vector<NotificationEntry>& events) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_events.insert(m_events.end(), events.begin(), events.end());
}

std::string Request::child(const std::string& name) const {
    const auto* found = Find(element, name);
    return found ? found->text : "";
}

LunModel::LunModel(LONG providerType, filer_version release) : m_providerType(providerType), m_release(release) {}

void LunModel::SetUp() {
    // The host's SCSI adapters stay out of the tests: an empty sysfs tree, and no real sleeps.
    m_sysfs = std::filesystem::temp_directory_path() / ("lun-e2e-sysfs-" + std::to_string(::getpid()));
    std::filesystem::create_directories(m_sysfs / "class/scsi_host");
    ::setenv("SANPROV_SYSFS_ROOT", m_sysfs.c_str(), 1);
    if (!std::getenv("SANPROV_ROOT")) {
        const auto root = std::filesystem::temp_directory_path() / ("lun-e2e-root-" + std::to_string(::getpid()));
        std::filesystem::create_directories(root);
        ::setenv("SANPROV_ROOT", root.c_str(), 1);
    }
    m_clock = std::make_unique<platform::ScopedFakeClock>();
    san.SetProviderType(m_providerType);
    san.SetVersion(m_release);
    c = san.GetContainer();
    GUID subsystem{};
    san.CheckCreateGuid("subsystem", subsystem);
    san.CheckCreateGuid("target", m_targetId);
    ASSERT_EQ(c->InitializeContainer(&san, subsystem, W(sim.address()), W(e2e::Appliance::kUser),
                                     W(e2e::Appliance::kPassword)),
              S_OK);
    san.SetNotifier(&notifier);
    std::vector<fapi_disk_info_t> disks;
    ASSERT_EQ(c->m_filerControl.FilerListDrives(u"", disks), S_OK);
    c->SetBusAdapterMap(disks);
    c->m_freespace = 0;
    for (const auto& disk : disks) {
        GUID id{};
        san.CheckCreateGuid(std::to_string(disk.id), id);
        new ZarvoDrive(c, id, static_cast<ULONGLONG>(disk.physical_space), &disk);
        c->m_freespace += static_cast<ULONGLONG>(disk.physical_space);
    }
    Mark();
}

void LunModel::TearDown() {
    c->DeleteCache();
    san.SetNotifier(nullptr);
    m_clock.reset();
    ::unsetenv("SANPROV_SYSFS_ROOT");
    std::filesystem::remove_all(m_sysfs);
}

void LunModel::Mark() { m_mark = Log(sim).size(); }

std::vector<Request> LunModel::Requests() const {
    const nlohmann::json log = Log(sim);
    std::vector<Request> requests;
    for (size_t i = m_mark; i < log.size(); ++i) {
        Request request;
        request.name = log[i].value("request", "-");
        const std::string body = log[i].value("body", "");
        if (body.find("<korvex") != std::string::npos) request.element = filer_e2e::request_element(body);
        requests.push_back(std::move(request));
    }
    return requests;
}

std::vector<std::string> LunModel::Names() const {
    std::vector<std::string> names;
    for (const auto& request : Requests())
        if (request.name != "system-get-version") names.push_back(request.name);
    return names;
}

std::string LunModel::State(const std::string& expression) const { return filer_e2e::state_query(sim, expression); }

void LunModel::FailNext(const std::string& request, int errorNumber, int count) {
    sim.fault(R"({"kind": "errno", "request": ")" + request + R"(", "errno": )" + std::to_string(errorNumber) +
              R"(, "reason": "refused by the test", "count": )" + std::to_string(count) + "}");
}

HRESULT LunModel::CreateLun(LONG number, ULONGLONG size, const std::u16string& unmaskingList, ZarvoLun** created) {
    const std::string n = std::to_string(number);
    const std::u16string path = W("/vol/ZarvoVolume" + n + "/ZarvoQtree" + n + "/ZarvoLun" + n);
    san.RemoveGuidByKey("ZarvoVolume" + n);
    san.RemoveGuidByKey("ZarvoQtree" + n);
    GUID id{};
    san.CheckCreateGuid(N(path), id);
    ZarvoLun* lun = m_providerType == 2
                        ? static_cast<ZarvoLun*>(new ZarvoLunFCP(c, c->m_lunPortAssoc, id, 1, size, unmaskingList))
                        : new ZarvoLunIscsi(c, m_targetId, id, 1, size, unmaskingList);
    lun->SetLunNumber(number);
    lun->SetNameAndPath(path);
    c->SetLunNumber(number, 1);
    lun->SetDefaults(nullptr);
    const HRESULT hr = RunWork(lun, SplitUnmaskingList(unmaskingList).empty() ? LUN_CREATE : LUN_CREATE_ATTACH_STORAGE);
    if (created) *created = SUCCEEDED(hr) ? lun : nullptr;
    return hr;
}

HRESULT LunModel::RunWork(ZarvoLun* lun, int32_t type) {
    auto* async = new ZarvoAsync();
    NotificationSet* set = notifier.CreateNotificationSet();
    GUID id{};
    lun->GetId(id);
    if (type == LUN_CREATE || type == LUN_CREATE_ATTACH_STORAGE) set->Add(9, id);
    async->SetNotifications(set);
    async->AddRef();  // the queue's reference, which the work releases
    lun->DoWork(type, 3000, async);
    HRESULT result = S_OK;
    ULONG percent = 0;
    async->QueryStatus(&result, &percent);
    async->Release();
    return result;
}

namespace {
ZarvoLun* Load(ZarvoSan& san, FilerObjectContainer* c, LONG providerType, const GUID& targetId,
               const fapi_lun_info_t& record) {
    GUID id{};
    san.CheckCreateGuid(NarrowFromWide(record.path), id);
    ZarvoLun* lun = providerType == 2
                        ? static_cast<ZarvoLun*>(new ZarvoLunFCP(c, c->m_lunPortAssoc, id, 0, 0, u""))
                        : new ZarvoLunIscsi(c, targetId, id, 0, 0, u"");
    if (SUCCEEDED(lun->LoadConfig(record))) return lun;
    delete lun;
    return nullptr;
}
}  // namespace

void LunModel::LoadLuns() {
    std::vector<fapi_lun_info_t> luns;
    ASSERT_EQ(c->m_filerControl.FilerListLuns(u"", luns), S_OK);
    for (const auto& record : luns) Load(san, c, m_providerType, m_targetId, record);
}

ZarvoLun* LunModel::LoadLun(const std::u16string& path) {
    std::vector<fapi_lun_info_t> luns;
    if (FAILED(c->m_filerControl.FilerListLuns(path, luns)) || luns.empty()) return nullptr;
    return Load(san, c, m_providerType, m_targetId, luns.front());
}

void LunModel::Reset() {
    TearDown();
    sim.control("POST", "/sim/reset", "{}");
    SetUp();
}

ZarvoLun* LunModel::LunAt(const std::u16string& path) const {
    for (const auto& [id, lun] : c->m_lunMap)
        if (lun->GetIdentificationText() == path) return lun;
    return nullptr;
}

ULONGLONG LunModel::DriveFreeSpace() const {
    ULONGLONG total = 0;
    for (const auto& [id, drive] : c->m_driveMap) total += drive->m_ullFreeSpace;
    return total;
}

}  // namespace lun_e2e
