#pragma once
// Owners and helpers shared by the client's tests.
#include <korvex/elem.h>
#include <korvex/results.h>
#include <korvex/server.h>

#include <memory>
#include <string>

namespace testsupport {

struct ElemDeleter {
    void operator()(kx_elem_rec* e) const { kx_elem_destroy(e); }
};
using ElemPtr = std::unique_ptr<kx_elem_rec, ElemDeleter>;

struct ServerDeleter {
    void operator()(kx_server_rec* s) const { kx_server_destroy(s); }
};
using ServerPtr = std::unique_ptr<kx_server_rec, ServerDeleter>;

// Starts the client once for the whole test program (a second start fails by design).
inline void ensure_started() {
    static const bool started = [] {
        char text[256];
        kx_startup(text, sizeof text);
        return true;
    }();
    (void)started;
}

// A handle as the filer API makes it: version 1.0, style 0, a login.
inline ServerPtr login_server(const char* host, int port, const char* user = "root", const char* password = "secret") {
    ServerPtr s(kx_server_create(host, 1, 0));
    kx_server_set_style(s.get(), KX_AUTH_LOGIN);
    kx_server_set_login(s.get(), user, password);
    s->port = port;
    return s;
}

struct Outcome {
    bool passed;
    int error;
    std::string reason;
};

inline Outcome outcome_of(kx_elem_rec* results) {
    const char* reason = kx_results_reason_text(results);
    return {kx_results_passed(results) == 1, kx_results_errno_value(results), reason ? reason : ""};
}

}  // namespace testsupport
