// The HTTP transport's reply: status line, headers, then the body read by its
// Content-Length, to the close, or de-chunked, arriving in pieces.
#include <korvex/elem.h>
#include <korvex/http.h>
#include <korvex/status.h>

#include <cstddef>
#include <cstdint>

#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::start_client();
    fuzz::SplitPeer peer(data, size);
    stab_rec* headers = nullptr;
    const int status = http_read_headers(peer.connection(), &headers);
    if (status == 200) {
        kx_elem_rec* outcome = kx_read_reply(peer.connection(), headers, false);
        if (!outcome) std::abort();
        fuzz::walk(outcome);
        kx_elem_destroy(outcome);
    } else {
        char reason[KX_REASON_SIZE];
        kx_status_text(status, KX_WIRE_NAME_HTTP, 0, reason, sizeof reason);
        kx_status_errno(status);
    }
    stab_free(headers);
    return 0;
}
