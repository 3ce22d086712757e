#pragma once
// The frame of every COM class of the VDS layer: a reference count changed by
// atomic operations, interface lookup over the class's interface list, and one
// module lock count for the object's whole life. Objects start with a count of
// 0; their creator takes the first reference.
#include <atomic>
#include <new>
#include <utility>

#include <platform/unknown.h>
#include <vds/module_lock.h>

template <typename Primary, typename... Others>
class ComObject : public Primary, public Others... {
public:
    ComObject() { ModuleLock(); }
    virtual ~ComObject() { ModuleUnlock(); }
    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (RefusesInterface(riid)) return E_NOINTERFACE;
        if (IsEqualIID(riid, IID_IUnknown)) {
            *ppv = GetUnknown();
        } else if (!(Find<Primary>(riid, ppv) || ... || Find<Others>(riid, ppv))) {
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++m_refCount; }
    STDMETHODIMP_(ULONG) Release() override {
        const ULONG count = InternalRelease();
        if (count == 0) delete this;
        return count;
    }

    IUnknown* GetUnknown() { return static_cast<Primary*>(this); }

protected:
    // An interface of the list that this object does not answer for.
    virtual bool RefusesInterface(REFIID) { return false; }
    // Drops one reference and gives the new count; at 0 the object is deleted.
    virtual ULONG InternalRelease() { return --m_refCount; }

    std::atomic<ULONG> m_refCount{0};

private:
    template <typename Interface>
    bool Find(REFIID riid, void** ppv) {
        if (!IsEqualIID(riid, platform::uuid_of<Interface>())) return false;
        *ppv = static_cast<Interface*>(this);
        return true;
    }
};

// Creates an object with its first reference, or nullptr when memory ran out.
template <typename T, typename... Args>
T* NewComObject(Args&&... args) {
    T* object = new (std::nothrow) T(std::forward<Args>(args)...);
    if (object) object->AddRef();
    return object;
}
