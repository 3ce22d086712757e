#include <vds/provider_host.h>

#include <atomic>
#include <new>

#include <hostlib/autolock.h>
#include <model/filer_record_list.h>
#include <model/zarvo_san.h>

namespace {

class ZarvoSanFactory final : public SubsystemFactory {
public:
    San* NewSan() override { return new (std::nothrow) ZarvoSan(); }
    HRESULT Initialize(San& san, const CFilerRecord& record, LONG providerType, bool announceArrival) override {
        return Zarvo(san).Initialize(record, providerType, announceArrival);
    }
    HRESULT SetSANInactive(San& san) override { return Zarvo(san).SetSANInactive(); }
    bool IsUnused(San& san) override { return Zarvo(san).IsUnused(); }
    void GetLogonData(San& san, CFilerRecord& record) override { Zarvo(san).GetLogonData(record); }

private:
    static ZarvoSan& Zarvo(San& san) { return static_cast<ZarvoSan&>(san); }
};

// The process's stored list, as the service keeps it in the registry.
class ProcessApplianceList final : public StoredApplianceList {
public:
    void Load() override { process_filer_record_list().Load(); }
    std::vector<CFilerRecord> CopyRecords() override {
        filer_record_list& list = process_filer_record_list();
        AutoLock lock(&list.m_lock);
        std::vector<CFilerRecord> records;
        records.reserve(list.m_map.size());
        for (const auto& entry : list.m_map) records.push_back(*entry.second);
        return records;
    }
};

ZarvoSanFactory g_zarvoSanFactory;
ProcessApplianceList g_processList;
std::atomic<SubsystemFactory*> g_factory{nullptr};
std::atomic<StoredApplianceList*> g_list{nullptr};

}  // namespace

void SetStoredApplianceList(StoredApplianceList* list) { g_list = list; }
StoredApplianceList& GetStoredApplianceList() {
    StoredApplianceList* list = g_list.load();
    return list ? *list : g_processList;
}

void SetSubsystemFactory(SubsystemFactory* factory) { g_factory = factory; }
SubsystemFactory& GetSubsystemFactory() {
    SubsystemFactory* factory = g_factory.load();
    return factory ? *factory : g_zarvoSanFactory;
}
