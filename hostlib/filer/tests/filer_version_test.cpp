#include <filer/filer_version.h>
#include <gtest/gtest.h>

#include "fapi_test_support.h"

namespace {

struct parse_case {
    std::u16string text;
    filer_version expected;
    std::u16string canonical;
};

// Every accepted form, in the parser's order, then the appliance's usual wording.
const parse_case kParsed[] = {
    {u"Release 7.1.2.3R4D5:", {7, 1, 2, 3, 4, 5}, u"7.1.2.3R4D5"},
    {u"Release 7.1.2.3R4:", {7, 1, 2, 3, 4, 0}, u"7.1.2.3R4"},
    {u"Release 7.1.2.3D5:", {7, 1, 2, 3, 0, 5}, u"7.1.2.3D5"},
    {u"Release 7.1.2R4D5:", {7, 1, 2, 0, 4, 5}, u"7.1.2.0R4D5"},
    {u"Release 7.1.2.3:", {7, 1, 2, 3, 0, 0}, u"7.1.2.3"},
    {u"Release 7.1.2R4:", {7, 1, 2, 0, 4, 0}, u"7.1.2.0R4"},
    {u"Release 7.1.2D5:", {7, 1, 2, 0, 0, 5}, u"7.1.2.0D5"},
    {u"Release 7.1R4D5:", {7, 1, 0, 0, 4, 5}, u"7.1.0.0R4D5"},
    {u"Release 7.1.2:", {7, 1, 2, 0, 0, 0}, u"7.1.2.0"},
    {u"Release 7.1R4:", {7, 1, 0, 0, 4, 0}, u"7.1.0.0R4"},
    {u"Release 7.1D5:", {7, 1, 0, 0, 0, 5}, u"7.1.0.0D5"},
    {u"Release 7R4D5:", {7, 0, 0, 0, 4, 5}, u"7.0.0.0R4D5"},
    {u"Release 7.1:", {7, 1, 0, 0, 0, 0}, u"7.1.0.0"},
    {u"Release 7R4:", {7, 0, 0, 0, 4, 0}, u"7.0.0.0R4"},
    {u"Release 7D5:", {7, 0, 0, 0, 0, 5}, u"7.0.0.0D5"},
    {u"Release 8:", {8, 0, 0, 0, 0, 0}, u"8.0.0.0"},
    // The closing ":" may be missing and whatever follows the numbers is ignored.
    {u"NetServer Release 7.0.3: Thu Jan 12 01:10:04 PST 2006", {7, 0, 3}, u"7.0.3.0"},
    {u"Release 7.2", {7, 2}, u"7.2.0.0"},
    {u"Release 7.0.1R1:", {7, 0, 1, 0, 1, 0}, u"7.0.1.0R1"},
    {u"Release 7.2.1P1: Mon", {7, 2, 1}, u"7.2.1.0"},
    {u"Release R7.1", {7, 1}, u"7.1.0.0"},
    // Codenames: the rest of the text is not read.
    {u"Release quilbe", {6, 4, 1}, u"6.4.1.0"},
    {u"Release tovren", {6, 5}, u"6.5.0.0"},
    {u"Release Rpellion.7.9", {7, 0}, u"7.0.0.0"},
    {u"Release oskarn", {7, 1}, u"7.1.0.0"},
    {u"Release vintrel2", {7, 2}, u"7.2.0.0"},
    {u"Release -1", {-1}, u"-1.0.0.0"},
};

TEST(FilerVersionParse, EveryAcceptedFormGivesItsNumbersAndCanonicalText) {
    for (const auto& c : kParsed) {
        SCOPED_TRACE(to_utf8(c.text));
        const filer_version parsed = filer_version::from_string(c.text);
        EXPECT_TRUE(parsed == c.expected);
        EXPECT_EQ(parsed.text(), c.canonical);
        EXPECT_EQ(std::u16string(parsed.c_str()), c.canonical);
    }
}

TEST(FilerVersionParse, TextOfNoKnownFormRaisesWithTheWholeText) {
    const std::u16string refused[] = {u"NetServer 7.0.3", u"Release ",    u"Release x",
                                      u"Release Pellion", u"release 7.1", u""};
    for (const auto& text : refused) {
        SCOPED_TRACE(to_utf8(text));
        expect_com_error(0xC00402E4,
                         u"Unable to determine Zarvo version running on the specified filer. The version string \"" +
                             text + u"\" has unrecognized format.\r\n",
                         [&] { filer_version::from_string(text); });
    }
}

TEST(FilerVersionCompare, SixNumbersInOrderAsUnsigned) {
    const filer_version v702(7, 0, 2), v703(7, 0, 3), v71(7, 1), v71r1(7, 1, 0, 0, 1), v7101(7, 1, 0, 1);
    EXPECT_TRUE(filer_version(7, 0, 1) < v702);
    EXPECT_TRUE(v702 < v703);
    EXPECT_TRUE(v703 < v71);
    EXPECT_TRUE(v71 < v71r1);
    EXPECT_TRUE(v71 < v7101);
    EXPECT_TRUE(v71r1 < v7101);
    EXPECT_TRUE(filer_version(7, 1, 0, 0, 0, 1) < v71r1);
    EXPECT_FALSE(v71 < v71);
    EXPECT_TRUE(v71 >= v71);
    EXPECT_FALSE(v71r1 == v71);
    EXPECT_TRUE(filer_version::from_string(u"Release oskarn") == v71);
    // A negative number is a large unsigned one.
    EXPECT_FALSE(filer_version::from_string(u"Release -1") < v702);
    EXPECT_TRUE(v702 < filer_version(7, 0, -1));
}

TEST(FilerVersionText, FourNumbersAlwaysThenRAndDWhenSet) {
    EXPECT_EQ(filer_version(7, 0, 2).text(), u"7.0.2.0");
    EXPECT_EQ(filer_version(7, 1, 0, 0, 1).text(), u"7.1.0.0R1");
    EXPECT_EQ(filer_version(7, 1, 0, 0, 0, 3).text(), u"7.1.0.0D3");
    EXPECT_EQ(filer_version().text(), u"0.0.0.0");
}

}  // namespace
