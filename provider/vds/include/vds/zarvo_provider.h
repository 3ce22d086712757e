#pragma once
// The hardware providers that the disk-management service loads: one for
// Fibre Channel, one for iSCSI. A provider owns one San per stored appliance
// of its protocol, keeps that list in step with the stored list, and turns
// object ids into COM objects.
#include <condition_variable>
#include <map>
#include <mutex>
#include <vector>

#include <hostlib/general_thread.h>
#include <model/filer_record.h>
#include <model/san.h>
#include <platform/com_scoped.h>
#include <platform/critical_section.h>
#include <platform/errorinfo.h>
#include <platform/vds.h>
#include <vds/com_object.h>

class CZarvoNotifier;
class SubsystemFactory;
class WrapperBase;
struct ExtentRecord;

class CZarvoProvider : public ComObject<IVdsProvider, IVdsHwProvider, IVdsProviderPrivate, IVdsHwProviderPrivate,
                                        IVdsHwProviderPrivateMpio, IVdsHwProviderType, IVdsProviderSupport> {
public:
    // IVdsProvider
    STDMETHODIMP GetProperties(VDS_PROVIDER_PROP* pProviderProp) override;
    // IVdsHwProvider
    STDMETHODIMP QuerySubSystems(IEnumVdsObject** ppEnum) override;
    STDMETHODIMP Reenumerate() override;
    STDMETHODIMP Refresh() override;
    // IVdsProviderPrivate
    STDMETHODIMP GetObject(VDS_OBJECT_ID ObjectId, VDS_OBJECT_TYPE type, IUnknown** ppObjectUnk) override;
    STDMETHODIMP OnLoad(LPWSTR pwszMachineName, IUnknown* pCallbackObject) override;
    STDMETHODIMP OnUnload(BOOL bForceUnload) override;
    // IVdsHwProviderPrivate
    STDMETHODIMP QueryIfCreatedLun(LPWSTR pwszDevicePath, VDS_LUN_INFORMATION* pVdsLunInformation,
                                   VDS_OBJECT_ID* pLunId) override;
    // IVdsHwProviderPrivateMpio
    STDMETHODIMP SetAllPathStatusesFromHbaPort(VDS_HBAPORT_PROP hbaPortProp, VDS_PATH_STATUS status) override;
    // IVdsHwProviderType
    STDMETHODIMP GetProviderType(VDS_HWPROVIDER_TYPE* pType) override;
    // IVdsProviderSupport
    STDMETHODIMP GetVersionSupport(ULONG* ulVersionSupport) override;

    ~CZarvoProvider() override;
    virtual const GUID& ProviderId() const = 0;
    virtual const GUID& VersionId() const = 0;
    virtual VDS_HWPROVIDER_TYPE HwType() const = 0;
    virtual const WCHAR* WszProviderName() const = 0;

    // For the enumerators, async objects and VDS objects.
    HRESULT MakeEnum(VDS_OBJECT_TYPE type, const std::vector<GUID>& ids, IEnumVdsObject** ppEnum);
    // Removes the live-object entry of `id` when it is `object`'s; the final
    // release of a VDS object calls it with the provider lock held.
    HRESULT DeleteObject(const GUID& id, IUnknown* object);
    HRESULT ConvertExtentVector(const std::vector<ExtentRecord>& extents, VDS_DRIVE_EXTENT** ppExtents, LONG* count);
    // The first active San that holds an object of this type and id.
    San* FindSanObject(VDS_OBJECT_TYPE type, const GUID& id);
    HRESULT AddSan(San* san);
    // One list pass: the subsystems follow the stored appliance list. A
    // failure names the first appliance that got no subsystem in the calling
    // thread's error information; every other appliance still gets its own.
    HRESULT RefreshSubsystemsList();
    // The outcome of the latest list pass, after waiting for the first one
    // that OnLoad started (the loading side learns it without a pass of its
    // own, so one command never tries an appliance twice). A failure leaves
    // its description as the calling thread's error information.
    HRESULT ListPassResult();
    CRITICAL_SECTION* ProviderLock() { return &m_cs; }

protected:
    CZarvoProvider();
    // Stops the provider thread, makes every San inactive and deletes them.
    // The concrete classes run it first in their destructors, so nothing of
    // the provider runs while it is being destroyed.
    void Shutdown();

private:
    struct LiveObject {
        VDS_OBJECT_TYPE type;
        IUnknown* object;
        San* san;
    };

    HRESULT CreateSubSystemsFromLogonVector(const std::vector<CFilerRecord>& records);
    void PassEnded(HRESULT result, IErrorInfo* failure);
    HRESULT CreateSubSystems();
    static unsigned ProviderThreadEntry(void* provider);
    unsigned ProviderThreadWork();
    void SetAllSANInactive();
    HRESULT DeleteAllSans();
    void JoinProviderThread();
    HRESULT CreateObject(VDS_OBJECT_TYPE type, San* san, const GUID& id, IUnknown** ppObject);

    CRITICAL_SECTION m_cs;
    SubsystemFactory& m_factory;  // the one that made this provider's Sans
    CGeneralThread m_providerThread;
    CZarvoNotifier* m_pNotifier = nullptr;
    std::map<GUID, LiveObject> m_liveObjects;
    std::map<GUID, San*> m_subsystemMap;
    std::vector<San*> m_sans;
    bool m_bFirstEnumerationDone = false;
    bool m_bShutDown = false;
    // The latest list pass; its own lock comes after the provider lock.
    std::mutex m_passLock;
    std::condition_variable m_passEnded;
    bool m_bPassEnded = false;
    HRESULT m_lastPass = S_OK;
    platform::com_unique_ptr<IErrorInfo> m_lastPassFailure;
};

class CZarvoProviderFC final : public CZarvoProvider {
public:
    CZarvoProviderFC() = default;
    ~CZarvoProviderFC() override;
    const GUID& ProviderId() const override;
    const GUID& VersionId() const override;
    VDS_HWPROVIDER_TYPE HwType() const override { return VDS_HWT_FIBRE_CHANNEL; }
    const WCHAR* WszProviderName() const override;
};

class CZarvoProviderIscsi final : public CZarvoProvider {
public:
    CZarvoProviderIscsi() = default;
    ~CZarvoProviderIscsi() override;
    const GUID& ProviderId() const override;
    const GUID& VersionId() const override;
    VDS_HWPROVIDER_TYPE HwType() const override { return VDS_HWT_ISCSI; }
    const WCHAR* WszProviderName() const override;

protected:
    bool RefusesInterface(REFIID riid) override { return IsEqualIID(riid, IID_IVdsHwProviderPrivateMpio); }
};

// The class object of a provider class (CLSID_ZarvoVdsProviderFC or
// CLSID_ZarvoVdsProviderIscsi) queried for `riid`; CLASS_E_CLASSNOTAVAILABLE
// for another class.
HRESULT GetProviderClassObject(REFCLSID clsid, REFIID riid, void** ppv);
