#pragma once
// Small COM classes for the COM tests: an object with one interface of its
// own and a class factory for it. Both count the instances alive, so a test
// sees a leaked or double-released reference.
#include <platform/classtable.h>
#include <platform/unknown.h>

#include <atomic>

DEFINE_GUID(IID_ITestCounter, 0x5A1E0C11, 0x0B0B, 0x4C4C, 0x8D, 0x8D, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06);
DEFINE_GUID(CLSID_TestCounter, 0x5A1E0C12, 0x0B0B, 0x4C4C, 0x8D, 0x8D, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06);

struct ITestCounter : IUnknown {
    virtual int STDMETHODCALLTYPE Next() = 0;

protected:
    ~ITestCounter() = default;
};
PLATFORM_INTERFACE_ID(ITestCounter, IID_ITestCounter);

inline std::atomic<int> g_liveTestObjects{0};

template <typename Derived, typename Interface>
class TestUnknown : public Interface {
public:
    TestUnknown() { ++g_liveTestObjects; }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (riid == IID_IUnknown || riid == platform::uuid_of<Interface>()) {
            *ppv = static_cast<Interface*>(this);
            this->AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_refs; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --m_refs;
        if (left == 0) delete static_cast<Derived*>(this);
        return left;
    }

protected:
    ~TestUnknown() { --g_liveTestObjects; }

private:
    std::atomic<ULONG> m_refs{1};
};

class TestCounter final : public TestUnknown<TestCounter, ITestCounter> {
public:
    int STDMETHODCALLTYPE Next() override { return ++m_value; }

private:
    friend class TestUnknown<TestCounter, ITestCounter>;
    ~TestCounter() = default;
    int m_value = 0;
};

class TestCounterFactory final : public TestUnknown<TestCounterFactory, IClassFactory> {
public:
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        if (outer) return CLASS_E_NOAGGREGATION;
        auto* object = new TestCounter;
        const HRESULT hr = object->QueryInterface(riid, ppv);
        object->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

private:
    friend class TestUnknown<TestCounterFactory, IClassFactory>;
    ~TestCounterFactory() = default;
};
