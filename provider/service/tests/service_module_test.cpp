// The service module's idle stop: two consecutive ticks that find no lock.
#include <service/service_module.h>

#include <platform/classtable.h>
#include <platform/clock.h>
#include <platform/local_server.h>
#include <platform/provider_admin.h>

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
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

void settle() { std::this_thread::sleep_for(std::chrono::milliseconds(100)); }

}  // namespace

TEST(ServiceModule, StopsAfterTwoIdleTicksAndNotWhileAnObjectLives) {
    const fs::path root = fs::temp_directory_path() / ("service-module-" + std::to_string(::getpid()));
    fs::remove_all(root);
    fs::create_directories(root);
    ::setenv("SANPROV_ROOT", root.c_str(), 1);
    {
        platform::ScopedFakeClock clock;
        CServiceModule& module = _Module();
        module.Init();
        module.m_bService = true;  // as under the service manager, where only the idle timer ends the run
        std::thread run([&] { module.Run(); });
        for (int i = 0; i < 500 && !platform::is_local_server(); ++i) settle();
        ASSERT_TRUE(platform::is_local_server());
        settle();

        IZarvoVdsProviderAdmin* admin = nullptr;
        ASSERT_EQ(CoCreateInstance(CLSID_ZarvoVdsProviderAdmin, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_IZarvoVdsProviderAdmin, reinterpret_cast<void**>(&admin)),
                  S_OK);
        for (int tick = 0; tick < 3; ++tick) {
            clock.clock().advance(CServiceModule::kIdleTickMs);
            settle();
        }
        EXPECT_TRUE(platform::is_local_server()) << "an object held across the ticks keeps the service";
        admin->Release();

        clock.clock().advance(CServiceModule::kIdleTickMs);
        settle();
        EXPECT_TRUE(platform::is_local_server()) << "one idle tick is not enough";
        clock.clock().advance(CServiceModule::kIdleTickMs);
        run.join();
        EXPECT_FALSE(platform::is_local_server());
    }
    EXPECT_EQ(event_texts(root), (std::vector<std::string>{"Service started.", "Service stopping due to inactivity.",
                                                            "Service stopped."}));
    ::unsetenv("SANPROV_ROOT");
    fs::remove_all(root);
}
