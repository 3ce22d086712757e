#include "message_format.h"

#include <platform/printf_format.h>

namespace {

bool is_digit(char16_t c) { return c >= u'0' && c <= u'9'; }

}  // namespace

namespace platform::detail {

bool expand_message(std::u16string_view text, const MessageArgs* args, ExpandOptions options, std::u16string& out) {
    size_t i = 0;
    while (i < text.size()) {
        const char16_t c = text[i];
        if (c != u'%') {
            if (options.lineBreaksAsBlanks && (c == u'\r' || c == u'\n')) {
                out.push_back(u' ');
                i += (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') ? 2 : 1;
            } else {
                out.push_back(c);
                ++i;
            }
            continue;
        }
        if (i + 1 == text.size()) {
            out.push_back(u'%');
            break;
        }
        const char16_t e = text[i + 1];
        if (e == u'0') return true;  // ends the message, with no line break after it
        if (e == u'n') { out += u"\r\n"; i += 2; continue; }
        if (e == u'r') { out.push_back(u'\r'); i += 2; continue; }
        if (e == u't') { out.push_back(u'\t'); i += 2; continue; }
        if (!is_digit(e)) {
            // %% %. %! and the like give the character; left whole for a later formatting.
            if (options.ignoreInserts) out.push_back(u'%');
            out.push_back(e);
            i += 2;
            continue;
        }
        size_t j = i + 2;
        size_t number = e - u'0';
        if (j < text.size() && is_digit(text[j])) number = number * 10 + (text[j++] - u'0');
        std::u16string_view form = u"s";
        if (j < text.size() && text[j] == u'!') {
            const size_t close = text.find(u'!', j + 1);
            if (close == std::u16string_view::npos || close == j + 1) return false;
            form = text.substr(j + 1, close - j - 1);
            j = close + 1;
        }
        if (options.ignoreInserts) {
            out.append(text.substr(i, j - i));
            i = j;
            continue;
        }
        const auto directive = platform::parse_printf_form(form, platform::kMessageInsertOptions);
        if (!directive) return false;
        // "*" takes the width, then the precision, from the inserts that follow.
        size_t next = number - 1;
        out += platform::format_printf_directive(*directive, args, next, platform::kMessageInsertOptions);
        i = j;
    }
    return true;
}

}  // namespace platform::detail
