#pragma once
// Providers over fake subsystems: a stored list the test fills, and a factory
// whose subsystems are FakeSans named after the record's DNS name.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <map>
#include <thread>
#include <set>
#include <string>
#include <vector>

#include "fake_san.h"

#include <hostlib/conversions.h>
#include <vds/provider_host.h>
#include <vds/zarvo_provider.h>

// An owned reference that releases at scope exit.
template <typename T>
class Ref {
public:
    Ref() = default;
    explicit Ref(T* p) : m_p(p) {}
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    Ref(Ref&& other) noexcept : m_p(other.m_p) { other.m_p = nullptr; }
    Ref& operator=(Ref&& other) noexcept {
        if (this != &other) {
            reset(other.m_p);
            other.m_p = nullptr;
        }
        return *this;
    }
    ~Ref() { reset(); }
    void reset(T* p = nullptr) {
        if (m_p) m_p->Release();
        m_p = p;
    }
    T* get() const { return m_p; }
    T* operator->() const { return m_p; }
    T& operator*() const { return *m_p; }
    T** out() {
        reset();
        return &m_p;
    }
    explicit operator bool() const { return m_p != nullptr; }

private:
    T* m_p = nullptr;
};

template <typename Interface>
Ref<Interface> QueryAs(IUnknown* object) {
    Interface* p = nullptr;
    object->QueryInterface(IID_PPV_ARGS(&p));
    return Ref<Interface>(p);
}

inline GUID IdOf(const std::string& text) { return GuidFromBytes(text.data(), text.size()); }

class FakeStoredList : public StoredApplianceList {
public:
    std::vector<CFilerRecord> records;
    void Load() override {}
    std::vector<CFilerRecord> CopyRecords() override { return records; }
};

class FakeSubsystemFactory : public SubsystemFactory {
public:
    std::set<std::u16string> unreachable;           // DNS names whose Initialize fails
    std::vector<std::u16string> tried;              // DNS names Initialize saw, in order
    std::map<std::u16string, FakeSan*> live;        // the San made for each DNS name
    std::vector<std::pair<GUID, bool>> initialized; // subsystem id and announce flag
    std::function<void(FakeSan&)> prepare;          // fills a new San before its first use
    std::chrono::milliseconds initDelay{0};         // how long an appliance takes to answer
    std::atomic<bool> entered{false};               // an Initialize has begun

    San* NewSan() override { return new FakeSan(); }
    HRESULT Initialize(San& san, const CFilerRecord& record, LONG, bool announce) override {
        auto& fake = static_cast<FakeSan&>(san);
        entered = true;
        std::this_thread::sleep_for(initDelay);
        tried.push_back(record.m_strDnsName);
        if (unreachable.count(record.m_strDnsName)) return HRESULT(0xC0042502);
        fake.id = IdOf(WStringToString(record.m_strDnsName));
        m_logons[&fake] = record;
        live[record.m_strDnsName] = &fake;
        initialized.emplace_back(fake.id, announce);
        fake.onDelete = [this, &fake, name = record.m_strDnsName] {
            m_logons.erase(&fake);
            if (live[name] == &fake) live.erase(name);
        };
        if (prepare) prepare(fake);
        return S_OK;
    }
    HRESULT SetSANInactive(San& san) override {
        static_cast<FakeSan&>(san).active = false;
        return S_OK;
    }
    bool IsUnused(San& san) override {
        auto& fake = static_cast<FakeSan&>(san);
        return !fake.active && fake.usage == 0;
    }
    void GetLogonData(San& san, CFilerRecord& record) override { record = m_logons[&san]; }

private:
    std::map<San*, CFilerRecord> m_logons;
};

inline CFilerRecord MakeRecord(const std::u16string& name, LONG type, const std::u16string& password = u"secret") {
    CFilerRecord record;
    record.m_strDnsName = name;
    record.m_strUserName = u"root";
    record.m_strPassword = password;
    record.m_iType = type;
    return record;
}

class VdsTest : public ::testing::Test {
protected:
    FakeStoredList list;
    FakeSubsystemFactory factory;

    void SetUp() override {
        SetStoredApplianceList(&list);
        SetSubsystemFactory(&factory);
    }
    // After the derived fixtures' providers are gone.
    ~VdsTest() override {
        SetStoredApplianceList(nullptr);
        SetSubsystemFactory(nullptr);
    }

    // A provider of the type after one list pass over the stored records.
    Ref<CZarvoProvider> MakeProvider(VDS_HWPROVIDER_TYPE type) {
        CZarvoProvider* provider = type == VDS_HWT_ISCSI ? static_cast<CZarvoProvider*>(NewComObject<CZarvoProviderIscsi>())
                                                         : static_cast<CZarvoProvider*>(NewComObject<CZarvoProviderFC>());
        EXPECT_EQ(S_OK, provider->Reenumerate());
        return Ref<CZarvoProvider>(provider);
    }

    // One appliance of the type whose San knows the objects given.
    FakeSan& Appliance(CZarvoProvider& provider, const std::u16string& name) {
        FakeSan* san = factory.live[name];
        EXPECT_NE(nullptr, san);
        (void)provider;
        return *san;
    }

    template <typename Interface>
    Ref<Interface> Object(CZarvoProvider& provider, const GUID& id, VDS_OBJECT_TYPE type) {
        Ref<IUnknown> unknown;
        EXPECT_EQ(S_OK, provider.GetObject(id, type, unknown.out()));
        if (!unknown) return Ref<Interface>();
        return QueryAs<Interface>(unknown.get());
    }
};
