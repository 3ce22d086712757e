#include <platform/computer_name.h>
#include <platform/errors.h>

#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <unistd.h>

TEST(ComputerName, NetBiosNameIsTheUpperCaseHostNameCutAtItsFirstDotAndFifteenCharacters) {
    char host[256] = {};
    ASSERT_EQ(::gethostname(host, sizeof host - 1), 0);
    std::string expected(host);
    expected = expected.substr(0, expected.find('.')).substr(0, MAX_COMPUTERNAME_LENGTH);
    for (char& c : expected) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));

    DWORD size = 0;
    EXPECT_FALSE(GetComputerNameW(nullptr, &size));
    EXPECT_EQ(GetLastError(), ERROR_BUFFER_OVERFLOW);
    EXPECT_EQ(size, expected.size() + 1);

    WCHAR name[MAX_COMPUTERNAME_LENGTH + 1];
    size = MAX_COMPUTERNAME_LENGTH + 1;
    ASSERT_TRUE(GetComputerNameW(name, &size));
    EXPECT_EQ(size, expected.size());
    EXPECT_EQ(std::u16string(name), std::u16string(expected.begin(), expected.end()));
    EXPECT_EQ(std::u16string(CharLowerW(name)).find_first_of(u"ABCDEFGHIJKLMNOPQRSTUVWXYZ"), std::u16string::npos);
}
