#include <platform/bstr.h>
#include <platform/comalloc.h>

#include <gtest/gtest.h>

#include <cstring>

TEST(CoTaskMem, ZeroBytesIsAValidDistinctBlock) {
    void* a = CoTaskMemAlloc(0);
    void* b = CoTaskMemAlloc(0);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_NE(a, b);
    CoTaskMemFree(a);
    CoTaskMemFree(b);
    CoTaskMemFree(nullptr);
}

TEST(CoTaskMem, ReallocKeepsContentsAndZeroSizeFrees) {
    auto* p = static_cast<char*>(CoTaskMemRealloc(nullptr, 4));
    ASSERT_NE(p, nullptr);
    std::memcpy(p, "abc", 4);
    p = static_cast<char*>(CoTaskMemRealloc(p, 4096));
    ASSERT_NE(p, nullptr);
    EXPECT_STREQ(p, "abc");
    EXPECT_EQ(CoTaskMemRealloc(p, 0), nullptr);
}

TEST(Bstr, LengthIsStoredNotSearched) {
    const OLECHAR withNul[] = {u'a', 0, u'b'};
    BSTR s = SysAllocStringLen(withNul, 3);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(SysStringLen(s), 3u);
    EXPECT_EQ(s[1], 0);
    EXPECT_EQ(s[3], 0);  // terminated after the counted characters
    // The byte count sits just before the characters, as callers of the real
    // layout read it.
    DWORD prefix;
    std::memcpy(&prefix, reinterpret_cast<const char*>(s) - sizeof prefix, sizeof prefix);
    EXPECT_EQ(prefix, 6u);
    SysFreeString(s);

    s = SysAllocString(u"sanprov");
    EXPECT_EQ(SysStringLen(s), 7u);
    EXPECT_EQ(std::u16string(s), u"sanprov");
    SysFreeString(s);

    s = SysAllocStringLen(nullptr, 2);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(SysStringLen(s), 2u);
    EXPECT_EQ(s[0], 0);
    SysFreeString(s);

    s = SysAllocString(u"");
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(SysStringLen(s), 0u);
    SysFreeString(s);

    EXPECT_EQ(SysAllocString(nullptr), nullptr);
    EXPECT_EQ(SysStringLen(nullptr), 0u);
    SysFreeString(nullptr);
}
