// The reply parser over a reply held in memory.
#include <korvex/elem.h>
#include <korvex/reply.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::start_client();
    const std::string text(reinterpret_cast<const char*>(data), size);
    xml_context_rec* context = xml_create();
    // A budget near the input's size reaches the limits with small inputs too.
    context->budget = 1024 + 16 * size;
    xml_parse_string(text.c_str(), context);
    kx_elem_rec* outcome = kx_reply_outcome(context);
    xml_destroy(context);
    if (!outcome) std::abort();
    fuzz::walk(outcome);
    kx_elem_destroy(outcome);
    return 0;
}
