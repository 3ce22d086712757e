// The client's cost beside its floor:
//  (1) one exchange through kx_server_invoke_elem against an in-process
//      responder, beside the same socket exchange of pre-built request bytes
//      with no parsing;
//  (2) parsing a list reply of 1,000 entries (about 1 MB) into elements,
//      beside libxml2's bare event parse of the same bytes.
// The *Vs* benchmarks alternate the two sides in one loop and report the
// ratio, so that load on the machine weighs on both alike. Every exchange
// leaves a closed connection waiting out its time on the loopback: runs far
// longer than the default make each connect slower for both sides.
#include <korvex/elem.h>
#include <korvex/reply.h>
#include <korvex/results.h>
#include <korvex/server.h>

#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <libxml/parser.h>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
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
                      "<lun-info><path>/vol/ZarvoVolume%d/ZarvoQtree%d/ZarvoLun%d</path><size>%d</size>"
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
                      i, i, i, 1048576 * (i + 1), 4096 * i, i, i, i, i, i);
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

// libxml2 alone: the same events in the same mode, handlers that do nothing.
void no_element(void*, const xmlChar*, const xmlChar**) {}
void no_end(void*, const xmlChar*) {}
void no_text(void*, const xmlChar*, int) {}

bool bare_parse(const std::string& reply) {
    static xmlSAXHandler handler = [] {
        xmlSAXHandler h{};
        h.startElement = no_element;
        h.endElement = no_end;
        h.characters = no_text;
        return h;
    }();
    xmlParserCtxtPtr parser = xmlCreatePushParserCtxt(&handler, nullptr, reply.data(), static_cast<int>(reply.size()), nullptr);
    xmlCtxtUseOptions(parser, XML_PARSE_NOENT | XML_PARSE_NONET);
    xmlParseChunk(parser, nullptr, 0, 1);
    const bool wellFormed = parser->wellFormed;
    xmlFreeParserCtxt(parser);
    return wellFormed;
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

}  // namespace

BENCHMARK_MAIN();
