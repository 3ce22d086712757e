#include <korvex/elem.h>
#include <korvex/http.h>
#include <korvex/reply.h>
#include <korvex/server.h>
#include <korvex/status.h>
#include <korvex/transports.h>

#include <adt/log.h>
#include <adt/pool.h>
#include <adt/shttpc.h>
#include <adt/sock.h>

#include <arpa/inet.h>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <platform/winsock.h>

#include "invoke_common.h"

namespace {

constexpr int kHeaderBlockSize = 128;


int socket_failure() {
    const int error = WSAGetLastError();
    return error > 1 ? -error : -static_cast<int>(WSAENOBUFS);
}

struct Connection {
    http_conn_rec* c = nullptr;
    ~Connection() { kx_qsm_socket_close(c); }
};

// The reply after a 200 status, or the status the exchange ended with.
struct Exchange {
    int status = 0;
    int detail = 0;
    kx_elem_rec* reply = nullptr;
};

Exchange read_reply(http_conn_rec* c, long length, bool debug) {
    xml_context_rec* context = xml_create();
    if (!context) return {KX_STATUS_REPLY_BUFFER};
    context->debug = debug;
    if (debug) std::fputs("::XML DEBUG BEGIN::\n", stderr);
    xml_parse_stream(c, context, length);
    if (debug && !context->errorText) std::fputs("::XML DEBUG END::\n", stderr);
    Exchange done{200, 0, kx_reply_outcome(context)};
    xml_destroy(context);
    return done;
}

Exchange exchange(kx_server_rec* s, kx_elem_rec* request) {
    kx_elem_rec* temporaryRoot = nullptr;
    kx_document_failure failure = KX_DOC_OK;
    char* document = kx_request_document(s, request, kx_dtd_system_id(s->dtdKind), KX_PREFIX_MAX, &temporaryRoot, &failure);
    kx_request_unwrap(temporaryRoot, request);
    if (!document) return {failure == KX_DOC_BUFFER ? KX_STATUS_REQUEST_BUFFER : KX_STATUS_ENCODE};
    struct Free {
        char* p;
        ~Free() { pool_free(nullptr, p, ADT_HERE); }
    } freeDocument{document};

    if (s->printFlag) std::printf("%s\n", document);
    const bool debug = kx_xmldebug_enabled();
    if (debug) std::fprintf(stderr, "KX_SERVER_INVOKE_ELEM:\nXML=::%s::\n\n", document);
    Connection connection;
    if (const int rc = kx_qsm_socket_open(s->host, s->resolveNames, s->port, s->timeout, &connection.c); rc < 0)
        return {rc == -1 ? KX_STATUS_CONNECT_HOSTSEQUIV : KX_STATUS_CONNECT, -rc};
    long length = 0;
    const int status = kx_qsm_send_request(connection.c, s->user, s->password, document,
                                           static_cast<int>(std::strlen(document)), &length);
    if (status != 200) return {status};
    if (s->debugStyle != KX_DEBUG_OFF)
        return {kx_consume_reply(connection.c, s->debugStyle, length) ? KX_STATUS_DEBUG_CONSUMED : KX_STATUS_DEBUG_BUFFER};
    return read_reply(connection.c, length, debug);
}

}  // namespace

int kx_qsm_socket_open(const char* host, int resolveNames, int port, int timeoutSeconds, http_conn_rec** connection) {
    if (const int rc = kx_start_sockets(); rc != 0) return -rc;
    if (!host || !connection) return -22;
    *connection = nullptr;
    in_addr address{};
    if (::inet_pton(AF_INET, host, &address) != 1) {
        if (!resolveNames) return -2;
        if (const int rc = sock_gethostbyname(host, &address); rc != 0) {
            log_report(LOG_LEVEL_DEBUG, "gethostbyname failed for %s, error = %d\n", host, rc);
            return -2;
        }
    }
    shttpc_rec* socket = shttpc_new(SHTTPC_PLAIN, static_cast<unsigned>(timeoutSeconds) * 1000u);
    if (!socket) {
        std::printf("kx_qsm_socket_open(): shttpc_new() returns failure\n");
        return socket_failure();
    }
    sockaddr_in remote{};
    remote.sin_family = AF_INET;
    remote.sin_addr = address;
    remote.sin_port = htons(static_cast<uint16_t>(port));
    if (const int rc = shttpc_connect(socket, reinterpret_cast<const sockaddr*>(&remote), sizeof remote); rc != 0) {
        std::printf("kx_qsm_socket_open(): shttpc_connect() returns %d\n", rc);
        const int code = socket_failure();
        shttpc_close(socket);
        return code;
    }
    const int on = 1;
    if (const int rc = shttpc_setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on); rc != 0)
        std::printf("kx_qsm_socket_open(): shttpc_setsockopt() returns %d\n", rc);
    if (!(*connection = http_conn_wrap(socket))) return -12;
    return 0;
}

int kx_qsm_send_request(http_conn_rec* c, const char* user, const char* password, const char* document, int length,
                        long* replyLength) {
    char header[kHeaderBlockSize];
    const int n = std::snprintf(header, sizeof header, "ZARVOI-D/1.0\r\nUser: %s\r\nPassword: %s\r\nContent-length: %d\r\n\r\n",
                                user ? user : "", password ? password : "", length);
    // A header block cut at its buffer would reach the daemon as a wrong
    // request: refuse it instead.
    if (n < 0 || n >= kHeaderBlockSize) return KX_STATUS_ENCODE;
    if (!http_write(c, header, n)) return KX_STATUS_WRITE_HEADERS;
    if (!http_write(c, document, length)) return KX_STATUS_WRITE_PAYLOAD;
    return kx_qsm_read_reply(c, replyLength);
}

int kx_qsm_read_reply(http_conn_rec* c, long* replyLength) {
    char line[KX_QSM_LINE_MAX];
    int status = 0;
    const int first = http_read_line(c, line, sizeof line);
    if (first < 0) return KX_STATUS_HEADER_LINE1;
    if (first == 0) return KX_STATUS_DROPPED;
    if (std::sscanf(line, "ZARVOI-D/1.0 %d", &status) != 1) return KX_STATUS_BAD_STATUS;
    if (status != 200) return status;
    const int second = http_read_line(c, line, sizeof line);
    if (second < 0) return KX_STATUS_HEADER_LINE2;
    if (second == 0) return KX_STATUS_DROPPED;
    if (std::sscanf(line, "Content-length: %ld", replyLength) != 1) return KX_STATUS_BAD_LENGTH;
    if (http_read_line(c, line, sizeof line) < 0) return KX_STATUS_HEADER_LINE3;
    return 200;
}

void kx_qsm_socket_close(http_conn_rec* c) { http_close(c); }

kx_elem_rec* kx_invoke_qsm(kx_server_rec* s, kx_elem_rec* request) {
    const Exchange done = exchange(s, request);
    if (done.reply) return done.reply;
    char reason[KX_REASON_SIZE];
    return kx_failed(kx_status_text(done.status, KX_WIRE_NAME_QSM, done.detail, reason, sizeof reason),
                     kx_status_errno(done.status));
}
