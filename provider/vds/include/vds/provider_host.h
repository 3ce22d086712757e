#pragma once
// What the providers need beyond the San interface: the stored appliance list,
// and the subsystems they make from its records. The defaults are the
// process's stored list and ZarvoSan objects; tests install fakes.
#include <vector>

#include <model/filer_record.h>
#include <model/san.h>

class StoredApplianceList {
public:
    virtual ~StoredApplianceList() = default;
    // Reads the stored list when it is still empty.
    virtual void Load() = 0;
    // A copy of every record in the list's key order, taken under the list's
    // own lock so that no record is read while a commit changes it.
    virtual std::vector<CFilerRecord> CopyRecords() = 0;
};

// The lifecycle operations of a subsystem that a provider's list pass uses
// beyond the San interface.
class SubsystemFactory {
public:
    virtual ~SubsystemFactory() = default;
    // A new, uninitialised subsystem that the caller owns; nullptr when memory ran out.
    virtual San* NewSan() = 0;
    virtual HRESULT Initialize(San& san, const CFilerRecord& record, LONG providerType, bool announceArrival) = 0;
    virtual HRESULT SetSANInactive(San& san) = 0;
    // Inactive and held by no COM object.
    virtual bool IsUnused(San& san) = 0;
    virtual void GetLogonData(San& san, CFilerRecord& record) = 0;
};

// nullptr goes back to the process's stored list.
void SetStoredApplianceList(StoredApplianceList* list);
StoredApplianceList& GetStoredApplianceList();
// nullptr goes back to the factory of ZarvoSan objects.
void SetSubsystemFactory(SubsystemFactory* factory);
SubsystemFactory& GetSubsystemFactory();
