// The service module's idle stop: two consecutive ticks that find no lock.
#include <service/service_module.h>

#include <platform/classtable.h>
#include <platform/clock.h>
#include <platform/handle.h>
#include <platform/local_server.h>
#include <platform/provider_admin.h>
#include <platform/thread.h>
#include <platform/winuser.h>

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <future>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::vector<std::string> event_texts(const fs::path& root) {
    std::ifstream in(root / "eventlog" / "SanProvD.jsonl");
    std::vector<std::string> texts;
    for (std::string line; std::getline(in, line);) {
        const auto at = line.find("\"text\":\"");
        texts.push_back(line.substr(at + 8, line.find("\\r\\n", at) - at - 8));
    }
    return texts;
}

// Fake time that also tells when the service's message loop has gone back to
// waiting for its next timer: the moment a tick has been handled in full.
class LoopWatchClock final : public platform::Clock {
public:
    static constexpr auto kBound = std::chrono::seconds(60);  // never reached unless the loop is stuck

    explicit LoopWatchClock(const std::atomic<DWORD>& loopThread) : m_loopThread(loopThread) {}

    void advance(ULONGLONG milliseconds) {
        auto lock = platform::wait_lock();
        m_elapsedMs += milliseconds;
        platform::notify_waiters();
    }
    // True once the loop waits for a moment at or after `tick`.
    bool loop_waits_until(ULONGLONG tick) {
        std::unique_lock lock(m_mutex);
        return m_loopWaiting.wait_for(lock, kBound, [&] { return m_loopDeadline >= tick; });
    }

    ULONGLONG ticks() override { return platform::FakeClock::kDefaultStartTicks + m_elapsedMs; }
    ULONGLONG system_time() override { return platform::FakeClock::kDefaultStartTime + m_elapsedMs * 10'000; }
    void sleep(DWORD milliseconds) override {
        if (milliseconds != 0 && milliseconds != INFINITE) advance(milliseconds);
        std::this_thread::yield();
    }
    // Called by each timed wait that blocks, on the waiting thread.
    std::optional<std::chrono::steady_clock::time_point> real_deadline(ULONGLONG tick) override {
        if (GetCurrentThreadId() == m_loopThread.load()) {
            std::lock_guard lock(m_mutex);
            m_loopDeadline = std::max(m_loopDeadline, tick);
            m_loopWaiting.notify_all();
        }
        return std::nullopt;  // woken by advance()
    }

private:
    const std::atomic<DWORD>& m_loopThread;
    std::atomic<ULONGLONG> m_elapsedMs{0};
    std::mutex m_mutex;
    std::condition_variable m_loopWaiting;
    ULONGLONG m_loopDeadline = 0;
};

}  // namespace

TEST(ServiceModule, StopsAfterTwoIdleTicksAndNotWhileAnObjectLives) {
    const fs::path root = fs::temp_directory_path() / ("service-module-" + std::to_string(::getpid()));
    fs::remove_all(root);
    fs::create_directories(root);
    ::setenv("SANPROV_ROOT", root.c_str(), 1);
    {
        CServiceModule& module = _Module();
        const auto clock = std::make_shared<LoopWatchClock>(module.m_dwThreadID);
        const auto previous = platform::set_test_clock(clock);
        // A tick has been handled in full once the loop waits for the one after it.
        const auto tick = [&] {
            const ULONGLONG before = clock->ticks();
            clock->advance(CServiceModule::kIdleTickMs);
            return clock->loop_waits_until(before + 2 * CServiceModule::kIdleTickMs);
        };
        module.Init();
        module.m_bService = true;  // as under the service manager, where only the idle timer ends the run
        const ULONGLONG start = clock->ticks();
        std::promise<void> ended;
        std::thread run([&] {
            module.Run();
            ended.set_value();
        });
        const bool ticked = [&] {
            EXPECT_TRUE(clock->loop_waits_until(start + CServiceModule::kIdleTickMs)) << "the idle timer runs";
            EXPECT_TRUE(platform::is_local_server());
            IZarvoVdsProviderAdmin* admin = nullptr;
            EXPECT_EQ(CoCreateInstance(CLSID_ZarvoVdsProviderAdmin, nullptr, CLSCTX_INPROC_SERVER,
                                       IID_IZarvoVdsProviderAdmin, reinterpret_cast<void**>(&admin)),
                      S_OK);
            if (!admin) return false;
            for (int i = 0; i < 3; ++i) EXPECT_TRUE(tick());
            EXPECT_TRUE(platform::is_local_server()) << "an object held across the ticks keeps the service";
            admin->Release();
            EXPECT_TRUE(tick());
            EXPECT_TRUE(platform::is_local_server()) << "one idle tick is not enough";
            clock->advance(CServiceModule::kIdleTickMs);
            return true;
        }();
        const bool stopped =
            ticked && ended.get_future().wait_for(LoopWatchClock::kBound) == std::future_status::ready;
        if (!stopped) PostThreadMessageW(module.m_dwThreadID, WM_QUIT, 0, 0);
        run.join();
        platform::set_test_clock(previous);
        EXPECT_TRUE(stopped) << "the second idle tick stops the service";
        EXPECT_FALSE(platform::is_local_server());
    }
    EXPECT_EQ(event_texts(root), (std::vector<std::string>{"Service started.", "Service stopping due to inactivity.",
                                                            "Service stopped."}));
    ::unsetenv("SANPROV_ROOT");
    fs::remove_all(root);
}
