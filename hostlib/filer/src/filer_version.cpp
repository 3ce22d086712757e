#include <filer/filer_version.h>

#include <algorithm>
#include <array>
#include <climits>

#include "fapi_raise.h"

namespace {

// Which of the six numbers each "%d" of a form fills, in order (M major,
// m minor, u micro, p patch, R, D); the forms are tried in this order.
struct numeric_form {
    std::u16string_view pattern;
    std::array<int, 6> slots;  // index into the six numbers per "%d"; -1 ends the list
};

constexpr int M = 0, m = 1, u = 2, p = 3, R = 4, D = 5, END = -1;

constexpr numeric_form kForms[] = {
    {u"%d.%d.%d.%dR%dD%d:", {M, m, u, p, R, D}},
    {u"%d.%d.%d.%dR%d:",    {M, m, u, p, R, END}},
    {u"%d.%d.%d.%dD%d:",    {M, m, u, p, D, END}},
    {u"%d.%d.%dR%dD%d:",    {M, m, u, R, D, END}},
    {u"%d.%d.%d.%d:",       {M, m, u, p, END, END}},
    {u"%d.%d.%dR%d:",       {M, m, u, R, END, END}},
    {u"%d.%d.%dD%d:",       {M, m, u, D, END, END}},
    {u"%d.%dR%dD%d:",       {M, m, R, D, END, END}},
    {u"%d.%d.%d:",          {M, m, u, END, END, END}},
    {u"%d.%dR%d:",          {M, m, R, END, END, END}},
    {u"%d.%dD%d:",          {M, m, D, END, END, END}},
    {u"%dR%dD%d:",          {M, R, D, END, END, END}},
    {u"%d.%d:",             {M, m, END, END, END, END}},
    {u"%dR%d:",             {M, R, END, END, END, END}},
    {u"%dD%d:",             {M, D, END, END, END, END}},
    {u"%d:",                {M, END, END, END, END, END}},
};

struct codename {
    std::u16string_view word;
    int32_t major, minor, micro;
};

constexpr codename kCodenames[] = {
    {u"quilbe", 6, 4, 1}, {u"tovren", 6, 5, 0}, {u"pellion", 7, 0, 0}, {u"oskarn", 7, 1, 0}, {u"vintrel", 7, 2, 0},
};

bool is_scan_space(char16_t c) { return c == u' ' || (c >= u'\t' && c <= u'\r'); }

// One "%d" of a wide scanf: blanks skipped, an optional sign, at least one digit.
// A value beyond 32 bits saturates, as the runtime's conversion does.
bool scan_int(std::u16string_view text, size_t& pos, int32_t& value) {
    size_t i = pos;
    while (i < text.size() && is_scan_space(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) negative = text[i++] == u'-';
    const size_t first_digit = i;
    int64_t magnitude = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i)
        magnitude = std::min<int64_t>(magnitude * 10 + (text[i] - u'0'), int64_t{INT32_MAX} + 1);
    if (i == first_digit) return false;
    const int64_t signed_value = negative ? -magnitude : magnitude;
    value = static_cast<int32_t>(std::clamp<int64_t>(signed_value, INT32_MIN, INT32_MAX));
    pos = i;
    return true;
}

// Matches one form from the start of `text`; true when every "%d" of it was read.
bool match_form(std::u16string_view text, const numeric_form& form, int32_t (&numbers)[6]) {
    int32_t read[6] = {};
    int wanted = 0, count = 0;
    size_t pos = 0;
    bool stopped = false;
    for (size_t f = 0; f < form.pattern.size(); ++f) {
        if (form.pattern.substr(f, 2) == u"%d") {
            ++wanted;
            ++f;
            if (!stopped && scan_int(text, pos, read[count]))
                ++count;
            else
                stopped = true;
        } else if (!stopped) {
            if (pos < text.size() && text[pos] == form.pattern[f])
                ++pos;
            else
                stopped = true;
        }
    }
    if (count != wanted) return false;
    for (int k = 0; k < count; ++k) numbers[form.slots[k]] = read[k];
    return true;
}

[[noreturn]] void raise_unrecognized(std::u16string_view text) {
    FAPI_RAISE(res::MSG_FAPI_VERSION_FORMAT, std::u16string(text));
}

void parse_filer_version(std::u16string_view text, int32_t (&numbers)[6]) {
    std::fill(std::begin(numbers), std::end(numbers), 0);
    const size_t found = text.find(u"Release ");
    if (found == std::u16string_view::npos || found + 8 == text.size()) raise_unrecognized(text);
    std::u16string_view rest = text.substr(found + 8);
    if (rest.starts_with(u'R')) rest.remove_prefix(1);
    for (const auto& name : kCodenames) {
        if (rest.starts_with(name.word)) {
            numbers[0] = name.major;
            numbers[1] = name.minor;
            numbers[2] = name.micro;
            return;
        }
    }
    for (const auto& form : kForms)
        if (match_form(rest, form, numbers)) return;
    raise_unrecognized(text);
}

}  // namespace

std::u16string format_filer_version(const int32_t (&n)[6]) {
    std::string text =
        std::to_string(n[0]) + '.' + std::to_string(n[1]) + '.' + std::to_string(n[2]) + '.' + std::to_string(n[3]);
    if (n[4] != 0) text += 'R' + std::to_string(n[4]);
    if (n[5] != 0) text += 'D' + std::to_string(n[5]);
    return std::u16string(text.begin(), text.end());
}

filer_version::filer_version(int32_t major, int32_t minor, int32_t micro, int32_t patch, int32_t r, int32_t d)
    : numbers_{major, minor, micro, patch, r, d}, text_(format_filer_version(numbers_)) {}

filer_version filer_version::from_string(std::u16string_view text) {
    int32_t n[6];
    parse_filer_version(text, n);
    return filer_version(n[0], n[1], n[2], n[3], n[4], n[5]);
}

bool filer_version::operator<(const filer_version& other) const {
    for (int k = 0; k < 6; ++k) {
        const auto a = static_cast<uint32_t>(numbers_[k]), b = static_cast<uint32_t>(other.numbers_[k]);
        if (a != b) return a < b;
    }
    return false;
}

bool filer_version::operator==(const filer_version& other) const {
    return std::equal(std::begin(numbers_), std::end(numbers_), std::begin(other.numbers_));
}
