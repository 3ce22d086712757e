#include <platform/errors.h>
#include <platform/security.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

constexpr DWORD kSidHeaderLength = 8;  // revision, count, authority
constexpr DWORD kAceFixedLength = sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD);
constexpr DWORD kMinAclRevision = ACL_REVISION;
constexpr DWORD kMaxAclRevision = ACL_REVISION_DS;
constexpr BYTE kMaxSubAuthoritiesAtOnce = 8;

BOOL fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

BYTE* bytes_of(PACL acl) { return reinterpret_cast<BYTE*>(acl); }

// Offset of the first free byte after the ACEs, or 0 when the ACEs do not
// lie within the ACL.
DWORD end_of_aces(const ACL& acl) {
    const BYTE* base = reinterpret_cast<const BYTE*>(&acl);
    DWORD offset = sizeof(ACL);
    for (WORD i = 0; i < acl.AceCount; ++i) {
        if (offset + sizeof(ACE_HEADER) > acl.AclSize) return 0;
        ACE_HEADER header;
        std::memcpy(&header, base + offset, sizeof header);
        if (header.AceSize < sizeof(ACE_HEADER) || offset + header.AceSize > acl.AclSize) return 0;
        offset += header.AceSize;
    }
    return offset;
}

SECURITY_DESCRIPTOR* writable_descriptor(PSECURITY_DESCRIPTOR p) {
    auto* sd = static_cast<SECURITY_DESCRIPTOR*>(p);
    if (!sd || sd->Revision != SECURITY_DESCRIPTOR_REVISION) {
        SetLastError(ERROR_UNKNOWN_REVISION);
        return nullptr;
    }
    if (sd->Control & SE_SELF_RELATIVE) {
        SetLastError(ERROR_INVALID_SECURITY_DESCR);
        return nullptr;
    }
    return sd;
}

void set_flag(SECURITY_DESCRIPTOR& sd, SECURITY_DESCRIPTOR_CONTROL flag, bool on) {
    sd.Control = static_cast<SECURITY_DESCRIPTOR_CONTROL>(on ? (sd.Control | flag) : (sd.Control & ~flag));
}

}  // namespace

BOOL AllocateAndInitializeSid(PSID_IDENTIFIER_AUTHORITY pIdentifierAuthority, BYTE nSubAuthorityCount, DWORD s0,
                              DWORD s1, DWORD s2, DWORD s3, DWORD s4, DWORD s5, DWORD s6, DWORD s7, PSID* pSid) {
    if (!pIdentifierAuthority || !pSid || nSubAuthorityCount > kMaxSubAuthoritiesAtOnce)
        return fail(ERROR_INVALID_PARAMETER);
    const DWORD subs[kMaxSubAuthoritiesAtOnce] = {s0, s1, s2, s3, s4, s5, s6, s7};
    auto* sid = static_cast<SID*>(std::calloc(1, sizeof(SID) + sizeof(DWORD) * kMaxSubAuthoritiesAtOnce));
    if (!sid) return fail(ERROR_NOT_ENOUGH_MEMORY);
    sid->Revision = SID_REVISION;
    sid->SubAuthorityCount = nSubAuthorityCount;
    sid->IdentifierAuthority = *pIdentifierAuthority;
    std::memcpy(sid->SubAuthority, subs, sizeof(DWORD) * nSubAuthorityCount);
    *pSid = sid;
    return TRUE;
}

PVOID FreeSid(PSID pSid) {
    std::free(pSid);
    return nullptr;
}

DWORD GetLengthSid(PSID pSid) {
    if (!pSid) return 0;
    return kSidHeaderLength + sizeof(DWORD) * static_cast<const SID*>(pSid)->SubAuthorityCount;
}

BOOL IsValidSid(PSID pSid) {
    const auto* sid = static_cast<const SID*>(pSid);
    return sid && sid->Revision == SID_REVISION && sid->SubAuthorityCount <= SID_MAX_SUB_AUTHORITIES;
}

BOOL InitializeAcl(PACL pAcl, DWORD nAclLength, DWORD dwAclRevision) {
    if (!pAcl) return fail(ERROR_INVALID_PARAMETER);
    if (nAclLength < sizeof(ACL)) return fail(ERROR_INSUFFICIENT_BUFFER);
    if (dwAclRevision < kMinAclRevision || dwAclRevision > kMaxAclRevision || nAclLength > 0xFFFF)
        return fail(ERROR_INVALID_PARAMETER);
    *pAcl = ACL{static_cast<BYTE>(dwAclRevision), 0, static_cast<WORD>(nAclLength), 0, 0};
    return TRUE;
}

BOOL IsValidAcl(PACL pAcl) {
    return pAcl && pAcl->AclRevision >= kMinAclRevision && pAcl->AclRevision <= kMaxAclRevision &&
           pAcl->AclSize >= sizeof(ACL) && end_of_aces(*pAcl) != 0;
}

BOOL AddAccessAllowedAceEx(PACL pAcl, DWORD dwAceRevision, DWORD AceFlags, DWORD AccessMask, PSID pSid) {
    if (!IsValidAcl(pAcl)) return fail(ERROR_INVALID_ACL);
    if (!IsValidSid(pSid)) return fail(ERROR_INVALID_SID);
    if (dwAceRevision < kMinAclRevision || dwAceRevision > kMaxAclRevision) return fail(ERROR_REVISION_MISMATCH);
    if (AceFlags & ~VALID_INHERIT_FLAGS) return fail(ERROR_INVALID_FLAGS);
    const DWORD sidLength = GetLengthSid(pSid);
    const DWORD aceSize = kAceFixedLength + sidLength;
    const DWORD offset = end_of_aces(*pAcl);
    if (offset + aceSize > pAcl->AclSize) return fail(ERROR_ALLOTTED_SPACE_EXCEEDED);

    const ACE_HEADER header{ACCESS_ALLOWED_ACE_TYPE, static_cast<BYTE>(AceFlags), static_cast<WORD>(aceSize)};
    BYTE* ace = bytes_of(pAcl) + offset;
    std::memcpy(ace, &header, sizeof header);
    std::memcpy(ace + sizeof header, &AccessMask, sizeof AccessMask);
    std::memcpy(ace + kAceFixedLength, pSid, sidLength);
    ++pAcl->AceCount;
    // An ACE of a later revision lifts the whole list to it.
    pAcl->AclRevision = static_cast<BYTE>(std::max<DWORD>(pAcl->AclRevision, dwAceRevision));
    return TRUE;
}

BOOL AddAccessAllowedAce(PACL pAcl, DWORD dwAceRevision, DWORD AccessMask, PSID pSid) {
    return AddAccessAllowedAceEx(pAcl, dwAceRevision, 0, AccessMask, pSid);
}

BOOL InitializeSecurityDescriptor(PSECURITY_DESCRIPTOR pSecurityDescriptor, DWORD dwRevision) {
    if (!pSecurityDescriptor) return fail(ERROR_INVALID_PARAMETER);
    if (dwRevision != SECURITY_DESCRIPTOR_REVISION) return fail(ERROR_UNKNOWN_REVISION);
    *static_cast<SECURITY_DESCRIPTOR*>(pSecurityDescriptor) = SECURITY_DESCRIPTOR{};
    static_cast<SECURITY_DESCRIPTOR*>(pSecurityDescriptor)->Revision = SECURITY_DESCRIPTOR_REVISION;
    return TRUE;
}

BOOL SetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR pSecurityDescriptor, BOOL bDaclPresent, PACL pDacl,
                               BOOL bDaclDefaulted) {
    SECURITY_DESCRIPTOR* sd = writable_descriptor(pSecurityDescriptor);
    if (!sd) return FALSE;
    sd->Dacl = bDaclPresent ? pDacl : nullptr;
    set_flag(*sd, SE_DACL_PRESENT, bDaclPresent);
    set_flag(*sd, SE_DACL_DEFAULTED, bDaclPresent && bDaclDefaulted);
    return TRUE;
}

BOOL SetSecurityDescriptorOwner(PSECURITY_DESCRIPTOR pSecurityDescriptor, PSID pOwner, BOOL bOwnerDefaulted) {
    SECURITY_DESCRIPTOR* sd = writable_descriptor(pSecurityDescriptor);
    if (!sd) return FALSE;
    sd->Owner = pOwner;
    set_flag(*sd, SE_OWNER_DEFAULTED, bOwnerDefaulted);
    return TRUE;
}

BOOL SetSecurityDescriptorGroup(PSECURITY_DESCRIPTOR pSecurityDescriptor, PSID pGroup, BOOL bGroupDefaulted) {
    SECURITY_DESCRIPTOR* sd = writable_descriptor(pSecurityDescriptor);
    if (!sd) return FALSE;
    sd->Group = pGroup;
    set_flag(*sd, SE_GROUP_DEFAULTED, bGroupDefaulted);
    return TRUE;
}

// Only the absolute form exists here; nothing in the system builds the
// self-relative one.
BOOL IsValidSecurityDescriptor(PSECURITY_DESCRIPTOR pSecurityDescriptor) {
    const auto* sd = static_cast<const SECURITY_DESCRIPTOR*>(pSecurityDescriptor);
    const bool valid = sd && sd->Revision == SECURITY_DESCRIPTOR_REVISION && !(sd->Control & SE_SELF_RELATIVE) &&
                       (!sd->Owner || IsValidSid(sd->Owner)) && (!sd->Group || IsValidSid(sd->Group)) &&
                       (!(sd->Control & SE_DACL_PRESENT) || !sd->Dacl || IsValidAcl(sd->Dacl)) &&
                       (!(sd->Control & SE_SACL_PRESENT) || !sd->Sacl || IsValidAcl(sd->Sacl));
    return valid ? TRUE : fail(ERROR_INVALID_SECURITY_DESCR);
}
