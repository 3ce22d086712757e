// The client's cost beside its floor:
//  (1) one exchange through kx_server_invoke_elem against an in-process
//      responder, beside the same socket exchange of pre-built request bytes
//      with no parsing;
//  (2) parsing a list reply of 1,000 entries (about 1.3 MB) into elements,
//      beside libxml2's event parse of the same bytes fed in the same pieces,
//      with handlers that look at every name, attribute and text;
//  (3) each side of (2) timed alone in a fresh process, and the memory a
//      parse of 10,000 entries adds at its peak beside the reply's size.
// The *Vs* benchmarks report the client's ratio to its floor; in (2) the two
// sides alternate in one loop, which flatters neither only when it is read
// beside (3). Every exchange leaves a closed connection waiting out its time
// on the loopback: runs far longer than the default make each connect slower
// for both sides.
#include <korvex/elem.h>
#include <korvex/reply.h>
#include <korvex/results.h>
#include <korvex/server.h>

#include "floor_parse.h"

#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <algorithm>
#include <chrono>
#include <cstring>
#include <cstdio>
#include <libxml/parser.h>
#include <netinet/in.h>
#include <string>
#include <vector>
#include <sys/socket.h>
#include <sys/wait.h>
#include <malloc.h>
#include <unistd.h>

#include "canned_responder.h"

namespace {

using Clock = std::chrono::steady_clock;

const std::string kReplyBody =
    "<?xml version='1.0' encoding='UTF-8' ?>\n<!DOCTYPE korvex SYSTEM 'file:/etc/korvex_filer.dtd'>\n"
    "<korvex version='1.1'><results status=\"passed\"><version>Zarvo Release 7.3.1</version>"
    "<is-clustered>true</is-clustered></results></korvex>";

const std::string kReply = testsupport::http_reply(kReplyBody);

testsupport::CannedReply canned() { return {kReply}; }

void start_client() {
    static const bool started = [] {
        char text[256];
        return kx_startup(text, sizeof text) == 1;
    }();
    (void)started;
}

// ---- (1) one exchange -------------------------------------------------------

// As the filer API makes a request: handle, style, login, request, invoke, free.
bool client_exchange(int port) {
    kx_server_rec* s = kx_server_create("127.0.0.1", 1, 0);
    kx_server_set_style(s, KX_AUTH_LOGIN);
    kx_server_set_login(s, "root", "secret");
    s->port = port;
    kx_elem_rec* request = kx_elem_create("system-get-version");
    kx_elem_rec* results = kx_server_invoke_elem(s, request);
    const bool passed = kx_results_passed(results) == 1;
    kx_elem_destroy(results);
    kx_elem_destroy(request);
    kx_server_destroy(s);
    return passed;
}

class SocketFloorExchange {
public:
    explicit SocketFloorExchange(int port) {
        const std::string document =
            "<?xml version='1.0' encoding='utf-8' ?>\n<!DOCTYPE korvex SYSTEM 'file:/etc/korvex_filer.dtd'>\n"
            "<korvex xmlns=\"http://www.zarvo.com/filer/admin\" version=\"1.0\"><system-get-version/></korvex>";
        request_ = "POST /servlets/korvex.servlets.admin.XMLrequest_filer HTTP/1.1\r\n"
                   "Authorization: Basic cm9vdDpzZWNyZXQ=\r\nHost: 127.0.0.1:" +
                   std::to_string(port) + "\r\nContent-Length: " + std::to_string(document.size()) + "\r\n\r\n" +
                   document;
        address_.sin_family = AF_INET;
        address_.sin_port = htons(static_cast<uint16_t>(port));
        address_.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    }
    // The same bytes over a new connection, the reply read to the close.
    size_t run() const {
        char buffer[4096];
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        size_t received = 0;
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&address_), sizeof address_) == 0) {
            ::send(fd, request_.data(), request_.size(), MSG_NOSIGNAL);
            for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;) received += static_cast<size_t>(n);
        }
        ::close(fd);
        return received;
    }

private:
    std::string request_;
    sockaddr_in address_{};
};

void ClientExchange(benchmark::State& state) {
    start_client();
    testsupport::CannedResponder peer(canned());
    for (auto _ : state)
        if (!client_exchange(peer.port())) state.SkipWithError("the exchange failed");
}
BENCHMARK(ClientExchange)->UseRealTime();

void SocketFloor(benchmark::State& state) {
    testsupport::CannedResponder peer(canned());
    const SocketFloorExchange floor(peer.port());
    for (auto _ : state) benchmark::DoNotOptimize(floor.run());
}
BENCHMARK(SocketFloor)->UseRealTime();

void ExchangeVsFloor(benchmark::State& state) {
    start_client();
    testsupport::CannedResponder peer(canned());
    const SocketFloorExchange floor(peer.port());
    Clock::duration client{}, bare{};
    for (auto _ : state) {
        const auto t0 = Clock::now();
        if (!client_exchange(peer.port())) state.SkipWithError("the exchange failed");
        const auto t1 = Clock::now();
        benchmark::DoNotOptimize(floor.run());
        bare += Clock::now() - t1;
        client += t1 - t0;
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["client_us"] = std::chrono::duration<double, std::micro>(client).count() / n;
    state.counters["floor_us"] = std::chrono::duration<double, std::micro>(bare).count() / n;
    state.counters["ratio"] = static_cast<double>(client.count()) / static_cast<double>(bare.count());
}
BENCHMARK(ExchangeVsFloor)->UseRealTime();

// ---- (2) parsing a list reply ------------------------------------------------

std::string list_reply(int entries) {
    std::string r = "<?xml version='1.0' encoding='UTF-8' ?>\n<!DOCTYPE korvex SYSTEM 'file:/etc/korvex_filer.dtd'>\n"
                    "<korvex version='1.1'><results status=\"passed\"><luns>";
    char entry[2048];
    for (int i = 0; i < entries; ++i) {
        std::snprintf(entry, sizeof entry,
                      "<lun-info><path>/vol/ZarvoVolume%d/ZarvoQtree%d/ZarvoLun%d</path><size>%lld</size>"
                      "<size-used>%d</size-used><online>true</online><mapped>true</mapped><read-only>false</read-only>"
                      "<serial-number>Hn/R8JnXq%05d</serial-number><share-state>none</share-state>"
                      "<multiprotocol-type>windows</multiprotocol-type><uuid>8a1c7e2e-1c55-11dd-9a6b-00a098%06d</uuid>"
                      "<is-space-reservation-enabled>true</is-space-reservation-enabled>"
                      "<comment>LUN created by the provider &amp; kept for the test of entry %d, with some words to "
                      "bring the entry to the size of a verbose reply of an appliance: "
                      "lorem ipsum dolor sit amet consectetur adipiscing elit sed do eiusmod tempor incididunt ut "
                      "labore et dolore magna aliqua ut enim ad minim veniam quis nostrud exercitation ullamco "
                      "laboris nisi ut aliquip ex ea commodo consequat duis aute irure dolor in reprehenderit in "
                      "voluptate velit esse cillum dolore eu fugiat nulla pariatur excepteur sint occaecat cupidatat "
                      "non proident sunt in culpa qui officia deserunt mollit anim id est laborum</comment>"
                      "<block-size>512</block-size><staging>false</staging><backing-snapshot/>"
                      "<clone-backing-snapshot/><creation-timestamp>1231754400</creation-timestamp>"
                      "<prefix-size>0</prefix-size><suffix-size>0</suffix-size><alignment>aligned</alignment>"
                      "<qtree>ZarvoQtree%d</qtree><volume>ZarvoVolume%d</volume></lun-info>",
                      i, i, i, 1048576LL * (i + 1), 4096 * i, i, i, i, i, i);
        r += entry;
    }
    return r + "</luns></results></korvex>";
}

const std::string& list_reply_1000() {
    static const std::string reply = list_reply(1000);
    return reply;
}

// The reply parsed into its `results` element and freed again.
bool client_parse(const std::string& reply) {
    xml_context_rec* context = xml_create();
    xml_parse_string(reply.c_str(), context);
    kx_elem_rec* results = kx_reply_outcome(context);
    xml_destroy(context);
    const bool passed = kx_results_passed(results) == 1 && kx_elem_find_child(results, "luns");
    kx_elem_destroy(results);
    return passed;
}

// The floor: libxml2's event parse of the same bytes, fed in the same pieces
// and mode as the client, with handlers that do what any consumer must: look
// at every name, attribute and text once.
bool bare_parse(const std::string& reply) {
    bench::Touched touched;
    const size_t first = std::min<size_t>(reply.size(), XML_FEED_PIECE);
    xmlParserCtxtPtr parser =
        xmlCreatePushParserCtxt(bench::floor_handler(), &touched, reply.data(), static_cast<int>(first), nullptr);
    xmlCtxtUseOptions(parser, XML_PARSE_NOENT | XML_PARSE_NONET);
    for (size_t at = first; at < reply.size(); at += XML_FEED_PIECE) {
        const size_t n = std::min<size_t>(reply.size() - at, XML_FEED_PIECE);
        xmlParseChunk(parser, reply.data() + at, static_cast<int>(n), 0);
    }
    xmlParseChunk(parser, nullptr, 0, 1);
    const bool wellFormed = parser->wellFormed;
    xmlFreeParserCtxt(parser);
    benchmark::DoNotOptimize(touched.sum);
    return wellFormed;
}

// ---- (3) each side alone, in a fresh process ----------------------------------

// Runs `work` in a child process of its own and hands back the figure it
// measured; -1 when the child failed.
template <typename Work>
double in_fresh_process(Work&& work) {
    int fds[2];
    if (::pipe(fds) != 0) return -1;
    const pid_t child = ::fork();
    if (child == 0) {
        const double figure = work();
        (void)!::write(fds[1], &figure, sizeof figure);
        ::_exit(0);
    }
    ::close(fds[1]);
    double figure = -1;
    if (::read(fds[0], &figure, sizeof figure) != sizeof figure) figure = -1;
    ::close(fds[0]);
    ::waitpid(child, nullptr, 0);
    return figure;
}

// The median milliseconds of `rounds` parses, each timed alone after a
// warming one: the median stands still while other work loads the machine.
template <typename Parse>
double ms_per_parse(Parse&& parse, const std::string& reply, int rounds) {
    start_client();
    parse(reply);
    std::vector<double> times;
    for (int i = 0; i < rounds; ++i) {
        const auto t0 = Clock::now();
        parse(reply);
        times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
    }
    std::nth_element(times.begin(), times.begin() + rounds / 2, times.end());
    return times[static_cast<size_t>(rounds / 2)];
}

size_t status_kib(const char* field) {
    FILE* f = std::fopen("/proc/self/status", "r");
    if (!f) return 0;
    char line[256];
    size_t value = 0;
    const size_t length = std::strlen(field);
    while (std::fgets(line, sizeof line, f))
        if (std::strncmp(line, field, length) == 0) value = std::strtoul(line + length, nullptr, 10);
    std::fclose(f);
    return value;
}

// The resident memory a parse adds at its peak, its result still held, in bytes.
template <typename Parse>
double peak_bytes_added(Parse&& parse, const std::string& reply) {
    start_client();
    std::FILE* reset = std::fopen("/proc/self/clear_refs", "w");
    if (!reset) return -1;
    std::fputs("5", reset);  // the peak starts again from here
    std::fclose(reset);
    ::malloc_trim(0);  // free heap pages left by earlier work would hide what the parse takes
    const size_t before = status_kib("VmRSS:");
    parse(reply);
    return static_cast<double>((status_kib("VmHWM:") - before) * 1024);
}

// The reply kept as the caller keeps it until the peak is read.
bool client_parse_kept(const std::string& reply) {
    xml_context_rec* context = xml_create();
    xml_parse_string(reply.c_str(), context);
    static kx_elem_rec* kept = nullptr;
    kept = kx_reply_outcome(context);
    xml_destroy(context);
    return kx_results_passed(kept) == 1;
}

void ClientParseList(benchmark::State& state) {
    start_client();
    const std::string& reply = list_reply_1000();
    for (auto _ : state)
        if (!client_parse(reply)) state.SkipWithError("the reply did not parse");
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * reply.size()));
}
BENCHMARK(ClientParseList)->Unit(benchmark::kMillisecond);

void BareSaxParseList(benchmark::State& state) {
    start_client();
    const std::string& reply = list_reply_1000();
    for (auto _ : state)
        if (!bare_parse(reply)) state.SkipWithError("the reply did not parse");
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * reply.size()));
}
BENCHMARK(BareSaxParseList)->Unit(benchmark::kMillisecond);

void ParseVsBare(benchmark::State& state) {
    start_client();
    const std::string& reply = list_reply_1000();
    Clock::duration client{}, bare{};
    for (auto _ : state) {
        const auto t0 = Clock::now();
        if (!client_parse(reply)) state.SkipWithError("the reply did not parse");
        const auto t1 = Clock::now();
        if (!bare_parse(reply)) state.SkipWithError("the reply did not parse");
        bare += Clock::now() - t1;
        client += t1 - t0;
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["client_ms"] = std::chrono::duration<double, std::milli>(client).count() / n;
    state.counters["bare_ms"] = std::chrono::duration<double, std::milli>(bare).count() / n;
    state.counters["ratio"] = static_cast<double>(client.count()) / static_cast<double>(bare.count());
    state.counters["reply_bytes"] = static_cast<double>(reply.size());
}
BENCHMARK(ParseVsBare)->Unit(benchmark::kMillisecond);

// Each side timed alone in a fresh process, the client first, then the floor.
void ParseStandaloneVsBare(benchmark::State& state) {
    const std::string& reply = list_reply_1000();
    const int rounds = static_cast<int>(state.range(0));
    double client = 0, bare = 0;
    for (auto _ : state) {
        client = in_fresh_process([&] { return ms_per_parse(client_parse, reply, rounds); });
        bare = in_fresh_process([&] { return ms_per_parse(bare_parse, reply, rounds); });
        if (client < 0 || bare <= 0) state.SkipWithError("a measuring process failed");
    }
    state.counters["client_ms"] = client;
    state.counters["bare_ms"] = bare;
    state.counters["ratio"] = bare > 0 ? client / bare : 0;
}
BENCHMARK(ParseStandaloneVsBare)->Arg(31)->Iterations(1)->Unit(benchmark::kMillisecond);

// The memory a parse adds at its peak, beside the reply's size, each side in a
// fresh process: a list reply of 10,000 entries (about 13 MB).
void ParseMemoryVsReply(benchmark::State& state) {
    static const std::string reply = list_reply(static_cast<int>(state.range(0)));
    double client = 0, bare = 0;
    for (auto _ : state) {
        client = in_fresh_process([&] { return peak_bytes_added(client_parse_kept, reply); });
        bare = in_fresh_process([&] { return peak_bytes_added(bare_parse, reply); });
        if (client < 0 || bare < 0) state.SkipWithError("a measuring process failed");
    }
    state.counters["reply_MiB"] = static_cast<double>(reply.size()) / (1 << 20);
    state.counters["client_MiB"] = client / (1 << 20);
    state.counters["bare_MiB"] = bare / (1 << 20);
    state.counters["client_per_reply_byte"] = client / static_cast<double>(reply.size());
}
BENCHMARK(ParseMemoryVsReply)->Arg(10000)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
