// The picture of the objects against a provider of fakes whose LUN reads can
// be held, as a subsystem busy with a LUN's work holds them.
#include <vdscmd/picture.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <future>
#include <mutex>
#include <string>
#include <thread>

#include <platform/comalloc.h>
#include <platform/text.h>
#include <vds/com_object.h>

namespace {

using namespace std::chrono_literals;
using vdscmd::ObjectPicture;
using vdscmd::PictureView;

constexpr GUID kSubsystem{0x11111111, 0x1111, 0x1111, {1, 1, 1, 1, 1, 1, 1, 1}};
constexpr GUID kLun{0x22222222, 0x2222, 0x2222, {2, 2, 2, 2, 2, 2, 2, 2}};

LPWSTR Copy(const std::string& text) {
    const std::u16string wide = platform::utf8_to_wide_lossy(text);
    auto* copy = static_cast<LPWSTR>(CoTaskMemAlloc((wide.size() + 1) * sizeof(WCHAR)));
    std::copy(wide.begin(), wide.end(), copy);
    copy[wide.size()] = 0;
    return copy;
}

// What the fake LUN answers, and a gate its reads wait at while closed.
struct LunState {
    std::mutex mutex;
    std::condition_variable opened;
    bool open = true;
    int waiting = 0;
    std::string name = "first";
    bool exists = true;

    void Close() {
        std::lock_guard lock(mutex);
        open = false;
    }
    void Open() {
        {
            std::lock_guard lock(mutex);
            open = true;
        }
        opened.notify_all();
    }
    bool WaitForReader() {
        const auto end = std::chrono::steady_clock::now() + 5s;
        for (;;) {
            {
                std::lock_guard lock(mutex);
                if (waiting > 0) return true;
            }
            if (std::chrono::steady_clock::now() > end) return false;
            std::this_thread::sleep_for(5ms);
        }
    }
};

#define NOT_USED(signature) \
    STDMETHODIMP signature override { return E_NOTIMPL; }

class FakeSubsystem final : public ComObject<IVdsSubSystem> {
public:
    STDMETHODIMP GetProperties(VDS_SUB_SYSTEM_PROP* prop) override {
        *prop = {};
        prop->id = kSubsystem;
        prop->pwszFriendlyName = Copy("subsystem");
        prop->pwszIdentification = Copy("serial");
        return S_OK;
    }
    NOT_USED(GetProvider(IVdsProvider**))
    NOT_USED(QueryControllers(IEnumVdsObject**))
    NOT_USED(QueryLuns(IEnumVdsObject**))
    NOT_USED(QueryDrives(IEnumVdsObject**))
    NOT_USED(GetDrive(SHORT, SHORT, IVdsDrive**))
    NOT_USED(Reenumerate())
    NOT_USED(SetControllerStatus(VDS_OBJECT_ID*, LONG, VDS_OBJECT_ID*, LONG))
    NOT_USED(CreateLun(VDS_LUN_TYPE, ULONGLONG, VDS_OBJECT_ID*, LONG, LPWSTR, VDS_HINTS*, IVdsAsync**))
    NOT_USED(ReplaceDrive(VDS_OBJECT_ID, VDS_OBJECT_ID))
    NOT_USED(SetStatus(VDS_SUB_SYSTEM_STATUS))
    NOT_USED(QueryMaxLunCreateSize(VDS_LUN_TYPE, VDS_OBJECT_ID*, LONG, VDS_HINTS*, ULONGLONG*))
};

class FakeLun final : public ComObject<IVdsLun> {
public:
    explicit FakeLun(LunState& state) : m_state(state) {}
    STDMETHODIMP GetProperties(VDS_LUN_PROP* prop) override {
        std::unique_lock lock(m_state.mutex);
        ++m_state.waiting;
        m_state.opened.wait(lock, [this] { return m_state.open; });
        --m_state.waiting;
        *prop = {};
        prop->id = kLun;
        prop->ullSize = 1 << 20;
        prop->pwszFriendlyName = Copy(m_state.name);
        prop->pwszIdentification = Copy("/vol/v/" + m_state.name);
        prop->pwszUnmaskingList = Copy("");
        return S_OK;
    }
    STDMETHODIMP GetSubSystem(IVdsSubSystem** subsystem) override {
        *subsystem = NewComObject<FakeSubsystem>();
        return S_OK;
    }
    NOT_USED(GetIdentificationData(VDS_LUN_INFORMATION*))
    NOT_USED(QueryActiveControllers(IEnumVdsObject**))
    NOT_USED(Extend(ULONGLONG, VDS_OBJECT_ID*, LONG, IVdsAsync**))
    NOT_USED(Shrink(ULONGLONG, IVdsAsync**))
    NOT_USED(QueryPlexes(IEnumVdsObject**))
    NOT_USED(AddPlex(VDS_OBJECT_ID, IVdsAsync**))
    NOT_USED(RemovePlex(VDS_OBJECT_ID, IVdsAsync**))
    NOT_USED(Recover(IVdsAsync**))
    NOT_USED(SetMask(LPWSTR))
    NOT_USED(Delete())
    NOT_USED(AssociateControllers(VDS_OBJECT_ID*, LONG, VDS_OBJECT_ID*, LONG))
    NOT_USED(QueryHints(VDS_HINTS*))
    NOT_USED(ApplyHints(VDS_HINTS*))
    NOT_USED(SetStatus(VDS_LUN_STATUS))
    NOT_USED(QueryMaxLunExtendSize(VDS_OBJECT_ID*, LONG, ULONGLONG*))

private:
    LunState& m_state;
};

class FakeProvider final : public ComObject<IVdsProviderPrivate> {
public:
    explicit FakeProvider(LunState& state) : m_state(state) {}
    STDMETHODIMP GetObject(VDS_OBJECT_ID id, VDS_OBJECT_TYPE type, IUnknown** object) override {
        *object = nullptr;
        if (type == VDS_OT_LUN && std::memcmp(&id, &kLun, sizeof id) == 0 && Exists()) {
            *object = static_cast<IVdsLun*>(NewComObject<FakeLun>(m_state));
            return S_OK;
        }
        return VDS_E_OBJECT_NOT_FOUND;
    }
    NOT_USED(OnLoad(LPWSTR, IUnknown*))
    NOT_USED(OnUnload(BOOL))

private:
    bool Exists() {
        std::lock_guard lock(m_state.mutex);
        return m_state.exists;
    }
    LunState& m_state;
};

VDS_NOTIFICATION LunNotification(ULONG event) {
    VDS_NOTIFICATION n{};
    n.objectType = VDS_NTT_LUN;
    n.Lun.ulEvent = event;
    n.Lun.LunId = kLun;
    return n;
}

// Two providers of fakes (one LUN id in both, as when both serve one
// appliance) and a picture over them.
class PictureTest : public ::testing::Test {
protected:
    PictureTest() {
        for (int i = 0; i < 2; ++i) {
            auto provider = std::make_shared<vdscmd::LoadedProvider>();
            provider->registration.providerId = GUID{static_cast<uint32_t>(0xa0 + i), 0, 0, {}};
            provider->priv = NewComObject<FakeProvider>(states[i]);
            providers.push_back(provider);
        }
        picture = std::make_unique<ObjectPicture>([this] { return providers; });
    }
    ~PictureTest() override { picture.reset(); }

    std::vector<vdscmd::LoadedProvider*> Held() { return {providers[0].get(), providers[1].get()}; }
    const GUID& Provider(int i) { return providers[i]->registration.providerId; }
    void Notify(int provider, ULONG event) {
        const VDS_NOTIFICATION n = LunNotification(event);
        picture->Notify(Provider(provider), &n, 1);
    }
    std::vector<std::string> LunNames() {
        std::vector<std::string> names;
        for (const auto& lun : picture->View().luns) names.push_back(lun.name);
        return names;
    }

    LunState states[2];
    vdscmd::ProviderList providers;
    std::unique_ptr<ObjectPicture> picture;
};

TEST_F(PictureTest, AReadingPutsTheObjectOfEachProviderWithItsSubsystem) {
    states[1].name = "other";
    picture->ReadObject(Held(), VDS_OT_LUN, kLun);
    const PictureView view = picture->View();
    ASSERT_EQ(2u, view.luns.size());
    EXPECT_EQ((std::vector<std::string>{"first", "other"}), LunNames());
    for (const auto& lun : view.luns) EXPECT_EQ(0, std::memcmp(&lun.subsystem, &kSubsystem, sizeof kSubsystem));

    // A departure from one provider leaves the other's object of the same id.
    Notify(0, VDS_NF_LUN_DEPART);
    EXPECT_EQ((std::vector<std::string>{"other"}), LunNames());
}

// A modify is re-read on the picture's own thread: the notifier returns at
// once and listings keep answering with the old properties while the
// subsystem is busy; the new ones come once it is free.
TEST_F(PictureTest, AModifyWaitsForABusySubsystemWithoutHoldingTheNotifierOrTheListings) {
    picture->ReadObject(Held(), VDS_OT_LUN, kLun);
    states[0].Close();
    {
        std::lock_guard lock(states[0].mutex);
        states[0].name = "renamed";
    }
    const auto start = std::chrono::steady_clock::now();
    Notify(0, VDS_NF_LUN_MODIFY);
    ASSERT_TRUE(states[0].WaitForReader());
    EXPECT_EQ((std::vector<std::string>{"first", "first"}), LunNames());
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
    states[0].Open();
    picture->Settle();
    EXPECT_EQ((std::vector<std::string>{"renamed", "first"}), LunNames());
}

// A reading that began before a departure does not bring the object back
// when it ends after it; a reading that begins after the departure does.
TEST_F(PictureTest, AReadingOlderThanADepartureDoesNotBringTheObjectBack) {
    picture->ReadObject({providers[0].get()}, VDS_OT_LUN, kLun);
    states[0].Close();
    auto slow = std::async(std::launch::async, [&] { picture->ReadObject({providers[0].get()}, VDS_OT_LUN, kLun); });
    ASSERT_TRUE(states[0].WaitForReader());
    Notify(0, VDS_NF_LUN_DEPART);
    states[0].Open();
    slow.get();
    EXPECT_TRUE(LunNames().empty());

    picture->ReadObject({providers[0].get()}, VDS_OT_LUN, kLun);
    EXPECT_EQ((std::vector<std::string>{"first"}), LunNames());
    // One the provider no longer has leaves the picture when re-read.
    {
        std::lock_guard lock(states[0].mutex);
        states[0].exists = false;
    }
    Notify(0, VDS_NF_LUN_ARRIVE);
    picture->Settle();
    EXPECT_TRUE(LunNames().empty());
}

// Listings racing arrivals, departures and re-reads see each LUN whole or
// not at all (run under tsan).
TEST_F(PictureTest, ListingsRacingArrivalsAndDeparturesSeeWholeObjects) {
    std::atomic<bool> stop{false};
    std::thread changes([&] {
        for (int i = 0; i < 300; ++i) {
            Notify(i % 2, i % 3 == 0 ? VDS_NF_LUN_DEPART : VDS_NF_LUN_ARRIVE);
            if (i % 5 == 0) picture->ReadObject(Held(), VDS_OT_LUN, kLun);
        }
        stop = true;
    });
    while (!stop)
        for (const auto& lun : picture->View().luns) {
            EXPECT_EQ("/vol/v/" + lun.name, lun.identification);
            EXPECT_EQ(1u << 20, lun.size);
        }
    changes.join();
    picture->Settle();
}

}  // namespace
