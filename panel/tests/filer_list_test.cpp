#include <gtest/gtest.h>

#include <cstdlib>

#include "fake_admin.h"
#include "filer_list.h"

namespace {

// Calls into the applet's classes run in its module state, as its entries do.
class AppletFilerList : public ::testing::Test {
    AFX_MAINTAIN_STATE2 m_state{AfxGetStaticModuleState()};
};

std::vector<ULONG> keys_of(const CFilerList& list) {
    std::vector<ULONG> keys;
    for (const auto& [key, record] : list.Records()) keys.push_back(key);
    return keys;
}

CFilerEntry entry_for(const char16_t* dns) {
    CFilerEntry entry;
    entry.m_dnsName = dns;
    entry.m_userName = u"root";
    return entry;
}

TEST_F(AppletFilerList, MarkSeparatesRecordsKnownToTheServiceFromAddedOnes) {
    FakeAdminService service;
    service.state.stored = {{u"a", u"f0", u"u", u"", 2, 0}, {u"b", u"f1", u"u", u"", 3, 0}, {u"c", u"f2", u"u", u"", 2, 0}};
    CFilerList list;
    CString text;
    ASSERT_EQ(list.Load(text), S_OK);
    EXPECT_EQ(keys_of(list), (std::vector<ULONG>{0, 1, 2}));
    EXPECT_EQ(list.Mark(), 3u);
    EXPECT_EQ(CFilerList::Counter(), 4u);

    ULONG added = 0, dropped = 0;
    ASSERT_EQ(list.Add(entry_for(u"new"), added, text), S_OK);
    ASSERT_EQ(list.Add(entry_for(u"gone"), dropped, text), S_OK);
    EXPECT_EQ(added, 4u);
    EXPECT_EQ(dropped, 5u);

    // An added record goes at once; a known one waits to be sent as a deletion.
    EXPECT_EQ(list.Remove(dropped), S_OK);
    EXPECT_EQ(list.Remove(1), S_OK);
    EXPECT_EQ(list.Remove(77), S_OK);
    EXPECT_EQ(keys_of(list), (std::vector<ULONG>{0, 1, 2, 4}));
    EXPECT_EQ(list.Find(1)->dwUpdateFlags, FILER_RECORD_DELETE);

    ASSERT_EQ(list.Commit(text), S_OK);
    ASSERT_EQ(service.state.commits.size(), 1u);
    const auto& sent = service.state.commits[0];
    ASSERT_EQ(sent.size(), 2u);  // only the records with changes
    EXPECT_EQ(sent[0].dns, u"f1");
    EXPECT_EQ(sent[0].flags, FILER_RECORD_DELETE);
    EXPECT_EQ(sent[1].dns, u"new");
    EXPECT_EQ(sent[1].flags, FILER_RECORD_CHANGED);
    EXPECT_EQ(sent[1].key.size(), 36u);

    EXPECT_EQ(keys_of(list), (std::vector<ULONG>{0, 2, 4}));
    EXPECT_EQ(list.Mark(), 6u);
    EXPECT_EQ(CFilerList::Counter(), 7u);
    for (const auto& [key, record] : list.Records()) EXPECT_EQ(record->dwUpdateFlags, 0u);

    list.FreeRecords();
    EXPECT_TRUE(list.Records().empty());
    EXPECT_EQ(list.Mark(), 0u);
    EXPECT_EQ(CFilerList::Counter(), 0u);
}

TEST_F(AppletFilerList, FailedCommitKeepsEveryChangeForTheNextOne) {
    FakeAdminService service;
    service.state.stored = {{u"a", u"f0", u"u", u"", 2, 0}};
    CFilerList list;
    CString text;
    ASSERT_EQ(list.Load(text), S_OK);
    ULONG added = 0;
    list.Add(entry_for(u"new"), added, text);
    list.Remove(0);

    service.state.commitResult = hr_of(0xC0042501);
    service.state.storedError = hr_of(0xC0042501);
    service.state.storedMessage = u"stored text";
    EXPECT_EQ(list.Commit(text), hr_of(0xC0042501));
    EXPECT_EQ(text.str(), u"stored text");

    // Failed without a stored error: the call's own result, never success.
    service.state.storedError = S_OK;
    service.state.storedMessage.clear();
    service.state.commitResult = E_INVALIDARG;
    EXPECT_EQ(list.Commit(text), E_INVALIDARG);
    EXPECT_EQ(text.str(), u"The parameter is incorrect.");

    service.state.commitResult = S_OK;
    EXPECT_EQ(list.Commit(text), S_OK);
    ASSERT_EQ(service.state.commits.size(), 3u);
    EXPECT_EQ(service.state.commits[0], service.state.commits[2]);
    EXPECT_EQ(keys_of(list), (std::vector<ULONG>{added}));
}

TEST_F(AppletFilerList, DeletionOfARecordOfUnknownTypeIsSentWithATypeTheServiceAccepts) {
    FakeAdminService service;
    service.state.stored = {{u"odd", u"f0", u"u", u"", 0, 0}, {u"b", u"f1", u"u", u"", 3, 0}};
    CFilerList list;
    CString text;
    ASSERT_EQ(list.Load(text), S_OK);
    list.Remove(0);
    list.Remove(1);
    ASSERT_EQ(list.Commit(text), S_OK);
    const auto& sent = service.state.commits.at(0);
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].key, u"odd");
    EXPECT_EQ(sent[0].type, 2);
    EXPECT_EQ(sent[1].type, 3);
    EXPECT_TRUE(list.Records().empty());
}

TEST_F(AppletFilerList, LoadAndCommitFailuresGiveAResultAndAText) {
    struct Case {
        const char* name;
        HRESULT loadResult;
        HRESULT storedError;
        std::u16string storedMessage;
        HRESULT getLastError;
        HRESULT expected;
        std::u16string text;
    };
    const std::u16string unreachable =
        u"Failed to connect to Zarvo VDS Hardware Provider service.\n\nPlease reinstall or repair Zarvo VDS Hardware "
        u"Provider.";
    const Case cases[] = {
        {"stored error and text", E_FAIL, hr_of(0x80070005), u"Access is denied by the service.", S_OK,
         hr_of(0x80070005), u"Access is denied by the service."},
        {"stored error without text", E_FAIL, E_INVALIDARG, u"", S_OK, E_INVALIDARG, u"The parameter is incorrect."},
        {"nothing stored", E_FAIL, S_OK, u"", S_OK, E_FAIL, u"Unspecified error"},
        {"no system text either", hr_of(0x80001234), S_OK, u"", S_OK, hr_of(0x80001234), unreachable},
        {"GetLastError fails", E_FAIL, S_OK, u"", hr_of(0x800706BA), E_FAIL, u"Unspecified error"},
    };
    for (const auto& c : cases) {
        FakeAdminService service;
        service.state.stored = {{u"a", u"f0", u"u", u"", 2, 0}};
        service.state.loadResult = c.loadResult;
        service.state.storedError = c.storedError;
        service.state.storedMessage = c.storedMessage;
        service.state.getLastErrorResult = c.getLastError;
        CFilerList list;
        CString text;
        EXPECT_EQ(list.Load(text), c.expected) << c.name;
        EXPECT_EQ(text.str(), c.text) << c.name;
        EXPECT_TRUE(list.Records().empty()) << c.name;
        EXPECT_EQ(service.state.liveObjects, 0) << c.name;
    }
}

TEST_F(AppletFilerList, AnExceptionInAServiceCallLeavesNothingHalfDone) {
    const std::u16string unreachable =
        u"Failed to connect to Zarvo VDS Hardware Provider service.\n\nPlease reinstall or repair Zarvo VDS Hardware "
        u"Provider.";
    FakeAdminService service;
    service.state.stored = {{u"a", u"f0", u"u", u"", 2, 0}};
    CFilerList list;
    CString text;
    ASSERT_EQ(list.Load(text), S_OK);
    list.Remove(0);

    service.state.throwIn = "CommitFilerList";
    EXPECT_EQ(list.Commit(text), E_FAIL);
    EXPECT_EQ(text.str(), unreachable);
    EXPECT_EQ(list.Find(0)->dwUpdateFlags, FILER_RECORD_DELETE);  // kept for the next commit

    service.state.throwIn = "LoadFilerList";
    EXPECT_EQ(list.Load(text), E_FAIL);
    EXPECT_EQ(text.str(), unreachable);
    EXPECT_TRUE(list.Records().empty());

    service.state.throwIn = "CheckFilerEntry";
    CFilerEntry entry;
    entry.m_dnsName = u"filer";
    EXPECT_EQ(entry.Verify(text), E_FAIL);
    EXPECT_EQ(text.str(), unreachable);
    EXPECT_EQ(service.state.liveObjects, 0);
}

TEST_F(AppletFilerList, UnreachableServiceIsReportedWithTheActivationResult) {
    // A state root of its own: no service runs there.
    char root[] = "/tmp/panel-test-XXXXXX";
    ASSERT_NE(mkdtemp(root), nullptr);
    setenv("SANPROV_ROOT", root, 1);
    CFilerList list;
    CString text;
    EXPECT_TRUE(FAILED(list.Load(text)));
    EXPECT_EQ(text.str().substr(0, 57), u"Failed to connect to Zarvo VDS Hardware Provider service.");
    EXPECT_TRUE(FAILED(list.Commit(text)));
    EXPECT_EQ(text.str().substr(0, 57), u"Failed to connect to Zarvo VDS Hardware Provider service.");
}

TEST_F(AppletFilerList, AServiceTooBusyToConnectIsReportedAsBusyNotAsABrokenInstall) {
    const std::u16string busy = u"Zarvo VDS Hardware Provider service is busy.\n\nPlease try again later.";
    const std::u16string unreachable =
        u"Failed to connect to Zarvo VDS Hardware Provider service.\n\nPlease reinstall or repair Zarvo VDS Hardware "
        u"Provider.";
    const struct {
        HRESULT activation;
        const std::u16string& text;
    } cases[] = {{HRESULT_FROM_WIN32(RPC_S_SERVER_TOO_BUSY), busy}, {hr_of(0x800706BA), unreachable}};
    for (const auto& c : cases) {
        FakeAdminService service;
        service.state.createResult = c.activation;
        CFilerList list;
        CString text;
        EXPECT_EQ(list.Load(text), c.activation);
        EXPECT_EQ(text.str(), c.text);
        EXPECT_EQ(list.Commit(text), c.activation);
        EXPECT_EQ(text.str(), c.text);
        EXPECT_EQ(entry_for(u"filer").Verify(text), c.activation);
        EXPECT_EQ(text.str(), c.text);
    }
}

}  // namespace
