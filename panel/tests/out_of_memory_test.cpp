#include <gtest/gtest.h>

#include "fake_admin.h"
#include "filer_list.h"
#include "task_memory.h"

namespace {

class OutOfMemory : public ::testing::Test {
protected:
    ~OutOfMemory() override { task_memory::never_fail(); }
    AFX_MAINTAIN_STATE2 m_state{AfxGetStaticModuleState()};
};

CFilerEntry sample_entry() {
    FILER_RECORD record{const_cast<LPWSTR>(u"key"), const_cast<LPWSTR>(u"filer"), const_cast<LPWSTR>(u"root"),
                        const_cast<LPWSTR>(u"pw"), 3, FILER_RECORD_CHANGED};
    return CFilerEntry(record);
}

TEST_F(OutOfMemory, RecordIsMadeWholeOrNotAtAll) {
    const CFilerEntry entry = sample_entry();
    for (int n = 0; n < 5; ++n) {
        task_memory::fail_after(n);
        EXPECT_EQ(entry.CreateRecord(), nullptr) << n;  // the sanitizer sees anything left behind
    }
    task_memory::never_fail();
    const RecordPtr record(entry.CreateRecord());
    ASSERT_TRUE(record);
    EXPECT_EQ(fake_record_of(*record), (FakeRecord{u"key", u"filer", u"root", u"pw", 3, FILER_RECORD_CHANGED}));
}

TEST_F(OutOfMemory, CopyToRecordLeavesTheRecordAsItWasWhenACopyFails) {
    CFilerEntry old = sample_entry();
    const RecordPtr record(old.CreateRecord());
    CFilerEntry entry = sample_entry();
    entry.m_dnsName = u"changed";
    entry.m_type = 2;
    for (int n = 0; n < 4; ++n) {
        task_memory::fail_after(n);
        EXPECT_FALSE(entry.CopyToRecord(*record)) << n;
        EXPECT_EQ(fake_record_of(*record), (FakeRecord{u"key", u"filer", u"root", u"pw", 3, FILER_RECORD_CHANGED}));
    }
    task_memory::never_fail();
    EXPECT_TRUE(entry.CopyToRecord(*record));
    EXPECT_EQ(fake_record_of(*record).dns, u"changed");
}

TEST_F(OutOfMemory, AddAndCommitReportRanOutOfMemory) {
    FakeAdminService service;
    service.state.stored = {{u"a", u"f0", u"u", u"", 2, 0}};
    CFilerList list;
    CString text;
    ASSERT_EQ(list.Load(text), S_OK);

    ULONG key = 99;
    task_memory::fail_after(0);
    EXPECT_EQ(list.Add(sample_entry(), key, text), STG_E_INSUFFICIENTMEMORY);
    EXPECT_EQ(text.str(), u"Ran out of memory.");
    EXPECT_EQ(list.Records().size(), 1u);

    task_memory::never_fail();
    list.Remove(0);
    task_memory::fail_after(0);  // the array of the commit
    EXPECT_EQ(list.Commit(text), STG_E_INSUFFICIENTMEMORY);
    EXPECT_EQ(text.str(), u"Ran out of memory.");
    EXPECT_TRUE(service.state.commits.empty());
    EXPECT_EQ(list.Find(0)->dwUpdateFlags, FILER_RECORD_DELETE);
    EXPECT_EQ(service.state.liveObjects, 0);
}

}  // namespace
