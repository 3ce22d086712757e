#include <adt/stab.h>
#include <korvex/elem.h>
#include <korvex/results.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {
constexpr const char* kPassed = "passed";
}

int kx_results_passed(kx_elem_rec* r) {
    return r && r->attributes && std::strcmp(stab_get(r->attributes, "status"), kPassed) == 0;
}

int kx_results_errno_value(kx_elem_rec* r) {
    const long value = stab_get_int(r ? r->attributes : nullptr, "errno", -1);
    return static_cast<int>(value);
}

const char* kx_results_reason_text(kx_elem_rec* r) {
    if (kx_results_passed(r)) return nullptr;
    const char* reason = stab_get(r ? r->attributes : nullptr, "reason");
    return *reason ? reason : "Unknown";
}

kx_elem_rec* kx_results_make(const char* status, const char* reason, int errorNumber) {
    if (!status) {
        errno = EINVAL;
        return nullptr;
    }
    kx_elem_rec* r = kx_elem_create("results");
    bool ok = r && kx_elem_put_attr(r, "status", status);
    if (ok && reason) ok = kx_elem_put_attr(r, "reason", reason);
    if (ok && errorNumber >= 0) {
        char digits[16];
        std::snprintf(digits, sizeof digits, "%d", errorNumber);
        ok = kx_elem_put_attr(r, "errno", digits);
    }
    if (!ok) {
        kx_elem_destroy(r);
        errno = ENOMEM;
        return nullptr;
    }
    return r;
}
