// An appliance's name is looked up once for the many connections of a
// discovery. This program's own getaddrinfo answers the names of this file
// (ending in ".resolution.test") from a table and counts every look-up; all
// other names go to the system's.
#include <korvex/server.h>

#include <platform/clock.h>

#include <arpa/inet.h>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <map>
#include <mutex>
#include <netdb.h>
#include <string>

#include "canned_responder.h"
#include "korvex_support.h"

using testsupport::CannedResponder;
using testsupport::ElemPtr;
using testsupport::http_reply;
using testsupport::login_server;
using testsupport::Outcome;
using testsupport::outcome_of;

namespace {

std::mutex g_namesLock;
std::map<std::string, std::string> g_names;  // name -> dotted address; absent: unknown
std::atomic<int> g_lookups{0};               // every getaddrinfo call, whatever the name

bool is_test_name(const char* node) {
    static const std::string suffix = ".resolution.test";
    const size_t n = node ? std::strlen(node) : 0;
    return n > suffix.size() && suffix.compare(0, std::string::npos, node + n - suffix.size()) == 0;
}

void set_address(const std::string& name, const char* address) {
    std::lock_guard guard(g_namesLock);
    if (address) g_names[name] = address;
    else g_names.erase(name);
}

// One result block as the C library lays it out (the address inside it), so
// that its freeaddrinfo frees it.
int answer(const char* node, addrinfo** result) {
    std::string address;
    {
        std::lock_guard guard(g_namesLock);
        const auto at = g_names.find(node);
        if (at == g_names.end()) return EAI_NONAME;
        address = at->second;
    }
    auto* block = static_cast<char*>(std::calloc(1, sizeof(addrinfo) + sizeof(sockaddr_in)));
    auto* info = reinterpret_cast<addrinfo*>(block);
    auto* in = reinterpret_cast<sockaddr_in*>(block + sizeof(addrinfo));
    in->sin_family = AF_INET;
    ::inet_pton(AF_INET, address.c_str(), &in->sin_addr);
    info->ai_family = AF_INET;
    info->ai_socktype = SOCK_STREAM;
    info->ai_addrlen = sizeof(sockaddr_in);
    info->ai_addr = reinterpret_cast<sockaddr*>(in);
    *result = info;
    return 0;
}

const std::string kPassedBody =
    "<?xml version='1.0' encoding='UTF-8' ?>\n"
    "<korvex version='1.1'><results status=\"passed\"><version>Zarvo 7.3.1</version></results></korvex>";

// One request on a handle of its own, as the filer API sends each.
Outcome request(const std::string& host, int port) {
    testsupport::ensure_started();
    testsupport::ServerPtr s = login_server(host.c_str(), port);
    ElemPtr request(kx_elem_create("system-get-version"));
    ElemPtr results(kx_server_invoke_elem(s.get(), request.get()));
    return outcome_of(results.get());
}

}  // namespace

extern "C" int getaddrinfo(const char* node, const char* service, const addrinfo* hints, addrinfo** result) {
    ++g_lookups;
    if (is_test_name(node)) return answer(node, result);
    using getaddrinfo_fn = int (*)(const char*, const char*, const addrinfo*, addrinfo**);
    static const auto system = reinterpret_cast<getaddrinfo_fn>(::dlsym(RTLD_NEXT, "getaddrinfo"));
    return system(node, service, hints, result);
}

TEST(NameResolution, ANameIsLookedUpOnceForManyConnections) {
    const std::string name = "once.resolution.test";
    CannedResponder peer({http_reply(kPassedBody)});
    set_address(name, "127.0.0.1");
    const int before = g_lookups;
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(request(name, peer.port()).passed);
    EXPECT_EQ(g_lookups - before, 1);
    EXPECT_EQ(peer.requests().size(), 3u);
}

TEST(NameResolution, AFailedConnectionLooksTheNameUpAgain) {
    const std::string name = "moved.resolution.test";
    int port;
    {
        CannedResponder first({http_reply(kPassedBody)});
        port = first.port();
        set_address(name, "127.0.0.1");
        ASSERT_TRUE(request(name, port).passed);
    }
    // The appliance moved to another address: the kept one is refused, the
    // name is asked again and the request goes to the new address.
    CannedResponder moved({http_reply(kPassedBody)}, "127.0.0.2", port);
    set_address(name, "127.0.0.2");
    const int before = g_lookups;
    EXPECT_TRUE(request(name, port).passed);
    EXPECT_EQ(g_lookups - before, 1);
    EXPECT_EQ(moved.requests().size(), 1u);
    EXPECT_TRUE(request(name, port).passed);
    EXPECT_EQ(g_lookups - before, 1);
}

TEST(NameResolution, AnAppliancePastReachIsReportedAsBeforeAndAskedForAgain) {
    const std::string name = "down.resolution.test";
    int port;
    {
        CannedResponder peer({http_reply(kPassedBody)});
        port = peer.port();
        set_address(name, "127.0.0.1");
        ASSERT_TRUE(request(name, port).passed);
    }
    const int before = g_lookups;
    for (int i = 0; i < 2; ++i) {
        const Outcome o = request(name, port);
        EXPECT_FALSE(o.passed);
        EXPECT_EQ(o.error, 10061);
        EXPECT_EQ(o.reason, "Can't connect to host (err=10061).");
    }
    // The kept address failed and was looked up again, then nothing was kept.
    EXPECT_EQ(g_lookups - before, 2);
}

TEST(NameResolution, AnAddressIsKeptNoLongerThanItsLifetime) {
    const std::string name = "lifetime.resolution.test";
    platform::ScopedFakeClock clock;
    CannedResponder peer({http_reply(kPassedBody)});
    set_address(name, "127.0.0.1");
    const int before = g_lookups;
    ASSERT_TRUE(request(name, peer.port()).passed);
    clock.clock().advance(29'000);
    ASSERT_TRUE(request(name, peer.port()).passed);
    EXPECT_EQ(g_lookups - before, 1);
    clock.clock().advance(1'000);
    ASSERT_TRUE(request(name, peer.port()).passed);
    EXPECT_EQ(g_lookups - before, 2);
}

TEST(NameResolution, ANumericAddressIsNeverLookedUp) {
    CannedResponder peer({http_reply(kPassedBody)});
    const int before = g_lookups;
    for (int i = 0; i < 2; ++i) EXPECT_TRUE(request("127.0.0.1", peer.port()).passed);
    EXPECT_EQ(g_lookups - before, 0);
}

TEST(NameResolution, AnUnknownNameFailsAsBeforeEveryTime) {
    const std::string name = "unknown.resolution.test";
    set_address(name, nullptr);
    const int before = g_lookups;
    for (int i = 0; i < 2; ++i) {
        const Outcome o = request(name, 80);
        EXPECT_FALSE(o.passed);
        EXPECT_EQ(o.error, 2);
        EXPECT_EQ(o.reason, "Can't connect to host (err=2).");
    }
    EXPECT_EQ(g_lookups - before, 2);
}
