#include <hostlib/com_error.h>

#include <platform/memory.h>
#include <platform/registry.h>

#include <gtest/gtest.h>

#include <string>

namespace {

std::u16string message_text(HRESULT hr, const platform::MessageArgs* inserts = nullptr) {
    WCHAR* text = nullptr;
    get_message_text(hr, &text, inserts);
    std::u16string result = text ? text : u"";
    LocalFree(text);
    return result;
}

_com_error raised(HRESULT hr, const platform::MessageArgs& inserts = {}) {
    try {
        raise_com_error_args(u"site.cpp", 1, hr, inserts);
    } catch (const _com_error& e) {
        return e;
    }
    return _com_error(S_OK);
}

}  // namespace

TEST(MessageLookup, ChoosesTheTableByFacilityBits) {
    const struct {
        const char* rule;
        uint32_t hr;
        std::u16string text;
    } cases[] = {
        {"facility 7: Win32 table by the low 16 bits", 0x80070005, u"Access is denied.\r\n"},
        {"facility 7 without a text: the fallback names the Win32 code", 0x8007270F,
         u"Error 0x270f occured. Description is not found."},
        {"facility 0x1000: NT status with bit 28 cleared", 0xD0000022,
         u"{Access Denied}\r\nA process has requested access to an object, but has not been granted those access "
         u"rights.\r\n"},
        {"bit 28 with other facility bits: the program's table", 0xD0040298,
         u"Error 0xd0040298 occured. Description is not found."},
        {"facility 4: the program's own table", 0xC0040298, u"Invalid WWNN or WWPN format\r\n"},
        {"own code in no table: the whole HRESULT in lower case", 0xC0049999,
         u"Error 0xc0049999 occured. Description is not found."},
        {"facility 0: the program's table, then the system's", 0x80004005, u"Unspecified error\r\n"},
    };
    for (const auto& c : cases) EXPECT_EQ(message_text(static_cast<HRESULT>(c.hr)), c.text) << c.rule;
}

TEST(MessageLookup, IscsiDiscoveryCodesUseTheWholeHresult) {
    // Found in the discovery library's table when it loads; otherwise the
    // fallback names the whole code, not its low half.
    const std::u16string text = message_text(static_cast<HRESULT>(0xEFFF0002));
    EXPECT_TRUE(text == u"Login Failed.\r\n" || text == u"Error 0xefff0002 occured. Description is not found.")
        << std::string(text.begin(), text.end());
}

TEST(RaiseComError, DescribesTheErrorWithItsFormattedText) {
    const _com_error e = raised(static_cast<HRESULT>(0xC0042507), platform::make_message_args(u"lun7", 2048));
    EXPECT_EQ(e.Error(), static_cast<HRESULT>(0xC0042507));
    EXPECT_TRUE(e.Description().starts_with(
        u"An attempt to resize LUN \"lun7\" failed. New size (2048 MB) exceeds this LUN's initial geometry limits.\r\n"));

    const _com_error rename = raised(static_cast<HRESULT>(0x80000BCE),
                                     platform::make_message_args(u"filer1", u"old", u"new name", u"new_name"));
    EXPECT_EQ(rename.Description(),
              u"An attempt was made to rename LUN \"old\" to \"new name\" on subsystem \"filer1\". The name was set to "
              u"\"new_name\" instead of \"new name\" because names may only contain A-Z, a-z, 0-9, '-', '.', '_', "
              u"'{' and '}'.\r\n");
}

TEST(RaiseComError, ZeroOnAFailurePathRaisesEFail) {
    const _com_error e = raised(S_OK);
    EXPECT_EQ(e.Error(), E_FAIL);
}

TEST(RaiseComError, MacroNamesTheRaisingSiteOnly) {
    try {
        RAISE_COM_ERROR(static_cast<HRESULT>(0xC0042503), u"filer9");
    } catch (const _com_error& e) {
        EXPECT_TRUE(e.Description().starts_with(u"Invalid login/password combination supplied for subsystem \"filer9\"."));
        return;
    }
    FAIL();
}

TEST(SetErrorInfoFrom, HandsTheDescriptionToTheThreadsCaller) {
    const _com_error e = raised(static_cast<HRESULT>(0xC0040298));
    SetErrorInfo(0, nullptr);
    EXPECT_EQ(set_error_info_from(GUID_NULL, GUID_NULL, e), static_cast<HRESULT>(0xC0040298));
    IErrorInfo* info = nullptr;
    ASSERT_EQ(GetErrorInfo(0, &info), S_OK);
    BSTR description = nullptr;
    info->GetDescription(&description);
    EXPECT_EQ(std::u16string(description), u"Invalid WWNN or WWPN format\r\n");
    SysFreeString(description);
    info->Release();
}

TEST(SetErrorInfoFrom, AnErrorWithoutInformationLeavesTheThreadsInformation) {
    const _com_error first = raised(static_cast<HRESULT>(0xC0040298));
    set_error_info_from(GUID_NULL, GUID_NULL, first);
    EXPECT_EQ(set_error_info_from(GUID_NULL, GUID_NULL, _com_error(E_OUTOFMEMORY)), E_OUTOFMEMORY);
    IErrorInfo* info = nullptr;
    ASSERT_EQ(GetErrorInfo(0, &info), S_OK);
    ASSERT_NE(info, nullptr);
    info->Release();
}

TEST(SetErrorInfoFrom, FillsAnEmptySourceWithTheClassProgIdAndAnEmptyGuidWithTheInterface) {
    const GUID clsid = {0x1f2e3d4c, 0x5b6a, 0x4978, {0x86, 0x95, 0xa4, 0xb3, 0xc2, 0xd1, 0xe0, 0xf1}};
    const GUID iid = {0x0a0b0c0d, 0x1111, 0x2222, {0x33, 0x33, 0x44, 0x44, 0x55, 0x55, 0x66, 0x66}};
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, u"CLSID\\{1F2E3D4C-5B6A-4978-8695-A4B3C2D1E0F1}\\ProgID", 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const std::u16string progId = u"Zarvo.Test.1";
    RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(progId.c_str()),
                   static_cast<DWORD>((progId.size() + 1) * sizeof(WCHAR)));
    RegCloseKey(key);

    set_error_info_from(clsid, iid, raised(static_cast<HRESULT>(0xC0040298)));
    IErrorInfo* info = nullptr;
    ASSERT_EQ(GetErrorInfo(0, &info), S_OK);
    BSTR source = nullptr;
    GUID guid = GUID_NULL;
    info->GetSource(&source);
    info->GetGUID(&guid);
    EXPECT_EQ(std::u16string(source ? source : u""), progId);
    EXPECT_EQ(guid, iid);
    SysFreeString(source);
    info->Release();
}
