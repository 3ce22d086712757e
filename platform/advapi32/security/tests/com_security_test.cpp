#include <platform/comalloc.h>
#include <platform/errors.h>
#include <platform/security.h>

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <functional>
#include <vector>

namespace {

struct OwnedSid {
    PSID sid = nullptr;
    ~OwnedSid() { FreeSid(sid); }
};

PSID make_sid(OwnedSid& holder, std::initializer_list<DWORD> rids) {
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    std::array<DWORD, 8> r{};
    std::copy(rids.begin(), rids.end(), r.begin());
    EXPECT_TRUE(AllocateAndInitializeSid(&nt, static_cast<BYTE>(rids.size()), r[0], r[1], r[2], r[3], r[4], r[5], r[6],
                                         r[7], &holder.sid));
    return holder.sid;
}

// The COM access descriptor of the service: Administrators, LocalSystem and
// Backup Operators may execute; Administrators own it.
class ComDescriptor : public ::testing::Test {
protected:
    void SetUp() override {
        sids = {make_sid(admins, {SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS}),
                make_sid(system, {SECURITY_LOCAL_SYSTEM_RID}),
                make_sid(backup, {SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_BACKUP_OPS})};
        aclLength = 32;
        for (PSID sid : sids) aclLength += GetLengthSid(sid);
    }

    OwnedSid admins, system, backup;
    std::array<PSID, 3> sids{};
    DWORD aclLength = 0;
};

TEST_F(ComDescriptor, BuildsTheWindowsLayout) {
    EXPECT_EQ(GetLengthSid(sids[0]), 16u);
    EXPECT_EQ(GetLengthSid(sids[1]), 12u);
    const BYTE adminsBytes[] = {1, 2, 0, 0, 0, 0, 0, 5, 0x20, 0, 0, 0, 0x20, 0x02, 0, 0};  // S-1-5-32-544
    EXPECT_EQ(std::memcmp(sids[0], adminsBytes, sizeof adminsBytes), 0);

    auto* acl = static_cast<PACL>(CoTaskMemAlloc(aclLength));
    ASSERT_TRUE(InitializeAcl(acl, aclLength, ACL_REVISION_DS));
    for (PSID sid : sids) ASSERT_TRUE(AddAccessAllowedAce(acl, ACL_REVISION_DS, 1, sid)) << GetLastError();
    SECURITY_DESCRIPTOR sd;
    ASSERT_TRUE(InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION));
    ASSERT_TRUE(SetSecurityDescriptorDacl(&sd, TRUE, acl, FALSE));
    ASSERT_TRUE(SetSecurityDescriptorOwner(&sd, sids[0], FALSE));
    ASSERT_TRUE(SetSecurityDescriptorGroup(&sd, sids[0], FALSE));
    EXPECT_TRUE(IsValidSecurityDescriptor(&sd));
    EXPECT_EQ(sd.Control, SE_DACL_PRESENT);

    EXPECT_EQ(acl->AclSize, 76);
    EXPECT_EQ(acl->AceCount, 3);
    EXPECT_EQ(acl->AclRevision, ACL_REVISION_DS);
    // The ACEs follow each other in the order added, each header, mask, SID.
    const BYTE* at = reinterpret_cast<const BYTE*>(acl) + sizeof(ACL);
    for (PSID sid : sids) {
        ACCESS_ALLOWED_ACE ace;
        std::memcpy(&ace, at, sizeof ace);
        EXPECT_EQ(ace.Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
        EXPECT_EQ(ace.Header.AceFlags, 0);
        EXPECT_EQ(ace.Header.AceSize, 8 + GetLengthSid(sid));
        EXPECT_EQ(ace.Mask, 1u);
        EXPECT_EQ(std::memcmp(at + 8, sid, GetLengthSid(sid)), 0);
        at += ace.Header.AceSize;
    }
    EXPECT_EQ(at, reinterpret_cast<const BYTE*>(acl) + 76);
    CoTaskMemFree(acl);
}

TEST_F(ComDescriptor, AclOneByteShortRefusesTheLastAce) {
    std::vector<DWORD> storage(aclLength / sizeof(DWORD));
    auto* acl = reinterpret_cast<PACL>(storage.data());
    ASSERT_TRUE(InitializeAcl(acl, aclLength - 1, ACL_REVISION_DS));
    ASSERT_TRUE(AddAccessAllowedAce(acl, ACL_REVISION_DS, 1, sids[0]));
    ASSERT_TRUE(AddAccessAllowedAce(acl, ACL_REVISION_DS, 1, sids[1]));
    SetLastError(0);
    EXPECT_FALSE(AddAccessAllowedAce(acl, ACL_REVISION_DS, 1, sids[2]));
    EXPECT_EQ(GetLastError(), ERROR_ALLOTTED_SPACE_EXCEEDED);
    EXPECT_EQ(acl->AceCount, 2);
    EXPECT_TRUE(IsValidAcl(acl));
}

TEST_F(ComDescriptor, FailsAsTheSystemDoes) {
    alignas(DWORD) BYTE bytes[128] = {};
    auto* acl = reinterpret_cast<PACL>(bytes);
    ASSERT_TRUE(InitializeAcl(acl, sizeof bytes, ACL_REVISION));
    SID badSid{};
    badSid.Revision = 3;
    SECURITY_DESCRIPTOR sd, blank{};
    const struct {
        const char* what;
        std::function<BOOL()> call;
        DWORD error;
    } cases[] = {
        {"ACL shorter than its header", [&] { return InitializeAcl(acl, 4, ACL_REVISION_DS); }, ERROR_INSUFFICIENT_BUFFER},
        {"unknown ACL revision", [&] { return InitializeAcl(acl, sizeof bytes, 7); }, ERROR_INVALID_PARAMETER},
        {"malformed SID", [&] { return AddAccessAllowedAce(acl, ACL_REVISION, 1, &badSid); }, ERROR_INVALID_SID},
        {"unknown ACE revision", [&] { return AddAccessAllowedAce(acl, 9, 1, sids[0]); }, ERROR_REVISION_MISMATCH},
        {"unknown ACE flags", [&] { return AddAccessAllowedAceEx(acl, ACL_REVISION, 0x80, 1, sids[0]); },
         ERROR_INVALID_FLAGS},
        {"unknown descriptor revision", [&] { return InitializeSecurityDescriptor(&sd, 2); }, ERROR_UNKNOWN_REVISION},
        {"uninitialised descriptor", [&] { return SetSecurityDescriptorOwner(&blank, sids[0], FALSE); },
         ERROR_UNKNOWN_REVISION},
    };
    for (const auto& c : cases) {
        SetLastError(0);
        EXPECT_FALSE(c.call()) << c.what;
        EXPECT_EQ(GetLastError(), c.error) << c.what;
    }
    EXPECT_EQ(acl->AceCount, 0) << "a refused ACE must leave the list as it was";
}

TEST_F(ComDescriptor, AceWalkStaysInsideTheList) {
    alignas(DWORD) BYTE bytes[128] = {};
    auto* acl = reinterpret_cast<PACL>(bytes);
    ASSERT_TRUE(InitializeAcl(acl, sizeof bytes, ACL_REVISION));
    // A later ACE revision lifts the list; inheritance flags are kept.
    ASSERT_TRUE(AddAccessAllowedAceEx(acl, ACL_REVISION_DS, CONTAINER_INHERIT_ACE, 1, sids[1]));
    EXPECT_EQ(acl->AclRevision, ACL_REVISION_DS);
    EXPECT_EQ(bytes[sizeof(ACL) + 1], CONTAINER_INHERIT_ACE);

    // An ACE that claims more room than the list has makes the list invalid,
    // and nothing is written past it.
    const WORD hugeAce = 200;
    std::memcpy(bytes + sizeof(ACL) + 2, &hugeAce, sizeof hugeAce);
    EXPECT_FALSE(IsValidAcl(acl));
    SetLastError(0);
    EXPECT_FALSE(AddAccessAllowedAce(acl, ACL_REVISION_DS, 1, sids[0]));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_ACL);
    SECURITY_DESCRIPTOR sd;
    ASSERT_TRUE(InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION));
    ASSERT_TRUE(SetSecurityDescriptorDacl(&sd, TRUE, acl, FALSE));
    EXPECT_FALSE(IsValidSecurityDescriptor(&sd));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_SECURITY_DESCR);

    // Without a DACL the list is not looked at.
    ASSERT_TRUE(SetSecurityDescriptorDacl(&sd, FALSE, acl, TRUE));
    EXPECT_EQ(sd.Dacl, nullptr);
    EXPECT_EQ(sd.Control, 0);
    EXPECT_TRUE(IsValidSecurityDescriptor(&sd));
}

}  // namespace
