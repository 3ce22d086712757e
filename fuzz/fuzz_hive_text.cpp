// The registry's hive text reader. What it accepts must write back to a text
// that reads back to the same text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "hive_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto hive = platform::reg::hive_from_text(text);
    if (!hive) return 0;
    const std::string written = platform::reg::hive_to_text(*hive);
    const auto again = platform::reg::hive_from_text(written);
    if (!again || platform::reg::hive_to_text(*again) != written) std::abort();
    return 0;
}
