#include <vds/provider_host.h>

#include <atomic>
#include <new>

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

ZarvoSanFactory g_zarvoSanFactory;
std::atomic<SubsystemFactory*> g_factory{nullptr};
std::atomic<StoredApplianceList*> g_list{nullptr};

}  // namespace

void SetStoredApplianceList(StoredApplianceList* list) { g_list = list; }
StoredApplianceList* GetStoredApplianceList() { return g_list.load(); }

void SetSubsystemFactory(SubsystemFactory* factory) { g_factory = factory; }
SubsystemFactory& GetSubsystemFactory() {
    SubsystemFactory* factory = g_factory.load();
    return factory ? *factory : g_zarvoSanFactory;
}
