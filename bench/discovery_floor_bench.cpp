// The CPU of a subsystem refresh beside the floor of its transport. The floor
// replays the request bytes of the same refresh, as the simulated appliance
// logged them, one fresh TCP connection each, and parses every reply with a
// bare libxml2 event parse that looks at every name, attribute and text once.
// The two sides alternate in one process against the same appliance; the
// figures are the medians of the rounds. For each size it prints both CPU
// times, their ratio, the requests per LUN and the process's peak RSS.
//   discovery_floor_bench [--rounds N] [LUN counts...]   (default: 5 rounds; 1024 2048)
#include <model/filer_object_container.h>
#include <model/zarvo_san.h>

#include <arpa/inet.h>
#include <libxml/parser.h>
#include <netinet/in.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench_appliance.h"
#include "floor_parse.h"

namespace {

namespace fs = std::filesystem;

// The raw requests of the log file: a header line with "bytes=N" each, then
// exactly N bytes and a line feed.
std::vector<std::string> read_logged_requests(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    const std::string text = all.str();
    std::vector<std::string> requests;
    for (size_t pos = 0; pos < text.size();) {
        const size_t eol = text.find('\n', pos);
        const size_t field = text.find(" bytes=", pos);
        if (eol == std::string::npos || field == std::string::npos || field > eol) break;
        const size_t bytes = std::strtoul(text.c_str() + field + 7, nullptr, 10);
        if (eol + 1 + bytes > text.size()) break;
        requests.push_back(text.substr(eol + 1, bytes));
        pos = eol + 1 + bytes + 1;
    }
    return requests;
}

// Waits until the log file holds every request the appliance counted.
std::vector<std::string> logged_requests(const bench::Simulator& sim) {
    std::vector<std::string> requests;
    for (int i = 0; i < 200; ++i) {
        const auto log = nlohmann::json::parse(sim.control("GET", "/sim/log"), nullptr, false);
        requests = read_logged_requests(sim.log_file());
        if (log.is_array() && requests.size() == log.size()) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return requests;
}

// ---- the floor -----------------------------------------------------------------

// The body's length from a reply head; -1 when it names none.
long content_length(const std::string& head) {
    for (size_t at = 0; (at = head.find("\r\n", at)) != std::string::npos;) {
        at += 2;
        if (::strncasecmp(head.c_str() + at, "Content-Length:", 15) == 0)
            return std::strtol(head.c_str() + at + 15, nullptr, 10);
    }
    return -1;
}

// One request over a new connection; the reply body parsed while it arrives
// by a parser of its own. false when the exchange or the parse failed.
bool replay_one(const std::string& request, const sockaddr_in& appliance, bench::Touched& touched) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&appliance), sizeof appliance) != 0 ||
        ::send(fd, request.data(), request.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(request.size())) {
        ::close(fd);
        return false;
    }
    char buffer[64 * 1024];
    std::string head;
    size_t headEnd = std::string::npos;
    long length = -1, body = 0;
    xmlParserCtxtPtr parser = nullptr;
    const auto feed = [&](const char* bytes, size_t n) {
        if (n == 0) return;
        body += static_cast<long>(n);
        if (parser) {
            xmlParseChunk(parser, bytes, static_cast<int>(n), 0);
        } else if ((parser = xmlCreatePushParserCtxt(bench::floor_handler(), &touched, bytes, static_cast<int>(n),
                                                     nullptr))) {
            xmlCtxtUseOptions(parser, XML_PARSE_NOENT | XML_PARSE_NONET);
        }
    };
    for (ssize_t n; (length < 0 || body < length) && (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;) {
        if (headEnd != std::string::npos) {
            feed(buffer, static_cast<size_t>(n));
            continue;
        }
        head.append(buffer, static_cast<size_t>(n));
        if ((headEnd = head.find("\r\n\r\n")) == std::string::npos) continue;
        length = content_length(head.substr(0, headEnd + 2));
        feed(head.data() + headEnd + 4, head.size() - headEnd - 4);
    }
    ::close(fd);
    bool sound = head.compare(0, 12, "HTTP/1.1 200") == 0 || head.compare(0, 12, "HTTP/1.0 200") == 0;
    if (parser) {
        xmlParseChunk(parser, nullptr, 0, 1);
        sound = sound && parser->wellFormed;
        xmlFreeParserCtxt(parser);
    }
    return sound && parser;
}

// The whole recorded reading; the number of exchanges that failed.
int replay(const std::vector<std::string>& requests) {
    sockaddr_in appliance{};
    appliance.sin_family = AF_INET;
    appliance.sin_port = htons(80);
    ::inet_pton(AF_INET, bench::appliance_address().c_str(), &appliance.sin_addr);
    bench::Touched touched;
    int failures = 0;
    for (const std::string& request : requests) failures += replay_one(request, appliance, touched) ? 0 : 1;
    if (touched.sum == 0) ++failures;
    return failures;
}

// ---- the comparison -----------------------------------------------------------

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

template <typename Work>
double cpu_of(Work&& work) {
    const double before = bench::cpu_seconds();
    work();
    return bench::cpu_seconds() - before;
}

int run(int count, int rounds) {
    bench::Simulator sim(bench::appliance_with_luns(count), true);
    ZarvoSan san;
    if (!bench::start_subsystem(sim, san)) return 1;
    // The refresh whose requests the floor replays; it also warms both sides.
    sim.control("POST", "/sim/log/clear");
    HRESULT hr = san.RefreshSubSystem();
    const std::vector<std::string> requests = logged_requests(sim);
    int failures = replay(requests);

    std::vector<double> provider, floor;
    for (int round = 0; round < rounds; ++round) {
        provider.push_back(cpu_of([&] {
            if (const HRESULT h = san.RefreshSubSystem(); FAILED(h)) hr = h;
        }));
        floor.push_back(cpu_of([&] { failures += replay(requests); }));
    }
    const size_t luns = san.GetContainer()->m_lunMap.size();
    const double providerMs = 1000 * median(provider), floorMs = 1000 * median(floor);
    std::printf("%5d LUNs (%zu loaded, refresh 0x%08X, %d floor failures): %zu requests, %.2f per LUN; "
                "CPU median of %d: provider %.0f ms, floor %.0f ms, ratio %.2f; "
                "per request: provider %.3f ms, floor %.3f ms; peak RSS %.1f MiB\n",
                count, luns, static_cast<unsigned>(hr), failures, requests.size(),
                static_cast<double>(requests.size()) / count, rounds, providerMs, floorMs, providerMs / floorMs,
                providerMs / static_cast<double>(requests.size()), floorMs / static_cast<double>(requests.size()),
                bench::peak_rss_kib() / 1024.0);
    return FAILED(hr) || failures != 0 || luns != static_cast<size_t>(count);
}

}  // namespace

int main(int argc, char** argv) {
    const bench::StateRoot root;
    if (!root.valid()) return 1;
    int rounds = 5;
    std::vector<int> counts;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--rounds") == 0 && i + 1 < argc) rounds = std::max(1, std::atoi(argv[++i]));
        else counts.push_back(std::atoi(argv[i]));
    }
    if (counts.empty()) counts = {1024, 2048};
    int failures = 0;
    for (int count : counts) failures += run(count, rounds);
    return failures == 0 ? 0 : 1;
}
