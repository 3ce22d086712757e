#include <filer/request_frame.h>
#include <korvex/encrypted_bytes.h>
#include <platform/errors.h>

#include <algorithm>
#include <cerrno>

#include "fapi_raise.h"

// The secret is encrypted from the caller's bytes as they are: no copy of it is
// made, and a zero byte inside it is a byte like any other.
void add_secret_child(fapi_request& request, const char* child, std::span<const BYTE> secret) {
    if (secret.empty()) return;
    const size_t count = std::min(secret.size(), kMaxSecretBytes);
    if (!kx_child_add_encrypted_bytes(request.element(), child, secret.data(), count, nullptr))
        FAPI_RAISE(errno == ENOMEM ? E_OUTOFMEMORY : E_INVALIDARG);
}
