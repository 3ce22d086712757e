#include <model/async.h>

#include <gtest/gtest.h>

#include <platform/clock.h>
#include <platform/vds.h>

#include <chrono>
#include <functional>
#include <thread>

#include "recording_notifier.h"

using model_test::RecordingNotifier;

namespace {

constexpr GUID kLunId{0x11223344, 0x5566, 0x7788, {1, 2, 3, 4, 5, 6, 7, 8}};

HRESULT status(ZarvoAsync& async, ULONG& percent) {
    HRESULT result = S_OK;
    EXPECT_EQ(async.QueryStatus(&result, &percent), S_OK);
    return result;
}

}  // namespace

TEST(ZarvoAsync, PercentClimbsWithTheClockStopsAt85AndIs100OnCompletion) {
    platform::ScopedFakeClock fake;
    auto* async = new ZarvoAsync;
    ULONG percent = 99;
    EXPECT_EQ(status(*async, percent), VDS_E_OPERATION_PENDING);
    EXPECT_EQ(percent, 0u);

    async->StartAutoPercentage(3000);
    const struct {
        ULONGLONG elapsed;
        ULONG percent;
    } steps[] = {{0, 0}, {30, 1}, {1500, 50}, {2549, 84}, {2550, 85}, {2999, 85}, {60000, 85}};
    ULONGLONG at = 0;
    for (const auto& step : steps) {
        fake.clock().advance(step.elapsed - at);
        at = step.elapsed;
        EXPECT_EQ(status(*async, percent), VDS_E_OPERATION_PENDING);
        EXPECT_EQ(percent, step.percent) << "after " << step.elapsed << " ms";
    }

    async->SetResult(S_OK);
    async->WakeUp();
    EXPECT_EQ(status(*async, percent), S_OK);
    EXPECT_EQ(percent, 100u);
    async->Release();
}

TEST(ZarvoAsync, ADurationOfZeroCountsAsOneMillisecond) {
    platform::ScopedFakeClock fake;
    auto* async = new ZarvoAsync;
    async->StartAutoPercentage(0);
    ULONG percent = 0;
    status(*async, percent);
    EXPECT_EQ(percent, 0u);
    fake.clock().advance(1);
    status(*async, percent);
    EXPECT_EQ(percent, 85u);
    async->Release();
}

TEST(ZarvoAsync, CancelIsAlwaysTooLateAndChangesNothing) {
    auto* async = new ZarvoAsync;
    EXPECT_EQ(async->Cancel(), VDS_E_CANCEL_TOO_LATE);
    ULONG percent = 0;
    EXPECT_EQ(status(*async, percent), VDS_E_OPERATION_PENDING);
    async->SetResult(E_FAIL);
    async->WakeUp();
    EXPECT_EQ(async->Cancel(), VDS_E_CANCEL_TOO_LATE);
    async->Release();
}

TEST(ZarvoAsync, WaitReturnsTheResultAndIdOnceAnotherThreadCompletes) {
    auto* async = new ZarvoAsync;
    async->AddRef();  // the worker's reference
    std::thread worker([async] {
        async->SetId(kLunId);
        async->SetResult(VDS_E_NOT_ENOUGH_SPACE);
        async->WakeUp();
        async->Release();
    });
    HRESULT result = S_OK;
    GUID id{};
    EXPECT_EQ(async->Wait(&result, &id), S_OK);
    worker.join();
    EXPECT_EQ(result, VDS_E_NOT_ENOUGH_SPACE);
    EXPECT_EQ(id, kLunId);
    // After completion a wait returns at once with the same outcome.
    result = S_OK;
    EXPECT_EQ(async->Wait(&result, &id), S_OK);
    EXPECT_EQ(result, VDS_E_NOT_ENOUGH_SPACE);
    async->Release();
}

TEST(ZarvoAsync, WakeUpDeliversTheHeldSetOnceAndDeletesIt) {
    RecordingNotifier notifier;
    auto* async = new ZarvoAsync;
    NotificationSet* set = notifier.CreateNotificationSet();
    set->Add(notification_code::LunArrive, kLunId);
    async->SetNotifications(set);
    async->SetNotifications(set);  // the set it holds: nothing changes
    ASSERT_EQ(async->GetNotifications(), set);
    async->GetNotifications()->Add(notification_code::LunModify, kLunId);  // work adds its own events

    async->SetResult(S_OK);
    async->WakeUp();
    EXPECT_EQ(async->GetNotifications(), nullptr);
    EXPECT_EQ(notifier.SetsAlive(), 0);
    const auto delivered = notifier.Delivered();
    ASSERT_EQ(delivered.size(), 1u);
    ASSERT_EQ(delivered[0].size(), 2u);
    EXPECT_EQ(delivered[0][0].first, notification_code::LunArrive);
    EXPECT_EQ(delivered[0][1].first, notification_code::LunModify);
    EXPECT_EQ(delivered[0][1].second, kLunId);
    async->Release();
    EXPECT_EQ(notifier.Delivered().size(), 1u);
}

TEST(ZarvoAsync, TheLastReleaseDeletesAnUndeliveredSetWithoutDeliveringIt) {
    RecordingNotifier notifier;
    auto* async = new ZarvoAsync;
    NotificationSet* first = notifier.CreateNotificationSet();
    first->Add(notification_code::LunArrive, kLunId);
    async->SetNotifications(first);
    NotificationSet* second = notifier.CreateNotificationSet();
    second->Add(notification_code::LunDepart, kLunId);
    async->SetNotifications(second);  // the first goes, undelivered
    EXPECT_EQ(notifier.SetsAlive(), 1);
    async->AddRef();
    async->Release();
    EXPECT_EQ(notifier.SetsAlive(), 1);
    async->Release();
    EXPECT_EQ(notifier.SetsAlive(), 0);
    EXPECT_TRUE(notifier.Delivered().empty());
}

TEST(ZarvoAsync, WakeUpDeliversBeforeAnyWaiterReturns) {
    auto* async = new ZarvoAsync;
    std::atomic<bool> waiterReturned{false};
    std::atomic<bool> deliveredBeforeWaiter{false};
    ULONG percentAtDelivery = 0;

    // A set whose delivery looks at the async and at the waiter while it runs.
    class ObservingSet : public NotificationSet {
    public:
        std::function<void()> onDeliver;
        void Add(NotificationType, const GUID&) override {}
        void Deliver() override { onDeliver(); }
    };
    auto* set = new ObservingSet;
    set->onDeliver = [&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));  // a waiter released early would be back by now
        HRESULT result = S_OK;
        async->QueryStatus(&result, &percentAtDelivery);
        deliveredBeforeWaiter = !waiterReturned.load();
    };
    async->SetNotifications(set);

    std::thread waiter([&] {
        HRESULT result = S_OK;
        async->Wait(&result, nullptr);
        waiterReturned = true;
    });
    async->SetResult(S_OK);
    async->WakeUp();
    waiter.join();
    EXPECT_TRUE(deliveredBeforeWaiter);
    EXPECT_EQ(percentAtDelivery, 100u);
    async->Release();
}
