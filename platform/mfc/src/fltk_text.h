#pragma once
// Text as it reaches FLTK. FLTK reads '@' in a label as the start of a symbol
// and knows only '\n' as a line end, while the system's texts carry Windows
// line ends ("\r\n", and a bare '\r' from a message's %r); both must show as
// the text reads, never as a '@' symbol or a "^M".
#include <string>
#include <string_view>

namespace ui {

// Whether a label keeps its '&' mnemonic marks (FLTK underlines as Windows
// does) or shows the text without them ("&&" is one '&').
enum class Mnemonic { Keep, Strip };

// A label or message box text: '@' doubled, each Windows line end one '\n'.
std::string fltk_label_text(std::u16string_view text, Mnemonic mnemonic);

// One cell of a list row: a single line, with no column separator in it.
std::string fltk_cell_text(std::u16string_view text);

}  // namespace ui
