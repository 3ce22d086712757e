// A refresh of a Fibre Channel subsystem whose appliance holds many LUNs: the
// provider's own LUNs (numbers 0 to 1023) and, beyond them, an administrator's.
// For each size it prints the refresh's wall time, the requests and reply
// bytes per LUN, the provider's CPU time and the process's peak RSS.
//   subsystem_refresh_bench [LUN counts...]   (default: 1024 2048)
#include <model/filer_object_container.h>
#include <model/zarvo_san.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "bench_appliance.h"

namespace {

using bench::cpu_seconds;
using bench::peak_rss_kib;

int run(int count) {
    bench::Simulator sim(bench::appliance_with_luns(count));
    ZarvoSan san;
    if (!bench::start_subsystem(sim, san)) return 1;
    sim.control("POST", "/sim/log/clear");
    const double cpuBefore = cpu_seconds();
    const auto begin = std::chrono::steady_clock::now();
    const HRESULT hr = san.RefreshSubSystem();
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    const double cpu = cpu_seconds() - cpuBefore;
    const auto log = nlohmann::json::parse(sim.control("GET", "/sim/log"), nullptr, false);
    size_t bytes = 0;
    for (const auto& entry : log) bytes += entry.value("reply-bytes", 0);
    const size_t luns = san.GetContainer()->m_lunMap.size();
    std::printf("%5d LUNs (%zu loaded, refresh 0x%08X): wall %.2f s, %.2f requests and %.0f reply bytes per LUN, "
                "provider CPU %.2f s (%.0f%% of wall), peak RSS %.1f MiB\n",
                count, luns, static_cast<unsigned>(hr), wall, static_cast<double>(log.size()) / count,
                static_cast<double>(bytes) / count, cpu, 100.0 * cpu / wall, peak_rss_kib() / 1024.0);
    return FAILED(hr) || luns != static_cast<size_t>(count);
}

}  // namespace

int main(int argc, char** argv) {
    const bench::StateRoot root;
    if (!root.valid()) return 1;
    std::vector<int> counts;
    for (int i = 1; i < argc; ++i) counts.push_back(std::atoi(argv[i]));
    if (counts.empty()) counts = {1024, 2048};
    int failures = 0;
    for (int count : counts) failures += run(count);
    return failures == 0 ? 0 : 1;
}
