#pragma once
// The parse floor of the benchmarks: libxml2's event parse with handlers that
// do what any consumer of a reply must, look at every name, attribute and
// text once, and nothing more.
#include <libxml/parser.h>

#include <cstddef>

namespace bench {

// What the handlers saw, summed so that the work cannot be left out.
struct Touched {
    size_t sum = 0;
};

// The handlers; their user data is a Touched.
xmlSAXHandler* floor_handler();

}  // namespace bench
