#pragma once
// A notifier for model tests: every set it hands out records what it
// delivers, one batch per Deliver call, in the notifier it came from.
#include <model/notification.h>

#include <mutex>
#include <utility>
#include <vector>

namespace model_test {

class RecordingNotifier : public Notifier {
public:
    using Batch = std::vector<std::pair<NotificationType, GUID>>;

    NotificationSet* CreateNotificationSet() override { return new Set(*this); }

    std::vector<Batch> Delivered() const {
        std::lock_guard hold(m_lock);
        return m_batches;
    }
    int SetsAlive() const {
        std::lock_guard hold(m_lock);
        return m_alive;
    }

private:
    class Set : public NotificationSet {
    public:
        explicit Set(RecordingNotifier& owner) : m_owner(owner) {
            std::lock_guard hold(m_owner.m_lock);
            ++m_owner.m_alive;
        }
        ~Set() override {
            std::lock_guard hold(m_owner.m_lock);
            --m_owner.m_alive;
        }
        void Add(NotificationType type, const GUID& id) override { m_events.emplace_back(type, id); }
        void Deliver() override {
            if (m_events.empty()) return;
            std::lock_guard hold(m_owner.m_lock);
            m_owner.m_batches.push_back(std::move(m_events));
            m_events.clear();
        }

    private:
        RecordingNotifier& m_owner;
        Batch m_events;
    };

    mutable std::mutex m_lock;
    std::vector<Batch> m_batches;
    int m_alive = 0;
};

}  // namespace model_test
