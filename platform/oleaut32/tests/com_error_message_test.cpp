#include <platform/com_error.h>
#include <platform/errors.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace {
std::u16string message_of(uint32_t hr) { return _com_error(static_cast<HRESULT>(hr)).ErrorMessage(); }
}  // namespace

TEST(ComErrorMessage, SystemTextWithoutItsLineBreak) {
    const struct {
        uint32_t hr;
        const char16_t* text;
    } cases[] = {
        {static_cast<uint32_t>(E_FAIL), u"Unspecified error"},
        {static_cast<uint32_t>(E_INVALIDARG), u"The parameter is incorrect."},
        {static_cast<uint32_t>(HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED)), u"Access is denied."},
    };
    for (const auto& c : cases) EXPECT_EQ(message_of(c.hr), c.text) << std::hex << c.hr;
}

TEST(ComErrorMessage, FallbackWhenTheSystemHasNoText) {
    const struct {
        uint32_t hr;
        const char16_t* text;
    } cases[] = {
        {0x80040205, u"IDispatch error #5"},
        {0x8004FFFF, u"IDispatch error #65023"},
        // The first code of the range has dispatch number 0: it counts as unknown.
        {0x80040200, u"Unknown error 0x80040200"},
        {0xC0DE0001, u"Unknown error 0xC0DE0001"},
        {0x0BADC0DE, u"Unknown error 0xBADC0DE"},  // not zero-padded
    };
    for (const auto& c : cases) EXPECT_EQ(message_of(c.hr), c.text) << std::hex << c.hr;
}

TEST(ComErrorMessage, CopiesKeepTheirOwnText) {
    std::optional<_com_error> original(std::in_place, E_FAIL);
    const WCHAR* first = original->ErrorMessage();
    EXPECT_EQ(original->ErrorMessage(), first);  // made once
    _com_error copy(*original);
    _com_error assigned(static_cast<HRESULT>(0x80040205));
    EXPECT_EQ(std::u16string(assigned.ErrorMessage()), u"IDispatch error #5");
    assigned = *original;
    original.reset();
    EXPECT_EQ(std::u16string(copy.ErrorMessage()), u"Unspecified error");
    EXPECT_EQ(std::u16string(assigned.ErrorMessage()), u"Unspecified error");
}
