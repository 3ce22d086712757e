#pragma once
// The common frame of the nine VDS object classes: the provider that made the
// object, the San it belongs to and its object id, the two guards, and the
// final release that leaves the provider's live-object map.
#include <atomic>
#include <cstring>
#include <functional>

#include <model/san.h>
#include <platform/vds.h>
#include <vds/com_method.h>
#include <vds/com_object.h>

class CZarvoProvider;
class ZarvoAsync;

class WrapperBase {
public:
    WrapperBase() = default;
    WrapperBase(const WrapperBase&) = delete;
    WrapperBase& operator=(const WrapperBase&) = delete;

    // Keeps the provider with a reference and the San with a usage count.
    void Init(CZarvoProvider* provider, San* san, const GUID& id);
    // Lets both go.
    void Clear();

protected:
    ~WrapperBase() = default;

    // No San: "m_pSan is NULL! " and E_FAIL; an inactive one: "m_pSan is not
    // Active! " and VDS_E_OBJECT_DELETED; else S_OK.
    HRESULT CheckSan() const;
    // The provider's hardware type (0 without a provider).
    LONG ProviderType() const;
    // Parent lookup: the object of `id` and `type` from the provider, queried
    // for `riid` into `*ppv`.
    HRESULT GetRelatedObject(const GUID& id, VDS_OBJECT_TYPE type, REFIID riid, void** ppv) const;
    // The subsystem the object belongs to, into `*ppSubSystem` (cleared first);
    // E_FAIL without a San.
    HRESULT GetOwningSubSystem(IVdsSubSystem** ppSubSystem) const;
    // An enumerator over `ids` from the provider.
    HRESULT MakeEnum(VDS_OBJECT_TYPE type, const std::vector<GUID>& ids, IEnumVdsObject** ppEnum) const;
    // Queued work handed to the caller as an IVdsAsync: the async object is
    // made first, then `start` queues the work and gives its completion
    // object; on failure both go and the failure is returned.
    HRESULT StartAsync(VDS_ASYNC_OUTPUT_TYPE outputType, VDS_OBJECT_TYPE objectType,
                       const std::function<HRESULT(ZarvoAsync**)>& start, IVdsAsync** ppAsync) const;
    // A GetProperties method: the San checked, `out` refused as `reason` when
    // null, cleared, then filled from the San's record of this object.
    template <typename Properties, typename Prop>
    HRESULT CopyOutProperties(const char* name, const char* reason, Prop* out,
                              HRESULT (San::*fetch)(const GUID&, Properties&)) const;
    // The final-release step: under the provider lock the count drops and, at
    // 0, the live-object entry goes before the lock is let go, so the provider
    // never hands out an object that is being destroyed.
    ULONG ReleaseUnderProviderLock(std::atomic<ULONG>& refCount, IUnknown* self, const char* name);

    CZarvoProvider* m_pProvider = nullptr;
    San* m_pSan = nullptr;
    GUID m_objectId{};
};

template <typename Properties, typename Prop>
HRESULT WrapperBase::CopyOutProperties(const char* name, const char* reason, Prop* out,
                                       HRESULT (San::*fetch)(const GUID&, Properties&)) const {
    return RunComMethod(name, [&]() -> HRESULT {
        if (HRESULT hr = CheckSan(); FAILED(hr)) return hr;
        if (!out) {
            TraceBadArgument(name, reason);
            return E_POINTER;
        }
        std::memset(out, 0, sizeof(*out));
        Properties properties;
        const HRESULT hr = (m_pSan->*fetch)(m_objectId, properties);
        if (SUCCEEDED(hr)) properties.CopyOut(out);
        return hr;
    });
}

template <typename... Interfaces>
class VdsObject : public ComObject<Interfaces...>, public WrapperBase {
public:
    ~VdsObject() override { Clear(); }

protected:
    explicit VdsObject(const char* releaseName) : m_releaseName(releaseName) {}
    ULONG InternalRelease() override {
        return ReleaseUnderProviderLock(this->m_refCount, this->GetUnknown(), m_releaseName);
    }

private:
    const char* m_releaseName;
};
