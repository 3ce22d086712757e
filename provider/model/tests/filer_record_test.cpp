#include <model/filer_record.h>

#include <gtest/gtest.h>

#include <platform/vds.h>

namespace {

CFilerRecord record(std::u16string key, std::u16string dns, int32_t type, std::u16string password = u"secret") {
    CFilerRecord r;
    r.m_strKey = std::move(key);
    r.m_strDnsName = std::move(dns);
    r.m_strUserName = u"root";
    r.m_strPassword = std::move(password);
    r.m_iType = type;
    return r;
}

}  // namespace

TEST(FilerRecord, CopyAndAssignmentCarryTheApplianceButNeverTheKey) {
    CFilerRecord original = record(u"{key-1}", u"filer1", FILER_TYPE_ISCSI);
    original.m_iFlags = FILER_RECORD_DELETE;

    const CFilerRecord copy(original);
    EXPECT_EQ(copy.m_iFlags, FILER_RECORD_CHANGED);
    EXPECT_EQ(copy.GetKey(), u"");
    EXPECT_EQ(copy.m_strDnsName, u"filer1");
    EXPECT_EQ(copy.GetUserName(), u"root");
    EXPECT_EQ(copy.GetPassword(), u"secret");
    EXPECT_EQ(copy.m_iType, FILER_TYPE_ISCSI);

    CFilerRecord target = record(u"{key-2}", u"other", FILER_TYPE_FCP, u"old");
    target.m_iFlags = FILER_RECORD_DELETE;
    target = original;
    EXPECT_EQ(target.m_iFlags, FILER_RECORD_DELETE | FILER_RECORD_CHANGED);
    EXPECT_EQ(target.GetKey(), u"{key-2}");
    EXPECT_EQ(target.m_strDnsName, u"filer1");
    EXPECT_EQ(target.GetPassword(), u"secret");
    EXPECT_EQ(target.m_iType, FILER_TYPE_ISCSI);
}

TEST(FilerRecord, SameFilerComparesTypeAndExactDnsNameOnly) {
    const CFilerRecord a = record(u"{a}", u"filer1", FILER_TYPE_FCP, u"one");
    EXPECT_TRUE(a.SameFiler(record(u"{b}", u"filer1", FILER_TYPE_FCP, u"two")));
    EXPECT_FALSE(a.SameFiler(record(u"{a}", u"filer1", FILER_TYPE_ISCSI)));
    EXPECT_FALSE(a.SameFiler(record(u"{a}", u"FILER1", FILER_TYPE_FCP)));
}

TEST(FilerRecord, DisplayNameFallsBackToTheKeyWhichACopyLacks) {
    const CFilerRecord keyed = record(u"{9f0e}", u"", FILER_TYPE_FCP);
    EXPECT_EQ(keyed.GetDisplayName(), u"{9f0e}");
    EXPECT_EQ(CFilerRecord(keyed).GetDisplayName(), u"");
}

TEST(FilerRecord, DumpNeverShowsThePassword) {
    for (const std::u16string password : {u"", u"hunter2"}) {
        EXPECT_EQ(record(u"{k}", u"filer1", FILER_TYPE_ISCSI, password).Dump(),
                  u"\n\nFiler name : filer1\n\tType : 3\n\tUser  name : root\n\tPassword : **** ");
    }
}

TEST(MinimumZarvoVersion, EachProviderRefusesReleasesBelowItsMinimum) {
    struct Case {
        int32_t type;
        filer_version release;
        HRESULT expected;
    };
    const HRESULT fcpRefused = static_cast<HRESULT>(0xC0042504);
    const HRESULT iscsiRefused = static_cast<HRESULT>(0xC0042505);
    const Case cases[] = {
        {FILER_TYPE_FCP, filer_version(7, 0, 2), fcpRefused},
        {FILER_TYPE_FCP, filer_version(7, 0, 2, 9, 9, 9), fcpRefused},
        {FILER_TYPE_FCP, filer_version(7, 0, 3), S_OK},
        {FILER_TYPE_FCP, filer_version(7, 1), S_OK},
        {FILER_TYPE_ISCSI, filer_version(7, 0, 3), iscsiRefused},
        {FILER_TYPE_ISCSI, filer_version(7, 0, 9, 0, 1), iscsiRefused},
        {FILER_TYPE_ISCSI, filer_version(7, 1), S_OK},
        {FILER_TYPE_ISCSI, filer_version(8, 0), S_OK},
        {0, filer_version(1, 0), S_OK},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CheckMinimumZarvoVersion(c.type, c.release), c.expected)
            << "type " << c.type << " release " << c.release.major_number() << "." << c.release.minor_number() << "."
            << c.release.micro_number();
    }
    EXPECT_EQ(g_minimumFcpZarvoVersion, filer_version(7, 0, 3));
    EXPECT_EQ(g_minimumIscsiZarvoVersion, filer_version(7, 1));
}
