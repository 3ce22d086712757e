#include <korvex/http.h>
#include <korvex/server.h>

#include <adt/base64.h>
#include <adt/hash.h>
#include <adt/log.h>
#include <adt/pool.h>
#include <adt/shttpc.h>
#include <adt/sock.h>
#include <adt/stab.h>
#include <adt/str.h>
#include <adt/testpoint.h>

#include <arpa/inet.h>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <mutex>
#include <netinet/in.h>
#include <platform/winsock.h>
#include <strings.h>

#include "host_addresses.h"
#include "invoke_common.h"
#include "text_buffer.h"

namespace {

constexpr int kLowestPrivilegedPort = 1;
constexpr int kHighestPrivilegedPort = 1023;


bool bind_privileged_port(shttpc_rec* socket) {
    for (int port = kHighestPrivilegedPort; port >= kLowestPrivilegedPort; --port) {
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = htonl(INADDR_ANY);
        local.sin_port = htons(static_cast<uint16_t>(port));
        if (shttpc_bind(socket, reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0) return true;
    }
    return false;
}

// Minus the socket error, never 0 and never -1 (which names hosts-equiv).
int socket_failure() {
    const int error = WSAGetLastError();
    return error > 1 ? -error : -static_cast<int>(WSAENOBUFS);
}

// Working space of n bytes: on the stack when it fits, else on the heap.
class scratch {
public:
    scratch() = default;
    ~scratch() { pool_free(nullptr, heap_, ADT_HERE); }
    scratch(const scratch&) = delete;
    scratch& operator=(const scratch&) = delete;
    char* get(size_t n) {
        if (n <= sizeof local_) return local_;
        return heap_ = static_cast<char*>(pool_malloc(nullptr, n, ADT_HERE));
    }

private:
    char local_[256];
    char* heap_ = nullptr;
};

// "Authorization: Basic <base64 of user:password>\r\n", when a user is set.
// The login and its encoding are made in working space: every request
// sends the line, and a usual login needs no heap block for it.
bool append_auth_line(text_buffer& out, const http_credentials* credentials) {
    if (!credentials || !credentials->user) return true;
    const char* password = credentials->password ? credentials->password : "";
    const size_t userLength = std::strlen(credentials->user), passwordLength = std::strlen(password);
    const size_t loginLength = userLength + 1 + passwordLength;
    scratch loginSpace, encodedSpace;
    char* login = loginSpace.get(loginLength);
    if (!login) {
        log_report(LOG_LEVEL_DEBUG, "failed to format credentials for %s\n", credentials->user);
        return false;
    }
    std::memcpy(login, credentials->user, userLength);
    login[userLength] = ':';
    std::memcpy(login + userLength + 1, password, passwordLength);
    const size_t encodedSize = base64_encoded_size(loginLength);
    char* encoded = encodedSpace.get(encodedSize);
    const size_t written =
        encoded ? base64_encode_into(encoded, encodedSize, reinterpret_cast<const unsigned char*>(login), loginLength)
                : 0;
    if (written == 0) {
        log_report(LOG_LEVEL_DEBUG, "base64_encode() failed for login str %s\n", credentials->user);
        return false;
    }
    return out.append("Authorization: Basic ", 21) && out.append(encoded, written - 1) && out.append("\r\n", 2);
}

bool appendf(text_buffer& out, const char* format, ...) ADT_PRINTF(2, 3);
bool appendf(text_buffer& out, const char* format, ...) {
    va_list ap;
    va_start(ap, format);
    char* text = string_vprintf(format, ap);
    va_end(ap);
    const bool ok = text && out.append(text, std::strlen(text));
    pool_free(nullptr, text, ADT_HERE);
    return ok;
}

bool append(text_buffer& out, const char* text) { return out.append(text, std::strlen(text)); }

bool append_number(text_buffer& out, unsigned value) {
    char digits[16];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    return out.append(digits, static_cast<size_t>(end - digits));
}

// The number after the status line's first word, as "%*s %d" reads it; false
// when there is none or it does not fit an int.
bool status_of(const char* line, int* status) {
    const auto blank = [](char ch) { return std::isspace(static_cast<unsigned char>(ch)) != 0; };
    const char* p = line;
    while (blank(*p)) ++p;
    const char* word = p;
    while (*p && !blank(*p)) ++p;
    if (p == word) return false;
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(p, &end, 10);
    if (end == p || errno == ERANGE || value < INT_MIN || value > INT_MAX) return false;
    *status = static_cast<int>(value);
    return true;
}

bool header_is(stab_rec* headers, const char* name, const char* value) {
    return headers && ::strcasecmp(stab_get(headers, name), value) == 0;
}

// Reads the interim reply to "Expect: 100-continue" up to its empty line.
int read_interim_status(http_conn_rec* c) {
    char line[HTTP_LINE_MAX];
    int status = 0;
    if (http_read_line(c, line, sizeof line) < 0 || !status_of(line, &status)) return 500;
    if (status != 100) return status;
    for (int n; (n = http_read_line(c, line, sizeof line)) != 0;)
        if (n < 0) return 500;
    return 100;
}

// Skips the header lines of an interim reply up to its empty line; 0, or
// 500 when the head breaks off or never ends.
int read_interim_head(http_conn_rec* c) {
    char line[HTTP_LINE_MAX];
    for (int lines = 0; lines <= HTTP_HEADER_LINES_MAX; ++lines) {
        const int n = http_read_line(c, line, sizeof line);
        if (n < 0) return 500;
        if (n == 0) return 0;
    }
    return 500;
}

}  // namespace

namespace {

// One connection to the address: 0 with the connection, -1 (no privileged
// port for hosts-equiv) or minus the socket error.
int connect_to(in_addr address, int port, http_conn_rec** connection, int hostsEquiv, int tlsKind,
               int timeoutSeconds) {
    // A silent appliance must not hold its caller forever.
    const unsigned timeoutMs =
        timeoutSeconds > 0 ? static_cast<unsigned>(timeoutSeconds) * 1000u : kx_reply_time_limit();
    shttpc_rec* socket = shttpc_new(tlsKind, timeoutMs);
    if (!socket) return socket_failure();
    if (hostsEquiv && !bind_privileged_port(socket)) {
        shttpc_close(socket);
        return -1;
    }
    sockaddr_in remote{};
    remote.sin_family = AF_INET;
    remote.sin_addr = address;
    remote.sin_port = htons(static_cast<uint16_t>(port));
    if (shttpc_connect(socket, reinterpret_cast<const sockaddr*>(&remote), sizeof remote) != 0) {
        const int code = socket_failure();
        if (tlsKind != 0 && code != -static_cast<int>(WSAECONNREFUSED)) {
            char text[INET_ADDRSTRLEN] = "";
            ::inet_ntop(AF_INET, &address, text, sizeof text);
            log_report(LOG_LEVEL_DEBUG, "SSL connect to %s:%hu failed: ", text, static_cast<unsigned short>(port));
        }
        shttpc_close(socket);
        return code;
    }
    http_conn_rec* c = http_conn_wrap(socket);
    if (!c) return -12;
    *connection = c;
    return 0;
}

int resolve_failure(const char* host, int rc) {
    log_report(LOG_LEVEL_DEBUG, "gethostbyname failed for %s, error = %d\n", host, rc);
    return -2;
}

}  // namespace

int http_open(const char* host, int port, http_conn_rec** connection, int hostsEquiv, int tlsKind, int timeoutSeconds) {
    if (const int rc = kx_start_sockets(); rc != 0) return -rc;
    if (!connection || !host) return -22;
    *connection = nullptr;
    testpoint_value(0, "http", "open", ADT_HERE);
    host_address resolved{};
    if (const int rc = host_address_lookup(host, &resolved); rc != 0) return resolve_failure(host, rc);
    int code = connect_to(resolved.address, port, connection, hostsEquiv, tlsKind, timeoutSeconds);
    if (code < -1 && resolved.remembered) {
        // The appliance may have moved: ask the name again, and try once more
        // only when it now names another address.
        host_address_forget(host);
        const in_addr previous = resolved.address;
        if (const int rc = host_address_resolve(host, &resolved); rc != 0) return resolve_failure(host, rc);
        if (resolved.address.s_addr != previous.s_addr)
            code = connect_to(resolved.address, port, connection, hostsEquiv, tlsKind, timeoutSeconds);
    }
    if (code != 0) return code;
    host_address_keep(host, resolved);
    testpoint_value(0, "http", "finish-open", ADT_HERE);
    return 0;
}

int http_open_url(const char* url, http_conn_rec** connection, http_credentials* credentials, int hostsEquiv,
                  int tlsKind, int timeoutSeconds) {
    http_url_rec parsed{};
    if (const int rc = http_url_parse(url, &parsed); rc != 0) return rc;
    int rc = 0;
    if (credentials) {
        *credentials = http_credentials{};
        if ((parsed.user && !(credentials->user = pool_strdup(nullptr, parsed.user, ADT_HERE))) ||
            (parsed.password && !(credentials->password = pool_strdup(nullptr, parsed.password, ADT_HERE))))
            rc = -12;
    }
    if (rc == 0) rc = http_open(parsed.host, parsed.port, connection, hostsEquiv, tlsKind, timeoutSeconds);
    if (rc != 0) http_credentials_free(credentials);
    http_url_free(&parsed);
    return rc;
}

void http_close(http_conn_rec* connection) {
    if (!connection) return;
    shttpc_close(connection->socket);
    http_conn_recycle(connection);
}

void http_credentials_free(http_credentials* credentials) {
    if (!credentials) return;
    pool_free(nullptr, credentials->user, ADT_HERE);
    pool_free(nullptr, credentials->password, ADT_HERE);
    *credentials = http_credentials{};
}

int http_conn_read(http_conn_rec* c, void* buffer, int size) {
    if (size <= 0) return 0;
    if (c->start < c->end) {
        const int n = std::min(size, c->end - c->start);
        std::memcpy(buffer, c->buffer + c->start, static_cast<size_t>(n));
        c->start += n;
        return n;
    }
    return shttpc_read(c->socket, buffer, size);
}

int http_read_line(http_conn_rec* c, char* line, int size) {
    int length = 0;
    for (;;) {
        if (c->start == c->end) {
            const int n = shttpc_read(c->socket, c->buffer, HTTP_READ_AHEAD);
            if (n <= 0) return -1;
            c->start = 0;
            c->end = n;
        }
        const char* from = c->buffer + c->start;
        const int available = c->end - c->start;
        const auto* feed = static_cast<const char*>(std::memchr(from, '\n', static_cast<size_t>(available)));
        const int take = feed ? static_cast<int>(feed - from) + 1 : available;
        if (length + take > size || (!feed && length + take == size)) return -1;
        std::memcpy(line + length, from, static_cast<size_t>(take));
        length += take;
        c->start += take;
        if (!feed) continue;
        line[--length] = '\0';
        if (length > 0 && line[length - 1] == '\r') line[--length] = '\0';
        return length;
    }
}

int http_write(http_conn_rec* c, const void* bytes, int length) {
    if (length <= 0) return 1;
    if (shttpc_write(c->socket, bytes, length) == length) return 1;
    log_report(LOG_LEVEL_DEBUG, "Failed to write to HTTP socket: %d\n", WSAGetLastError());
    return 0;
}

int http_printf(http_conn_rec* c, const char* format, ...) {
    va_list ap;
    va_start(ap, format);
    char* text = string_vprintf(format, ap);
    va_end(ap);
    if (!text) return 0;
    const int ok = http_write(c, text, static_cast<int>(std::strlen(text)));
    pool_free(nullptr, text, ADT_HERE);
    return ok;
}

int http_write_auth(http_conn_rec* c, const http_credentials* credentials) {
    text_buffer line;
    const bool ok = append_auth_line(line, credentials) && http_write(c, line.data, static_cast<int>(line.length));
    line.clear();
    return ok ? 1 : 0;
}

int http_request(http_conn_rec* c, const char* url, const http_credentials* credentials, const char* method,
                 const char* body, int length, stab_rec* extraHeaders, stab_rec** replyHeaders) {
    if (!url || !method) return -22;
    http_url_rec parsed{};
    if (const int rc = http_url_parse(url, &parsed); rc != 0) return rc;
    const bool expectContinue = header_is(extraHeaders, "expect", "100-continue");
    const bool chunked = header_is(extraHeaders, "transfer-encoding", "chunked");

    // The request head and, unless the server must first agree, the body go
    // out in one write: small separate writes would wait on delayed
    // acknowledgements.
    text_buffer out;
    bool ok = append(out, method) && append(out, " /") && append(out, parsed.path) && append(out, " HTTP/1.1\r\n") &&
              append_auth_line(out, credentials) && append(out, "Host: ") && append(out, parsed.host) &&
              append(out, ":") && append_number(out, static_cast<unsigned>(parsed.port)) && append(out, "\r\n");
    if (ok && extraHeaders) {
        hash_cursor cursor{};
        for (const char* n = stab_first(extraHeaders, &cursor); ok && n; n = stab_next(extraHeaders, &cursor))
            ok = appendf(out, "%s: %s\r\n", n, stab_get(extraHeaders, n));
    }
    if (ok && !chunked)
        ok = append(out, "Content-Length: ") && append_number(out, static_cast<unsigned>(length)) && append(out, "\r\n");
    ok = ok && out.append("\r\n", 2);
    http_url_free(&parsed);

    if (ok && expectContinue) {
        ok = http_write(c, out.data, static_cast<int>(out.length));
        out.clear();
        const int interim = ok ? read_interim_status(c) : 500;
        if (interim != 100) return interim;
    }
    if (ok && chunked) {
        ok = appendf(out, "%x\r\n", static_cast<unsigned>(length)) && out.append(body, static_cast<size_t>(length)) &&
             out.append("\r\n0\r\n\r\n", 7);
    } else if (ok) {
        ok = out.append(body, static_cast<size_t>(length > 0 ? length : 0));
    }
    if (ok) ok = http_write(c, out.data, static_cast<int>(out.length));
    out.clear();
    return ok ? http_read_headers(c, replyHeaders) : 500;
}

int http_post(http_conn_rec* c, const char* url, const http_credentials* credentials, const char* body, int length,
              stab_rec** replyHeaders) {
    if (!url || !body) return -22;
    testpoint_value(0, "http", "post", ADT_HERE);
    const int status = http_request(c, url, credentials, "POST", body, length, nullptr, replyHeaders);
    testpoint_value(status, "http", "finish-post", ADT_HERE);
    return status;
}

int http_read_headers(http_conn_rec* c, stab_rec** headers) {
    if (headers) *headers = nullptr;
    char line[HTTP_LINE_MAX];
    int status = 0;
    // An interim "100 Continue" and its head come before the real status line.
    for (int interim = 0; status == 0 || status == 100; ++interim) {
        if (interim > HTTP_HEADER_LINES_MAX) return 500;
        if (status == 100 && read_interim_head(c) != 0) return 500;
        if (http_read_line(c, line, sizeof line) < 0 || !status_of(line, &status)) return 500;
    }
    if (status != 200) return status;
    stab_rec* table = nullptr;
    if (headers && !(table = stab_new(nullptr))) return -12;
    for (int lines = 0;; ++lines) {
        const int n = lines <= HTTP_HEADER_LINES_MAX ? http_read_line(c, line, sizeof line) : -1;
        if (n < 0) {
            stab_free(table);
            return 500;
        }
        if (n == 0) break;
        char* colon = std::strchr(line, ':');
        if (!colon || !table) continue;
        *colon = '\0';
        const char* value = colon + 1;
        while (*value == ' ' || *value == '\t') ++value;
        stab_set(table, line, value);
    }
    if (headers) *headers = table;
    return status;
}
