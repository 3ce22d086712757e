// The HTTP transport against an in-process peer: what goes on the wire, how
// each kind of reply framing is read, and every failure the client makes.
#include <korvex/http.h>
#include <korvex/server.h>
#include <korvex/status.h>

#include <adt/base64.h>

#include <chrono>
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "canned_responder.h"
#include "korvex_support.h"

using testsupport::CannedReply;
using testsupport::CannedResponder;
using testsupport::ElemPtr;
using testsupport::http_reply;
using testsupport::login_server;
using testsupport::Outcome;
using testsupport::outcome_of;
using testsupport::ServerPtr;

namespace {

const std::string kPassedBody =
    "<?xml version='1.0' encoding='UTF-8' ?>\n<!DOCTYPE korvex SYSTEM 'file:/etc/korvex_filer.dtd'>\n"
    "<korvex version='1.1'><results status=\"passed\"><version>Zarvo 7.3.1</version></results></korvex>";

const std::string kDocument =
    "<?xml version='1.0' encoding='utf-8' ?>\n<!DOCTYPE korvex SYSTEM 'file:/etc/korvex_filer.dtd'>\n"
    "<korvex xmlns=\"http://www.zarvo.com/filer/admin\" version=\"1.0\"><system-get-version/></korvex>";

ElemPtr invoke(kx_server_rec* s, const char* name = "system-get-version") {
    testsupport::ensure_started();
    ElemPtr request(kx_elem_create(name));
    ElemPtr results(kx_server_invoke_elem(s, request.get()));
    EXPECT_TRUE(results);
    EXPECT_EQ(request->next, nullptr);
    return results;
}

// n header lines, each of a name of its own.
std::string header_lines(int n) {
    std::string lines;
    for (int i = 0; i < n; ++i) lines += "X-Header-" + std::to_string(i) + ": v\r\n";
    return lines;
}

std::string expected_request(int port, const char* login) {
    std::string head = "POST /servlets/korvex.servlets.admin.XMLrequest_filer HTTP/1.1\r\n";
    if (login) {
        char* encoded = base64_encode(login);
        head += std::string("Authorization: Basic ") + encoded + "\r\n";
        free(encoded);
    }
    return head + "Host: 127.0.0.1:" + std::to_string(port) + "\r\nContent-Length: " +
           std::to_string(kDocument.size()) + "\r\n\r\n" + kDocument;
}

class EnvVar {
public:
    EnvVar(const char* name, const char* value) : name_(name) { ::setenv(name, value, 1); }
    ~EnvVar() { ::unsetenv(name_); }

private:
    const char* name_;
};

}  // namespace

TEST(HttpTransport, SendsTheRequestByteForByte) {
    static const std::string kLongPassword(300, 'p'), kLongLogin = "root:" + kLongPassword;
    struct Case {
        const char* user;
        const char* password;
        const char* login;
    };
    const Case cases[] = {{"root", "secret", "root:secret"},
                          {"root", "", "root:"},
                          {"", "", nullptr},
                          {"a-rather-long-administrator-name", "a-password-of-more-than-thirty-two-characters",
                           "a-rather-long-administrator-name:a-password-of-more-than-thirty-two-characters"},
                          {"root", kLongPassword.c_str(), kLongLogin.c_str()}};
    for (const Case& c : cases) {
        CannedResponder peer({http_reply(kPassedBody)});
        ServerPtr s = login_server("127.0.0.1", peer.port(), c.user, c.password);
        ElemPtr r = invoke(s.get());
        EXPECT_EQ(kx_results_passed(r.get()), 1);
        EXPECT_STREQ(kx_child_text(r.get(), "version"), "Zarvo 7.3.1");
        ASSERT_EQ(peer.requests().size(), 1u);
        EXPECT_EQ(peer.requests()[0], expected_request(peer.port(), c.login));
    }
}

TEST(HttpTransport, ReadsEveryFramingOfTheReplyBody) {
    std::string chunked = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
    for (size_t at = 0; at < kPassedBody.size(); at += 37) {
        const std::string piece = kPassedBody.substr(at, 37);
        char size[16];
        std::snprintf(size, sizeof size, "%zx", piece.size());
        chunked += std::string(size) + "\r\n" + piece + "\r\n";
    }
    chunked += "0\r\n\r\n";
    const std::string big = "<korvex><results status='passed'><pad>" + std::string(5000, 'x') + "</pad></results></korvex>";
    const CannedReply replies[] = {
        {http_reply(kPassedBody)},
        {"HTTP/1.1 200 OK\r\nServer: x\r\n\r\n" + kPassedBody},                 // no length: read to the close
        {"HTTP/1.1\t 200 OK\r\nServer: x\r\n\r\n" + kPassedBody},              // any blanks before the status
        {"HTTP/1.0 200 OK\r\ncontent-length: " + std::to_string(kPassedBody.size()) + "\r\n\r\n" + kPassedBody, true},
        {chunked, true},                                                         // ends at the last chunk
        {"HTTP/1.1 200 OK\r\nTransfer-Encoding: Chunked\r\nContent-Length: 3\r\n\r\n" + chunked.substr(chunked.find("\r\n\r\n") + 4)},
        {http_reply(big)},
        {http_reply(kPassedBody, header_lines(HTTP_HEADER_LINES_MAX - 2))},  // with its two: the most a head may hold
        {"HTTP/1.1 100 Continue\r\n\r\n" + http_reply(kPassedBody)},         // an interim reply is skipped
        {"HTTP/1.1 100 Continue\r\nX-A: 1\r\n\r\nHTTP/1.1 100 Continue\r\n\r\n" + http_reply(kPassedBody)},
    };
    for (const CannedReply& reply : replies) {
        CannedResponder peer(reply);
        ServerPtr s = login_server("127.0.0.1", peer.port());
        const auto start = std::chrono::steady_clock::now();
        ElemPtr r = invoke(s.get());
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3)) << reply.bytes;
        EXPECT_EQ(kx_results_passed(r.get()), 1) << reply.bytes << outcome_of(r.get()).reason;
    }
}

TEST(HttpTransport, AnEmptyBodyOnAConnectionKeptOpenReturnsAtOnce) {
    CannedResponder peer({"HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n", true});
    ServerPtr s = login_server("127.0.0.1", peer.port());
    const auto start = std::chrono::steady_clock::now();
    const Outcome o = outcome_of(invoke(s.get()).get());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_FALSE(o.passed);
    EXPECT_EQ(o.error, KX_ERR_TRANSPORT);
    EXPECT_EQ(o.reason, "No korvex element in response");
}

TEST(HttpTransport, TurnsEveryBadReplyIntoAFailedResults) {
    struct Case {
        std::string reply;
        const char* reason;
        int error;
    };
    const std::string longHeader = "X-Long: " + std::string(1020, 'a') + "\r\n";
    const Case cases[] = {
        {"HTTP/1.1 401 Unauthorized\r\n\r\n", "HTTP POST - Authorization failed", KX_ERR_AUTH},
        {"HTTP/1.1 407 Proxy\r\n\r\n", "HTTP POST - Proxy authentication required", KX_ERR_AUTH},
        {"HTTP/1.1 500 Oops\r\nContent-Length: 0\r\n\r\n", "HTTP POST - Internal error", KX_ERR_TRANSPORT},
        {"HTTP/1.1 302 Found\r\nLocation: /x\r\n\r\n", "HTTP POST - failed, status code = 302", KX_ERR_TRANSPORT},
        {"HTTP/1.1 200 OK\r\n" + longHeader + "\r\n" + kPassedBody, "HTTP POST - Internal error", KX_ERR_TRANSPORT},
        {"HTTP/1.1 200 OK\r\nContent-Le", "HTTP POST - Internal error", KX_ERR_TRANSPORT},
        {http_reply(kPassedBody, header_lines(HTTP_HEADER_LINES_MAX - 1)), "HTTP POST - Internal error",
         KX_ERR_TRANSPORT},
        {"", "HTTP POST - Internal error", KX_ERR_TRANSPORT},
        {"garbage\r\n\r\n", "HTTP POST - Internal error", KX_ERR_TRANSPORT},
        {"HTTP/1.1\r\n\r\n", "HTTP POST - Internal error", KX_ERR_TRANSPORT},
        // A status beyond an int is no status, not one cut down to 200.
        {"HTTP/1.1 4294967496 OK\r\n\r\n" + kPassedBody, "HTTP POST - Internal error", KX_ERR_TRANSPORT},
        {"HTTP/1.1 100 Continue\r\n\r\n", "HTTP POST - Internal error", KX_ERR_TRANSPORT},
        {"HTTP/1.1 100 Continue\r\nX-A: 1\r\n", "HTTP POST - Internal error", KX_ERR_TRANSPORT},
        {"HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 401 No\r\n\r\n", "HTTP POST - Authorization failed", KX_ERR_AUTH},
        {http_reply("<korvex><results status='passed'></korvex>"), "Parsing error in results: ", KX_ERR_PARSE},
        {http_reply(kPassedBody).substr(0, 150), "Parsing error in results: ", KX_ERR_PARSE},
        {http_reply("<korvex version='1.1'><status/></korvex>"), "No results element in response", KX_ERR_TRANSPORT},
        {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nxyz\r\n", "Parsing error in results: Invalid chunked",
         KX_ERR_PARSE},
    };
    for (const Case& c : cases) {
        CannedResponder peer({c.reply});
        ServerPtr s = login_server("127.0.0.1", peer.port());
        const Outcome o = outcome_of(invoke(s.get()).get());
        EXPECT_FALSE(o.passed) << c.reply;
        EXPECT_EQ(o.error, c.error) << c.reply;
        EXPECT_EQ(o.reason.rfind(c.reason, 0), 0u) << c.reply << " -> " << o.reason;
    }
}

TEST(HttpTransport, ReportsAConnectionThatCannotOpen) {
    int freePort;
    {
        CannedResponder closed;
        freePort = closed.port();
    }
    struct Case {
        const char* host;
        int port;
        int error;
    };
    const Case cases[] = {{"127.0.0.1", freePort, 10061}, {"no-such-appliance.invalid", 80, 2}};
    for (const Case& c : cases) {
        ServerPtr s = login_server(c.host, c.port);
        const Outcome o = outcome_of(invoke(s.get()).get());
        EXPECT_FALSE(o.passed);
        EXPECT_EQ(o.error, c.error);
        EXPECT_EQ(o.reason, "Can't connect to host (err=" + std::to_string(c.error) + ").");
    }
}

TEST(HttpTransport, HostsEquivConnectsFromAPrivilegedPort) {
    if (::geteuid() != 0) GTEST_SKIP() << "binding a port below 1024 needs root";
    CannedResponder peer({http_reply(kPassedBody)});
    ServerPtr s = login_server("127.0.0.1", peer.port());
    kx_server_set_style(s.get(), KX_AUTH_HOSTSEQUIV);
    EXPECT_EQ(kx_results_passed(invoke(s.get()).get()), 1);
    EXPECT_GE(peer.last_peer_port(), 1);
    EXPECT_LE(peer.last_peer_port(), 1023);
}

TEST(HttpTransport, AnUnknownStyleFailsWithoutConnecting) {
    CannedResponder peer({http_reply(kPassedBody)});
    ServerPtr s = login_server("127.0.0.1", peer.port());
    kx_server_set_style(s.get(), 7);
    const Outcome o = outcome_of(invoke(s.get()).get());
    EXPECT_FALSE(o.passed);
    EXPECT_EQ(o.error, KX_ERR_AUTH);
    EXPECT_EQ(o.reason, "Unrecognized server authentication style");
    EXPECT_TRUE(peer.requests().empty());
}

TEST(HttpTransport, DebugStylesBypassTheParser) {
    for (int style : {1, 2}) {
        CannedResponder peer({http_reply(kPassedBody), true});
        ServerPtr s = login_server("127.0.0.1", peer.port());
        s->debugStyle = style;
        testing::internal::CaptureStdout();
        const Outcome o = outcome_of(invoke(s.get()).get());
        const std::string out = testing::internal::GetCapturedStdout();
        EXPECT_EQ(out, style == 1 ? kPassedBody : "");
        EXPECT_FALSE(o.passed);
        EXPECT_EQ(o.error, KX_ERR_PARSE);
        EXPECT_EQ(o.reason, "debugging bypassed xml parsing");
    }
}

TEST(HttpTransport, PrintFlagWritesTheRequestDocument) {
    CannedResponder peer({http_reply(kPassedBody)});
    ServerPtr s = login_server("127.0.0.1", peer.port());
    s->printFlag = 1;
    testing::internal::CaptureStdout();
    invoke(s.get());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), kDocument + "\n");
}

TEST(HttpTransport, XmlDebugDumpsTheExchangeToStandardError) {
    CannedResponder peer({http_reply(kPassedBody)});
    ServerPtr s = login_server("127.0.0.1", peer.port());
    EnvVar debug("XMLDEBUG", "1");
    testing::internal::CaptureStderr();
    ElemPtr r = invoke(s.get());
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(kx_results_passed(r.get()), 1);
    EXPECT_EQ(err, "KX_SERVER_INVOKE_ELEM:\nURL=::http://127.0.0.1:" + std::to_string(peer.port()) +
                       "/servlets/korvex.servlets.admin.XMLrequest_filer::\nXML=::" + kDocument +
                       "::\n\n::XML DEBUG BEGIN::\n" + kPassedBody + "::XML DEBUG END::\n");
}

TEST(HttpTransport, ConcurrentCallsWithXmlDebugShareNoState) {
    CannedResponder peer({http_reply(kPassedBody)});
    EnvVar debug("XMLDEBUG", "yes");
    testsupport::ensure_started();
    testing::internal::CaptureStderr();
    std::vector<std::thread> threads;
    std::vector<int> passed(4, 0);
    for (size_t t = 0; t < passed.size(); ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 5; ++i) {
                ServerPtr s = login_server("127.0.0.1", peer.port());
                ElemPtr request(kx_elem_create("system-get-version"));
                ElemPtr r(kx_server_invoke_elem(s.get(), request.get()));
                passed[t] += kx_results_passed(r.get());
            }
        });
    for (auto& t : threads) t.join();
    const std::string err = testing::internal::GetCapturedStderr();
    for (int n : passed) EXPECT_EQ(n, 5);
    size_t ends = 0;
    for (size_t at = 0; (at = err.find("::XML DEBUG END::", at)) != std::string::npos; ++at) ++ends;
    EXPECT_EQ(ends, 20u);
}

TEST(ServerHandle, StartsWithTheDefaults) {
    ServerPtr s(kx_server_create("filer1", 1, 0));
    ASSERT_TRUE(s);
    EXPECT_STREQ(s->host, "filer1");
    EXPECT_EQ(s->resolveNames, 1);
    EXPECT_EQ(s->style, KX_AUTH_LOGIN);
    EXPECT_EQ(s->debugStyle, 0);
    EXPECT_EQ(s->printFlag, 0);
    EXPECT_EQ(s->user, nullptr);
    EXPECT_EQ(s->password, nullptr);
    EXPECT_STREQ(s->urlFormat, "http://%s:%d/servlets/korvex.servlets.admin.XMLrequest_filer");
    EXPECT_EQ(s->wireKind, KX_WIRE_HTTP);
    EXPECT_EQ(s->port, 80);
    EXPECT_STREQ(s->prefix, "");
    EXPECT_EQ(s->dtdKind, KX_DTD_FILER);
    EXPECT_EQ(s->timeout, 0);
}

TEST(ServerHandle, StoresTheLoginAndTheStyle) {
    ServerPtr s(kx_server_create("filer1", 1, 0));
    EXPECT_EQ(kx_server_set_login(s.get(), "root", "pw"), 1);
    EXPECT_STREQ(s->user, "root");
    EXPECT_STREQ(s->password, "pw");
    EXPECT_EQ(kx_server_set_login(s.get(), "admin", ""), 1);
    EXPECT_STREQ(s->user, "admin");
    EXPECT_EQ(s->password, nullptr);
    EXPECT_EQ(kx_server_set_style(s.get(), KX_AUTH_QSM), 1);
    EXPECT_EQ(s->port, 0);
    EXPECT_EQ(s->resolveNames, 0);
    EXPECT_EQ(s->wireKind, KX_WIRE_QSM);
}

TEST(ServerHandle, RefusesMissingArguments) {
    errno = 0;
    EXPECT_EQ(kx_server_create(nullptr, 1, 0), nullptr);
    EXPECT_EQ(errno, EINVAL);
    ServerPtr s(kx_server_create("h", 1, 0));
    errno = 0;
    EXPECT_EQ(kx_server_set_login(s.get(), "u", nullptr), 0);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(kx_server_set_login(nullptr, "u", "p"), 0);
    EXPECT_EQ(kx_server_destroy(nullptr), 0);
    EXPECT_EQ(kx_server_invoke_elem(s.get(), nullptr), nullptr);
}
