// The daemon transport's reply: its status and length lines, then the body,
// arriving in pieces.
#include <korvex/elem.h>
#include <korvex/http.h>
#include <korvex/reply.h>
#include <korvex/status.h>
#include <korvex/transports.h>

#include <cstddef>
#include <cstdint>

#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::start_client();
    fuzz::SplitPeer peer(data, size);
    long length = 0;
    const int status = kx_qsm_read_reply(peer.connection(), &length);
    if (status == 200) {
        xml_context_rec* context = xml_create();
        xml_parse_stream(peer.connection(), context, length);
        kx_elem_rec* outcome = kx_reply_outcome(context);
        xml_destroy(context);
        if (!outcome) std::abort();
        fuzz::walk(outcome);
        kx_elem_destroy(outcome);
    } else {
        char reason[KX_REASON_SIZE];
        kx_status_text(status, KX_WIRE_NAME_QSM, 0, reason, sizeof reason);
    }
    return 0;
}
