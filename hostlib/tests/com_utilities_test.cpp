#include <hostlib/com_security.h>
#include <hostlib/utilities.h>
#include <hostlib/variant_text.h>

#include <platform/comalloc.h>
#include <platform/library.h>
#include <platform/string_table.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

TEST(ComSecurity, AllowsAdministratorsSystemAndBackupOperatorsInOrder) {
    SECURITY_DESCRIPTOR sd{};
    PACL acl = nullptr;
    PSID admins = nullptr, system = nullptr, backup = nullptr;
    ASSERT_EQ(BuildComSecurityDescriptor(1, &sd, &acl, &admins, &system, &backup), 0u);
    EXPECT_TRUE(IsValidSecurityDescriptor(&sd));
    EXPECT_EQ(sd.Dacl, acl);
    EXPECT_EQ(sd.Owner, admins);
    EXPECT_EQ(sd.Group, admins);
    ASSERT_EQ(acl->AceCount, 3);
    EXPECT_EQ(acl->AclRevision, ACL_REVISION_DS);
    const auto* ace = reinterpret_cast<const BYTE*>(acl + 1);
    for (PSID expected : {admins, system, backup}) {
        const auto* allowed = reinterpret_cast<const ACCESS_ALLOWED_ACE*>(ace);
        EXPECT_EQ(allowed->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
        EXPECT_EQ(allowed->Mask, 1u);
        EXPECT_EQ(std::memcmp(&allowed->SidStart, expected, GetLengthSid(expected)), 0);
        ace += allowed->Header.AceSize;
    }
    const auto rid = [](PSID sid) { return static_cast<SID*>(sid)->SubAuthority; };
    EXPECT_EQ(rid(admins)[1], DOMAIN_ALIAS_RID_ADMINS);
    EXPECT_EQ(rid(system)[0], SECURITY_LOCAL_SYSTEM_RID);
    EXPECT_EQ(rid(backup)[1], DOMAIN_ALIAS_RID_BACKUP_OPS);
    FreeSid(admins);
    FreeSid(system);
    FreeSid(backup);
    CoTaskMemFree(acl);

    EXPECT_EQ(BuildComSecurityDescriptor(1, &sd, &acl, &admins, nullptr, &backup), ERROR_INVALID_PARAMETER);
}

TEST(ComUtilities, CopiesForComCallersAndResourceStrings) {
    WCHAR* copy = CoTaskMemStrDup(u"last error text");
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(std::u16string(copy), u"last error text");
    CoTaskMemFree(copy);
    EXPECT_EQ(CoTaskMemStrDup(nullptr), nullptr);

    static const StringTableEntry strings[] = {{100, u"SanProvD"}};
    platform::register_string_table(GetModuleHandleW(nullptr), strings);
    WCHAR* name = nullptr;
    LoadResourceString(100, &name);
    ASSERT_NE(name, nullptr);
    EXPECT_EQ(std::u16string(name), u"SanProvD");
    WCHAR* const kept = name;
    LoadResourceString(100, &name);  // already loaded: nothing happens
    EXPECT_EQ(name, kept);
    std::free(name);
}

TEST(VariantText, DescribesValuesForTraceLines) {
    auto text_of = [](const VARIANT& v) {
        WCHAR* out = nullptr;
        WCHAR* returned = VariantToText(&v, &out);
        EXPECT_EQ(returned, out);
        std::u16string s = out ? out : u"(none)";
        std::free(out);
        return s;
    };
    VARIANT v{};
    v.vt = VT_NULL;
    EXPECT_EQ(text_of(v), u"<null>");
    v.vt = VT_I4;
    v.lVal = -2;
    EXPECT_EQ(text_of(v), u"-2 (0xFFFFFFFE)");
    v.vt = VT_R8;
    v.dblVal = 2.5;
    EXPECT_EQ(text_of(v), u"    2.5000");
    v.vt = VT_BOOL;
    v.boolVal = VARIANT_TRUE;
    EXPECT_EQ(text_of(v), u"TRUE");
    v.vt = VT_UI1;
    v.bVal = 'A';
    EXPECT_EQ(text_of(v), u"'A' (65, 0x41)");
    v.bVal = 7;
    EXPECT_EQ(text_of(v), u"7 (0x7)");
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocString(u"MPIO\\Disk&Ven_KORVEX&Prod_LUN\\1&7f6ac24&0&3035_0");
    EXPECT_EQ(text_of(v), u"\"MPIO\\Disk&Ven_KORVEX&Prod_LUN\\1&7f6ac24&0&3035_0\"");  // never cut
    SysFreeString(v.bstrVal);
    v.vt = VT_DISPATCH;
    EXPECT_EQ(text_of(v), u"(none)");
    v.vt = VT_CY;
    EXPECT_EQ(text_of(v), u"<conversion error> vt=6 (0x6)");

    SAFEARRAY* shorts = SafeArrayCreateVector(VT_I2, 0, 3);
    SHORT values[] = {72, 105, 0};
    for (LONG i = 0; i < 3; ++i) SafeArrayPutElement(shorts, &i, &values[i]);
    v.vt = VT_ARRAY | VT_I2;
    v.parray = shorts;
    EXPECT_EQ(text_of(v), u"72,105,0");
    v.vt = VT_ARRAY | VT_I2 | VT_BYREF;
    v.pparray = &shorts;
    EXPECT_EQ(text_of(v), u"Hi");
    SHORT control = 3;
    LONG last = 2;
    SafeArrayPutElement(shorts, &last, &control);
    EXPECT_EQ(text_of(v), u"48:69:03:");
    SafeArrayDestroy(shorts);
}

TEST(VariantText, SafeArrayCopyIsBoundedByTheSlots) {
    SAFEARRAY* longs = SafeArrayCreateVector(VT_I4, 1, 5);
    for (LONG i = 1; i <= 5; ++i) {
        LONG value = i * 10;
        SafeArrayPutElement(longs, &i, &value);
    }
    VARIANT v{};
    v.vt = VT_ARRAY | VT_I4;
    v.parray = longs;
    uint64_t slots[4] = {};
    EXPECT_EQ(SafeArrayToArray(&v, slots, 3), 3u);
    EXPECT_EQ(static_cast<LONG>(slots[0]), 10);
    EXPECT_EQ(static_cast<LONG>(slots[2]), 30);
    EXPECT_EQ(slots[3], 0u);
    SafeArrayDestroy(longs);
}
