// The friendly-name file as the appliance hands it back: four hexadecimal
// digits per UTF-16 unit. Whatever decodes must encode back to the same
// digits (in upper case); anything else decodes to nothing.
#include <hostlib/conversions.h>

#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::u16string name = DecodeUnicodeBinary(text);
    if (name.empty()) return 0;
    std::string upper(text);
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (EncodeUnicodeBinary(name) != upper) std::abort();
    return 0;
}
