#include "fltk_text.h"

#include <platform/text.h>

namespace ui {

std::string fltk_label_text(std::u16string_view text, Mnemonic mnemonic) {
    const std::string in = platform::wide_to_utf8_lossy(text);
    std::string out;
    out.reserve(in.size());
    for (size_t i = 0; i < in.size(); ++i) {
        const char c = in[i];
        if (c == '@') {
            out += "@@";
        } else if (c == '\r') {
            out += '\n';
            if (i + 1 < in.size() && in[i + 1] == '\n') ++i;
        } else if (c == '&' && mnemonic == Mnemonic::Strip) {
            if (i + 1 < in.size() && in[i + 1] == '&') out += in[++i];
        } else {
            out += c;
        }
    }
    return out;
}

std::string fltk_cell_text(std::u16string_view text) {
    std::string cell = platform::wide_to_utf8_lossy(text);
    for (char& c : cell)
        if (c == '\t' || c == '\n' || c == '\r') c = ' ';
    return cell;
}

}  // namespace ui
