#include <model/properties.h>

#include <gtest/gtest.h>

#include <platform/comalloc.h>

#include <memory>

namespace {

struct CoTaskMemDelete {
    void operator()(WCHAR* p) const { CoTaskMemFree(p); }
};
using CoTaskText = std::unique_ptr<WCHAR, CoTaskMemDelete>;

std::u16string text_of(const WCHAR* p) { return p ? std::u16string(p) : u"<null>"; }

}  // namespace

TEST(PropertyRecords, CopyOutGivesOwnedCopiesAndEmptyTextIsATerminatorNotNull) {
    SubSystemProperties subsystem;
    subsystem.m_prop.ulFlags = 0x820F;
    subsystem.m_prop.sMaxNumberOfControllers = 4;
    subsystem.m_strFriendlyName = u"filer1";
    VDS_SUB_SYSTEM_PROP s{};
    EXPECT_EQ(subsystem.CopyOut(&s), S_OK);
    CoTaskText sName(s.pwszFriendlyName), sIdent(s.pwszIdentification);
    EXPECT_EQ(s.ulFlags, 0x820Fu);
    EXPECT_EQ(s.sMaxNumberOfControllers, 4);
    EXPECT_EQ(text_of(sName.get()), u"filer1");
    ASSERT_NE(sIdent.get(), nullptr);
    EXPECT_EQ(sIdent.get()[0], u'\0');
    EXPECT_NE(sName.get(), subsystem.m_strFriendlyName.c_str());

    LunProperties lun;
    lun.m_prop.ullSize = 1ull << 33;
    lun.m_prop.TransitionState = VDS_TS_STABLE;
    lun.m_strFriendlyName = u"ZarvoLun7";
    lun.m_strIdentification = u"ident";
    lun.m_strUnmaskingList = u"iqn.a;iqn.b";
    VDS_LUN_PROP l{};
    EXPECT_EQ(lun.CopyOut(&l), S_OK);
    CoTaskText lName(l.pwszFriendlyName), lIdent(l.pwszIdentification), lMask(l.pwszUnmaskingList);
    EXPECT_EQ(l.ullSize, 1ull << 33);
    EXPECT_EQ(l.TransitionState, VDS_TS_STABLE);
    EXPECT_EQ(text_of(lName.get()), u"ZarvoLun7");
    EXPECT_EQ(text_of(lIdent.get()), u"ident");
    EXPECT_EQ(text_of(lMask.get()), u"iqn.a;iqn.b");

    DriveProperties drive;
    drive.m_ullSize = 500;
    drive.m_status = VDS_DRS_ONLINE;
    drive.m_sSlotNumber = 13;
    drive.m_strFriendlyName = u"0a.16";
    VDS_DRIVE_PROP d{};
    EXPECT_EQ(drive.CopyOut(&d), S_OK);
    CoTaskText dName(d.pwszFriendlyName), dIdent(d.pwszIdentification);
    EXPECT_EQ(d.ullSize, 500u);
    EXPECT_EQ(d.status, VDS_DRS_ONLINE);
    EXPECT_EQ(d.sSlotNumber, 13);
    EXPECT_EQ(text_of(dName.get()), u"0a.16");
    EXPECT_EQ(text_of(dIdent.get()), u"");
    EXPECT_EQ(drive.GetName(), u"0a.16");
}

TEST(PropertyRecords, PublishedRecordsCopyTextOnlyUpToItsFirstNullButDriveRecordsCopyItWhole) {
    const std::u16string withNull(u"ab\0cd", 5);
    LunProperties lun;
    lun.m_strFriendlyName = withNull;
    VDS_LUN_PROP l{};
    lun.CopyOut(&l);
    CoTaskText a(l.pwszFriendlyName), b(l.pwszIdentification), c(l.pwszUnmaskingList);
    EXPECT_EQ(std::u16string(a.get()), u"ab");

    CoTaskText whole(CoTaskMemWString(withNull));
    ASSERT_NE(whole.get(), nullptr);
    EXPECT_EQ(std::u16string(whole.get(), 6), std::u16string(u"ab\0cd\0", 6));
}
