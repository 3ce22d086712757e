#pragma once
// IUnknown, IClassFactory and the way interface ids are declared and looked up.
#include <atomic>
#include <type_traits>

#include <platform/errors.h>
#include <platform/guid.h>

// No calling convention to name on this platform; kept so interface
// declarations read as they do elsewhere.
#define STDMETHODCALLTYPE
#define STDMETHODIMP HRESULT STDMETHODCALLTYPE
#define STDMETHODIMP_(type) type STDMETHODCALLTYPE

using OLECHAR = WCHAR;
using LPOLESTR = OLECHAR*;
using LPCOLESTR = const OLECHAR*;

// DEFINE_GUID(IID_IFoo, 0x12345678, 0x1234, 0x1234, 0x12, 0x34, 0x56, 0x78, 0x9a, 0xbc, 0xde, 0xf0)
// declares one constant id; every translation unit sees the same object.
#define DEFINE_GUID(name, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8) \
    inline constexpr GUID name = {l, w1, w2, {b1, b2, b3, b4, b5, b6, b7, b8}}

namespace platform {
// The interface id of an interface type, given by PLATFORM_INTERFACE_ID.
template <typename Interface>
struct interface_id;

template <typename Interface>
constexpr const GUID& uuid_of() {
    return interface_id<std::remove_cv_t<Interface>>::value;
}
}  // namespace platform

// Binds an interface type to its id so uuid_of<T>() and IID_PPV_ARGS find it.
// Use at global scope, after the interface and its id are declared.
#define PLATFORM_INTERFACE_ID(Interface, iid)               \
    template <>                                             \
    struct platform::interface_id<Interface> {              \
        static constexpr const GUID& value = iid;           \
    }

// QueryInterface(IID_PPV_ARGS(&pFoo)): the id and the out pointer of one type.
#define IID_PPV_ARGS(pp) \
    ::platform::uuid_of<std::remove_pointer_t<std::remove_reference_t<decltype(*(pp))>>>(), reinterpret_cast<void**>(pp)

DEFINE_GUID(IID_IUnknown, 0x00000000, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
DEFINE_GUID(IID_IClassFactory, 0x00000001, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);

// Reference counted; the object deletes itself on its last Release. Objects
// are never deleted through an interface pointer, hence the protected
// non-virtual destructor.
struct IUnknown {
    virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) = 0;
    virtual ULONG STDMETHODCALLTYPE AddRef() = 0;
    virtual ULONG STDMETHODCALLTYPE Release() = 0;

protected:
    ~IUnknown() = default;
};
using LPUNKNOWN = IUnknown*;

struct IClassFactory : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) = 0;
    virtual HRESULT STDMETHODCALLTYPE LockServer(BOOL fLock) = 0;

protected:
    ~IClassFactory() = default;
};

PLATFORM_INTERFACE_ID(IUnknown, IID_IUnknown);
PLATFORM_INTERFACE_ID(IClassFactory, IID_IClassFactory);

namespace platform {
// An object that answers for IUnknown and one interface, with an atomic
// reference count, deleting itself on its last Release. It starts at 0; its
// creator takes the first reference.
template <typename Interface>
class single_interface_object : public Interface {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, uuid_of<Interface>())) return E_NOINTERFACE;
        *ppv = static_cast<Interface*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_refCount; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG count = --m_refCount;
        if (count == 0) delete this;
        return count;
    }

protected:
    single_interface_object() = default;
    virtual ~single_interface_object() = default;
    single_interface_object(const single_interface_object&) = delete;
    single_interface_object& operator=(const single_interface_object&) = delete;

private:
    std::atomic<ULONG> m_refCount{0};
};
}  // namespace platform
