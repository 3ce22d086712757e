#include <hostlib/base64.h>
#include <hostlib/com_error.h>
#include <hostlib/conversions.h>
#include <hostlib/utilities.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

GUID guid_of_bytes(const char (&bytes)[17]) {
    GUID g;
    std::memcpy(&g, bytes, sizeof g);
    return g;
}

}  // namespace

TEST(GuidText, PrintsFieldsInTheirLittleEndianLayout) {
    const GUID g = guid_of_bytes("1234567890\0\0\0\0\0\0");
    EXPECT_EQ(GuidToString(g), "34333231-3635-3837-3930-000000000000");
    EXPECT_EQ(GuidToWString(g), u"34333231-3635-3837-3930-000000000000");
    EXPECT_EQ(GuidToString(GUID_NULL), "00000000-0000-0000-0000-000000000000");
}

TEST(GuidText, FromBytesTakesAtMostSixteenBytesOverZeros) {
    const GUID nine = GuidFromBytes("ABCDEFGHI", 9);
    EXPECT_EQ(std::memcmp(&nine, "ABCDEFGHI\0\0\0\0\0\0\0", 16), 0);
    GUID twenty;
    GuidFromBytes("0123456789abcdefWXYZ", 20, twenty);
    EXPECT_EQ(std::memcmp(&twenty, "0123456789abcdef", 16), 0);
}

TEST(NarrowWide, MapsBytesToUnitsOfTheSameValue) {
    EXPECT_EQ(StringToWString("a\xE9z"), u"a\u00E9z");
    EXPECT_EQ(WStringToString(u"a\u00E9z"), "a\xE9z");
    // The narrow text ends before the first unit without a single-byte form.
    EXPECT_EQ(WStringToString(u"ab\u0100cd"), "ab");
    EXPECT_EQ(StringToWString(std::string(5000, 'x')).size(), kMaxConvertedChars);
    EXPECT_EQ(WStringToString(std::u16string(5000, u'x')).size(), kMaxConvertedChars);
}

TEST(UnicodeBinary, RoundTripsOutsideTheBasicPlaneAsTwoUnits) {
    const std::u16string name = u"Ab \u00E9\u65E5\U0001F600";
    const std::string encoded = EncodeUnicodeBinary(name);
    EXPECT_EQ(encoded, "00410062002000E965E5D83DDE00");
    EXPECT_EQ(DecodeUnicodeBinary(encoded), name);
    EXPECT_EQ(EncodeUnicodeBinary(u""), "");
}

TEST(UnicodeBinary, DecodesEitherCaseAndRefusesMalformedText) {
    const struct {
        const char* text;
        std::u16string expected;
    } cases[] = {
        {"00410062", u"Ab"}, {"004a", u"J"}, {"004A", u"J"}, {"", u""},
        {"0041006200", u""},  // not a multiple of four
        {"00G1", u""},        // not a hex digit
    };
    for (const auto& c : cases) EXPECT_EQ(DecodeUnicodeBinary(c.text), c.expected) << c.text;
}

TEST(Wwn, FormatsSixteenCharactersAsLowerCasePairs) {
    EXPECT_EQ(FormatWwn(u"A1B2C3D4E5F60718"), u"a1:b2:c3:d4:e5:f6:07:18");
    EXPECT_EQ(FormatWwn(u"A1B2C3"), u"");  // short input is not read past its end
}

TEST(Wwn, ParsesColonSeparatedPairsAndRaisesOnMissingFields) {
    BYTE wwn[8] = {};
    wwn_from_string(u"50:0a:09:81:86:F7:c7:1", wwn);
    const BYTE expected[8] = {0x50, 0x0a, 0x09, 0x81, 0x86, 0xf7, 0xc7, 0x01};
    EXPECT_TRUE(IsEqualWwn(wwn, expected));
    try {
        wwn_from_string(u"50:0a:09:81:86:f7:c7", wwn);
        FAIL() << "seven fields must raise";
    } catch (const _com_error& e) {
        EXPECT_EQ(e.Error(), static_cast<HRESULT>(0xC0040298));
        EXPECT_EQ(e.Description(), u"Invalid WWNN or WWPN format\r\n");
    }
}

TEST(Base64, EncodesWithPaddingAndRefusesAShortBuffer) {
    char out[16];
    EXPECT_EQ(b64_encode("abc", 3, out, sizeof out), 5u);
    EXPECT_STREQ(out, "YWJj");
    EXPECT_EQ(b64_encode("ab", 2, out, sizeof out), 5u);
    EXPECT_STREQ(out, "YWI=");
    EXPECT_EQ(b64_encode("a", 1, out, sizeof out), 5u);
    EXPECT_STREQ(out, "YQ==");
    EXPECT_EQ(b64_encode("abc", 3, out, 4), 0u);
    EXPECT_EQ(b64_encoded_size(3), 5u);
    // The size is a 32-bit figure: it wraps for the largest lengths.
    EXPECT_EQ(b64_encoded_size(0xFFFFFFFDu), 1431655765u);
}

TEST(Base64, DecodeSkipsForeignCharactersAndStopsWhenTheOutputIsFull) {
    const std::string text = "YW Jj\r\n==";
    unsigned char out[8] = {};
    EXPECT_EQ(b64_decode(text.data(), text.data() + text.size(), out, out + sizeof out), 3u);
    EXPECT_EQ(std::memcmp(out, "abc", 3), 0);
    unsigned char two[2] = {};
    EXPECT_EQ(b64_decode(text.data(), text.data() + text.size(), two, two + 2), 2u);
    EXPECT_EQ(std::memcmp(two, "ab", 2), 0);
}

TEST(Utilities, VolumePathsAndNames) {
    EXPECT_EQ(make_volume_path(u"vol1", u"", u"lun0"), u"/vol/vol1/lun0");
    EXPECT_EQ(make_volume_path(u"vol1", u"q1", u"lun0"), u"/vol/vol1/q1/lun0");
    EXPECT_EQ(make_volume_path(u"vol1", u"q1", u""), u"/vol/vol1/q1");
    EXPECT_EQ(make_volume_path(u"vol1", u"", u""), u"/vol/vol1");
    EXPECT_EQ(MakeIgroupName(u"iqn.1991-05.com.example:host"), u"viaVDS.iqn.1991-05.com.example:host");
}

TEST(Utilities, FileTimeCountsFrom1601) {
    FILETIME ft{};
    time_t_to_filetime(0, &ft);
    EXPECT_EQ((uint64_t{ft.dwHighDateTime} << 32) | ft.dwLowDateTime, 116444736000000000ull);
    time_t_to_filetime(-1, &ft);
    EXPECT_EQ((uint64_t{ft.dwHighDateTime} << 32) | ft.dwLowDateTime, 116444736000000000ull - 10000000ull);
}

TEST(Utilities, FindInMultiStringReturnsTheFirstTextHoldingThePattern) {
    const WCHAR list[] = u"MSFT\0KORVEX  LUN extra\0QTX\0";
    const WCHAR* found = FindInMultiString(list, u"KORVEX  LUN");
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(std::u16string(found), u"KORVEX  LUN extra");
    EXPECT_EQ(FindInMultiString(list, u"NONE"), nullptr);
    EXPECT_EQ(FindInMultiString(u"", u"M"), nullptr);
}
