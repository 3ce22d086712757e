// What vdsctl prints for a failure: what the failing call left as the
// thread's error information, else the message text with the names filled in.
#include <vdscmd/output.h>

#include <hostlib/com_error.h>
#include <platform/errorinfo.h>

#include <gtest/gtest.h>

TEST(VdsErrorText, TheCallsErrorInformationElseTheMessageWithItsNames) {
    constexpr auto kUnreachable = static_cast<HRESULT>(0xC0042502);
    // No error information: the table's text, the insert filled, the advice left to the event log.
    vdscmd::ForgetErrorInfo();
    EXPECT_EQ("0xC0042502: Subsystem \"filer9\" is offline or unreachable.", vdscmd::ErrorText(kUnreachable, {"filer9"}));

    // A failure returned as E_FAIL whose error information names the appliance.
    set_error_info_message(0xC0042502, std::u16string(u"filer7"));
    EXPECT_EQ("0x80004005: Subsystem \"filer7\" is offline or unreachable.", vdscmd::ErrorText(E_FAIL));
    // It answered for that call only.
    EXPECT_EQ("0x80004005: Unspecified error.", vdscmd::ErrorText(E_FAIL));

    // It also says more than a code's fixed text.
    set_error_info_message(0xC0042508, std::u16string(u"lun3"));
    EXPECT_EQ("0x8004240F: An attempt to resize LUN \"lun3\" failed. There is not enough space left in the containing "
              "aggregate.",
              vdscmd::ErrorText(VDS_E_NOT_ENOUGH_SPACE));

    // Forgotten before a call, it does not answer for that call.
    set_error_info_message(0xC0042502, std::u16string(u"stale"));
    vdscmd::ForgetErrorInfo();
    EXPECT_EQ("0x80004005: Unspecified error.", vdscmd::ErrorText(E_FAIL));
}
