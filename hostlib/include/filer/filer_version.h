#pragma once
// The appliance OS release: six numbers and the canonical text built from them.
#include <platform/types.h>

#include <cstdint>
#include <string>
#include <string_view>

class filer_version {
public:
    // The release 0.0.0.0 until assigned (the SAN model keeps one before it reads the appliance).
    filer_version(int32_t major = 0, int32_t minor = 0, int32_t micro = 0, int32_t patch = 0, int32_t r = 0,
                  int32_t d = 0);

    // Parses an appliance's version reply; raises 0xC00402E4 for a text of no known form.
    static filer_version from_string(std::u16string_view text);

    // The canonical text: "7.0.2.0", "7.1.0.0R1" ...
    const WCHAR* c_str() const { return text_.c_str(); }
    const std::u16string& text() const { return text_; }

    // Numbers compare as unsigned 32-bit values, in the order major, minor, micro, patch, R, D.
    bool operator<(const filer_version& other) const;
    bool operator>=(const filer_version& other) const { return !(*this < other); }
    // The six numbers only; the text follows from them.
    bool operator==(const filer_version& other) const;

    int32_t major_number() const { return numbers_[0]; }
    int32_t minor_number() const { return numbers_[1]; }
    int32_t micro_number() const { return numbers_[2]; }
    int32_t patch_number() const { return numbers_[3]; }
    int32_t r_number() const { return numbers_[4]; }
    int32_t d_number() const { return numbers_[5]; }

private:
    int32_t numbers_[6];
    std::u16string text_;
};

// The canonical text of six numbers: four always, then "R%d" and "D%d" when not 0.
std::u16string format_filer_version(const int32_t (&numbers)[6]);

// Asks the appliance for its version text ("system-get-version") on a server
// handle of its own. Raises 0xC004031D when the appliance refuses or cannot be reached.
void get_filer_version(const WCHAR* transport, const WCHAR* filer_name, const WCHAR* user_name, const WCHAR* password,
                       std::u16string& version);
