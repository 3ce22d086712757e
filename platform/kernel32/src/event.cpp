#include <platform/event.h>

#include <map>
#include <string>

namespace {

class EventObject;

// Names bound to live events. Never destroyed (see handle.cpp).
struct NameTable {
    std::mutex mutex;
    std::map<std::u16string, std::weak_ptr<EventObject>> events;
};
NameTable& names() {
    static auto* table = new NameTable;
    return *table;
}

class EventObject final : public platform::KernelObject {
public:
    EventObject(bool manualReset, bool initialState, std::u16string name)
        : m_manualReset(manualReset), m_state(initialState), m_name(std::move(name)) {}

    ~EventObject() override {
        if (m_name.empty()) return;
        std::lock_guard lock(names().mutex);
        // The entry may already name a newer event of the same name.
        const auto it = names().events.find(m_name);
        if (it != names().events.end() && it->second.expired()) names().events.erase(it);
    }

    bool signalled() const override { return m_state; }
    void acquired() override {
        if (!m_manualReset) m_state = false;
    }

    void set(bool state) {
        auto lock = platform::wait_lock();
        m_state = state;
        if (state) platform::notify_waiters();
    }

private:
    const bool m_manualReset;
    bool m_state;  // guarded by the wait lock
    const std::u16string m_name;
};

std::u16string name_of(LPCWSTR name) { return name ? std::u16string(name) : std::u16string(); }

BOOL set_state(HANDLE handle, bool state) {
    const auto event = platform::object_from_handle_as<EventObject>(handle);
    if (!event) return FALSE;
    event->set(state);
    return TRUE;
}

}  // namespace

HANDLE CreateEventW(LPSECURITY_ATTRIBUTES, BOOL manualReset, BOOL initialState, LPCWSTR name) {
    const auto key = name_of(name);
    if (key.empty()) {
        SetLastError(ERROR_SUCCESS);
        return platform::make_handle(std::make_shared<EventObject>(manualReset, initialState, key));
    }
    std::shared_ptr<EventObject> event;
    bool existed = false;
    {
        std::lock_guard lock(names().mutex);
        auto& slot = names().events[key];
        event = slot.lock();
        existed = event != nullptr;
        if (!existed) {
            event = std::make_shared<EventObject>(manualReset, initialState, key);
            slot = event;
        }
    }
    HANDLE handle = platform::make_handle(std::move(event));
    SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return handle;
}

HANDLE OpenEventW(DWORD, BOOL, LPCWSTR name) {
    const auto key = name_of(name);
    if (key.empty()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::shared_ptr<EventObject> event;
    {
        std::lock_guard lock(names().mutex);
        const auto it = names().events.find(key);
        if (it != names().events.end()) event = it->second.lock();
    }
    if (!event) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return nullptr;
    }
    return platform::make_handle(std::move(event));
}

BOOL SetEvent(HANDLE event) { return set_state(event, true); }
BOOL ResetEvent(HANDLE event) { return set_state(event, false); }
