#include <korvex/elem.h>
#include <korvex/http.h>
#include <korvex/reply.h>
#include <korvex/results.h>
#include <korvex/server.h>
#include <korvex/status.h>

#include <adt/pool.h>
#include <adt/stab.h>
#include <platform/errors.h>
#include <platform/winsock.h>

#include <cerrno>
#include <iterator>
#include <cstdio>
#include <cstring>
#include <strings.h>

#include "invoke_common.h"

namespace {

// TLS by wire kind: kinds 1 and 3.
constexpr int kTlsByWireKind[] = {0, 1, 0, 1};

int tls_kind(int wireKind) {
    return wireKind >= 0 && wireKind < static_cast<int>(std::size(kTlsByWireKind)) ? kTlsByWireKind[wireKind] : 0;
}

struct Connection {
    http_conn_rec* c = nullptr;
    ~Connection() { http_close(c); }
};

bool is_chunked(stab_rec* headers) {
    return headers && ::strcasestr(stab_get(headers, "Transfer-Encoding"), "chunked");
}
long content_length(stab_rec* headers) { return headers ? stab_get_int(headers, "Content-Length", -1) : -1; }

struct Headers {
    stab_rec* table = nullptr;
    ~Headers() { stab_free(table); }
    bool chunked() const { return is_chunked(table); }
    long content_length() const { return ::content_length(table); }
};

kx_elem_rec* connect_failure(int code) {
    if (code == -1) return kx_failed("No permission to use 'hostsequiv' authentication, must be root.", 1);
    char reason[KX_REASON_SIZE];
    std::snprintf(reason, sizeof reason, "Can't connect to host (err=%d).", -code);
    return kx_failed(reason, -code);
}

// The appliance kept the connection open without answering in time: the
// request fails as a connection that timed out.
bool timed_out() { return WSAGetLastError() == static_cast<int>(WSAETIMEDOUT); }

// The handle's login, unless the URL carried one.
kx_elem_rec* take_handle_login(const kx_server_rec* s, http_credentials& credentials) {
    if (credentials.user || credentials.password) return nullptr;
    if (s->password && !(credentials.password = pool_strdup(nullptr, s->password, ADT_HERE)))
        return kx_failed("Unable to allocate memory for password.", ENOMEM);
    if (s->user && !(credentials.user = pool_strdup(nullptr, s->user, ADT_HERE)))
        return kx_failed("Unable to allocate memory for username.", ENOMEM);
    return nullptr;
}

kx_elem_rec* exchange(kx_server_rec* s, const char* document) {
    if (s->printFlag) std::printf("%s\n", document);
    char url[KX_URL_SIZE];
    // The handle's URL format is always this constant; a format read from a
    // field would be a format the compiler cannot check.
    const int n = std::snprintf(url, sizeof url, KX_URL_FORMAT, s->host, s->port);
    if (n < 0 || static_cast<size_t>(n) >= sizeof url) return kx_failed(nullptr, KX_ERR_PARSE);
    const bool debug = kx_xmldebug_enabled();
    if (debug) std::fprintf(stderr, "KX_SERVER_INVOKE_ELEM:\nURL=::%s::\nXML=::%s::\n\n", url, document);

    Connection connection;
    http_credentials credentials{};
    const int rc = http_open_url(url, &connection.c, &credentials, s->style == KX_AUTH_HOSTSEQUIV,
                                 tls_kind(s->wireKind), s->timeout);
    if (rc < 0) return connect_failure(rc);
    if (kx_elem_rec* failed = take_handle_login(s, credentials)) {
        http_credentials_free(&credentials);
        return failed;
    }
    Headers headers;
    WSASetLastError(0);
    const int status = http_post(connection.c, url, &credentials, document, static_cast<int>(std::strlen(document)),
                                 &headers.table);
    http_credentials_free(&credentials);
    if (status != 200 && timed_out()) return connect_failure(-static_cast<int>(WSAETIMEDOUT));
    if (status != 200) {
        char reason[KX_REASON_SIZE];
        return kx_failed(kx_status_text(status, KX_WIRE_NAME_HTTP, 0, reason, sizeof reason), kx_status_errno(status));
    }
    if (s->debugStyle != KX_DEBUG_OFF) {
        if (!kx_consume_reply(connection.c, s->debugStyle, headers.chunked() ? -1 : headers.content_length()))
            return kx_failed("Unable to allocate memory", ENOMEM);
        return kx_failed("debugging bypassed xml parsing", KX_ERR_PARSE);
    }
    kx_elem_rec* outcome = kx_read_reply(connection.c, headers.table, debug);
    if (outcome && !kx_results_passed(outcome) && timed_out()) {
        kx_elem_destroy(outcome);
        return connect_failure(-static_cast<int>(WSAETIMEDOUT));
    }
    return outcome;
}

}  // namespace

kx_elem_rec* kx_read_reply(http_conn_rec* c, stab_rec* headers, bool debug) {
    if (debug) std::fputs("::XML DEBUG BEGIN::\n", stderr);
    xml_context_rec* context = xml_create();
    if (!context) return kx_failed("Unable to allocate memory in xml_create.", ENOMEM);
    context->debug = debug;
    if (is_chunked(headers)) xml_parse_stream_chunked(c, context);
    else xml_parse_stream(c, context, content_length(headers));
    if (debug && !context->errorText) std::fputs("::XML DEBUG END::\n", stderr);
    kx_elem_rec* outcome = kx_reply_outcome(context);
    xml_destroy(context);
    return outcome;
}

kx_elem_rec* kx_invoke_http(kx_server_rec* s, kx_elem_rec* request) {
    kx_elem_rec* temporaryRoot = nullptr;
    char* document = kx_request_document(s, request, kx_dtd_system_id(s->dtdKind), KX_PREFIX_MAX, &temporaryRoot);
    kx_elem_rec* outcome = document ? exchange(s, document) : kx_failed(nullptr, KX_ERR_PARSE);
    kx_request_unwrap(temporaryRoot, request);
    pool_free(nullptr, document, ADT_HERE);
    return outcome;
}
