#pragma once
// The HTTP transport: one request element wrapped in the protocol's root,
// serialised as an XML document, sent in one HTTP/1.1 POST over a new
// connection, the reply read and parsed, the connection closed.
#include <cstddef>

#include <adt/log.h>

struct kx_elem_rec;
struct kx_server_rec;
struct shttpc_rec;
struct stab_rec;

constexpr const char* KX_NAMESPACE_URI = "http://www.zarvo.com/filer/admin";
constexpr const char* KX_URL_FORMAT = "http://%s:%d/servlets/korvex.servlets.admin.XMLrequest_filer";
constexpr size_t KX_URL_SIZE = 2048;
constexpr size_t KX_REASON_SIZE = 256;
// Header and status lines are at most this long, line feed included.
constexpr int HTTP_LINE_MAX = 1024;
// A reply head of more header lines is refused (500): each new name would
// take a table entry, and a peer that never ends its head would never stop.
constexpr int HTTP_HEADER_LINES_MAX = 256;
constexpr int HTTP_READ_AHEAD = 4096;

// One connection of the HTTP and daemon transports: the runtime's socket and
// the bytes read ahead of the reader. Status and header lines are taken from
// the read-ahead, so what arrived of the body stays there for the parser.
struct http_conn_rec {
    shttpc_rec* socket;
    int start;  // unread bytes are buffer[start, end)
    int end;
    char buffer[HTTP_READ_AHEAD];
};

// What a URL names; every text points into `copy`.
struct http_url_rec {
    int tls;
    char* user;
    char* password;
    char* host;
    int port;
    char* path;
    char* copy;
};

// Owned copies of the login the Authorization line carries.
struct http_credentials {
    char* user;
    char* password;
};

// The protocol's document around a serialised root.
const char* kx_dtd_system_id(int dtdKind);

// Output of the serialiser: a piece of text; non-zero on success.
using kx_output_fn = int (*)(const char* text, size_t length, void* context);
// Writes an element tree as XML. indent -1 is compact; 0 or more indents by
// that many blanks and nests by 8. Text is escaped when `escape` is set;
// attribute values are written as stored. 1, or 0 (EINVAL for NULL element,
// or an output call failed).
int kx_elem_serialize(kx_elem_rec* element, int indent, const char* prefix, kx_output_fn output, void* context,
                      int escape);

// Where building a request document failed.
enum kx_document_failure { KX_DOC_OK = 0, KX_DOC_SERIALISE = 1, KX_DOC_BUFFER = 2 };

// The whole request document for a handle (declaration, document type, compact
// root with xmlns and version). The request is wrapped in a new "korvex" root
// unless it is one; *temporaryRoot receives that root (NULL when none was made)
// and the caller detaches the request and destroys it with kx_request_unwrap,
// also after a failure. prefixLimit bounds the element prefix. NULL (ENOMEM)
// when the text cannot be built, with the step in *failure when it is given.
char* kx_request_document(kx_server_rec* server, kx_elem_rec* request, const char* systemId, int prefixLimit,
                          kx_elem_rec** temporaryRoot, kx_document_failure* failure = nullptr);
void kx_request_unwrap(kx_elem_rec* temporaryRoot, kx_elem_rec* request);

// 1 "http://", 2 "https://" (any case), 0 otherwise.
int http_url_scheme(const char* url);
// 0, -22 (NULL argument, unknown scheme) or -12.
int http_url_parse(const char* url, http_url_rec* parsed);
void http_url_free(http_url_rec* parsed);

// 0, or a negative code: -22, -2 (name look-up), -1 (no privileged port for
// hosts-equiv), minus the socket error.
int http_open(const char* host, int port, http_conn_rec** connection, int hostsEquiv, int tlsKind, int timeoutSeconds);
int http_open_url(const char* url, http_conn_rec** connection, http_credentials* credentials, int hostsEquiv,
                  int tlsKind, int timeoutSeconds);
// Closes the socket and frees the connection; NULL is ignored.
void http_close(http_conn_rec* connection);
void http_credentials_free(http_credentials* credentials);

// Reads from the read-ahead first, else from the socket: the count, 0 at the
// end of the stream, -1 on failure.
int http_conn_read(http_conn_rec* connection, void* buffer, int size);
// One line up to its line feed, at most `size` bytes with the line feed; the
// line feed and a carriage return before it are dropped. The length, or -1
// (failure, end of stream, or no line feed within `size` bytes).
int http_read_line(http_conn_rec* connection, char* line, int size);

// Writes all bytes; 1, or 0 after logging the socket error. Length 0 or less
// writes nothing.
int http_write(http_conn_rec* connection, const void* bytes, int length);
int http_printf(http_conn_rec* connection, const char* format, ...) ADT_PRINTF(2, 3);
// The Authorization line when a user is set; 1, or 0 on failure.
int http_write_auth(http_conn_rec* connection, const http_credentials* credentials);
// Writes one request and reads the status line and headers: the status, 500 on
// a write or header failure, -22, or the URL parser's code.
int http_request(http_conn_rec* connection, const char* url, const http_credentials* credentials, const char* method,
                 const char* body, int length, stab_rec* extraHeaders, stab_rec** replyHeaders);
int http_post(http_conn_rec* connection, const char* url, const http_credentials* credentials, const char* body,
              int length, stab_rec** replyHeaders);
// The status; for 200 the headers too when asked. 500 or -12 on failure.
int http_read_headers(http_conn_rec* connection, stab_rec** headers);

// The transport of styles 0 and 2.
kx_elem_rec* kx_invoke_http(kx_server_rec* server, kx_elem_rec* request);
