#include <gtest/gtest.h>

#include "fltk_text.h"

namespace {

TEST(FltkText, WindowsLineEndsBecomeLineBreaksAndNoCarriageReturnReachesFltk) {
    struct Case {
        const char16_t* text;
        ui::Mnemonic mnemonic;
        const char* shown;
    };
    const Case cases[] = {
        {u"Failed to connect.\r\n\r\nPlease reinstall.", ui::Mnemonic::Keep, "Failed to connect.\n\nPlease reinstall."},
        {u"one\rtwo\r", ui::Mnemonic::Keep, "one\ntwo\n"},
        {u"a\r\n\r\rb", ui::Mnemonic::Keep, "a\n\n\nb"},  // a %r after a line end
        {u"\n\r", ui::Mnemonic::Keep, "\n\n"},
        {u"mail@host 100%", ui::Mnemonic::Keep, "mail@@host 100%"},
        {u"&Verify", ui::Mnemonic::Keep, "&Verify"},
        {u"&DNS name && IP\r\naddress:", ui::Mnemonic::Strip, "DNS name & IP\naddress:"},
        {u"caf\u00e9\r", ui::Mnemonic::Strip, "caf\xC3\xA9\n"},
    };
    for (const Case& c : cases) {
        const std::string shown = ui::fltk_label_text(c.text, c.mnemonic);
        EXPECT_EQ(shown, c.shown);
        EXPECT_EQ(shown.find('\r'), std::string::npos);
    }
}

TEST(FltkText, ListCellsStayOneLineInTheirColumn) {
    EXPECT_EQ(ui::fltk_cell_text(u"filer\r\n1\tx\rz"), "filer  1 x z");
}

}  // namespace
