// Start-up, the administration-library transport and the daemon transport.
#include <korvex/http.h>
#include <korvex/server.h>
#include <korvex/status.h>
#include <korvex/transports.h>

#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>

#include "canned_responder.h"
#include "korvex_support.h"

using testsupport::CannedReply;
using testsupport::CannedResponder;
using testsupport::ElemPtr;
using testsupport::Outcome;
using testsupport::outcome_of;
using testsupport::ServerPtr;

namespace {

// Every start of the client in this program binds the stand-in library.
const bool g_fakeLibrary = [] { return ::setenv("SANPROV_LIB_KVXADMIN", FAKE_KVXADMIN_PATH, 0) == 0; }();

ElemPtr invoke(kx_server_rec* s, ElemPtr request) {
    ElemPtr results(kx_server_invoke_elem(s, request.get()));
    EXPECT_TRUE(results);
    return results;
}

ElemPtr request(const char* name, const char* value = nullptr) {
    ElemPtr r(kx_elem_create(name));
    if (value) kx_child_add_text(r.get(), "value", value);
    return r;
}

ServerPtr rpc_server(const char* host = "filer-a") {
    testsupport::ensure_started();
    ServerPtr s(kx_server_create(host, 1, 0));
    kx_server_set_style(s.get(), KX_AUTH_RPC);
    return s;
}

ServerPtr qsm_server(int port) {
    testsupport::ensure_started();
    ServerPtr s(kx_server_create("127.0.0.1", 1, 0));
    kx_server_set_style(s.get(), KX_AUTH_QSM);
    kx_server_set_login(s.get(), "root", "secret");
    s->port = port;
    return s;
}

std::string qsm_reply(const std::string& body) {
    return "ZARVOI-D/1.0 200\r\nContent-length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

const std::string kPassed = "<korvex version='1.1'><results status='passed'><n>7</n></results></korvex>";

}  // namespace

TEST(Startup, StartsOnceWithOrWithoutTheAdministrationLibrary) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");  // a fresh process for each start
    EXPECT_EXIT(
        {
            char text[256] = "";
            const int first = kx_startup(text, sizeof text);
            const bool bound = kx_fapi_entry() != nullptr;
            const int second = kx_startup(text, sizeof text);
            std::exit(first == 1 && bound && second == 0 && std::strcmp(text, "kx_startup failed: already in use") == 0
                          ? 0
                          : 1);
        },
        testing::ExitedWithCode(0), "");
    EXPECT_EXIT(
        {
            ::setenv("SANPROV_LIB_KVXADMIN", "/nonexistent/libkvxadmin.so", 1);
            char text[256] = "";
            const int started = kx_startup(text, sizeof text);
            ServerPtr s(kx_server_create("filer-a", 1, 0));
            kx_server_set_style(s.get(), KX_AUTH_RPC);
            const Outcome o = outcome_of(invoke(s.get(), request("system-get-version")).get());
            std::exit(started == 1 && !kx_fapi_entry() && o.reason == "Failed to load kvxadmin.dll" &&
                              o.error == KX_ERR_TRANSPORT
                          ? 0
                          : 1);
        },
        testing::ExitedWithCode(0), "");
}

TEST(RpcTransport, HandsTheDocumentToTheLibraryAndParsesItsReply) {
    ServerPtr s = rpc_server("filer-\xc3\xa9");
    s->dtdKind = KX_DTD_VESK;  // the library always gets the filer document type
    ElemPtr r = invoke(s.get(), request("lun-list-info", "caf\xc3\xa9"));
    ASSERT_EQ(kx_results_passed(r.get()), 1) << outcome_of(r.get()).reason;
    EXPECT_STREQ(kx_child_text(r.get(), "host"), "filer-\xc3\xa9");
    EXPECT_STREQ(kx_child_text(r.get(), "request"),
                 "<?xml version='1.0' encoding='utf-8' ?>\n<!DOCTYPE korvex SYSTEM 'file:/etc/korvex_filer.dtd'>\n"
                 "<korvex xmlns=\"http://www.zarvo.com/filer/admin\" version=\"1.0\"><lun-list-info><value>caf\xc3\xa9"
                 "</value></lun-list-info></korvex>");
}

TEST(RpcTransport, TurnsALibraryErrorIntoAFailedReply) {
    ServerPtr s = rpc_server();
    const Outcome o = outcome_of(invoke(s.get(), request("system-get-version", "fail-5")).get());
    EXPECT_FALSE(o.passed);
    EXPECT_EQ(o.error, KX_ERR_TRANSPORT);
    EXPECT_EQ(o.reason.rfind("RPC Error - Access is denied.", 0), 0u) << o.reason;
}

TEST(RpcTransport, DebugStyleOnePrintsTheReply) {
    ServerPtr s = rpc_server();
    s->debugStyle = KX_DEBUG_PRINT_REPLY;
    testing::internal::CaptureStdout();
    const Outcome o = outcome_of(invoke(s.get(), request("system-get-version")).get());
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out.rfind("<korvex version='1.1'><results status=\"passed\"><host>filer-a</host>", 0), 0u) << out;
    EXPECT_EQ(o.reason, "debugging bypassed xml parsing");
    EXPECT_EQ(o.error, KX_ERR_TRANSPORT);
}

TEST(QsmTransport, SendsTheHeaderBlockAndReadsTheReply) {
    CannedResponder peer({qsm_reply(kPassed)});
    ServerPtr s = qsm_server(peer.port());
    ElemPtr r = invoke(s.get(), request("system-get-version"));
    EXPECT_EQ(kx_results_passed(r.get()), 1) << outcome_of(r.get()).reason;
    EXPECT_EQ(kx_child_int(r.get(), "n", 0), 7);
    const std::string document =
        "<?xml version='1.0' encoding='utf-8' ?>\n<!DOCTYPE korvex SYSTEM 'file:/etc/korvex_filer.dtd'>\n"
        "<korvex xmlns=\"http://www.zarvo.com/filer/admin\" version=\"1.0\"><system-get-version/></korvex>";
    ASSERT_EQ(peer.requests().size(), 1u);
    EXPECT_EQ(peer.requests()[0], "ZARVOI-D/1.0\r\nUser: root\r\nPassword: secret\r\nContent-length: " +
                                      std::to_string(document.size()) + "\r\n\r\n" + document);
}

TEST(QsmTransport, GivesEachBrokenExchangeItsStatus) {
    struct Case {
        std::string reply;
        const char* reason;
        int error;
    };
    const Case cases[] = {
        {"ZARVOI-D/1.0 401\r\n", "QSM - Authorization failed", KX_ERR_AUTH},
        {"HTTP/1.1 200 OK\r\n\r\n", "QSM - Can't decode the embedded status/outcome value from the reply",
         KX_ERR_TRANSPORT},
        {"ZARVOI-D/1.0 200\r\nLength: 4\r\n\r\n", "QSM - Can't decode the embedded 'Content-length' value from the reply",
         KX_ERR_TRANSPORT},
        {"\r\n", "QSM - Server unexpectedly dropped the connection for this request", KX_ERR_TRANSPORT},
        {"", "QSM - Can't read reply header (line 1)", KX_ERR_REPLY_HEADER},
        {"ZARVOI-D/1.0 200\r\nContent-length: 4\r\n", "QSM - Can't read reply header (line 3)", KX_ERR_REPLY_HEADER},
        {"ZARVOI-D/1.0 200 " + std::string(200, 'x') + "\r\n", "QSM - Can't read reply header (line 1)",
         KX_ERR_REPLY_HEADER},
        {qsm_reply("<korvex><results status='passed'></korvex>"), "Parsing error in results: ", KX_ERR_PARSE},
    };
    for (const Case& c : cases) {
        CannedResponder peer({c.reply});
        ServerPtr s = qsm_server(peer.port());
        const Outcome o = outcome_of(invoke(s.get(), request("system-get-version")).get());
        EXPECT_FALSE(o.passed) << c.reply;
        EXPECT_EQ(o.error, c.error) << c.reply;
        EXPECT_EQ(o.reason.rfind(c.reason, 0), 0u) << c.reply << " -> " << o.reason;
    }
}

TEST(QsmTransport, RefusesAnUnreachableDaemonOrAnOverlongLogin) {
    int freePort;
    {
        CannedResponder closed;
        freePort = closed.port();
    }
    testing::internal::CaptureStdout();
    ServerPtr s = qsm_server(freePort);
    const Outcome refused = outcome_of(invoke(s.get(), request("system-get-version")).get());
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(refused.reason, "QSM - Can't connect to host (10061)");
    EXPECT_EQ(refused.error, KX_ERR_CONNECT);

    ServerPtr named = qsm_server(freePort);
    free(named->host);
    named->host = strdup("filer-by-name");  // the daemon transport resolves no names by default
    EXPECT_EQ(outcome_of(invoke(named.get(), request("system-get-version")).get()).reason,
              "QSM - Can't connect to host (2)");

    CannedResponder peer({qsm_reply(kPassed)});
    ServerPtr longLogin = qsm_server(peer.port());
    kx_server_set_login(longLogin.get(), std::string(100, 'u').c_str(), "p");
    const Outcome cut = outcome_of(invoke(longLogin.get(), request("system-get-version")).get());
    EXPECT_EQ(cut.reason, "QSM - Can't encode request");
    EXPECT_TRUE(peer.requests().empty() || peer.requests()[0].empty());
}
