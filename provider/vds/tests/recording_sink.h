#pragma once
// An advise sink that keeps every call it gets.
#include <mutex>
#include <vector>

#include <platform/vds.h>
#include <vds/com_object.h>

class RecordingSink final : public ComObject<IVdsAdviseSink> {
public:
    STDMETHODIMP OnNotify(LONG count, VDS_NOTIFICATION* notifications) override {
        std::lock_guard lock(m_mutex);
        m_calls.emplace_back(notifications, notifications + count);
        return S_OK;
    }
    std::vector<std::vector<VDS_NOTIFICATION>> Calls() {
        std::lock_guard lock(m_mutex);
        return m_calls;
    }
    ULONG RefCount() const { return m_refCount; }

private:
    std::mutex m_mutex;
    std::vector<std::vector<VDS_NOTIFICATION>> m_calls;
};
