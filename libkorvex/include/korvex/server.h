#pragma once
// The client's start-up and its server handle: one handle per request, made
// for an appliance, given a style and a login, invoked once, destroyed.
// Handle operations report EINVAL and ENOMEM through errno.

struct kx_elem_rec;

enum kx_auth_style {
    KX_AUTH_LOGIN = 0,       // HTTP POST with Basic authorization
    KX_AUTH_RPC = 1,         // handed to the administration library
    KX_AUTH_HOSTSEQUIV = 2,  // HTTP POST from a privileged local port
    KX_AUTH_QSM = 3,         // the daemon transport
};

enum kx_wire_kind { KX_WIRE_HTTP = 0, KX_WIRE_HTTPS = 1, KX_WIRE_QSM = 2, KX_WIRE_QSM_S = 3 };

enum kx_dtd_kind { KX_DTD_FILER = 0, KX_DTD_GENERIC = 1, KX_DTD_AGENT = 2, KX_DTD_VESK = 3 };

// Debug styles: 0 normal; 1 the raw reply goes to standard output and the
// call fails; any other value discards the reply and fails the call.
constexpr int KX_DEBUG_OFF = 0;
constexpr int KX_DEBUG_PRINT_REPLY = 1;

constexpr int KX_PREFIX_MAX = 30;

struct kx_server_rec {
    char* host;           // owned copy, exactly as given
    int resolveNames;     // 1; the daemon transport refuses host names at 0
    int majorVersion;
    int minorVersion;
    int style;            // kx_auth_style
    int debugStyle;
    int printFlag;        // 1: the request document goes to standard output
    char* user;           // owned, absent when empty
    char* password;       // owned, absent when empty
    const char* urlFormat;
    int wireKind;         // kx_wire_kind
    int port;             // 80
    char* prefix;         // owned, "" by default
    int dtdKind;          // kx_dtd_kind
    int timeout;          // seconds; 0 waits up to the reply time limit below
};

// How long a connection without a time-out of its own waits for the appliance
// at most (connect, each write, each read), in milliseconds: a peer that keeps
// the connection open without answering fails the request as timed out
// (10060). Generous by default (five minutes); tests shorten it.
inline constexpr unsigned KX_REPLY_TIME_LIMIT_DEFAULT_MS = 300000;
unsigned kx_reply_time_limit();
void kx_set_reply_time_limit(unsigned milliseconds);

// 1, or 0 with the reason in the buffer; a second call always fails.
int kx_startup(char* errorText, int size);
// Registered at exit by kx_startup.
void kx_shutdown();

kx_server_rec* kx_server_create(const char* host, int majorVersion, int minorVersion);
int kx_server_set_login(kx_server_rec* server, const char* user, const char* password);
// Style 3 also sets port 0, name resolution off and wire kind 2.
int kx_server_set_style(kx_server_rec* server, int style);
int kx_server_destroy(kx_server_rec* server);

// Sends one request by the handle's style and returns the `results` element,
// which the caller destroys; every failure is a failed `results` element.
// NULL only when even that cannot be allocated (or for a NULL argument, EINVAL).
// The request stays the caller's.
kx_elem_rec* kx_server_invoke_elem(kx_server_rec* server, kx_elem_rec* request);

// Test seam: with a responder installed, kx_server_invoke_elem hands every
// request to it in place of the handle's transport (an appliance kept in the
// test's own process) and returns what it answers, a `results` element the
// caller destroys. Null restores the transports. Install it before the
// threads that send requests start.
using kx_test_responder_fn = kx_elem_rec* (*)(kx_server_rec* server, kx_elem_rec* request);
void kx_set_test_responder(kx_test_responder_fn responder);

// The administration library's request entry: 0 with a UTF-16 reply that the
// caller frees with LocalFree, or a Windows error code.
using kx_fapi_invoke_fn = unsigned int (*)(const char16_t* host, const char16_t* request, char16_t** reply);
// The entry bound at start-up, or NULL.
kx_fapi_invoke_fn kx_fapi_entry();
