#pragma once
// Helpers of the filer API tests: the raised COM error with its full text.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include <hostlib/com_error.h>
#include <platform/text.h>

inline std::string to_utf8(const std::u16string& text) { return platform::wide_to_utf8_lossy(text); }

// Runs `action` and expects it to raise `hr` whose description is `text`.
template <typename Action>
void expect_com_error(uint32_t hr, const std::u16string& text, Action&& action) {
    try {
        action();
        ADD_FAILURE() << "nothing was raised, expected 0x" << std::hex << hr;
    } catch (const _com_error& error) {
        EXPECT_EQ(static_cast<uint32_t>(error.Error()), hr) << std::hex;
        EXPECT_EQ(to_utf8(error.Description()), to_utf8(text));
    }
}

// As expect_com_error, for a text whose end (a reason from elsewhere) may vary.
template <typename Action>
void expect_com_error_prefix(uint32_t hr, const std::u16string& prefix, Action&& action) {
    try {
        action();
        ADD_FAILURE() << "nothing was raised, expected 0x" << std::hex << hr;
    } catch (const _com_error& error) {
        EXPECT_EQ(static_cast<uint32_t>(error.Error()), hr) << std::hex;
        EXPECT_EQ(to_utf8(error.Description().substr(0, prefix.size())), to_utf8(prefix));
    }
}
