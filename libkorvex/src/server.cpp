#include <korvex/http.h>
#include <korvex/server.h>
#include <korvex/status.h>
#include <korvex/transports.h>

#include <adt/path.h>
#include <adt/pool.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <libxml/parser.h>
#include <platform/library.h>
#include <platform/winsock.h>

#include "invoke_common.h"

namespace {

// Written once at start-up, read afterwards from any thread.
std::atomic<bool> g_started{false};
std::atomic<bool> g_socketsStarted{false};
std::atomic<kx_fapi_invoke_fn> g_fapiInvoke{nullptr};

void write_text(char* buffer, int size, const char* text) {
    if (buffer && size > 0) std::snprintf(buffer, static_cast<size_t>(size), "%s", text);
}

// An empty text is stored as absent. false when the copy cannot be made.
bool copy_optional(const char* text, char** out) {
    *out = nullptr;
    if (!*text) return true;
    return (*out = pool_strdup(nullptr, text, ADT_HERE)) != nullptr;
}

}  // namespace

int kx_startup(char* errorText, int size) {
    if (g_started.exchange(true)) {
        write_text(errorText, size, "kx_startup failed: already in use");
        return 0;
    }
    path_init(nullptr);
    xmlInitParser();
    WSADATA data{};
    if (const int rc = WSAStartup(MAKEWORD(2, 2), &data); rc != 0) {
        if (errorText && size > 0) std::snprintf(errorText, static_cast<size_t>(size), "WSAStartup failed: %d", rc);
        return 0;
    }
    g_socketsStarted = true;
    // Without the administration library only the RPC style fails, call by call.
    if (HMODULE admin = LoadLibraryA("kvxadmin.dll"))
        g_fapiInvoke = platform::get_proc<kx_fapi_invoke_fn>(admin, "FapiInvoke");
    if (std::atexit(kx_shutdown) != 0) {
        write_text(errorText, size, "Failed to register kx_shutdown with atexit.");
        return 0;
    }
    return 1;
}

void kx_shutdown() {
    if (!g_started) return;
    if (g_socketsStarted.exchange(false)) WSACleanup();
    xmlCleanupParser();
    g_started = false;
}

kx_fapi_invoke_fn kx_fapi_entry() { return g_fapiInvoke.load(); }

kx_server_rec* kx_server_create(const char* host, int majorVersion, int minorVersion) {
    if (!host) {
        errno = EINVAL;
        return nullptr;
    }
    auto* s = static_cast<kx_server_rec*>(pool_calloc(nullptr, sizeof(kx_server_rec), ADT_HERE));
    if (s && (!(s->host = pool_strdup(nullptr, host, ADT_HERE)) || !(s->prefix = pool_strdup(nullptr, "", ADT_HERE)))) {
        kx_server_destroy(s);
        s = nullptr;
    }
    if (!s) {
        errno = ENOMEM;
        return nullptr;
    }
    s->resolveNames = 1;
    s->majorVersion = majorVersion;
    s->minorVersion = minorVersion;
    s->style = KX_AUTH_LOGIN;
    s->urlFormat = KX_URL_FORMAT;
    s->wireKind = KX_WIRE_HTTP;
    s->port = 80;
    s->dtdKind = KX_DTD_FILER;
    return s;
}

int kx_server_set_login(kx_server_rec* s, const char* user, const char* password) {
    if (!s || !user || !password) {
        errno = EINVAL;
        return 0;
    }
    char* newUser = nullptr;
    char* newPassword = nullptr;
    if (!copy_optional(user, &newUser) || !copy_optional(password, &newPassword)) {
        pool_free(nullptr, newUser, ADT_HERE);
        errno = ENOMEM;
        return 0;
    }
    pool_free(nullptr, s->user, ADT_HERE);
    pool_free(nullptr, s->password, ADT_HERE);
    s->user = newUser;
    s->password = newPassword;
    return 1;
}

int kx_server_set_style(kx_server_rec* s, int style) {
    if (!s) {
        errno = EINVAL;
        return 0;
    }
    s->style = style;
    if (style == KX_AUTH_QSM) {
        s->port = 0;
        s->resolveNames = 0;
        s->wireKind = KX_WIRE_QSM;
    }
    return 1;
}

int kx_server_destroy(kx_server_rec* s) {
    if (!s) {
        errno = EINVAL;
        return 0;
    }
    pool_free(nullptr, s->host, ADT_HERE);
    pool_free(nullptr, s->user, ADT_HERE);
    pool_free(nullptr, s->password, ADT_HERE);
    pool_free(nullptr, s->prefix, ADT_HERE);
    pool_free(nullptr, s, ADT_HERE);
    return 1;
}

namespace {
std::atomic<kx_test_responder_fn> g_testResponder{nullptr};
}  // namespace

void kx_set_test_responder(kx_test_responder_fn responder) { g_testResponder.store(responder); }

kx_elem_rec* kx_server_invoke_elem(kx_server_rec* s, kx_elem_rec* request) {
    if (!s || !request) {
        errno = EINVAL;
        return nullptr;
    }
    if (const kx_test_responder_fn responder = g_testResponder.load()) return responder(s, request);
    switch (s->style) {
        case KX_AUTH_LOGIN:
        case KX_AUTH_HOSTSEQUIV: return kx_invoke_http(s, request);
        case KX_AUTH_RPC: return kx_invoke_rpc(s, request);
        case KX_AUTH_QSM: return kx_invoke_qsm(s, request);
        default: return kx_failed("Unrecognized server authentication style", KX_ERR_AUTH);
    }
}
