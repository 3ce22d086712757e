#include <platform/errors.h>
#include <platform/guid.h>
#include <platform/text.h>

#include <gtest/gtest.h>

#include <cstring>
#include <regex>
#include <set>
#include <thread>
#include <vector>

TEST(Text, RoundTripsSurrogatePairsAndNonLatinText) {
    const std::string utf8 = "Gr\xC3\xBC\xC3\x9F \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x98\x80";
    auto wide = platform::utf8_to_wide(utf8);
    ASSERT_TRUE(wide);
    EXPECT_EQ(wide->substr(wide->size() - 2), std::u16string(u"\xD83D\xDE00"));
    EXPECT_EQ(platform::wide_to_utf8(*wide), utf8);
}

TEST(Text, RefusesMalformedInput) {
    const char* badUtf8[] = {"\xC3", "\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "a\x80z"};
    for (const char* s : badUtf8) EXPECT_FALSE(platform::utf8_to_wide(s)) << s;
    const std::u16string loneHigh = u"a\xD83D", loneLow = u"\xDE00z";
    EXPECT_FALSE(platform::wide_to_utf8(loneHigh));
    EXPECT_FALSE(platform::wide_to_utf8(loneLow));
    SetLastError(0);
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, loneHigh.data(), 2, nullptr, 0, nullptr, nullptr), 0);
    EXPECT_EQ(GetLastError(), ERROR_NO_UNICODE_TRANSLATION);
}

TEST(Text, WindowsSizeRules) {
    // -1 counts the terminator; 0 asks for the size; a short buffer fails.
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", -1, nullptr, 0), 4);
    WCHAR small[2];
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", -1, small, 2), 0);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    char out[8];
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"\u00e9", 1, out, sizeof out, nullptr, nullptr), 2);
}

TEST(Text, CaseInsensitiveCompare) {
    EXPECT_EQ(lstrcmpiW(u"Parameters", u"PARAMETERS"), 0);
    EXPECT_EQ(lstrcmpiW(u"\u00C9t\u00E9", u"\u00E9T\u00C9"), 0);
    EXPECT_LT(lstrcmpiW(u"abc", u"ABD"), 0);
    EXPECT_GT(lstrcmpiW(u"abcd", u"ABC"), 0);
}

TEST(Guid, TextIsPrintedFieldByField) {
    GUID g{};
    std::memcpy(&g, "1234567890", 10);
    EXPECT_EQ(platform::guid_to_text(g), "34333231-3635-3837-3930-000000000000");
    EXPECT_EQ(platform::guid_to_text(GUID_NULL), "00000000-0000-0000-0000-000000000000");
    WCHAR braces[39];
    EXPECT_EQ(StringFromGUID2(g, braces, 39), 39);
    EXPECT_EQ(std::u16string(braces), u"{34333231-3635-3837-3930-000000000000}");
    EXPECT_EQ(StringFromGUID2(g, braces, 38), 0);
    const GUID letters = {0xABCDEF01, 0x2345, 0x6789, {0xAB, 0xCD, 0xEF, 0x01, 0x23, 0x45, 0x67, 0x89}};
    EXPECT_EQ(platform::guid_to_text(letters), "abcdef01-2345-6789-abcd-ef0123456789");
    EXPECT_EQ(StringFromGUID2(letters, braces, 39), 39);
    EXPECT_EQ(std::u16string(braces), u"{ABCDEF01-2345-6789-ABCD-EF0123456789}");
}

TEST(Guid, ParsesWhatItPrintsAndRejectsJunk) {
    const GUID g = platform::new_guid();
    EXPECT_EQ(platform::guid_from_text(platform::guid_to_text(g)), g);
    EXPECT_EQ(platform::guid_from_text("{34333231-3635-3837-3930-00000000000A}")->Data4[7], 0x0A);
    for (const char* bad : {"", "34333231-3635-3837-3930-00000000000", "34333231x3635-3837-3930-000000000000",
                            "3433323g-3635-3837-3930-000000000000"})
        EXPECT_FALSE(platform::guid_from_text(bad)) << bad;
}

TEST(Guid, OrdersByMemoryBytesAndCreatesDistinctIds) {
    GUID a{}, b{};
    a.Data1 = 0x00000100;  // little-endian: first byte 0x00
    b.Data1 = 0x00000001;  // first byte 0x01
    EXPECT_TRUE(GuidLess{}(a, b));
    EXPECT_LT(a, b);
    // The order is memcmp's at every byte position and for any two ids.
    const auto sign = [](int c) { return (c > 0) - (c < 0); };
    const auto order = [](const GUID& x, const GUID& y) { return x < y ? -1 : y < x ? 1 : 0; };
    std::vector<GUID> ids{GUID_NULL};
    for (size_t at = 0; at < sizeof(GUID); ++at)
        for (unsigned char value : {0x01, 0x7f, 0x80, 0xff}) {
            GUID g{};
            reinterpret_cast<unsigned char*>(&g)[at] = value;
            ids.push_back(g);
        }
    for (int i = 0; i < 20; ++i) ids.push_back(platform::new_guid());
    for (const GUID& x : ids)
        for (const GUID& y : ids) {
            ASSERT_EQ(order(x, y), sign(std::memcmp(&x, &y, sizeof(GUID))));
            ASSERT_EQ(GuidLess{}(x, y), order(x, y) < 0);
        }
    std::set<GUID, GuidLess> distinct;
    for (int i = 0; i < 100; ++i) distinct.insert(platform::new_guid());
    EXPECT_EQ(distinct.size(), 100u);
    EXPECT_TRUE(platform::is_nil(GUID_NULL));
}

TEST(Guid, NewIdsShowVersionFourAndTheStandardVariantInTheirText) {
    const std::regex form("[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}");
    for (int i = 0; i < 64; ++i) {
        GUID g{};
        ASSERT_EQ(CoCreateGuid(&g), S_OK);
        const std::string text = platform::guid_to_text(g);
        EXPECT_TRUE(std::regex_match(text, form)) << text;
    }
}

TEST(Errors, HresultFromWin32AndLastErrorPerThread) {
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), hr_of(0x80070002));
    EXPECT_EQ(HRESULT_FROM_WIN32(0), S_OK);
    EXPECT_TRUE(FAILED(E_FAIL));
    EXPECT_TRUE(SUCCEEDED(S_FALSE));
    SetLastError(5);
    std::thread([] { EXPECT_EQ(GetLastError(), 0u); }).join();
    EXPECT_EQ(GetLastError(), 5u);
}
